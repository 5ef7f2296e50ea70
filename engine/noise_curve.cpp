#include "engine/noise_curve.h"

#include <cmath>

namespace velmora {

int noise_curve_bin(float brightness, float width) {
    for (int bin = 1; bin < kNoiseCurveBins; ++bin)
        if (brightness < width * static_cast<float>(bin)) return bin - 1;
    return kNoiseCurveBins - 1;
}

void noise_curve(const float* spatial, const float* detail, const float* spatial_brightness,
                 int64_t spatial_count, const float* temporal, const float* temporal_brightness,
                 int64_t temporal_count, float width, float* scratch, NoiseCurve& out) {
    float* const values = scratch;
    float* const details = values + spatial_count;
    float* const changes = details + spatial_count;
    float* const work = changes + temporal_count;
    for (int bin = 0; bin < kNoiseCurveBins; ++bin) {
        int64_t n = 0, m = 0;
        for (int64_t i = 0; i < spatial_count; ++i) {
            if (noise_curve_bin(spatial_brightness[i], width) != bin) continue;
            if (detail) details[n] = detail[i];
            values[n++] = spatial[i];
        }
        for (int64_t i = 0; i < temporal_count; ++i)
            if (noise_curve_bin(temporal_brightness[i], width) == bin) changes[m++] = temporal[i];
        out.bins[bin] = noise_level(values, n, changes, m, -1.0, detail ? details : nullptr, work);
    }
}

bool sure(const NoiseLevel& level) {
    return level.certainty == NoiseCertainty::frames ||
           level.certainty == NoiseCertainty::weak_texture;
}

float noise_curve_mean(const NoiseCurve& curve) {
    double energy = 0.0, weight = 0.0;
    int bins = 0;
    for (const NoiseLevel& bin : curve.bins) {
        if (!bin.found || !sure(bin)) continue;
        const double n = static_cast<double>(bin.spatial_values + bin.temporal_values);
        const double sigma = static_cast<double>(bin.sigma);
        energy += n * (sigma * sigma);
        weight += n;
        ++bins;
    }
    return bins < 2 ? -1.0f : static_cast<float>(std::sqrt(energy / weight));
}

}  // namespace velmora
