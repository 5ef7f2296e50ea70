// The floating-point environment the denoiser's bits are defined in: round to nearest, ties to
// even, denormals kept (no flush to zero, no denormals-are-zero), exceptions masked. A host may
// call with other modes (an audio host flushing denormals, say), so every frame is filtered
// under this environment and the caller's is put back afterwards. The denoiser's workers are
// started under it too (a thread starts in its creator's environment) and run nothing else.
#pragma once

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

}  // namespace velmora
