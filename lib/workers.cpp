#include "lib/workers.h"

#include "threads/thread_pool.h"

namespace velmora {

Workers::Workers(int threads, const velmora_executor& caller)
    : threads_(resolved_threads(threads)) {
    if (caller.run) {
        threads_ = caller.threads < 1 ? 1 : caller.threads;
        caller_ = {threads_, caller.run, caller.self};
    } else {
        pool_ = std::make_unique<ThreadPool>(threads_);
    }
}

Workers::~Workers() = default;

Executor Workers::executor(int32_t width, int32_t height) {
    return pool_ ? pool_->executor(width, height) : caller_;
}

int resolved_threads(int threads) { return threads > 0 ? threads : processor_count(); }

}  // namespace velmora
