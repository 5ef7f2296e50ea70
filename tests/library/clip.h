// Clips for the library's tests: frames of moving, noisy smooth content in any layout and bit
// depth, lent to a denoiser through the public interface alone.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "velmora/velmora.h"

namespace library_test {

struct Clip {
    velmora_format format;
    // Each frame's planes one after another, rows packed (16-bit words above 8 bits).
    std::vector<std::vector<uint8_t>> frames;
    std::vector<velmora_field_order> orders;

    velmora_picture picture(int i);
};

// `count` frames moving one sample a frame, with noise of `sigma` 8-bit steps (seeded by the
// frame's number), interlaced from frame `interlaced_from` on (top field first).
Clip make_clip(velmora_format format, int count, double sigma, int interlaced_from = 1 << 30);

velmora_settings settings_with(velmora_mode mode, double noise, int temporal);

// The clip through a denoiser opened with `s`: frames sent one by one, received as they come,
// drained at the end; checks the order and that none is held beyond the latency. The frames
// filtered in place.
std::vector<std::vector<uint8_t>> run_stream(const velmora_settings& s, Clip clip);

}  // namespace library_test
