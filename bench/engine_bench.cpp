// The engine API on whole frames of planar samples, as the command-line tool drives it, timed
// per stage: the stage-by-stage passes (load, forward, threshold, inverse, store) and the fused
// ones (analyse, synthesise) side by side in one run, each with the cache traffic per frame its
// design implies, and a check that both give the same samples.
//
//   velmora-engine-bench [--runs N] [--threads 1,2] [--isa sse41,avx2]
//                        [--size 1920x1080,3840x2160] [--chroma 444,420] [--design stages,fused]
//
// 4:4:4 frames are 16-bit, 4:2:0 frames 8-bit (the streams the tool's targets name). Times are
// in milliseconds per frame (all planes): the median and the best of the runs, which on a
// machine shared with other work is the steadier of the two.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/engine.h"
#include "threads/thread_pool.h"
#include "tools/velmora/sample/split_mix64.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One frame of planar samples: a gradient with an edge and noise of about 4 eight-bit steps.
struct Frame {
    SampleFormat format;
    int planes;
    int width[3], height[3];
    std::vector<uint16_t> words[3];
    std::vector<uint8_t> bytes[3];

    Frame(int w, int h, bool subsampled, SampleFormat f) : format(f), planes(3) {
        SplitMix64 rng{42};
        const int32_t top = sample_maximum(f), noise = (top + 1) / 64;
        for (int p = 0; p < planes; ++p) {
            width[p] = p && subsampled ? (w + 1) / 2 : w;
            height[p] = p && subsampled ? (h + 1) / 2 : h;
            const size_t count = static_cast<size_t>(width[p]) * height[p];
            std::vector<uint16_t> v(count);
            for (int y = 0; y < height[p]; ++y)
                for (int x = 0; x < width[p]; ++x) {
                    const int32_t base = (x + 2 * y) * (top / 2) / (width[p] + 2 * height[p]) +
                                         (x > width[p] / 3 ? top / 4 : 0);
                    const int32_t s = base + rng.uniform(0, noise);
                    v[static_cast<size_t>(y) * width[p] + x] =
                        static_cast<uint16_t>(std::min(s, top));
                }
            if (f == SampleFormat::u8)
                bytes[p].assign(v.begin(), v.end());
            else
                words[p] = v;
        }
    }

    PlaneView view(int p) {
        void* base = format == SampleFormat::u8 ? static_cast<void*>(bytes[p].data())
                                                : static_cast<void*>(words[p].data());
        return {base, 1, width[p], width[p], height[p], format};
    }
    bool operator==(const Frame& o) const {
        for (int p = 0; p < planes; ++p)
            if (words[p] != o.words[p] || bytes[p] != o.bytes[p]) return false;
        return true;
    }
};

// Bytes each design moves between the cores' own caches and the shared cache or memory for one
// plane: every pass over a plane-sized array reads it and writes what it changes; the lines,
// strips and masks a thread keeps in its scratch are not counted.
struct Traffic {
    double stages = 0, fused = 0;
};

Traffic plane_traffic(int w, int h, SampleFormat f, int levels) {
    const double W = padded_size(w), H = padded_size(h);
    const double samples = static_cast<double>(w) * h * sample_bytes(f);
    Traffic t;
    t.stages = 2 * (samples + 4 * W * H);  // load, store
    for (int l = 0; l < levels; ++l) {
        const double block = 4 * (W / (1 << l)) * (H / (1 << l));
        t.stages += 2 * 4 * block;     // forward and inverse: rows and columns, read and write
        t.stages += 2 * 0.75 * block;  // thresholding of the detail blocks
        // Fused: each level reads its input once and writes its output once, both ways; the
        // finest level's input and output are the samples.
        t.fused += l == 0 ? 2 * (samples + block) : 2 * 2 * block;
    }
    return t;
}

const char* const kStageNames[] = {"load", "forward", "threshold", "inverse", "store"};
const char* const kFusedNames[] = {"analyse", "synthesise"};

struct Result {
    double frame, best;
    std::vector<double> split;
};

struct Run {
    const KernelSet* k;
    int threads;
    bool fused;
};

