#include "threads/thread_pool.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace velmora {

namespace {

// How long a waiting thread spins before it sleeps in the kernel. The passes over a plane call
// the pool every few hundred microseconds, with tens of microseconds between the threads'
// finishing times; waking a sleeping thread costs about as much again (more on a virtual
// machine), twice per call. Longer spins gain the passes nothing more and take the processor
// from the command-line tool's reading and writing threads between frames.
constexpr auto kSpinFor = std::chrono::microseconds(50);

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins until `done()` holds or the time is up; whether it holds.
template <class Done>
bool spin_until(Done done) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + kSpinFor;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done()) return true;
            relax();
        }
        if (Clock::now() >= until) return false;
    }
}

}  // namespace

// Workers wait on a generation counter; a call bumps it, runs index 0 itself and waits until
// every other index has reported back. Waiting spins for a while before sleeping in the kernel.
class ThreadPool::Workers {
public:
    explicit Workers(int threads) : threads_(threads) {
        for (int t = 1; t < threads_; ++t) workers_.emplace_back([this, t] { serve(t); });
    }

    ~Workers() {
        stopping_.store(true);
        generation_.fetch_add(1);
        generation_.notify_all();
        for (auto& w : workers_) w.join();
    }

    int threads() const { return threads_; }

    void run(WorkerFunction fn, void* context) {
        fn_ = fn;
        context_ = context;
        pending_.store(threads_ - 1);
        generation_.fetch_add(1);
        generation_.notify_all();
        fn(0, threads_, context);
        wait_until_zero();
    }

private:
    void serve(int t) {
        unsigned seen = 0;
        for (;;) {
            seen = wait_for_change(seen);
            if (stopping_.load()) return;
            fn_(t, threads_, context_);
            if (pending_.fetch_sub(1) == 1) pending_.notify_one();
        }
    }

    unsigned wait_for_change(unsigned seen) {
        if (spin_until([&] { return generation_.load() != seen; })) return generation_.load();
        for (;;) {
            generation_.wait(seen);
            const unsigned g = generation_.load();
            if (g != seen) return g;
        }
    }

    void wait_until_zero() {
        if (spin_until([&] { return pending_.load() == 0; })) return;
        for (int left = pending_.load(); left != 0; left = pending_.load()) pending_.wait(left);
    }

    const int threads_;
    std::vector<std::thread> workers_;
    std::atomic<unsigned> generation_{0};
    std::atomic<int> pending_{0};
    std::atomic<bool> stopping_{false};
    WorkerFunction fn_ = nullptr;
    void* context_ = nullptr;
};

ThreadPool::ThreadPool(int threads)
    : workers_(std::make_unique<Workers>(threads < 1 ? 1 : threads)) {}

ThreadPool::~ThreadPool() = default;

int ThreadPool::threads() const { return workers_->threads(); }

void ThreadPool::run(WorkerFunction fn, void* context) { workers_->run(fn, context); }

Executor ThreadPool::executor() {
    return {threads(),
            [](void* self, WorkerFunction fn, void* context) {
                static_cast<ThreadPool*>(self)->run(fn, context);
            },
            this};
}

int processor_count() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

}  // namespace velmora
