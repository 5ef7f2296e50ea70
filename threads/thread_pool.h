// A pool of persistent worker threads: the executor of the command-line tool and the other
// front ends that have no host to run their workers.
#pragma once

#include <memory>

#include "engine/executor.h"

namespace velmora {

class ThreadPool {
public:
    // `threads` workers (at least 1); the calling thread runs index 0 itself.
    explicit ThreadPool(int threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int threads() const;

    // Runs fn(t, threads, context) for every t and returns when all have finished. One caller
    // at a time.
    void run(WorkerFunction fn, void* context);

    Executor executor();

private:
    class Workers;
    std::unique_ptr<Workers> workers_;
};

// The number of processors, at least 1.
int processor_count();

}  // namespace velmora
