#include "frei0r/instance.h"

#include <atomic>
#include <cstring>

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
    if (!workspace_ && width_ <= kMaxFrameSide && height_ <= kMaxFrameSide)
        workspace_ = Workspace::make(static_cast<int32_t>(width_), static_cast<int32_t>(height_),
                                     worker_threads(width_, height_));
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
