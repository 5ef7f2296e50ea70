#include "winhost/win32_executor.h"

#include <deque>

#include "winhost/misaligned_call.h"

namespace {

struct Job {
    MULTI_THREAD_FUNC func;
    void* param1;
    void* param2;
    int threads;
};

// One job at a time: the caller publishes it under the lock with a new generation number and
// waits until every thread it asked for has reported back. Slim locks and condition variables
// wait without a round trip to the Wine server, which costs much under emulation.
SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE job_posted = CONDITION_VARIABLE_INIT;
CONDITION_VARIABLE job_finished = CONDITION_VARIABLE_INIT;
Job job = {};
unsigned generation = 0;
int unfinished = 0;

std::deque<int> indices;  // a deque: each thread holds the address of its entry
int wanted_threads = 1;

Job next_job(unsigned& seen) {
    AcquireSRWLockExclusive(&lock);
    while (generation == seen) SleepConditionVariableSRW(&job_posted, &lock, INFINITE, 0);
    seen = generation;
    const Job posted = job;
    ReleaseSRWLockExclusive(&lock);
    return posted;
}

DWORD WINAPI serve(LPVOID arg) {
    const int index = *static_cast<int*>(arg);
    unsigned seen = 0;
    for (;;) {
        const Job posted = next_job(seen);
        if (index >= posted.threads) continue;
        const int args[4] = {index, posted.threads, reinterpret_cast<int>(posted.param1),
                             reinterpret_cast<int>(posted.param2)};
        call_misaligned(reinterpret_cast<void*>(posted.func), args, 4, 4 * (1 + index % 3));
        AcquireSRWLockExclusive(&lock);
        if (--unfinished == 0) WakeConditionVariable(&job_finished);
        ReleaseSRWLockExclusive(&lock);
    }
}

// Threads are started as more are wanted and kept; a job uses the first `threads` of them.
void start_workers(int threads) {
    for (int t = static_cast<int>(indices.size()); t < threads; ++t) {
        indices.push_back(t);
        CloseHandle(CreateThread(nullptr, 0, serve, &indices.back(), 0, nullptr));
    }
}

}  // namespace

void set_win32_threads(int threads) { wanted_threads = threads < 1 ? 1 : threads; }

BOOL win32_exec(MULTI_THREAD_FUNC func, void* param1, void* param2) {
    start_workers(wanted_threads);
    AcquireSRWLockExclusive(&lock);
    job = {func, param1, param2, wanted_threads};
    unfinished = wanted_threads;
    ++generation;
    WakeAllConditionVariable(&job_posted);
    while (unfinished > 0) SleepConditionVariableSRW(&job_finished, &lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock);
    return TRUE;
}
