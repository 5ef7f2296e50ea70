// The threads a denoiser's passes run on: its own pool, or the caller's executor.
#pragma once

#include <memory>

#include "engine/executor.h"
#include "velmora/velmora.h"

namespace velmora {

class ThreadPool;

class Workers {
public:
    // The caller's executor when it has a run function, else a pool of `threads` (at least 1).
    Workers(int threads, const velmora_executor& caller);
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    int threads() const { return threads_; }

    // The executor for the passes over a width x height plane (a pool keeps planes too small to
    // share on the calling thread; the caller's executor is given every plane).
    Executor executor(int32_t width, int32_t height);

private:
    int threads_;
    Executor caller_ = {};
    std::unique_ptr<ThreadPool> pool_;
};

// The thread count of a setting: 0 is one per processor.
int resolved_threads(int threads);

}  // namespace velmora
