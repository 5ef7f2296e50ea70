#include "threads/thread_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;

// The longest a waiting thread spins before it sleeps in the kernel. The passes over a plane call
// the pool every few hundred microseconds, with tens of microseconds between the threads'
// finishing times; waking a sleeping thread costs about as much again (more on a virtual
// machine). Longer spins gain the passes nothing more and take the processor from the
// command-line tool's reading and writing threads between frames.
constexpr auto kSpinFor = std::chrono::microseconds(50);

// A thread spins for at most a quarter of the time it has spent running indices.
constexpr int kWorkPerSpin = 4;

// The most of what sharing has gained the calling thread that it keeps in hand, and how many
// times as long as the loss the calls run on the calling thread alone when sharing has lost.
constexpr auto kCredit = std::chrono::milliseconds(1);
constexpr int kAlonePerLoss = 8;

// What a thread did in one call: the indices it ran and the time they took.
struct Share {
    Clock::duration worked{};
    int indices = 0;
};

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// The spinning a thread has earned by its work and not yet spent.
class SpinBudget {
public:
    void earn(Clock::duration worked) {
        left_ = std::min<Clock::duration>(left_ + worked / kWorkPerSpin, kSpinFor);
    }

    // Spins until `done()` holds or the budget is spent; whether it holds.
    template <class Done>
    bool spin_until(Done done) {
        const auto start = Clock::now();
        for (;;) {
            const auto spun = Clock::now() - start;
            if (done()) {
                left_ -= std::min(left_, spun);
                return true;
            }
            if (spun >= left_) {
                left_ = {};
                return false;
            }
            for (int i = 0; i < 16; ++i) relax();
        }
    }

private:
    Clock::duration left_{};
};

}  // namespace

// Each call has a number; the workers wait for it to change. Every index of a call is claimed by
// whichever thread gets to it first, with an atomic step of its claim from the call before to
// this one: the calling thread takes index 0, worker t takes index t, and each then goes on to
// the indices no one has claimed yet. So the calling thread never waits for a worker that has
// not been scheduled (a busy machine, a worker still waking): it runs that worker's index
// itself, and waits only for indices that are being run. Running a late worker's index is never
// slower than waiting for it: the worker would have started later than the caller's own index
// took. The stages give the same bits whichever thread runs an index, and time each share from
// its own start, so a share run late by another thread teaches the speeds nothing false.
//
// Waiting spins only while it pays: each thread spins for at most a quarter of the time it has
// spent running indices (kWorkPerSpin), so that a thread whose calls do next to nothing (the
// small passes of a small plane, or none at all on a machine too busy to run it in time) sleeps
// at once and leaves the processor to others.
//
// A shared call pays when the workers take more time off the calling thread's hands than the
// call costs it in publishing, waking and waiting. The calling thread keeps that account over
// its calls, with at most kCredit of gains in hand; when it is overdrawn (a machine too busy to
// run the workers in time, a worker taken off its processor in the middle of an index), the
// calls run on the calling thread alone for kAlonePerLoss times the loss, without a word to the
// workers. Sharing then costs at most about a ninth of the time on a machine that has no room
// for the workers, and is tried again soon after it has.
class ThreadPool::Workers {
public:
    explicit Workers(int threads)
        : threads_(threads), claims_(std::make_unique<Claim[]>(static_cast<size_t>(threads))) {
        for (int t = 1; t < threads_; ++t) workers_.emplace_back([this, t] { serve(t); });
    }

    ~Workers() {
        stopping_.store(true);
        call_.fetch_add(1);
        call_.notify_all();
        for (auto& w : workers_) w.join();
    }

    int threads() const { return threads_; }

