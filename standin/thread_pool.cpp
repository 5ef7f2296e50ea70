#include "standin/thread_pool.h"

#include <memory>

#include "threads/thread_pool.h"

namespace {

struct HostCall {
    MULTI_THREAD_FUNC func;
    void* param1;
    void* param2;
};

void run_host_worker(int t, int T, void* context) {
    const HostCall& call = *static_cast<HostCall*>(context);
    call.func(t, T, call.param1, call.param2);
}

int wanted = velmora::processor_count();
std::unique_ptr<velmora::ThreadPool> pool;

}  // namespace

void set_pool_threads(int threads) { wanted = threads < 1 ? 1 : threads; }

int pool_threads() { return wanted; }

BOOL pool_exec(MULTI_THREAD_FUNC func, void* param1, void* param2) {
    if (!pool || pool->threads() != wanted) {
        pool.reset();
        pool = std::make_unique<velmora::ThreadPool>(wanted);
    }
    HostCall call = {func, param1, param2};
    pool->run(run_host_worker, &call);
    return TRUE;
}
