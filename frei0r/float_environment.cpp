#include "frei0r/float_environment.h"

#include <xmmintrin.h>

namespace velmora {

namespace {

// Round to nearest, all exceptions masked, no flush to zero, no denormals-are-zero, no flags.
constexpr unsigned kDefaultMxcsr = 0x1F80;

struct Call {
    WorkerFunction fn;
    void* context;
};

void worker_in_default_environment(int t, int T, void* c) {
    const Call& call = *static_cast<Call*>(c);
    DefaultFloatEnvironment environment;
    call.fn(t, T, call.context);
}

}  // namespace

DefaultFloatEnvironment::DefaultFloatEnvironment() : saved_(_mm_getcsr()) {
    _mm_setcsr(kDefaultMxcsr);
}

DefaultFloatEnvironment::~DefaultFloatEnvironment() { _mm_setcsr(saved_); }

Executor with_default_environment(EnvironmentExecutor& storage) {
    const auto run = [](void* self, WorkerFunction fn, void* context) {
        const Executor& inner = static_cast<EnvironmentExecutor*>(self)->inner;
        Call call = {fn, context};
        inner.run(inner.self, worker_in_default_environment, &call);
    };
    return {storage.inner.threads, run, &storage};
}

}  // namespace velmora
