// How the engine's stages reach the caller's worker threads.
#pragma once

namespace velmora {

// A worker: thread t of T does its share of one stage.
using WorkerFunction = void (*)(int t, int T, void* context);

// Runs fn(t, threads, context) once for every t in 0..threads-1 and returns when all have
// finished: the host's multi-thread service, a thread pool, or a loop on the calling thread.
struct Executor {
    int threads;
    void (*run)(void* self, WorkerFunction fn, void* context);
    void* self;
};

// Runs every share one after another on the calling thread.
Executor serial_executor(int threads = 1);

}  // namespace velmora
