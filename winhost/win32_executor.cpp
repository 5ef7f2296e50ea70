#include "winhost/win32_executor.h"

#include <vector>

#include "winhost/misaligned_call.h"

namespace {

struct Worker {
    HANDLE thread;
    HANDLE start;
    HANDLE done;
    int index;
};

struct Job {
    MULTI_THREAD_FUNC func;
    void* param1;
    void* param2;
    int threads;
    bool stop;
};

Job job = {};
std::vector<Worker> workers;
int wanted_threads = 1;

DWORD WINAPI serve(LPVOID arg) {
    Worker* self = static_cast<Worker*>(arg);
    for (;;) {
        WaitForSingleObject(self->start, INFINITE);
        if (job.stop) return 0;
        const int args[4] = {self->index, job.threads, reinterpret_cast<int>(job.param1),
                             reinterpret_cast<int>(job.param2)};
        call_misaligned(reinterpret_cast<void*>(job.func), args, 4, 4 * (1 + self->index % 3));
        SetEvent(self->done);
    }
}

void stop_workers() {
    job.stop = true;
    for (Worker& w : workers) SetEvent(w.start);
    for (Worker& w : workers) {
        WaitForSingleObject(w.thread, INFINITE);
        CloseHandle(w.thread);
        CloseHandle(w.start);
        CloseHandle(w.done);
    }
    workers.clear();
    job.stop = false;
}

void start_workers(int threads) {
    workers.resize(threads);
    for (int t = 0; t < threads; ++t) {
        workers[t].index = t;
        workers[t].start = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        workers[t].done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    for (Worker& w : workers) w.thread = CreateThread(nullptr, 0, serve, &w, 0, nullptr);
}

}  // namespace

void set_win32_threads(int threads) { wanted_threads = threads < 1 ? 1 : threads; }

BOOL win32_exec(MULTI_THREAD_FUNC func, void* param1, void* param2) {
    if (static_cast<int>(workers.size()) != wanted_threads) {
        stop_workers();
        start_workers(wanted_threads);
    }
    job = {func, param1, param2, wanted_threads, false};
    for (Worker& w : workers) SetEvent(w.start);
    for (Worker& w : workers) WaitForSingleObject(w.done, INFINITE);
    return TRUE;
}
