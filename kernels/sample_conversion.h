// Float to integer conversions of the store, defined for every input: a NaN or a value outside
// the signed 32-bit range gives INT32_MIN, as the processor's conversion does, whose low 16 bits
// are 0.
#pragma once

#include <cmath>
#include <cstdint>

inline bool fits_int32(float v) { return v >= -2147483648.0f && v < 2147483648.0f; }

// Round to nearest, ties to even (the default rounding mode, never changed).
inline int32_t convert_round(float v) {
    if (!fits_int32(v)) return INT32_MIN;
    return static_cast<int32_t>(std::nearbyint(v));
}

inline int32_t convert_truncate(float v) {
    if (!fits_int32(v)) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// The low 16 bits, read as a signed value.
inline int16_t low16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }
