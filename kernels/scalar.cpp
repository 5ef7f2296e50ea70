// The plain forms: each kernel states its arithmetic element by element.
#include <cmath>

#include "kernels/band_rows.h"
#include "kernels/difference_box.h"
#include "kernels/kernel_set.h"
#include "kernels/least_cost.h"
#include "kernels/sample_conversion.h"
#include "kernels/scalar_lifting.h"

namespace {

using namespace lifting;

void forward_row(const float* src, float* dst, int n, float* e, float* o) {
    for (int k = 0; k < n; ++k) {
        e[k] = src[2 * k];
        o[k] = src[2 * k + 1];
    }
    scalar_lifting::forward_steps(e, o, n);
    for (int k = 0; k < n; ++k) dst[k] = e[k] * kK;
    for (int k = 0; k < n; ++k) dst[n + k] = o[k] * kInvK;
}

void forward_row_split(float* e, float* o, float* dst, int n) {
    scalar_lifting::forward_steps(e, o, n);
    for (int k = 0; k < n; ++k) dst[k] = e[k] * kK;
    for (int k = 0; k < n; ++k) dst[n + k] = o[k] * kInvK;
}

void inverse_row(const float* src, float* dst, int n, float* e, float* o) {
    for (int k = 0; k < n; ++k) {
        e[k] = src[k] * kInvK;
        o[k] = src[n + k] * kK;
    }
    scalar_lifting::inverse_steps(e, o, n);
    for (int k = 0; k < n; ++k) {
        dst[2 * k] = e[k];
        dst[2 * k + 1] = o[k];
    }
}

// Each column is gathered into the scratch pair, lifted and scattered back.
void forward_columns(float* top, ptrdiff_t stride, int count, int n, float* scratch, int) {
    float* e = scratch;
    float* o = scratch + n;
    for (int c = 0; c < count; ++c) {
        float* col = top + c;
        for (int k = 0; k < n; ++k) {
            e[k] = col[(2 * k) * stride];
            o[k] = col[(2 * k + 1) * stride];
        }
        scalar_lifting::forward_steps(e, o, n);
        for (int k = 0; k < n; ++k) col[k * stride] = e[k] * kK;
        for (int k = 0; k < n; ++k) col[(n + k) * stride] = o[k] * kInvK;
    }
}

void inverse_columns(float* top, ptrdiff_t stride, int count, int n, float* scratch, int) {
    float* e = scratch;
    float* o = scratch + n;
    for (int c = 0; c < count; ++c) {
        float* col = top + c;
        for (int k = 0; k < n; ++k) {
            e[k] = col[k * stride] * kInvK;
            o[k] = col[(n + k) * stride] * kK;
        }
        scalar_lifting::inverse_steps(e, o, n);
        for (int k = 0; k < n; ++k) {
            col[(2 * k) * stride] = e[k];
            col[(2 * k + 1) * stride] = o[k];
        }
    }
}

// Sets entries j-1, j, j+1 of `count` mask rows for every coefficient of the row reaching x.
void mark_row(const float* row, int n, float x, int32_t* const* masks, int count) {
    for (int j = 0; j < n; ++j)
        if (std::fabs(row[j]) >= x)
            set_marks(masks, count, j > 0 ? j - 1 : j, j < n - 1 ? j + 1 : j);
}

// Zeroes the coefficients whose mask entry is clear, then clears the mask for the next row.
void zero_unmarked(float* row, int32_t* mask, int n) {
    for (int j = 0; j < n; ++j) {
        if (mask[j] == 0) row[j] = 0.0f;
        mask[j] = 0;
    }
}

void threshold_strip(float* block, ptrdiff_t stride, int32_t* mask, int mask_stride, int r0, int r1,
                     float x, int n, int m) {
    threshold_band(block, stride, mask, mask_stride, r0, r1, x, n, m, mark_row, zero_unmarked);
}

void load_s16(const int16_t* src, int sample_stride, float* dst, int count) {
    for (int i = 0; i < count; ++i) dst[i] = static_cast<float>(src[i * sample_stride]);
}

void store_s16(const float* src, int16_t* dst, int sample_stride, int count, int rounded) {
    for (int i = 0; i < count; ++i) {
        const int32_t v = i < rounded ? convert_round(src[i]) : convert_truncate(src[i]);
        dst[i * sample_stride] = low16(v);
    }
}

float max_abs(const float* src, int count) {
    float m = 0.0f;
    for (int i = 0; i < count; ++i) {
        const float a = std::fabs(src[i]);
        if (a > m) m = a;  // a NaN never wins
    }
    return m;
}

void load_u8(const uint8_t* src, float* dst, int count, int shift) {
    for (int i = 0; i < count; ++i) dst[i] = static_cast<float>(int32_t{src[i]} << shift);
}

void load_u16(const uint16_t* src, float* dst, int count, int shift) {
    for (int i = 0; i < count; ++i) dst[i] = static_cast<float>(int32_t{src[i]} << shift);
}

// The conversion cannot overflow: the largest converted value is 2^31 - 128, half is at most 8.
int32_t planar_sample(float v, bool round, int shift, int32_t maximum) {
    const int32_t converted = round ? convert_round(v) : convert_truncate(v);
    const int32_t shifted = (converted + ((1 << shift) >> 1)) >> shift;
    return shifted < 0 ? 0 : shifted > maximum ? maximum : shifted;
}

void store_u8(const float* src, uint8_t* dst, int count, int rounded, int shift) {
    for (int i = 0; i < count; ++i)
        dst[i] = static_cast<uint8_t>(planar_sample(src[i], i < rounded, shift, 255));
}

void split_u8(const uint8_t* src, float* e, float* o, int pairs, int shift) {
    for (int k = 0; k < pairs; ++k) {
        e[k] = static_cast<float>(int32_t{src[2 * k]} << shift);
        o[k] = static_cast<float>(int32_t{src[2 * k + 1]} << shift);
    }
}

void split_u16(const uint16_t* src, float* e, float* o, int pairs, int shift) {
    for (int k = 0; k < pairs; ++k) {
        e[k] = static_cast<float>(int32_t{src[2 * k]} << shift);
        o[k] = static_cast<float>(int32_t{src[2 * k + 1]} << shift);
    }
}

void store_u16(const float* src, uint16_t* dst, int count, int rounded, int shift,
               int32_t maximum) {
    for (int i = 0; i < count; ++i)
        dst[i] = static_cast<uint16_t>(planar_sample(src[i], i < rounded, shift, maximum));
}

void square_row(const float* src, float* dst, int n) {
    for (int j = 0; j < n; ++j) dst[j] = src[j] * src[j];
}

void box_sum_row(const float* src, float* dst, int n, int radius) {
    const auto at = [&](int i) { return src[i < 0 ? 0 : i >= n ? n - 1 : i]; };
    for (int j = 0; j < n; ++j) {
        float s = at(j - radius);
        for (int i = j - radius + 1; i <= j + radius; ++i) s = s + at(i);
        dst[j] = s;
    }
}

void box_sum_rows(const float* const* rows, int count, float* dst, int n) {
    for (int j = 0; j < n; ++j) {
        float s = rows[0][j];
        for (int r = 1; r < count; ++r) s = s + rows[r][j];
        dst[j] = s;
    }
}

void pilot_energy_row(const float* sums, const float* c, float* energy, int n, float inv_window,
                      float noise) {
    for (int j = 0; j < n; ++j) {
        const float m = sums[j] * inv_window;
        const float d = m - noise;
        const float v = d > 0.0f ? d : 0.0f;
        const float p = c[j] * (v / (v + noise));
        energy[j] = p * p;
    }
}

void wiener_row(const float* sums, float* c, int n, float inv_window, float noise) {
    for (int j = 0; j < n; ++j) {
        const float m = sums[j] * inv_window;
        c[j] = c[j] * (m / (m + noise));
    }
}

void pilot_energy_ratio_row(const float* sums, const float* c, const float* ratio, float* energy,
                            int n, float inv_window, float noise) {
    for (int j = 0; j < n; ++j) {
        const float nm = noise * ratio[j];
        const float m = sums[j] * inv_window;
        const float d = m - nm;
        const float v = d > 0.0f ? d : 0.0f;
        const float p = c[j] * (v / (v + nm));
        energy[j] = p * p;
    }
}

void wiener_gain_row(const float* sums, float* c, const float* ratio, float* gains, int n,
                     float inv_window, float noise) {
    for (int j = 0; j < n; ++j) {
        const float nm = noise * ratio[j];
        const float m = sums[j] * inv_window;
        const float g = m / (m + nm);
        gains[j] = g;
        c[j] = c[j] * g;
    }
}

void accumulate_row(float* acc, const float* src, int n, float scale) {
    for (int j = 0; j < n; ++j) acc[j] = (acc[j] + src[j]) * scale;
}

void block_sads(const uint8_t* cur, int32_t cur_stride, const uint8_t* ref, int32_t ref_stride,
                int side, int count, int rows, int32_t* sads) {
    for (int r = 0; r < rows; ++r)
        for (int k = 0; k < count; ++k) {
            int32_t sum = 0;
            for (int i = 0; i < side; ++i)
                for (int j = 0; j < side; ++j) {
                    const int32_t d =
                        int32_t{cur[i * cur_stride + j]} - ref[(r + i) * ref_stride + j + k];
                    sum += d < 0 ? -d : d;
                }
            sads[r * count + k] = sum;
        }
}

void keep_least_pair_sads(const uint8_t* cur0, const uint8_t* cur1, const uint8_t* ref0,
                          const uint8_t* ref1, int n, uint16_t* least, uint16_t* chosen,
                          uint16_t candidate) {
    const auto distance = [](int32_t a, int32_t b) { return a < b ? b - a : a - b; };
    for (int b = 0; b < n; ++b) {
        const int32_t s =
            distance(cur0[2 * b], ref0[2 * b]) + distance(cur0[2 * b + 1], ref0[2 * b + 1]) +
            distance(cur1[2 * b], ref1[2 * b]) + distance(cur1[2 * b + 1], ref1[2 * b + 1]);
        if (s < least[b]) {
            least[b] = static_cast<uint16_t>(s);
            chosen[b] = candidate;
        }
    }
}

int32_t least_cost(const int32_t* sads, int width, int32_t y, int32_t x, int32_t penalty) {
    const auto magnitude = [](int32_t v) { return v < 0 ? -v : v; };
    int32_t least = INT32_MAX;
    velmora::NearestCandidate best{width};
    for (int r = 0; r < width; ++r)
        for (int c = 0; c < width; ++c) {
            const int32_t i = r * width + c;
            const int32_t cost = sads[i] + (magnitude(y + r) + magnitude(x + c)) * penalty;
            if (cost < least) best = {width};
            if (cost <= least) {
                least = cost;
                best.consider(i);
            }
        }
    return best.index;
}

void difference_square_row(const float* a, const float* b, float* out, int n, float scale) {
    for (int j = 0; j < n; ++j) {
        const float t = (a[j] - b[j]) * scale;
        out[j] = t * t;
    }
}

void difference_box_u8(const uint8_t* a, const uint8_t* b, float* out, int n, float scale) {
    for (int j = 0; j < n; ++j) out[j] = difference_box_at(a, b, n, scale, j);
}

float clamp01(float v) { return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v; }

int64_t temporal_weight_row(const float* r0, const float* r1, const float* r2, const float* own,
                            const float* other, float* w, int n, float ninth, float floor) {
    int64_t guard = 0;
    for (int j = 0; j < n; ++j) {
        const float d = ((r0[j] + r1[j]) + r2[j]) * ninth;
        const float r = d / ((own[j] + other[j]) + floor);
        const float w1 = clamp01((3.0f - r) * 0.5f);
        const float u = (d - own[j]) - other[j];
        const float ex = (u > 0.0f ? u : 0.0f) / (own[j] + floor);
        const float w2 = clamp01(2.0f - ex);
        w[j] = w2 < w1 ? w2 : w1;
        if (w[j] >= 0.0f) guard += static_cast<int32_t>(w[j] * 65536.0f + 0.5f);
    }
    return guard;
}

void temporal_blend_row(const float* centre, const float* const* w, const float* const* v,
                        int count, float* average, float* ratio, int n) {
    for (int j = 0; j < n; ++j) {
        float s = centre[j], ws = 1.0f, sq = 1.0f;
        for (int u = 0; u < count; ++u) {
            const float wj = w[u][j];
            s = s + wj * v[u][j];
            ws = ws + wj;
            sq = sq + wj * wj;
        }
        average[j] = s / ws;
        if (ratio) ratio[j] = sq / (ws * ws);
    }
}

void temporal_blend_u8(const uint8_t* centre, const float* const* w, const uint8_t* const* v,
                       int count, int shift, float* average, float* ratio, int n) {
    for (int j = 0; j < n; ++j) {
        float s = static_cast<float>(centre[j] << shift), ws = 1.0f, sq = 1.0f;
        for (int u = 0; u < count; ++u) {
            const float wj = w[u][j];
            s = s + wj * static_cast<float>(v[u][j] << shift);
            ws = ws + wj;
            sq = sq + wj * wj;
        }
        average[j] = s / ws;
        if (ratio) ratio[j] = sq / (ws * ws);
    }
}

void covered_mean_row(const float* top, const float* bottom, float* mean, int n) {
    for (int j = 0; j < n; ++j)
        mean[j] =
            ((((0.0f + top[2 * j]) + top[2 * j + 1]) + bottom[2 * j]) + bottom[2 * j + 1]) * 0.25f;
}

void scale_line(const float* src, float* dst, float s, int count) {
    for (int i = 0; i < count; ++i) dst[i] = src[i] * s;
}

// The four lifting steps of a column, each over the whole line before the next.
void forward_column_step(float* const* lines, float* low, float* high, int count) {
    float *e0 = lines[0], *e1 = lines[1], *o1 = lines[2], *e2 = lines[3], *o2 = lines[4],
          *o3 = lines[5];
    scalar_lifting::lift_lines(o1, e1, e0, kAlpha, count);
    scalar_lifting::lift_lines(e1, o2, o1, kBeta, count);
    scalar_lifting::lift_lines(o2, e2, e1, kGamma, count);
    // e2's pair is finished: its last update goes straight out scaled.
    for (int i = 0; i < count; ++i) {
        const float s = o3[i] + o2[i];
        const float p = s * kDelta;
        const float e = e2[i] + p;
        low[i] = e * kK;
    }
    scale_line(o2, high, kInvK, count);
}

void inverse_column_step(float* const* lines, int count) {
    float *e0 = lines[0], *o0 = lines[1], *e1 = lines[2], *o1 = lines[3], *e2 = lines[4],
          *o2 = lines[5];
    scalar_lifting::lift_lines(e0, o1, o0, -kDelta, count);
    scalar_lifting::lift_lines(o1, e1, e0, -kGamma, count);
    scalar_lifting::lift_lines(e1, o2, o1, -kBeta, count);
    scalar_lifting::lift_lines(o2, e2, e1, -kAlpha, count);
}

void mark_reaches(const float* row, int n, float x, uint32_t* marks) {
    for (int w = 0; w < (n + 31) / 32; ++w) marks[w] = 0;
    for (int j = 0; j < n; ++j) {
        const bool keep = std::fabs(row[j]) >= x || (j > 0 && std::fabs(row[j - 1]) >= x) ||
                          (j + 1 < n && std::fabs(row[j + 1]) >= x);
        if (keep) marks[j / 32] |= uint32_t{1} << (j % 32);
    }
}

void keep_scaled(const float* row, const uint32_t* above, const uint32_t* here,
                 const uint32_t* below, float s, float* dst, int n) {
    for (int j = 0; j < n; ++j) {
        const uint32_t bit = uint32_t{1} << (j % 32);
        const bool keep = ((above[j / 32] | here[j / 32] | below[j / 32]) & bit) != 0;
        const float v = keep ? row[j] : 0.0f;
        dst[j] = v * s;
    }
}

}  // namespace

