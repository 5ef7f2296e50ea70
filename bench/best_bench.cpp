// Best mode on whole 4:2:0 8-bit frames (three planes, the luma and chroma settings): the median
// wall time of several runs per frame, and the process's processor time per frame, for each
// kernel table and thread count.
//
//   velmora-best-bench [--runs N] [--threads 1,2] [--isa scalar,sse41,avx2] [--size 1920x1080]
//                      [--sigma S]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/best_mode.h"
#include "kernels/kernel_set.h"
#include "threads/thread_pool.h"
#include "tools/velmora/sample/split_mix64.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace velmora;

double cpu_seconds() {
    rusage u;
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec) + u.ru_utime.tv_usec * 1e-6 + double(u.ru_stime.tv_sec) +
           u.ru_stime.tv_usec * 1e-6;
}

// Smooth gradients with edges and noise of about 10 steps.
std::vector<uint8_t> plane(int w, int h, uint64_t seed) {
    SplitMix64 rng{seed};
    std::vector<uint8_t> p(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = 40 + (x * 150) / w + ((x / 64 + y / 64) % 2) * 40 + rng.uniform(-17, 17);
            p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7, w = 1920, h = 1080;
    std::vector<std::string> threads = {"1", "2"}, isas = {"scalar", "sse41", "avx2"};
    std::string size = "1920x1080", sigma_text = "10";
    if (!parse_options(argc, argv, runs, {{"threads", &threads}, {"isa", &isas}}, {},
                       {{"size", &size}, {"sigma", &sigma_text}})) {
        std::fprintf(stderr,
                     "usage: %s [--runs N] [--threads 1,2] [--isa scalar,sse41,avx2] "
                     "[--size WxH] [--sigma S]\n",
                     argv[0]);
        return 2;
    }
    std::sscanf(size.c_str(), "%dx%d", &w, &h);
    const double sigma = std::atof(sigma_text.c_str());
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const std::vector<uint8_t> source[3] = {plane(w, h, 1), plane(cw, ch, 2), plane(cw, ch, 3)};
    std::printf(
        "best mode, %dx%d 4:2:0 8-bit, sigma %.1f: ms per frame (median of %d), processor "
        "ms per frame\n",
        w, h, sigma, runs);
    for (const std::string& name : isas) {
        const KernelSet* k = table_named(name);
        if (!k) {
            std::printf("%-7s not available\n", name.c_str());
            continue;
        }
        for (const std::string& t : threads) {
            const int T = std::atoi(t.c_str());
            std::vector<float> memory(static_cast<size_t>(best_mode_memory_floats(w, h, T)) + 4);
            float* aligned = memory.data();
            while (reinterpret_cast<std::uintptr_t>(aligned) % 16) ++aligned;
            const BestMode b = make_best_mode(*k, aligned, w, h, T);
            ThreadPool pool(T);
            std::vector<double> times;
            double cpu = 0;
            uint64_t hash = 1469598103934665603ull;
            for (int r = 0; r <= runs; ++r) {
                std::vector<uint8_t> planes[3] = {source[0], source[1], source[2]};
                const double cpu_start = cpu_seconds();
                const auto start = Clock::now();
                for (int p = 0; p < 3; ++p) {
                    const int pw = p ? cw : w, ph = p ? ch : h;
                    denoise_best(b, {planes[p].data(), 1, pw, pw, ph, SampleFormat::u8},
                                 static_cast<float>(sigma * 16.0),
                                 p ? PlaneKind::chroma : PlaneKind::luma, pool.executor());
                }
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                if (r == 0) {  // warm-up; its output is the one hashed
                    for (const auto& p : planes)
                        for (uint8_t v : p) hash = (hash ^ v) * 1099511628211ull;
                    continue;
                }
                cpu += cpu_seconds() - cpu_start;
                times.push_back(ms);
            }
            std::sort(times.begin(), times.end());
            std::printf(
                "%-7s %d thread%s: %7.1f ms (fastest %.1f), processor %.1f ms; output "
                "%016llx\n",
                k->name, T, T == 1 ? " " : "s", times[times.size() / 2], times[0],
                1000.0 * cpu / runs, static_cast<unsigned long long>(hash));
        }
    }
    return 0;
}
