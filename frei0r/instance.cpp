#include "frei0r/instance.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

#include "frei0r/float_environment.h"

namespace velmora {

namespace {

const char* threads_word(int n) { return n == 1 ? "thread" : "threads"; }

double mebibytes(int32_t width, int32_t height, const WorkingSet& set) {
    return static_cast<double>(workspace_bytes(width, height, set)) / (1 << 20);
}

// One line on standard error (the only channel a frei0r filter has): the working memory the
// first working set needed and what the instance does instead with `got` (null: nothing).
// Written without allocating: memory may be short.
void say_what_fits(int32_t width, int32_t height, const WorkingSet& wanted, const WorkingSet* got) {
    char what[160];
    if (!got)
        std::snprintf(what, sizeof what,
                      ", nor can exact mode's %.1f MiB with 1 thread: passing them through "
                      "unfiltered",
                      mebibytes(width, height, {1, false}));
    else if (got->best)
        std::snprintf(
            what, sizeof what,
            "; filtering them with %d %s (%.1f MiB) instead: the same result, more slowly",
            got->threads, threads_word(got->threads), mebibytes(width, height, *got));
    else
        std::snprintf(what, sizeof what,
                      "; filtering them in exact mode with %d %s (%.1f MiB) instead: frames set to "
                      "mode best come out as exact mode's",
                      got->threads, threads_word(got->threads), mebibytes(width, height, *got));
    std::fprintf(stderr,
                 "velmora.so: %dx%d frames need %.1f MiB of working memory (best mode, %d %s), "
                 "which cannot be had%s\n",
                 width, height, mebibytes(width, height, wanted), wanted.threads,
                 threads_word(wanted.threads), what);
}

// Whether the denoiser takes width x height frames; says so on standard error when it does not.
bool takes_size(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return false;  // no pixels, nothing to filter
    const velmora_format format =
        planes_format(width > INT_MAX ? 0 : static_cast<int32_t>(width),
                      height > INT_MAX ? 0 : static_cast<int32_t>(height));
    if (velmora_plane_count(&format) == 3) return true;
    std::fprintf(stderr,
                 "velmora.so: %ux%u frames are larger than the denoiser takes; passing them "
                 "through unfiltered\n",
                 width, height);
    return false;
}

}  // namespace

std::vector<WorkingSet> working_sets(int threads) {
    std::vector<WorkingSet> sets;
    for (bool best : {true, false})
        for (int t = threads; t >= 1; t /= 2) sets.push_back({t, best});
    return sets;
}

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
    // The calling thread also measures and sets the levels between the workers' stages, and
    // starts the workers.
    const DefaultFloatEnvironment environment;
    if (!started_) {
        started_ = true;
        if (takes_size(width_, height_)) sets_ = working_sets(worker_threads(width_, height_));
    }
    const int32_t w = static_cast<int32_t>(width_), h = static_cast<int32_t>(height_);
    const size_t before = set_;
    for (; set_ < sets_.size(); ++set_) {
        if (!workspace_) workspace_ = Workspace::make(w, h, sets_[set_]);
        if (workspace_ && workspace_->filter(settings_, reinterpret_cast<const uint8_t*>(in),
                                             reinterpret_cast<uint8_t*>(out)) == VELMORA_OK)
            break;
        workspace_.reset();
    }
    if (set_ != before)
        say_what_fits(w, h, sets_.front(), set_ < sets_.size() ? &sets_[set_] : nullptr);
    if (!workspace_ && in != out) std::memcpy(out, in, static_cast<size_t>(width_) * height_ * 4);
}

int worker_threads(uint32_t width, uint32_t height) {
    constexpr uint64_t kSmallFrame = 256 * 256;
    if (static_cast<uint64_t>(width) * height < kSmallFrame) return 1;
    const unsigned processors = std::thread::hardware_concurrency();
    return processors < 1 ? 1 : processors < 8 ? static_cast<int>(processors) : 8;
}

}  // namespace velmora
