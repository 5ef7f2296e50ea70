// The noise level of a plane from the block values of a window of frames
// (engine/noise_blocks.h). A low quantile of the block values, over a calibrated constant,
// measures the noise where the picture has the least detail: texture raises the values of a
// single frame, motion those of frame differences, so the smaller of the two levels is taken.
#pragma once

#include <cstdint>

namespace velmora {

struct NoiseLevel {
    bool found;   // false when fewer than kNoiseLevelBlocks values of either kind were given
    float sigma;  // standard deviation of the noise at the input, working units
    int64_t spatial_values, temporal_values;  // how many of each the window gave
};

constexpr int64_t kNoiseLevelBlocks = 16;

// A measured level below this many 8-bit steps is taken as no noise: the plane is left as it is.
constexpr double kLeastNoise = 0.5;

// From the spatial values of every frame of the window pooled together, and the temporal ones
// of every pair of consecutive frames in it (either may be empty; each below 2^31 values). The
// values are read only.
// Each level is sqrt(q / C) / gain, with q the floor(0.1 (n - 1))-th smallest value, C the
// quantile of pure Gaussian noise (0.5802 spatial, 0.5786 temporal) and gain the finest
// diagonal block's noise gain; sigma is the smaller of the levels found.
//
// `texture` is the kurtosis level of the same pictures (channel_kurtosis.h; negative: none).
// Without temporal values (one frame, or one picture repeated), where it is below kTextureRatio
// times the spatial level, fine texture has raised the spatial values: the spatial level is then
// the geometric mean of the two, one over-reading and the other under-reading on such pictures.
// With temporal values the smaller level already leaves texture out.
NoiseLevel noise_level(const float* spatial, int64_t spatial_count, const float* temporal,
                       int64_t temporal_count, double texture = -1.0);

constexpr double kTextureRatio = 0.85;

}  // namespace velmora
