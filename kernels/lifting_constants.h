// CDF 9/7 lifting constants, fixed by their single-precision bit patterns.
#pragma once

#include <cstdint>
#include <cstring>

constexpr float float_from_bits(uint32_t bits) { return __builtin_bit_cast(float, bits); }

namespace lifting {

constexpr float kAlpha = float_from_bits(0xBFCB0673);   // -1.5861343
constexpr float kBeta = float_from_bits(0xBD5901AE);    // -0.052980117
constexpr float kGamma = float_from_bits(0x3F620676);   //  0.8829111
constexpr float kDelta = float_from_bits(0x3EE31355);   //  0.44350687
constexpr float kAlpha2 = float_from_bits(0xC04B0673);  // 2 alpha, exactly
constexpr float kBeta2 = float_from_bits(0xBDD901AE);
constexpr float kGamma2 = float_from_bits(0x3FE20676);
constexpr float kDelta2 = float_from_bits(0x3F631355);
constexpr float kK = float_from_bits(0x3F93263D);     // 1.1496044, low-pass scale
constexpr float kInvK = float_from_bits(0x3F5EAF6F);  // 0.8698644, high-pass scale

}  // namespace lifting
