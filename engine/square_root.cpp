#include "engine/square_root.h"

#include <cstdint>
#include <cstring>

namespace velmora {

namespace {

// floor(sqrt(n)), one bit at a time.
uint64_t integer_root(uint64_t n) {
    uint64_t root = 0;
    uint64_t bit = uint64_t{1} << 62;
    while (bit > n) bit >>= 2;
    while (bit != 0) {
        if (n >= root + bit) {
            n -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return root;
}

}  // namespace

float square_root(float v) {
    if (!(v > 0.0f)) return 0.0f;
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const uint32_t biased = bits >> 23;
    if (biased == 255) return v;  // +infinity
    // v = m * 2^e with m a whole number in [2^23, 2^24).
    uint64_t m = bits & 0x7FFFFFu;
    int32_t e;
    if (biased == 0) {
        e = -149;
        while (m < (uint64_t{1} << 23)) {
            m <<= 1;
            --e;
        }
    } else {
        m |= uint64_t{1} << 23;
        e = static_cast<int32_t>(biased) - 150;
    }
    if (e & 1) {  // an even exponent halves exactly
        m <<= 1;
        --e;
    }
    // M = m * 2^(2k) in [2^48, 2^50): its root has 25 bits, one more than the result.
    const int32_t k = m < (uint64_t{1} << 24) ? 13 : 12;
    const uint64_t M = m << (2 * k);
    const uint64_t s = integer_root(M);
    const bool inexact = s * s != M;
    uint64_t q = s >> 1;
    int32_t p = (e - 2 * k) / 2 + 1;  // sqrt(v) = (s + fraction) * 2^(p - 1)
    if ((s & 1) && (inexact || (q & 1))) ++q;
    if (q == (uint64_t{1} << 24)) {
        q >>= 1;
        ++p;
    }
    const uint32_t result =
        (static_cast<uint32_t>(p + 150) << 23) | static_cast<uint32_t>(q - (uint64_t{1} << 23));
    float out;
    std::memcpy(&out, &result, sizeof out);
    return out;
}

}  // namespace velmora
