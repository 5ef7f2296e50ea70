// The temporal averaging of one frame with its 2R neighbours (engine/temporal.h: block motion,
// per-sample weights, the average and its noise ratio, every plane of a 4:2:0 8-bit frame),
// timed apart from the pilots (best mode, made once before): the median wall time of several
// runs for each kernel table and thread count, the block motion search alone too, and a hash of
// what was averaged, the same for every row.
//
//   velmora-temporal-bench [--runs N] [--threads 1,2] [--isa scalar,sse41,avx2] [--radius R]
//                          [--size 768x576] [--input noisy.y4m [--start N]]
//
// Without --input the frames are a synthetic picture moving (1, 2) samples a frame with noise of
// 10 steps; with it, frames N to N + 2R of a 4:2:0 8-bit stream (the centre is frame N + R).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/best_mode.h"
#include "engine/motion_search.h"
#include "engine/temporal.h"
#include "kernels/kernel_set.h"
#include "lib/plane_engine.h"
#include "lib/workers.h"
#include "threads/thread_pool.h"
#include "tools/velmora/sample/sample_source.h"
#include "tools/velmora/stream/y4m.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace velmora;

// One picture of the window: noisy frame, pilot, error maps and pyramid.
struct Picture {
    Frame noisy, pilot;
    std::array<std::vector<float>, 3> error;
    std::vector<uint8_t> pyramid_memory;
    MotionPyramid pyramid = {};
};

std::vector<Frame> synthetic_frames(const StreamFormat& f, int count) {
    const RgbImage picture = synthetic_picture(f.width + 2 * count, f.height + count, 3);
    std::vector<Frame> frames;
    for (int i = 0; i < count; ++i) {
        RgbImage part;
        part.width = f.width;
        part.height = f.height;
        part.pixels.resize(static_cast<size_t>(f.width) * f.height * 3);
        for (int y = 0; y < f.height; ++y)
            std::memcpy(&part.pixels[static_cast<size_t>(y) * f.width * 3],
                        &picture.pixels[(static_cast<size_t>(y + i) * picture.width + 2 * i) * 3],
                        static_cast<size_t>(f.width) * 3);
        Frame frame = frame_from_rgb(f, part);
        add_noise(f, frame, 10.0, 50 + i);
        frames.push_back(frame);
    }
    return frames;
}

uint64_t fnv(uint64_t h, const void* data, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

}  // namespace

// Plane p of a frame, for the engine.
PlaneView view(const StreamFormat& f, Frame& frame, int p) {
    return {frame.plane_data(f, p), 1, f.plane_width(p), f.plane_width(p), f.plane_height(p),
            SampleFormat::u8};
}

