// The noise of a plane by brightness: the blocks of a window (engine/noise_blocks.h) sorted by
// the mean of their samples into kNoiseCurveBins bins of equal width, and each bin's level found
// from its own blocks as the plane's is (engine/noise_level.h). Cameras give the bright and the
// dark parts of a picture different noise; one level per plane is wrong for one of them.
#pragma once

#include <cstdint>

#include "engine/executor.h"
#include "engine/light.h"
#include "engine/noise_level.h"
#include "engine/plane_view.h"

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

// The noise variance of each sample of a w x h picture relative to sigma^2, where the curve
// (levels in working units, bins `width` apart) is the noise: the level at the mean brightness
// (read from `light`) of the sample's block of 8 x 8 samples (cut at the right and bottom edges),
// linear between the bins'
// centres and flat beyond the first's and the last's; only sure levels count (texture read as
// noise would be smoothed away), and a bin without one takes the nearest one below it that has
// one, else the nearest above. Per block, with b its mean in working
// units, p = b / width - 1/2 and the bins' levels c:
//   level = p <= 0 ? c[0] : p >= last ? c[last] : c[i] * (1 - f) + c[i + 1] * f
//   (i = (int)p, f = p - i),   ratio = (level / sigma) * (level / sigma),
// single precision in the order written, into `ratio` (width x height, row stride the width),
// the rows of blocks shared by the executor's threads. False, and `ratio` untouched, where fewer
// than two bins have a sure level or sigma is not positive.
bool curve_noise_ratio(const NoiseCurve& curve, float width, float sigma, const Light& light,
                       int32_t w, int32_t h, float* ratio, const Executor& ex);

}  // namespace velmora
