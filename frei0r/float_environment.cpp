#include "frei0r/float_environment.h"

#include <xmmintrin.h>

namespace velmora {

namespace {

// Round to nearest, all exceptions masked, no flush to zero, no denormals-are-zero, no flags.
constexpr unsigned kDefaultMxcsr = 0x1F80;

}  // namespace

DefaultFloatEnvironment::DefaultFloatEnvironment() : saved_(_mm_getcsr()) {
    _mm_setcsr(kDefaultMxcsr);
}

DefaultFloatEnvironment::~DefaultFloatEnvironment() { _mm_setcsr(saved_); }

}  // namespace velmora
