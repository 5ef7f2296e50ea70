#include "engine/noise_bands.h"

#include "engine/order_statistic.h"
#include "engine/square_root.h"

namespace velmora {

namespace {

constexpr int32_t kSide = kNoiseBlockCoefficients;  // coefficients per side of a band's block
constexpr float kSixteenth = 0.0625f;
constexpr float kThirtySecond = 0.03125f;
constexpr int kFinestDiagonal = 2;  // band 2: level 0, D

int level_of(int band) { return band / 3; }

// The blocks of band b along each side.
int32_t band_columns(int32_t columns, int band) { return columns >> level_of(band); }
int32_t band_rows(int32_t rows, int band) { return rows >> level_of(band); }

int64_t band_blocks(int32_t columns, int32_t rows, int band) {
    return static_cast<int64_t>(band_columns(columns, band)) * band_rows(rows, band);
}

// Where band b's values start among a frame's values, and its coefficients among its
// coefficients.
int64_t value_offset(int32_t columns, int32_t rows, int band) {
    int64_t at = 0;
    for (int b = 0; b < band; ++b) at += band_blocks(columns, rows, b);
    return at;
}

int64_t coefficient_offset(int32_t columns, int32_t rows, int band) {
    return value_offset(columns, rows, band) * kSide * kSide;
}

// Whether every noise block of block (X, Y) of level l passes `usable`.
template <class Usable>
bool all_usable(int32_t columns, int l, int32_t X, int32_t Y, Usable usable) {
    const int32_t side = 1 << l;
    for (int32_t by = Y * side; by < (Y + 1) * side; ++by)
        for (int32_t bx = X * side; bx < (X + 1) * side; ++bx)
            if (!usable(static_cast<int64_t>(by) * columns + bx)) return false;
    return true;
}

// For every block of every band: -1 where a noise block is not usable, else
// sum(term(i)) * scale over its 16 coefficients row-major, term given the coefficient's index
// in the frame's band coefficients.
template <class Usable, class Term>
void band_values(int32_t columns, int32_t rows, Usable usable, Term term, float scale,
                 float* values) {
    for (int b = 0; b < kNoiseBands; ++b) {
        const int l = level_of(b);
        const int32_t n = band_columns(columns, b), m = band_rows(rows, b);
        const int64_t base = coefficient_offset(columns, rows, b);
        float* out = values + value_offset(columns, rows, b);
        for (int32_t Y = 0; Y < m; ++Y)
            for (int32_t X = 0; X < n; ++X) {
                if (!all_usable(columns, l, X, Y, usable)) {
                    out[static_cast<int64_t>(Y) * n + X] = -1.0f;
                    continue;
                }
                float sum = 0.0f;
                bool first = true;
                for (int32_t i = 0; i < kSide; ++i)
                    for (int32_t j = 0; j < kSide; ++j) {
                        const int64_t at = base +
                                           static_cast<int64_t>(Y * kSide + i) * (n * kSide) +
                                           X * kSide + j;
                        const float square = term(at);
                        sum = first ? square : sum + square;
                        first = false;
                    }
                out[static_cast<int64_t>(Y) * n + X] = sum * scale;
            }
    }
}

// The low quantile of n values (n > 0).
float low_quantile(float* values, int64_t n) {
    return kth_smallest_magnitude(values, 0, static_cast<int32_t>(n), 1, (n - 1) / 10);
}

}  // namespace

int64_t noise_band_coefficient_floats(int32_t columns, int32_t rows) {
    return coefficient_offset(columns, rows, kNoiseBands);
}

int64_t noise_band_value_floats(int32_t columns, int32_t rows) {
    return value_offset(columns, rows, kNoiseBands);
}

void copy_noise_bands(const TransformPlane& plane, NoiseBlocks& out, int t, int T) {
    for (int b = 0; b < kNoiseBands; ++b) {
        const int l = level_of(b), o = b % 3;
        const int32_t n = plane.W >> (l + 1), m = plane.H >> (l + 1);
        const int64_t below = static_cast<int64_t>(m) * plane.W;
        const float* band = plane.data + (o == 0 ? n : o == 1 ? below : below + n);
        const int32_t width = band_columns(out.columns, b) * kSide;
        float* dst = out.bands + coefficient_offset(out.columns, out.rows, b);
        const ItemRange share = thread_share(band_rows(out.rows, b) * kSide, t, T);
        for (int32_t i = share.begin; i < share.end; ++i) {
            const float* src = band + static_cast<int64_t>(i) * plane.W;
            float* row = dst + static_cast<int64_t>(i) * width;
            for (int32_t j = 0; j < width; ++j) row[j] = src[j];
        }
    }
}

void temporal_band_values(const NoiseBlocks& previous, const PlaneView& previous_view,
                          const NoiseBlocks& current, const PlaneView& current_view,
                          uint8_t* usable, float* values) {
    const int32_t columns = current.columns, rows = current.rows;
    for (int32_t by = 0; by < rows; ++by)
        for (int32_t bx = 0; bx < columns; ++bx) {
            const int64_t at = static_cast<int64_t>(by) * columns + bx;
            usable[at] = !previous.left_out[at] && !current.left_out[at] &&
                         !same_block_samples(previous_view, current_view, bx, by);
        }
    band_values(
        columns, rows, [&](int64_t at) { return usable[at] != 0; },
        [&](int64_t at) {
            const float d = current.bands[at] - previous.bands[at];
            return d * d;
        },
        kThirtySecond, values);
}

void spatial_band_values(const NoiseBlocks& frame, float* values) {
    band_values(
        frame.columns, frame.rows, [&](int64_t at) { return frame.left_out[at] == 0; },
        [&](int64_t at) { return frame.bands[at] * frame.bands[at]; }, kSixteenth, values);
}

void leave_out_band_blocks(int32_t columns, int32_t rows, const uint8_t* usable, float* values) {
    for (int b = 0; b < kNoiseBands; ++b) {
        const int32_t n = band_columns(columns, b), m = band_rows(rows, b);
        float* out = values + value_offset(columns, rows, b);
        for (int32_t Y = 0; Y < m; ++Y)
            for (int32_t X = 0; X < n; ++X)
                if (!all_usable(columns, level_of(b), X, Y,
                                [&](int64_t at) { return usable[at] != 0; }))
                    out[static_cast<int64_t>(Y) * n + X] = -1.0f;
    }
}

int64_t band_factor_scratch_floats(const BandEvidence* changes, int count) {
    int64_t blocks = 0;
    for (int i = 0; i < count; ++i)
        blocks += static_cast<int64_t>(changes[i].columns) * changes[i].rows;
    return 2 * blocks;
}

MeasuredBands measure_band_factors(const BandEvidence* changes, int count, float* scratch) {
    MeasuredBands out;
    const float finest = noise_gain(0, kFinestDiagonal);
    float* const inside = scratch + band_factor_scratch_floats(changes, count) / 2;
    for (int b = 0; b < kNoiseBands; ++b) {
        if (b == kFinestDiagonal) continue;
        const int l = level_of(b), side = 1 << l;
        // The band's blocks' values, and the finest diagonal values of the noise blocks inside
        // them.
        int64_t n = 0, inner = 0;
        for (int f = 0; f < count; ++f) {
            const BandEvidence& e = changes[f];
            const float* values = e.values + value_offset(e.columns, e.rows, b);
            const float* diagonal = e.values + value_offset(e.columns, e.rows, kFinestDiagonal);
            const int32_t columns = band_columns(e.columns, b), rows = band_rows(e.rows, b);
            for (int32_t Y = 0; Y < rows; ++Y)
                for (int32_t X = 0; X < columns; ++X) {
                    const float v = values[static_cast<int64_t>(Y) * columns + X];
                    if (!(v >= 0.0f)) continue;
                    scratch[n++] = v;
                    for (int32_t by = Y * side; by < (Y + 1) * side; ++by)
                        for (int32_t bx = X * side; bx < (X + 1) * side; ++bx)
                            inside[inner++] = diagonal[static_cast<int64_t>(by) * e.columns + bx];
                }
        }
        if (n < kLeastBandBlocks) continue;
        const float reference = low_quantile(inside, inner);
        if (!(reference > 0.0f)) continue;
        const float ratio = low_quantile(scratch, n) / reference;
        float factor = square_root(ratio) * finest / noise_gain(l, b % 3);
        if (!(factor >= kLeastBandFactor)) factor = kLeastBandFactor;
        if (factor > kMostBandFactor) factor = kMostBandFactor;
        out.factors.f[l][b % 3] = factor;
        out.blocks[b] = n;
    }
    for (int l = 1; l < kLevels; ++l)
        for (int o = 0; o < 3; ++o)
            if (l >= kNoiseBandLevels || out.blocks[3 * l + o] == 0)
                out.factors.f[l][o] = out.factors.f[l - 1][o];
    return out;
}

void settle_one_picture_bands(MeasuredBands* planes, int count) {
    float sum = 0.0f;
    int chroma = 0;
    for (int p = 1; p < count; ++p) {
        const MeasuredBands& b = planes[p];
        if (!b.one_picture || b.blocks[0] == 0 || b.blocks[1] == 0) continue;
        sum = sum + (b.factors.f[0][0] + b.factors.f[0][1]);
        ++chroma;
    }
    const bool correlated = chroma > 0 && sum >= kCorrelatedChroma * static_cast<float>(2 * chroma);
    const auto coarse = [](const MeasuredBands& b) {
        return b.blocks[3] > 0 || b.blocks[4] > 0 || b.blocks[5] > 0;
    };
    bool dropped[3] = {}, kept[3] = {};
    for (int p = 0; p < count; ++p) {
        MeasuredBands& b = planes[p];
        kept[p] = b.one_picture && correlated && coarse(b);
        dropped[p] = b.one_picture && !kept[p];
        if (dropped[p]) b = MeasuredBands{};
    }
    // A chroma plane whose coarser bands were not measured takes the other's factors: the noise
    // of both came through the same sensor and the same subsampling.
    if (correlated && count == 3)
        for (int p = 1; p < 3; ++p)
            if (dropped[p] && kept[3 - p]) planes[p].factors = planes[3 - p].factors;
}

}  // namespace velmora
