#include "plugin/host_executor.h"

namespace {

// What one call of the host's service hands each of its threads: the engine's worker and the
// record of its stage.
struct StageCall {
    velmora::WorkerFunction worker;
    void* stage;
};

void StageWorker(int t, int T, void* call, void*) {
    const StageCall& c = *static_cast<const StageCall*>(call);
    c.worker(t, T, c.stage);
}

void ThreadCountWorker(int t, int T, void* count, void*) {
    if (t == 0) *static_cast<int32_t*>(count) = T;
}

void run_on_host(void* services, velmora::WorkerFunction worker, void* stage) {
    StageCall call = {worker, stage};
    static_cast<EXFUNC*>(services)->exec_multi_thread_func(StageWorker, &call, nullptr);
}

}  // namespace

int32_t probe_thread_count(const EXFUNC* services) {
    int32_t count = 1;
    services->exec_multi_thread_func(ThreadCountWorker, &count, nullptr);
    return count < 1 ? 1 : count;
}

velmora::Executor host_executor(EXFUNC* services, int32_t threads) {
    return {threads, run_on_host, services};
}
