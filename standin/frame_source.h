// Deterministic test frames, the same bits on every platform (integer arithmetic only).
#pragma once

#include <cstdint>
#include <string>

#include "sdk/aviutl_filter.h"

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

enum class FrameKind {
    noisy,   // smooth gradients with added noise, in the editor's ranges
    random,  // every component uniform over the whole 16-bit range
    smooth,  // the noisy picture without its noise
    extremes,  // mostly the 16-bit extremes and the editor's limits, everywhere
};

bool parse_frame_kind(const std::string& name, FrameKind& kind);

// Fills all max_w x max_h pixels; pixels beyond w and h get random values too.
void fill_frame(PIXEL_YC* pixels, int w, int h, int max_w, int max_h, uint64_t seed,
                FrameKind kind);

// FNV-1a over bytes.
uint64_t fnv1a(const void* data, std::size_t size);
