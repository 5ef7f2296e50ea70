// The noise level of a plane from the block values of a window of frames
// (engine/noise_blocks.h). A low quantile of the block values, over a calibrated constant,
// measures the noise where the picture has the least detail: texture raises the values of a
// single frame, motion those of frame differences, so the smaller of the two levels is taken.
#pragma once

#include <cstdint>

namespace velmora {

// How far a level can be trusted, by what it was measured on.
enum class NoiseCertainty : uint8_t {
    frames,        // changes between frames (motion cannot raise them where the picture is still)
    weak_texture,  // one picture, a large part of it weakly textured: sure
    some_weak_texture,  // one picture, a small weakly textured part: fairly sure
    texture,            // one picture, texture nearly everywhere: the level may be off by a third
};

struct NoiseLevel {
    bool found;   // false when fewer than kNoiseLevelBlocks values of either kind were given
    float sigma;  // standard deviation of the noise at the input, working units
    int64_t spatial_values, temporal_values;  // how many of each the window gave
    NoiseCertainty certainty = NoiseCertainty::frames;
    int64_t weak_values = 0;  // the weakly textured blocks a one-picture level was measured on
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
//
// `detail` (parallel to `spatial`, spatial_noise_values' details; null: none) lets a window
// without temporal values measure on its weakly textured blocks instead: those whose detail value
// is at most kWeakTextureLimit times what noise of the level would give (its 99th percentile),
// starting from the spatial level; the level of the selected blocks' spatial values is taken
// as above, and selection and level are repeated from it, at most kWeakTextureRounds times,
// until the level stays. Where at least kSureWeakShare of the blocks are selected, that level is
// used as it is; where at least kLeastWeakShare, a kurtosis level below kTextureRatio times it
// makes it their geometric mean, but not below kLeastTextureShare times it; with fewer, the
// spatial level is corrected as above. `scratch` has room for spatial_count floats.
//
// `patches` is the patch level of the same pictures (patch_noise.h; negative: none). With fewer
// than kLeastWeakShare of the blocks weakly textured, a patch level below the spatial one takes
// its place before the kurtosis correction, which then lowers it by at most 1 -
// kLeastTextureShare, unless the kurtosis level is 0.
NoiseLevel noise_level(const float* spatial, int64_t spatial_count, const float* temporal,
                       int64_t temporal_count, double texture = -1.0, const float* detail = nullptr,
                       float* scratch = nullptr, double patches = -1.0);

constexpr double kTextureRatio = 0.85;
constexpr int kWeakTextureRounds = 8;
constexpr float kWeakTextureLimit = 1.6714304f;  // 99th percentile of chi^2(32) / 32
// Shares of the blocks weakly textured from which a one-picture level is used, and is sure.
constexpr double kLeastWeakShare = 0.04;
constexpr double kSureWeakShare = 0.35;
constexpr float kLeastTextureShare = 0.75f;

// The largest detail value (NoiseBlocks::detail) of a weakly textured block, with noise of level
// sigma (working units).
float weak_texture_limit(float sigma);

}  // namespace velmora
