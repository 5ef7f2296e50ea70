// Reads fuzzer bytes as a sequence of small decisions; past the end every read gives 0.
#pragma once

#include <cstddef>
#include <cstdint>

struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    uint32_t u16() { return byte() | (uint32_t{byte()} << 8); }
    uint32_t u32() { return u16() | (u16() << 16); }
    uint64_t u64() { return u32() | (uint64_t{u32()} << 32); }
    int range(int lo, int hi) { return lo + static_cast<int>(u32() % static_cast<uint32_t>(hi - lo + 1)); }
    // Mostly values of the usual range, sometimes anything a 32-bit value can hold.
    int32_t track_value(int lo, int hi) {
        switch (byte() % 8) {
        case 0: return static_cast<int32_t>(u32());
        case 1: return range(-300, -1);
        case 2: return range(hi, hi + 5000);
        default: return range(lo, hi);
        }
    }
};