    void run(WorkerFunction fn, void* context) {
        const auto start = Clock::now();
        if (threads_ == 1 || start < alone_until_) {
            for (int t = 0; t < threads_; ++t) fn(t, threads_, context);
            return;
        }
        const Share own = run_shared(fn, context);
        const auto end = Clock::now();
        balance_ = std::min<Clock::duration>(balance_ + gain(own, end - start), kCredit);
        if (balance_.count() < 0) {
            alone_until_ = end - kAlonePerLoss * balance_;
            balance_ = {};
        }
    }

private:
    // The last call whose index has been claimed; a line of its own, as each is written by
    // whichever thread claims it.
    struct alignas(64) Claim {
        std::atomic<unsigned> call{0};
    };

    // Publishes the call, runs the indices no worker has claimed and waits for the others; the
    // calling thread's part.
    Share run_shared(WorkerFunction fn, void* context) {
        fn_ = fn;
        context_ = context;
        pending_.store(threads_, std::memory_order_relaxed);
        const unsigned call = call_.load(std::memory_order_relaxed) + 1;
        call_.store(call, std::memory_order_release);
        call_.notify_all();
        const Share own = run_unclaimed(0, call);
        budget_.earn(own.worked);
        wait_for_workers();
        return own;
    }

    void serve(int t) {
        SpinBudget budget;
        for (unsigned seen = 0;;) {
            seen = wait_for_call(seen, budget);
            if (stopping_.load()) return;
            budget.earn(run_unclaimed(t, seen).worked);
        }
    }

    // What sharing a call that took `took` gained the calling thread: what the workers' indices
    // would have taken it (as long as each of its own: the shares are made to take each thread
    // equally long), less the time it spent on anything but its own indices.
    Clock::duration gain(const Share& own, Clock::duration took) const {
        if (own.indices == 0) return {};  // the workers ran every index
        const Clock::duration saved = own.worked * (threads_ - own.indices) / own.indices;
        return saved - (took - own.worked);
    }

    // Runs every index of `call` not yet claimed, `first` first.
    Share run_unclaimed(int first, unsigned call) {
        Share share;
        for (int i = 0; i < threads_; ++i) {
            const int t = (first + i) % threads_;
            if (!claim(t, call)) continue;
            const auto start = Clock::now();
            fn_(t, threads_, context_);
            share.worked += Clock::now() - start;
            ++share.indices;
            if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) pending_.notify_one();
        }
        return share;
    }

    // Every index is claimed once in each call, so an index still free in `call` holds the
    // call before; a thread that has seen an older call claims nothing.
    bool claim(int t, unsigned call) {
        std::atomic<unsigned>& c = claims_[static_cast<size_t>(t)].call;
        unsigned before = call - 1;
        return c.load(std::memory_order_relaxed) == before &&
               c.compare_exchange_strong(before, call, std::memory_order_acquire);
    }

    unsigned wait_for_call(unsigned seen, SpinBudget& budget) {
        const auto changed = [&] { return call_.load(std::memory_order_acquire) != seen; };
        if (!budget.spin_until(changed))
            while (!changed()) call_.wait(seen, std::memory_order_acquire);
        return call_.load(std::memory_order_acquire);
    }

    void wait_for_workers() {
        const auto left = [&] { return pending_.load(std::memory_order_acquire); };
        if (budget_.spin_until([&] { return left() == 0; })) return;
        for (int n = left(); n != 0; n = left()) pending_.wait(n, std::memory_order_acquire);
    }

    const int threads_;
    std::unique_ptr<Claim[]> claims_;
    std::vector<std::thread> workers_;
    std::atomic<unsigned> call_{0};
    std::atomic<int> pending_{0};  // indices of the call not yet finished
    std::atomic<bool> stopping_{false};
    WorkerFunction fn_ = nullptr;
    void* context_ = nullptr;
    SpinBudget budget_;                // the calling thread's
    Clock::duration balance_{};        // what sharing has gained, at most kCredit
    Clock::time_point alone_until_{};  // the calls run on the calling thread alone until then
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

Executor ThreadPool::executor(int32_t width, int32_t height) {
    const bool shared = static_cast<int64_t>(width) * height >= kSharedPlaneSamples;
    return shared ? executor() : serial_executor();
}

int processor_count() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

}  // namespace velmora