int main(int argc, char** argv) {
    int runs = 7, w = 768, h = 576;
    std::string input, radius_text = "3", size = "768x576", start_text = "0";
    std::vector<std::string> threads = {"1", "2"}, isas = {"scalar", "sse41", "avx2"};
    if (!parse_options(argc, argv, runs, {{"threads", &threads}, {"isa", &isas}}, {},
                       {{"radius", &radius_text},
                        {"size", &size},
                        {"input", &input},
                        {"start", &start_text}})) {
        std::fprintf(stderr, "unknown option; see the comment at the top of %s\n", __FILE__);
        return 1;
    }
    const int radius = std::atoi(radius_text.c_str());
    std::sscanf(size.c_str(), "%dx%d", &w, &h);
    const int64_t start = std::atoll(start_text.c_str());
    const int count = 2 * radius + 1;
    StreamFormat f;
    std::vector<Frame> frames;
    if (input.empty()) {
        const std::string line =
            "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F25:1 C420jpeg";
        f = parse_stream_header(line);
        frames = synthetic_frames(f, count);
    } else {
        const int fd = ::open(input.c_str(), O_RDONLY);
        if (fd < 0) {
            std::perror(input.c_str());
            return 1;
        }
        Y4mReader reader(fd);
        f = reader.read_header();
        if (f.bits != 8 || f.planes() != 3 || f.shift_x(1) != 1 || f.shift_y(1) != 1) {
            std::fprintf(stderr, "%s: not a 4:2:0 8-bit stream\n", input.c_str());
            return 1;
        }
        for (int64_t i = 0; i < start; ++i) reader.skip_frame(f);
        Frame frame;
        while (static_cast<int>(frames.size()) < count && reader.read_frame(f, frame))
            frames.push_back(frame);
        ::close(fd);
        if (static_cast<int>(frames.size()) < count) {
            std::fprintf(stderr, "%s: fewer than %d frames from %lld\n", input.c_str(), count,
                         static_cast<long long>(start));
            return 1;
        }
    }

    // The pilots, error maps and pyramids, made once (best mode, noise 10 steps).
    std::vector<Picture> pictures(static_cast<size_t>(count));
    Workers workers(2, velmora_executor{});
    PlaneEngine engine(f.width, f.height, preferred_kernels(), workers);
    for (int i = 0; i < count; ++i) {
        Picture& pic = pictures[static_cast<size_t>(i)];
        pic.noisy = frames[static_cast<size_t>(i)];
        pic.pilot = pic.noisy;
        for (int p = 0; p < 3; ++p) {
            const PlaneView v = view(f, pic.pilot, p);
            BestModeExtras extras;
            extras.error_layout = error_map_layout(v.width, v.height, f.shift_x(p), f.shift_y(p));
            pic.error[p].resize(static_cast<size_t>(error_map_floats(extras.error_layout)));
            extras.error_map = pic.error[p].data();
            engine.denoise_best(v, 160.0f, p ? PlaneKind::chroma : PlaneKind::luma, extras);
        }
        pic.pyramid_memory.resize(static_cast<size_t>(motion_pyramid_bytes(f.width, f.height)));
        pic.pyramid = lay_out_motion_pyramid(pic.pyramid_memory.data(), f.width, f.height);
        build_motion_pyramid(view(f, pic.pilot, 0), pic.pyramid, serial_executor(1));
    }
    TemporalShape shape = {};
    shape.planes = 3;
    shape.format = SampleFormat::u8;
    std::vector<TemporalPicture> window(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Picture& pic = pictures[static_cast<size_t>(i)];
        window[static_cast<size_t>(i)].pyramid = &pic.pyramid;
        for (int p = 0; p < 3; ++p)
            window[static_cast<size_t>(i)].plane[p] = {view(f, pic.noisy, p), view(f, pic.pilot, p),
                                                       pic.error[p].data()};
    }
    for (int p = 0; p < 3; ++p) {
        shape.width[p] = f.plane_width(p);
        shape.height[p] = f.plane_height(p);
        shape.shift_x[p] = f.shift_x(p);
        shape.shift_y[p] = f.shift_y(p);
        shape.averaged[p] = true;
    }
    // The centre and its neighbours, nearest first.
    const TemporalPicture& centre = window[static_cast<size_t>(radius)];
    std::vector<TemporalPicture> neighbours;
    std::vector<int> distances;
    for (int d = 1; d <= radius; ++d)
        for (int side : {-1, 1}) {
            neighbours.push_back(window[static_cast<size_t>(radius + side * d)]);
            distances.push_back(d);
        }
    std::array<std::vector<float>, 3> averaged, ratio;
    float* out[3];
    float* ratios[3];
    for (int p = 0; p < 3; ++p) {
        averaged[p].resize(static_cast<size_t>(shape.width[p]) * shape.height[p]);
        ratio[p].resize(averaged[p].size());
        out[p] = averaged[p].data();
        ratios[p] = ratio[p].data();
    }
    std::vector<BlockVector> vectors(
        static_cast<size_t>(motion_columns(f.width)) * motion_rows(f.height) + 1);

    std::printf(
        "temporal averaging of a %dx%d 4:2:0 frame with %d neighbours (%s), median of %d "
        "runs, ms per frame\n",
        f.width, f.height, 2 * radius, input.empty() ? "synthetic" : input.c_str(), runs);
    std::printf("%-8s %-8s %10s %10s  %s\n", "isa", "threads", "temporal", "motion", "hash");
    for (const std::string& isa : isas) {
        const KernelSet* k = table_named(isa);
        if (!k) {
            std::printf("%-8s (not on this processor)\n", isa.c_str());
            continue;
        }
        ::setenv("VELMORA_ISA", isa.c_str(), 1);
        for (const std::string& t : threads) {
            const int n = std::atoi(t.c_str());
            ThreadPool pool(n);
            const Executor ex = pool.executor();
            std::vector<std::max_align_t> memory(
                static_cast<size_t>(
                    temporal_memory_bytes(shape, static_cast<int>(neighbours.size()), n)) /
                    sizeof(std::max_align_t) +
                1);
            std::vector<double> whole, motion;
            int used = 0;
            for (int r = 0; r < runs; ++r) {
                const Clock::time_point t0 = Clock::now();
                used = temporal_average(*k, shape, centre, neighbours.data(), distances.data(),
                                        static_cast<int>(neighbours.size()), out, ratios,
                                        memory.data(), ex);
                const Clock::time_point t1 = Clock::now();
                for (size_t i = 0; i < neighbours.size(); ++i)
                    search_motion(*k, *centre.pyramid, *neighbours[i].pyramid, distances[i],
                                  vectors.data(), ex);
                const Clock::time_point t2 = Clock::now();
                whole.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
                motion.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
            }
            std::sort(whole.begin(), whole.end());
            std::sort(motion.begin(), motion.end());
            uint64_t hash = 0xcbf29ce484222325ull;
            for (int p = 0; p < 3; ++p) {
                hash = fnv(hash, averaged[p].data(), averaged[p].size() * sizeof(float));
                hash = fnv(hash, ratio[p].data(), ratio[p].size() * sizeof(float));
            }
            std::printf("%-8s %-8d %10.2f %10.2f  %016llx (%d of %d neighbours used)\n",
                        isa.c_str(), n, whole[whole.size() / 2], motion[motion.size() / 2],
                        static_cast<unsigned long long>(hash), used,
                        static_cast<int>(neighbours.size()));
        }
        ::unsetenv("VELMORA_ISA");
    }
    return 0;
}
