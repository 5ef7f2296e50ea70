// The thread pool when a worker cannot run: the calling thread runs the worker's index itself.
#include "threads/thread_pool.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace velmora {
namespace {

// A thread sent SIGUSR1 stops in the handler until a byte comes down `release` (or, should the
// test go wrong, for ten seconds), saying down `held` when it stops and when it leaves.
int held[2], release[2];

void hold_thread(int) {
    const int saved = errno;  // the interrupted thread's, whatever the calls here leave
    char byte = 1;
    if (write(held[1], &byte, 1) == 1) {
        pollfd wait = {release[0], POLLIN, 0};
        if (poll(&wait, 1, 10000) == 1) (void)!read(release[0], &byte, 1);
        (void)!write(held[1], &byte, 1);
    }
    errno = saved;
}

struct Record {
    std::atomic<int> runs[2] = {};
    std::atomic<pthread_t> thread[2] = {};
    std::atomic<bool> second_started{false};
};

void expect_each_index_once(const Record& r, int call) {
    for (int t = 0; t < 2; ++t) EXPECT_EQ(r.runs[t].load(), 1) << "call " << call << " index " << t;
}

void record(int t, int, void* c) {
    Record& r = *static_cast<Record*>(c);
    r.runs[t].fetch_add(1);
    r.thread[t].store(pthread_self());
}

// Index 0 waits until index 1 has started, so that a worker runs index 1.
void record_apart(int t, int T, void* c) {
    Record& r = *static_cast<Record*>(c);
    if (t == 1) {
        r.second_started.store(true);
        r.second_started.notify_one();
    } else {
        r.second_started.wait(false);
    }
    record(t, T, c);
}

TEST(ThreadPool, TheCallerRunsTheIndexOfAWorkerThatCannotRun) {
    ASSERT_EQ(pipe(held), 0);
    ASSERT_EQ(pipe(release), 0);
    struct sigaction hold = {}, before = {};
    hold.sa_handler = hold_thread;
    ASSERT_EQ(sigaction(SIGUSR1, &hold, &before), 0);
    ThreadPool pool(2);
    Record first;
    pool.run(record_apart, &first);
    const pthread_t worker = first.thread[1].load();
    ASSERT_FALSE(pthread_equal(worker, pthread_self()));

    ASSERT_EQ(pthread_kill(worker, SIGUSR1), 0);
    char byte = 1;
    ASSERT_EQ(read(held[0], &byte, 1), 1);
    for (int call = 0; call < 3; ++call) {
        Record r;
        pool.run(record, &r);
        expect_each_index_once(r, call);
        EXPECT_TRUE(pthread_equal(r.thread[1].load(), pthread_self())) << "call " << call;
    }
    ASSERT_EQ(write(release[1], &byte, 1), 1);
    ASSERT_EQ(read(held[0], &byte, 1), 1);  // the handler is done with the pipes

    Record after;
    pool.run(record, &after);
    expect_each_index_once(after, 3);
    sigaction(SIGUSR1, &before, nullptr);
    for (int fd : {held[0], held[1], release[0], release[1]}) close(fd);
}

}  // namespace
}  // namespace velmora
