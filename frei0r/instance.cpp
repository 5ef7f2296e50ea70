#include "frei0r/instance.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>

#include "frei0r/float_environment.h"
#include "threads/thread_pool.h"

namespace velmora {

namespace {

// Frames being filtered in the process right now, by any instance. A frame filtered alone (as
// ffmpeg filters, one frame at a time on its filter thread) takes the instance's workers; while
// others are being filtered too (MLT's render threads, each with its instances), every frame
// keeps to its own thread: the processors are busy already, and workers that wait for each
// other at every stage on busy processors cost more than they save. It decides only who does
// the work, never a bit of the result.
class FilteringNow {
public:
    FilteringNow() : others_(count().fetch_add(1)) {}
    ~FilteringNow() { count().fetch_sub(1); }
    FilteringNow(const FilteringNow&) = delete;
    FilteringNow& operator=(const FilteringNow&) = delete;
    bool alone() const { return others_ == 0; }

private:
    static std::atomic<int>& count() {
        static std::atomic<int> frames{0};
        return frames;
    }
    const int others_;
};

// What an instance works with: a workspace (null: none) with `threads` workers and `modes`.
struct WorkingSet {
    std::unique_ptr<Workspace> workspace;
    int threads;
    Modes modes;
};

// With all `threads` workers and both modes' memory; failing that, with fewer workers (the same
// bits, more slowly); failing that, with the exact mode's memory alone (frames set to best are
// filtered in exact mode); else none.
WorkingSet largest_working_set(int32_t width, int32_t height, int threads) {
    for (Modes modes : {Modes::both, Modes::exact_only})
        for (int t = threads; t >= 1; t /= 2)
            if (std::unique_ptr<Workspace> w = Workspace::make(width, height, t, modes))
                return {std::move(w), t, modes};
    return {nullptr, 1, Modes::exact_only};
}

const char* threads_word(int n) { return n == 1 ? "thread" : "threads"; }

double mebibytes(int32_t width, int32_t height, int threads, Modes modes) {
    return static_cast<double>(workspace_bytes(width, height, threads, modes)) / (1 << 20);
}

// One line on standard error: the working memory `threads` workers in best mode needed and what
// the instance does instead with `got`. Written without allocating: memory may be short.
void say_what_fits(int32_t width, int32_t height, int threads, const WorkingSet& got) {
    char what[160];
    const double got_mebibytes = mebibytes(width, height, got.threads, got.modes);
    if (!got.workspace)
        std::snprintf(what, sizeof what,
                      ", nor can exact mode's %.1f MiB with 1 thread: passing them through "
                      "unfiltered",
                      got_mebibytes);
    else if (got.modes == Modes::both)
        std::snprintf(
            what, sizeof what,
            "; filtering them with %d %s (%.1f MiB) instead: the same result, more slowly",
            got.threads, threads_word(got.threads), got_mebibytes);
    else
        std::snprintf(what, sizeof what,
                      "; filtering them in exact mode with %d %s (%.1f MiB) instead: frames set to "
                      "mode best come out as exact mode's",
                      got.threads, threads_word(got.threads), got_mebibytes);
    std::fprintf(stderr,
                 "velmora.so: %dx%d frames need %.1f MiB of working memory (best mode, %d %s), "
                 "which cannot be had%s\n",
                 width, height, mebibytes(width, height, threads, Modes::both), threads,
                 threads_word(threads), what);
}

// The workspace for width x height frames: with all `threads` workers and both modes' memory;
// failing that, the largest smaller working set that can be had. Whenever it is not the first,
// and for frames larger than the filter works on, it says so on standard error (the only
// channel a frei0r filter has): what the frames needed and what it does instead.
std::unique_ptr<Workspace> make_workspace(uint32_t width, uint32_t height, int threads) {
    if (width == 0 || height == 0) return nullptr;  // no pixels, nothing to filter
    if (width > kMaxFrameSide || height > kMaxFrameSide) {
        std::fprintf(stderr,
                     "velmora.so: %ux%u frames are larger than the %d x %d the filter works on; "
                     "passing them through unfiltered\n",
                     width, height, kMaxFrameSide, kMaxFrameSide);
        return nullptr;
    }
    const int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    WorkingSet got = largest_working_set(w, h, threads);
    if (got.threads != threads || got.modes != Modes::both) say_what_fits(w, h, threads, got);
    return std::move(got.workspace);
}

}  // namespace

void Instance::set(int index, const void* value) {
    const std::lock_guard<std::mutex> lock(mutex_);
    set_parameter(settings_, index, value);
}

void Instance::get(int index, void* value) {
    const std::lock_guard<std::mutex> lock(mutex_);
    get_parameter(settings_, index, value);
}

void Instance::update(const uint32_t* in, uint32_t* out) {
    const std::lock_guard<std::mutex> lock(mutex_);
    // The calling thread also measures and sets the thresholds between the workers' stages.
    const DefaultFloatEnvironment environment;
    if (!workspace_tried_) {
        workspace_tried_ = true;
        workspace_ = make_workspace(width_, height_, worker_threads(width_, height_));
    }
    if (workspace_) {
        const FilteringNow now;
        workspace_->filter(settings_, reinterpret_cast<const uint8_t*>(in),
                           reinterpret_cast<uint8_t*>(out), now.alone());
    } else if (in != out) {
        std::memcpy(out, in, static_cast<size_t>(width_) * height_ * 4);
    }
}

int worker_threads(uint32_t width, uint32_t height) {
    constexpr uint64_t kSmallFrame = 256 * 256;
    if (static_cast<uint64_t>(width) * height < kSmallFrame) return 1;
    return processor_count() < 8 ? processor_count() : 8;
}

}  // namespace velmora
