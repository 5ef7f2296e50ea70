// A pool of persistent worker threads: the executor of the command-line tool and the other
// front ends that have no host to run their workers.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/executor.h"

namespace velmora {

// The fewest samples of a plane whose passes are shared among threads. A smaller plane's passes
// each take a few microseconds, less than a worker takes to wake and be scheduled: sharing them
// only adds the waking and the moving of cache lines between processors (about where two threads
// stop being faster than one on an idle machine).
constexpr int64_t kSharedPlaneSamples = 96 * 96;

class ThreadPool {
public:
    // `threads` indices a call (at least 1): threads - 1 workers, and the calling thread, which
    // runs index 0 and then every index no worker has started (threads/thread_pool.cpp tells
    // how the pool stays out of the way of a busy machine).
    explicit ThreadPool(int threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int threads() const;

    // Runs fn(t, threads, context) for every t, each once on whichever thread claims it first,
    // and returns when all have finished. One caller at a time.
    void run(WorkerFunction fn, void* context);

    Executor executor();

    // The executor for the passes over a width x height plane: the pool's, or for a plane too
    // small to share (kSharedPlaneSamples) one thread's on the calling thread, which gives the
    // same bits (the engines are made for `threads` and take any executor of as many or fewer).
    Executor executor(int32_t width, int32_t height);

private:
    class Workers;
    std::unique_ptr<Workers> workers_;
};

// The number of processors, at least 1.
int processor_count();

}  // namespace velmora
