#include "engine/noise_level.h"

#include <cmath>

#include "engine/order_statistic.h"
#include "engine/square_root.h"
#include "kernels/lifting_constants.h"
#include "wavelet/band_shrink.h"

namespace velmora {

namespace {

constexpr float kSpatialQuantile = float_from_bits(0x3F1487FD);   // 0.5802
constexpr float kTemporalQuantile = float_from_bits(0x3F141F21);  // 0.5786

// The level from one kind of values, or a negative number when there are too few.
float level_of(const float* values, int64_t count, float quantile) {
    if (count < kNoiseLevelBlocks) return -1.0f;
    // The values are squares, so their magnitudes are the values.
    const int64_t rank = (count - 1) / 10;
    const float q = kth_smallest_magnitude(values, 0, static_cast<int32_t>(count), 1, rank);
    return square_root(q / quantile) / noise_gain(0, 2);
}

}  // namespace

NoiseLevel noise_level(const float* spatial, int64_t spatial_count, const float* temporal,
                       int64_t temporal_count, double texture) {
    float s = level_of(spatial, spatial_count, kSpatialQuantile);
    const float t = level_of(temporal, temporal_count, kTemporalQuantile);
    if (t < 0.0f && s > 0.0f && texture >= 0.0 && texture < kTextureRatio * s)
        s = static_cast<float>(std::sqrt(static_cast<double>(s) * texture));
    NoiseLevel level = {false, 0.0f, spatial_count, temporal_count};
    if (s >= 0.0f) level = {true, s, spatial_count, temporal_count};
    if (t >= 0.0f && (!level.found || t < level.sigma)) level.sigma = t, level.found = true;
    return level;
}

}  // namespace velmora
