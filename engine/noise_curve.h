// The noise of a plane by brightness: the blocks of a window (engine/noise_blocks.h) sorted by
// the mean of their samples into kNoiseCurveBins bins of equal width, and each bin's level found
// from its own blocks as the plane's is (engine/noise_level.h). Cameras give the bright and the
// dark parts of a picture different noise; one level per plane is wrong for one of them.
#pragma once

#include <cstdint>

#include "engine/noise_level.h"

namespace velmora {

constexpr int kNoiseCurveBins = 8;

struct NoiseCurve {
    // found: false where the bin had fewer than kNoiseLevelBlocks values of either kind.
    NoiseLevel bins[kNoiseCurveBins];
};

// The bin of a block of `brightness`, with bins `width` apart from 0 (the last bin takes all
// above it, the first all below).
int noise_curve_bin(float brightness, float width);

// From the window's pooled values as noise_level takes them, each kind with its blocks'
// brightness beside it (`detail` may be null: no weakly textured selection). `scratch` has room
// for 3 spatial_count + temporal_count floats. Bins are filled in order, each from its values in
// the order given, so the curve has the same bits whatever measured the blocks.
void noise_curve(const float* spatial, const float* detail, const float* spatial_brightness,
                 int64_t spatial_count, const float* temporal, const float* temporal_brightness,
                 int64_t temporal_count, float width, float* scratch, NoiseCurve& out);

// Whether a level was measured on frame changes or on a large weakly textured part.
bool sure(const NoiseLevel& level);

// The root of the curve's mean noise energy over its blocks: each bin with a sure level weighs by
// the values it was measured from (a sum in double precision, in the bins' order); negative
// where fewer than two bins have a sure level.
float noise_curve_mean(const NoiseCurve& curve);

}  // namespace velmora