Result measure(const Frame& source, Frame& work, const Run& r, int runs,
               const SubbandThresholds& x) {
    const int max_w = source.width[0], max_h = source.height[0];
    const int64_t floats = engine_memory_floats(max_w, max_h, r.threads);
    float* memory = static_cast<float*>(
        ::operator new[](static_cast<size_t>(floats) * sizeof(float), std::align_val_t{64}));
    Engine e = make_engine(*r.k, memory, max_w, max_h, r.threads);
    ThreadPool pool(r.threads);
    const Executor ex = pool.executor();
    const int parts = r.fused ? 2 : 5;
    std::vector<double> frames;
    std::vector<std::vector<double>> part_ms(parts);
    for (int run = 0; run <= runs; ++run) {
        work = source;
        std::vector<double> part(parts, 0.0);
        const auto frame_start = Clock::now();
        for (int p = 0; p < work.planes; ++p) {
            const PlaneView view = work.view(p);
            auto timed = [&](int i, auto&& body) {
                const auto start = Clock::now();
                body();
                part[i] += ms_since(start);
            };
            if (r.fused) {
                timed(0, [&] { analyse(e, view, ex); });
                timed(1, [&] { synthesise(e, x, view, ex); });
            } else {
                timed(0, [&] { load(e, view, ex); });
                timed(1, [&] { forward(e, ex); });
                timed(2, [&] { threshold(e, x, ex); });
                timed(3, [&] { inverse(e, ex); });
                timed(4, [&] { store(e, view, ex); });
            }
        }
        const double ms = ms_since(frame_start);
        if (run == 0) continue;  // warm-up
        frames.push_back(ms);
        for (int i = 0; i < parts; ++i) part_ms[i].push_back(part[i]);
    }
    ::operator delete[](memory, std::align_val_t{64});
    Result result{median(frames), *std::min_element(frames.begin(), frames.end()), {}};
    for (int i = 0; i < parts; ++i) result.split.push_back(median(part_ms[i]));
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 9;
    std::vector<std::string> thread_list = {"1", "2"}, isa_list = {"sse41", "avx2"},
                             sizes = {"1920x1080", "3840x2160"}, chromas = {"444", "420"},
                             designs = {"stages", "fused"};
    if (!parse_options(argc, argv, runs,
                       {{"threads", &thread_list},
                        {"isa", &isa_list},
                        {"size", &sizes},
                        {"chroma", &chromas},
                        {"design", &designs}})) {
        std::fprintf(stderr,
                     "usage: %s [--runs N] [--threads 1,2] [--isa sse41,avx2] "
                     "[--size 1920x1080,...] [--chroma 444,420] [--design stages,fused]\n",
                     argv[0]);
        return 2;
    }
    std::printf("%-10s %-6s %-6s %3s %-7s %9s %7s %10s  %s\n", "size", "format", "isa", "thr",
                "design", "frame ms", "best", "traffic MB", "split (medians, ms per frame)");
    bool all_same = true;
    for (const std::string& size : sizes) {
        int w = 0, h = 0;
        if (std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2 || w < 1 || h < 1) return 2;
        for (const std::string& chroma : chromas) {
            const bool subsampled = chroma == "420";
            const SampleFormat format = subsampled ? SampleFormat::u8 : SampleFormat::u16;
            const Frame source(w, h, subsampled, format);
            Frame work = source;
            // The tool's --sigma 4 at K = 3, in working units, at every level and orientation.
            SubbandThresholds x = {};
            for (auto& level : x.value)
                for (float& v : level) v = 3.0f * 16.0f * 4.0f * threshold_factor(format);
            Traffic traffic;
            for (int p = 0; p < source.planes; ++p) {
                const Traffic t = plane_traffic(source.width[p], source.height[p], format, kLevels);
                traffic.stages += t.stages;
                traffic.fused += t.fused;
            }
            const std::string label = chroma + (subsampled ? "p8" : "p16");
            for (const std::string& isa_name : isa_list) {
                const KernelSet* table = table_named(isa_name);
                if (!table) {
                    std::printf("%-10s %-6s %-6s not available on this processor\n", size.c_str(),
                                label.c_str(), isa_name.c_str());
                    continue;
                }
                for (const std::string& t : thread_list) {
                    Frame reference = source;
                    bool have_reference = false;
                    for (const std::string& design : designs) {
                        const bool fused = design == "fused";
                        const Run r = {table, std::atoi(t.c_str()), fused};
                        const Result result = measure(source, work, r, runs, x);
                        std::printf("%-10s %-6s %-6s %3s %-7s %9.2f %7.2f %10.0f ", size.c_str(),
                                    label.c_str(), isa_name.c_str(), t.c_str(), design.c_str(),
                                    result.frame, result.best,
                                    (fused ? traffic.fused : traffic.stages) / 1e6);
                        for (size_t i = 0; i < result.split.size(); ++i)
                            std::printf(" %s %.2f", fused ? kFusedNames[i] : kStageNames[i],
                                        result.split[i]);
                        if (have_reference) {
                            const bool same = work == reference;
                            all_same = all_same && same;
                            std::printf(same ? "  (same samples)" : "  DIFFERENT SAMPLES");
                        }
                        std::printf("\n");
                        std::fflush(stdout);
                        reference = work;
                        have_reference = true;
                    }
                }
            }
        }
    }
    return all_same ? 0 : 1;
}
