#include "standin/thread_pool.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Workers wait on a generation counter; a call bumps it, runs index 0 itself and waits until
// every other index has reported back. Waiting spins briefly before sleeping in the kernel.
class Pool {
public:
    explicit Pool(int threads) : threads_(threads) {
        for (int t = 1; t < threads_; ++t) workers_.emplace_back([this, t] { serve(t); });
    }

    ~Pool() {
        stopping_.store(true);
        generation_.fetch_add(1);
        generation_.notify_all();
        for (auto& w : workers_) w.join();
    }

    int threads() const { return threads_; }

    void run(MULTI_THREAD_FUNC func, void* p1, void* p2) {
        func_ = func;
        p1_ = p1;
        p2_ = p2;
        pending_.store(threads_ - 1);
        generation_.fetch_add(1);
        generation_.notify_all();
        func(0, threads_, p1, p2);
        wait_until_zero();
    }

private:
    void serve(int t) {
        unsigned seen = 0;
        for (;;) {
            seen = wait_for_change(seen);
            if (stopping_.load()) return;
            func_(t, threads_, p1_, p2_);
            if (pending_.fetch_sub(1) == 1) pending_.notify_one();
        }
    }

    unsigned wait_for_change(unsigned seen) {
        for (int spin = 0; spin < 4000; ++spin) {
            const unsigned g = generation_.load();
            if (g != seen) return g;
        }
        for (;;) {
            generation_.wait(seen);
            const unsigned g = generation_.load();
            if (g != seen) return g;
        }
    }

    void wait_until_zero() {
        for (int spin = 0; spin < 4000; ++spin)
            if (pending_.load() == 0) return;
        for (int left = pending_.load(); left != 0; left = pending_.load()) pending_.wait(left);
    }

    const int threads_;
    std::vector<std::thread> workers_;
    std::atomic<unsigned> generation_{0};
    std::atomic<int> pending_{0};
    std::atomic<bool> stopping_{false};
    MULTI_THREAD_FUNC func_ = nullptr;
    void* p1_ = nullptr;
    void* p2_ = nullptr;
};

int requested_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

int wanted = requested_threads();
std::unique_ptr<Pool> pool;

}  // namespace

void set_pool_threads(int threads) { wanted = threads < 1 ? 1 : threads; }

int pool_threads() { return wanted; }

BOOL pool_exec(MULTI_THREAD_FUNC func, void* param1, void* param2) {
    if (!pool || pool->threads() != wanted) {
        pool.reset();
        pool = std::make_unique<Pool>(wanted);
    }
    pool->run(func, param1, param2);
    return TRUE;
}