const KernelSet scalar_kernels = {
    .isa = Isa::scalar,
    .name = "scalar",
    .forward_row = forward_row,
    .inverse_row = inverse_row,
    .forward_row_split = forward_row_split,
    .forward_columns = forward_columns,
    .inverse_columns = inverse_columns,
    .threshold_strip = threshold_strip,
    .load_s16 = load_s16,
    .store_s16 = store_s16,
    .max_abs = max_abs,
    .load_u8 = load_u8,
    .load_u16 = load_u16,
    .store_u8 = store_u8,
    .store_u16 = store_u16,
    .square_row = square_row,
    .box_sum_row = box_sum_row,
    .box_sum_rows = box_sum_rows,
    .pilot_energy_row = pilot_energy_row,
    .wiener_row = wiener_row,
    .pilot_energy_ratio_row = pilot_energy_ratio_row,
    .wiener_gain_row = wiener_gain_row,
    .accumulate_row = accumulate_row,
    .block_sads = block_sads,
    .keep_least_pair_sads = keep_least_pair_sads,
    .least_cost = least_cost,
    .difference_square_row = difference_square_row,
    .difference_box_u8 = difference_box_u8,
    .temporal_weight_row = temporal_weight_row,
    .temporal_blend_row = temporal_blend_row,
    .temporal_blend_u8 = temporal_blend_u8,
    .covered_mean_row = covered_mean_row,
    .split_u8 = split_u8,
    .split_u16 = split_u16,
    .lift_lines = scalar_lifting::lift_lines,
    .lift_line_end = scalar_lifting::lift_line_end,
    .scale_line = scale_line,
    .forward_column_step = forward_column_step,
    .forward_column_step_streaming = forward_column_step,
    .inverse_column_step = inverse_column_step,
    .mark_reaches = mark_reaches,
    .keep_scaled = keep_scaled,
};
