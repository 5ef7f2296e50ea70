// velmora-frei0r-bench: milliseconds per RGBA frame through the frei0r filter's frame path
// (conversion, the denoiser on three planes, conversion back), the median of several runs:
// one instance with 1 and 2 workers, as ffmpeg calls it (one frame at a time), and two
// instances on two threads at once, as MLT's render threads call them, with 1 and 2 workers
// each (the time per frame of the pair's throughput).
//   velmora-frei0r-bench [--runs N] [--size WxH]...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "frei0r/frame_filter.h"
#include "tools/velmora/sample/split_mix64.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> noisy_frame(int w, int h) {
    SplitMix64 rng{1};
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &f[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = static_cast<uint8_t>((x + y) / 12 + rng.uniform(0, 20));
            p[1] = static_cast<uint8_t>(((x / 40 + y / 40) % 2) * 120 + rng.uniform(0, 20));
            p[2] = static_cast<uint8_t>(y * 200 / h + rng.uniform(0, 20));
            p[3] = 255;
        }
    return f;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds per frame of `instances` instances filtering at once, each on its own thread.
double measure(int w, int h, int workers, int instances, const Settings& s, int runs) {
    const std::vector<uint8_t> in = noisy_frame(w, h);
    std::vector<std::unique_ptr<Workspace>> spaces;
    std::vector<std::vector<uint8_t>> outs(instances, std::vector<uint8_t>(in.size()));
    for (int i = 0; i < instances; ++i) spaces.push_back(Workspace::make(w, h, {workers, true}));
    for (int i = 0; i < instances; ++i) spaces[i]->filter(s, in.data(), outs[i].data());
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int i = 1; i < instances; ++i)
            threads.emplace_back([&, i] { spaces[i]->filter(s, in.data(), outs[i].data()); });
        spaces[0]->filter(s, in.data(), outs[0].data());
        for (std::thread& t : threads) t.join();
        const std::chrono::duration<double, std::milli> took = Clock::now() - start;
        times.push_back(took.count() / instances);
    }
    return median(times);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 9;
    std::vector<std::pair<int, int>> sizes;
    for (int i = 1; i + 1 < argc; i += 2) {
        int w = 0, h = 0;
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--size") == 0 &&
                   std::sscanf(argv[i + 1], "%dx%d", &w, &h) == 2 && w > 0 && h > 0) {
            sizes.emplace_back(w, h);
        } else {
            std::fprintf(stderr, "usage: velmora-frei0r-bench [--runs N] [--size WxH]...\n");
            return 1;
        }
    }
    if (sizes.empty()) sizes = {{720, 576}, {1920, 1080}, {3840, 2160}};
    Settings automatic;
    Settings off;
    off.automatic = false;
    off.strength = 0.0;
    std::printf("ms per frame, median of %d runs\n", runs);
    std::printf("%-11s %-22s %9s %9s\n", "frame", "calls", "1 worker", "2 workers");
    for (const auto& [w, h] : sizes) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        std::printf("%-11s %-22s %9.2f %9.2f\n", size.c_str(), "one instance, auto",
                    measure(w, h, 1, 1, automatic, runs), measure(w, h, 2, 1, automatic, runs));
        std::printf("%-11s %-22s %9.2f %9.2f\n", size.c_str(), "one, conversions only",
                    measure(w, h, 1, 1, off, runs), measure(w, h, 2, 1, off, runs));
        std::printf("%-11s %-22s %9.2f %9.2f\n", size.c_str(), "two at once, auto",
                    measure(w, h, 1, 2, automatic, runs), measure(w, h, 2, 2, automatic, runs));
    }
    return 0;
}
