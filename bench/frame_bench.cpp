// Whole frames through the real frame handler, timed per stage: the median of several runs for
// each size, thread count and kernel table.
//
//   velmora-bench [--runs N] [--threads 1,2] [--isa scalar,sse41] [--size 1920x1080] [--zero]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "kernels/kernel_set.h"
#include "plugin/filter_table.h"
#include "plugin/frame_entry.h"
#include "plugin/parameter_store.h"
#include "standin/emulated_filter.h"
#include "standin/frame_source.h"
#include "standin/thread_pool.h"
#include "wavelet/transform_plane.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kStages[] = {"load",     "fwd rows", "fwd cols", "threshold",
                               "inv cols", "inv rows", "store"};
constexpr int kStageCount = 7;

// The frame handler calls the host's service once to learn the thread count, then once per
// stage of every plane: the load, rows then columns of each level forward, the threshold,
// columns then rows of each level back, the store. The stage of the frame's call `call`, or -1.
int stage_of_call(int call) {
    constexpr int kCallsPerPlane = 4 * kLevels + 3;
    if (call == 0) return -1;
    const int k = (call - 1) % kCallsPerPlane;
    if (k == 0) return 0;
    if (k <= 2 * kLevels) return k % 2 ? 1 : 2;
    if (k == 2 * kLevels + 1) return 3;
    if (k <= 4 * kLevels + 1) return k % 2 ? 5 : 4;
    return 6;
}

double stage_ms[kStageCount];
int frame_calls = 0;

BOOL timed_exec(MULTI_THREAD_FUNC func, void* p1, void* p2) {
    const auto start = Clock::now();
    pool_exec(func, p1, p2);
    const int stage = stage_of_call(frame_calls++);
    if (stage >= 0)
        stage_ms[stage] += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return TRUE;
}

struct Result {
    double total;
    double stages[kStageCount];
};

Result run(int w, int h, int threads, int runs, bool zero) {
    set_pool_threads(threads);
    static EmulatedFilter filter;
    host_state = HostState{};
    build_filter(filter, GetFilterTable(), timed_exec);
    FILTER* fp = &filter.record;
    for (int k = 0; k < kLevelTrackCount; ++k) {
        const int value = zero ? 0 : 40 - 2 * k;
        for (int p = 0; p < kPlaneCount; ++p) ThresholdTable[p][k] = value;
        fp->track[kTrackFirstLevel + k] = value;
    }
    std::vector<PIXEL_YC> edit(static_cast<size_t>(w) * h), temp(edit.size()), source(edit.size());
    fill_frame(source.data(), w, h, w, h, 7, FrameKind::noisy);
    FILTER_PROC_INFO info = {};
    info.ycp_edit = edit.data();
    info.ycp_temp = temp.data();
    info.w = info.max_w = w;
    info.h = info.max_h = h;
    std::vector<double> totals;
    std::vector<double> per_stage[kStageCount];
    for (int r = 0; r < runs + 1; ++r) {
        edit = source;
        std::fill(std::begin(stage_ms), std::end(stage_ms), 0.0);
        frame_calls = 0;
        const auto start = Clock::now();
        if (!fp->func_proc(fp, &info)) {
            std::fprintf(stderr, "frame refused\n");
            std::exit(1);
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (r == 0) continue;  // warm-up
        totals.push_back(ms);
        for (int i = 0; i < kStageCount; ++i) per_stage[i].push_back(stage_ms[i]);
    }
    Result result{median(totals), {}};
    for (int i = 0; i < kStageCount; ++i) result.stages[i] = median(per_stage[i]);
    return result;
}

void EmptyWorker(int, int, void*, void*) {}

// What one stage costs the pool beyond its work: waking every worker and waiting for all.
double pool_stage_us(int threads) {
    set_pool_threads(threads);
    pool_exec(EmptyWorker, nullptr, nullptr);
    const int calls = 20000;
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) pool_exec(EmptyWorker, nullptr, nullptr);
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 9;
    bool zero = false;
    std::vector<std::string> thread_list = {"1", "2"}, isa_list = {"scalar", "sse41"},
                             sizes = {"1920x1080"};
    if (!parse_options(argc, argv, runs,
                       {{"threads", &thread_list}, {"isa", &isa_list}, {"size", &sizes}},
                       {{"zero", &zero}})) {
        std::fprintf(stderr,
                     "usage: %s [--runs N] [--threads 1,2] [--isa scalar,sse41] "
                     "[--size 1920x1080,...] [--zero]\n",
                     argv[0]);
        return 2;
    }
    for (const std::string& t : thread_list)
        std::printf("pool: %.2f us per stage with %s threads\n",
                    pool_stage_us(std::atoi(t.c_str())), t.c_str());
    std::printf("%-10s %-7s %3s %9s", "size", "isa", "thr", "frame ms");
    for (const char* name : kStages) std::printf(" %9s", name);
    std::printf("\n");
    for (const std::string& size : sizes) {
        int w = 0, h = 0;
        if (std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2 || w < 1 || h < 1) return 2;
        for (const std::string& isa_name : isa_list) {
            const KernelSet* table = table_named(isa_name);
            if (!table) {
                std::printf("%-10s %-7s not available on this processor\n", size.c_str(),
                            isa_name.c_str());
                continue;
            }
            use_kernels(table);
            for (const std::string& t : thread_list) {
                const Result r = run(w, h, std::atoi(t.c_str()), runs, zero);
                std::printf("%-10s %-7s %3s %9.2f", size.c_str(), isa_name.c_str(), t.c_str(),
                            r.total);
                for (double ms : r.stages) std::printf(" %9.2f", ms);
                std::printf("\n");
                std::fflush(stdout);
            }
        }
    }
}
