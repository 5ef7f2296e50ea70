#include "engine/error_map.h"

#include <bit>

#include "wavelet/band_shrink.h"

namespace velmora {

namespace {

constexpr uint32_t kLowGainBits = 0x3F761172;  // G_A, the noise gain of the level-4 low band

int32_t min32(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t max32(int32_t a, int32_t b) { return a > b ? a : b; }

// G[l][o]^2 / 4^(l+1) and G_A^2 / 4^5.
struct Factors {
    float band[kLevels][3];
    float low;
};

Factors factors(const BandFactors* bands) {
    Factors f;
    for (int l = 0; l < kLevels; ++l)
        for (int o = 0; o < 3; ++o) {
            float g = noise_gain(l, o);
            if (bands) g = g * bands->f[l][o];
            f.band[l][o] = g * g * (1.0f / static_cast<float>(int32_t{1} << (2 * l + 2)));
        }
    const float low = std::bit_cast<float>(kLowGainBits);
    f.low = low * low * (1.0f / 1024.0f);
    return f;
}

// Samples of [begin, end) within the span of coefficient i at level l (span 2^(l+1)).
int32_t overlap(int32_t i, int l, int32_t begin, int32_t end) {
    const int32_t lo = max32(begin, i << (l + 1)), hi = min32(end, (i + 1) << (l + 1));
    return hi - lo;
}

// A picture's blocks in a plane of W x H coefficients, `values` laid out like it.
struct Source {
    const float* values;
    int32_t W, H;
    int32_t width, height;  // the picture, at the plane's top left
};

// The most coefficients of one level across a block: a block of kMotionBlock samples at an odd
// place meets kMotionBlock / 2 + 1 of the finest level.
constexpr int kMostAcross = kMotionBlock / 2 + 1;

// e of the block [y0, y1) x [x0, x1) of the picture, with g = gain(value). The samples a
// coefficient covers, oy * ox, are taken as float(oy) * float(ox): both are small integers,
// so the product is exact and the same as converting oy * ox.
template <class Gain>
float block_error(const Source& s, const Factors& f, float variance, int32_t y0, int32_t y1,
                  int32_t x0, int32_t x1, Gain gain) {
    const int32_t py0 = y0, py1 = y1, px0 = x0, px1 = x1;
    float sum = 0.0f;
    for (int l = 0; l < kLevels; ++l) {
        const int32_t w2 = s.W >> (l + 1), h2 = s.H >> (l + 1);
        const float* const bands[3] = {s.values + w2, s.values + static_cast<int64_t>(h2) * s.W,
                                       s.values + static_cast<int64_t>(h2) * s.W + w2};
        const int32_t i0 = py0 >> (l + 1), i1 = (py1 - 1) >> (l + 1);
        const int32_t j0 = px0 >> (l + 1), across_count = ((px1 - 1) >> (l + 1)) - j0 + 1;
        float across[kMostAcross];
        for (int32_t k = 0; k < across_count; ++k)
            across[k] = static_cast<float>(overlap(j0 + k, l, px0, px1));
        // The three bands' sums side by side: each in its own order, by rows then columns.
        float covered[3] = {0.0f, 0.0f, 0.0f};
        for (int32_t i = i0; i <= i1; ++i) {
            const int64_t row = static_cast<int64_t>(i) * s.W + j0;
            const float down = static_cast<float>(overlap(i, l, py0, py1));
            for (int32_t k = 0; k < across_count; ++k) {
                const float samples = down * across[k];
                for (int o = 0; o < 3; ++o)
                    covered[o] = covered[o] + gain(bands[o][row + k]) * samples;
            }
        }
        for (int o = 0; o < 3; ++o) sum = sum + covered[o] * f.band[l][o];
    }
    const float samples = static_cast<float>((y1 - y0) * (x1 - x0));
    return (sum / samples + f.low) * variance;
}

// The blocks of thread t's share of the map's rows.
template <class Gain>
void error_rows(const Source& s, float sigma, const ErrorMapLayout& layout, float* map, int t,
                int T, Gain gain, const BandFactors* bands = nullptr,
                const float* ratio = nullptr) {
    const Factors f = factors(bands);
    const float variance = sigma * sigma;
    const ItemRange rows = thread_share(layout.rows, t, T);
    for (int32_t by = rows.begin; by < rows.end; ++by) {
        const int32_t y0 = by * layout.block_height;
        const int32_t y1 = min32(y0 + layout.block_height, s.height);
        for (int32_t bx = 0; bx < layout.columns; ++bx) {
            const int32_t x0 = bx * layout.block_width;
            const int32_t x1 = min32(x0 + layout.block_width, s.width);
            float e = block_error(s, f, variance, y0, y1, x0, x1, gain);
            if (ratio) e = e * ratio[static_cast<int64_t>(y0) * s.width + x0];
            map[static_cast<int64_t>(by) * layout.columns + bx] = e;
        }
    }
}

struct ThresholdedStage {
    const Engine* e;
    float sigma;
    const ErrorMapLayout* layout;
    float* map;
};

void thresholded_rows(int t, int T, void* context) {
    const ThresholdedStage& s = *static_cast<ThresholdedStage*>(context);
    const TransformPlane& plane = s.e->plane;
    const Source source = {plane.data, plane.W, plane.H, s.e->width, s.e->height};
    error_rows(source, s.sigma, *s.layout, s.map, t, T,
               [](float c) { return c != 0.0f ? 1.0f : 0.0f; });
}

}  // namespace

ErrorMapLayout error_map_layout(int32_t width, int32_t height, int shift_x, int shift_y) {
    ErrorMapLayout l;
    l.block_width = kMotionBlock >> shift_x;
    l.block_height = kMotionBlock >> shift_y;
    l.columns = (width + l.block_width - 1) / l.block_width;
    l.rows = (height + l.block_height - 1) / l.block_height;
    return l;
}

void thresholded_error_map(const Engine& e, float sigma, const ErrorMapLayout& layout, float* map,
                           const Executor& ex) {
    ThresholdedStage stage = {&e, sigma, &layout, map};
    ex.run(ex.self, thresholded_rows, &stage);
}

void gain_error_map_rows(const TransformPlane& plane, const float* gains, int32_t width,
                         int32_t height, float sigma, const ErrorMapLayout& layout, float* map,
                         int t, int T, const BandFactors* bands, const float* ratio) {
    const Source source = {gains, plane.W, plane.H, width, height};
    error_rows(
        source, sigma, layout, map, t, T, [](float g) { return g; }, bands, ratio);
}

}  // namespace velmora
