// SplitMix64: a small, fast pseudo-random generator with the same sequence on every platform
// (integer arithmetic only), for noise and test pictures that must be reproducible.
#pragma once

#include <cstdint>

struct SplitMix64 {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int32_t uniform(int32_t lo, int32_t hi) {  // inclusive
        return lo + static_cast<int32_t>(next() % static_cast<uint64_t>(hi - lo + 1));
    }
};
