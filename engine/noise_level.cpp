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

struct WeakTexture {
    float sigma;
    int64_t blocks;  // how many were weakly textured at that level (0: too few)
};

// The level of the weakly textured blocks, from `sigma` on (noise_level.h).
WeakTexture weak_texture_level(const float* spatial, const float* detail, int64_t count,
                               float sigma, float* scratch) {
    const float diagonal = noise_gain(0, 2);
    WeakTexture weak = {sigma, 0};
    for (int round = 0; round < kWeakTextureRounds; ++round) {
        const float limit = weak_texture_limit(weak.sigma);
        int64_t n = 0;
        for (int64_t b = 0; b < count; ++b)
            if (detail[b] <= limit) scratch[n++] = spatial[b];
        if (n < kNoiseLevelBlocks) break;
        weak.blocks = n;
        const float q =
            kth_smallest_magnitude(scratch, 0, static_cast<int32_t>(n), 1, (n - 1) / 10);
        const float next = square_root(q / kSpatialQuantile) / diagonal;
        if (next == weak.sigma) break;
        weak.sigma = next;
    }
    return weak;
}

}  // namespace

float weak_texture_limit(float sigma) {
    const float noise = sigma * noise_gain(0, 0);
    return kWeakTextureLimit * (noise * noise);
}

NoiseLevel noise_level(const float* spatial, int64_t spatial_count, const float* temporal,
                       int64_t temporal_count, double texture, const float* detail, float* scratch,
                       double patches) {
    float s = level_of(spatial, spatial_count, kSpatialQuantile);
    const float t = level_of(temporal, temporal_count, kTemporalQuantile);
    NoiseCertainty certainty = NoiseCertainty::frames;
    int64_t weak_blocks = 0;
    if (t < 0.0f && s > 0.0f) {
        certainty = NoiseCertainty::texture;
        const WeakTexture weak =
            detail ? weak_texture_level(spatial, detail, spatial_count, s, scratch)
                   : WeakTexture{s, 0};
        const double share = static_cast<double>(weak.blocks) / static_cast<double>(spatial_count);
        if (share >= kSureWeakShare) {
            s = weak.sigma;
            weak_blocks = weak.blocks;
            certainty = NoiseCertainty::weak_texture;
        } else if (share >= kLeastWeakShare) {
            // A small weakly textured part may be fine texture: the kurtosis level may lower the
            // level, by at most a quarter.
            s = weak.sigma;
            weak_blocks = weak.blocks;
            certainty = NoiseCertainty::some_weak_texture;
            if (texture >= 0.0 && texture < kTextureRatio * s) {
                const float mean = static_cast<float>(std::sqrt(static_cast<double>(s) * texture));
                const float least = kLeastTextureShare * s;
                s = mean > least ? mean : least;
            }
        } else if (patches >= 0.0 && patches < s) {
            // Texture nearly everywhere: the patch level reads through it. A kurtosis level
            // below it lowers it as above, by at most a quarter, and one of 0 (the texture is
            // all there is) takes it to 0.
            s = static_cast<float>(patches);
            if (texture >= 0.0 && texture < kTextureRatio * s) {
                const float mean = static_cast<float>(std::sqrt(static_cast<double>(s) * texture));
                const float least = texture > 0.0 ? kLeastTextureShare * s : 0.0f;
                s = mean > least ? mean : least;
            }
        } else if (texture >= 0.0 && texture < kTextureRatio * s) {
            s = static_cast<float>(std::sqrt(static_cast<double>(s) * texture));
        }
    }
    NoiseLevel level = {false, 0.0f, spatial_count, temporal_count};
    if (s >= 0.0f) level = {true, s, spatial_count, temporal_count, certainty, weak_blocks};
    if (t >= 0.0f && (!level.found || t < level.sigma)) {
        level.sigma = t, level.found = true;
        level.certainty = NoiseCertainty::frames;
        level.weak_values = 0;
    }
    return level;
}

}  // namespace velmora
