#include "engine/noise_curve.h"

#include <cmath>

#include "engine/plane_io.h"
#include "wavelet/transform_plane.h"

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

namespace {

constexpr int32_t kBlock = 8;

bool has_sure_level(const NoiseLevel& bin) { return bin.found && sure(bin); }

// The curve's sure levels, every bin without one given its nearest below, else above; false
// where fewer than two bins have a sure level.
bool filled_levels(const NoiseCurve& curve, float* levels) {
    int found = 0;
    for (int b = 0; b < kNoiseCurveBins; ++b) found += has_sure_level(curve.bins[b]) ? 1 : 0;
    if (found < 2) return false;
    for (int b = 0; b < kNoiseCurveBins; ++b) {
        levels[b] = -1.0f;
        for (int d = 0; d < kNoiseCurveBins && levels[b] < 0.0f; ++d) {
            if (b - d >= 0 && has_sure_level(curve.bins[b - d]))
                levels[b] = curve.bins[b - d].sigma;
            else if (b + d < kNoiseCurveBins && has_sure_level(curve.bins[b + d]))
                levels[b] = curve.bins[b + d].sigma;
        }
    }
    return true;
}

// A ratio map being made: the curve's filled levels and where the map goes.
struct RatioMap {
    float levels[kNoiseCurveBins];
    float width, sigma;
    const Light* light;
    int32_t w, h;
    float* ratio;
};

// Thread t of T: the rows of blocks of its share.
void ratio_rows(int t, int T, void* context) {
    const RatioMap& m = *static_cast<const RatioMap*>(context);
    constexpr int last = kNoiseCurveBins - 1;
    const float* c = m.levels;
    const ItemRange rows = thread_share((m.h + kBlock - 1) / kBlock, t, T);
    for (int32_t y0 = rows.begin * kBlock; y0 < rows.end * kBlock; y0 += kBlock) {
        const int32_t y1 = y0 + kBlock < m.h ? y0 + kBlock : m.h;
        for (int32_t x0 = 0; x0 < m.w; x0 += kBlock) {
            const int32_t x1 = x0 + kBlock < m.w ? x0 + kBlock : m.w;
            const float p = light_mean(*m.light, x0, y0, x1, y1) / m.width - 0.5f;
            float level;
            if (p <= 0.0f) {
                level = c[0];
            } else if (p >= static_cast<float>(last)) {
                level = c[last];
            } else {
                const int i = static_cast<int>(p);
                const float f = p - static_cast<float>(i);
                level = c[i] * (1.0f - f) + c[i + 1] * f;
            }
            const float r = (level / m.sigma) * (level / m.sigma);
            for (int32_t y = y0; y < y1; ++y)
                for (int32_t x = x0; x < x1; ++x) m.ratio[static_cast<int64_t>(y) * m.w + x] = r;
        }
    }
}

}  // namespace

bool curve_noise_ratio(const NoiseCurve& curve, float width, float sigma, const Light& light,
                       int32_t w, int32_t h, float* ratio, const Executor& ex) {
    RatioMap map = {{}, width, sigma, &light, w, h, ratio};
    if (!(sigma > 0.0f) || !filled_levels(curve, map.levels)) return false;
    ex.run(ex.self, ratio_rows, &map);
    return true;
}

}  // namespace velmora
