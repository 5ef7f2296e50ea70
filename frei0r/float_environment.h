// The floating-point environment the engine's bits are defined in: round to nearest, ties to
// even, denormals kept (no flush to zero, no denormals-are-zero), exceptions masked. A host may
// call with other modes (an audio host flushing denormals, say), so every frame is filtered
// under this environment, on the calling thread and on every worker, and the caller's is put
// back afterwards.
#pragma once

#include "engine/executor.h"

namespace velmora {

class DefaultFloatEnvironment {
public:
    DefaultFloatEnvironment();
    ~DefaultFloatEnvironment();
    DefaultFloatEnvironment(const DefaultFloatEnvironment&) = delete;
    DefaultFloatEnvironment& operator=(const DefaultFloatEnvironment&) = delete;

private:
    unsigned saved_;
};

// An executor that runs each of `inner`'s workers under the default environment. `storage`
// must outlive the returned executor.
struct EnvironmentExecutor {
    Executor inner;
};
Executor with_default_environment(EnvironmentExecutor& storage);

}  // namespace velmora
