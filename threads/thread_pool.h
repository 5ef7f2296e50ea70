// A pool of persistent worker threads: the executor of the command-line tool and the other
// front ends that have no host to run their workers.
#pragma once

#include <memory>

#include "engine/executor.h"

namespace velmora {

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

private:
    class Workers;
    std::unique_ptr<Workers> workers_;
};

// The number of processors, at least 1.
int processor_count();

}  // namespace velmora
