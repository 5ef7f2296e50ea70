// Deterministic test frames, the same bits on every platform (integer arithmetic only).
#pragma once

#include <cstdint>
#include <string>

#include "sdk/aviutl_filter.h"
#include "tools/velmora/sample/split_mix64.h"

enum class FrameKind {
    noisy,     // smooth gradients with added noise, in the editor's ranges
    random,    // every component uniform over the whole 16-bit range
    smooth,    // the noisy picture without its noise
    extremes,  // mostly the 16-bit extremes and the editor's limits, everywhere
};

bool parse_frame_kind(const std::string& name, FrameKind& kind);

// Fills all max_w x max_h pixels; pixels beyond w and h get random values too.
void fill_frame(PIXEL_YC* pixels, int w, int h, int max_w, int max_h, uint64_t seed,
                FrameKind kind);

// FNV-1a over bytes.
uint64_t fnv1a(const void* data, std::size_t size);
