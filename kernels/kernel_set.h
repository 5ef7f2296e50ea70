// The arithmetic kernels of the engine, one table per instruction set. Every table computes the
// same bits: the scalar table states the arithmetic, the vector tables are tested against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

enum class Isa { scalar, sse41, avx2 };
inline constexpr Isa kEveryIsa[] = {Isa::scalar, Isa::sse41, Isa::avx2};

struct KernelSet {
    Isa isa;
    const char* name;

    // One row of 2n samples from `src` lifted into `dst` (which may be `src`) through the
    // scratch pair e, o (n floats each, 16-byte aligned). Both rows start on a 16-byte boundary.
    void (*forward_row)(const float* src, float* dst, int n, float* e, float* o);
    void (*inverse_row)(const float* src, float* dst, int n, float* e, float* o);
    // forward_row of a row already split: its even samples in e, its odd ones in o, into dst;
    // e and o are its scratch pair, what they hold afterwards is no result.
    void (*forward_row_split)(float* e, float* o, float* dst, int n);

    // `count` adjacent columns of 2n samples, `stride` floats apart, lifted in place.
    // `scratch` holds `scratch_floats` floats, at least 2n.
    void (*forward_columns)(float* top, ptrdiff_t stride, int count, int n, float* scratch,
                            int scratch_floats);
    void (*inverse_columns)(float* top, ptrdiff_t stride, int count, int n, float* scratch,
                            int scratch_floats);

    // Neighbourhood-masked thresholding of rows r0..r1-1 of an n x m block whose row 0 is at
    // `block` (row stride `stride`). `mask` holds three rows of `mask_stride` entries.
    void (*threshold_strip)(float* block, ptrdiff_t stride, int32_t* mask, int mask_stride, int r0,
                            int r1, float x, int n, int m);

    // `count` signed 16-bit samples, `sample_stride` apart, to floats.
    void (*load_s16)(const int16_t* src, int sample_stride, float* dst, int count);
    // `count` floats to signed 16-bit samples (low 16 bits of the 32-bit conversion); the first
    // `rounded` round to nearest even, the rest truncate toward zero.
    void (*store_s16)(const float* src, int16_t* dst, int sample_stride, int count, int rounded);

    // Largest magnitude of `count` floats, 0 for none.
    float (*max_abs)(const float* src, int count);

    // Planar unsigned samples, contiguous: `count` samples shifted left by `shift`, to floats.
    void (*load_u8)(const uint8_t* src, float* dst, int count, int shift);
    void (*load_u16)(const uint16_t* src, float* dst, int count, int shift);
    // `count` floats to samples: the 32-bit conversion of store_s16 (the first `rounded` round to
    // nearest even, the rest truncate; a NaN or a value outside the 32-bit range gives
    // INT32_MIN), then (v + half) >> shift with half = (1 << shift) >> 1, clamped to
    // 0..maximum (255 for bytes). `shift` is 0..7, so v + half stays within 32 bits.
    void (*store_u8)(const float* src, uint8_t* dst, int count, int rounded, int shift);
    void (*store_u16)(const float* src, uint16_t* dst, int count, int rounded, int shift,
                      int32_t maximum);

    // The band shrink of the best mode and its accumulation, element by element in the order
    // written; each result is one expression of its inputs, so the vector forms only decide how
    // many are computed at once.
    // dst[j] = src[j] * src[j].
    void (*square_row)(const float* src, float* dst, int n);
    // dst[j] = ((src[c(j-r)] + src[c(j-r+1)]) + ...) + src[c(j+r)], left to right, with
    // c(i) = min(max(i, 0), n-1); `radius` r is at least 1. dst does not overlap src.
    void (*box_sum_row)(const float* src, float* dst, int n, int radius);
    // dst[j] = ((rows[0][j] + rows[1][j]) + ...) + rows[count-1][j], top to bottom.
    void (*box_sum_rows)(const float* const* rows, int count, float* dst, int n);
    // The locally adaptive Wiener pilot's energy: m = sums[j] * inv_window; d = m - noise;
    // v = d > 0 ? d : +0; p = c[j] * (v / (v + noise)); energy[j] = p * p.
    void (*pilot_energy_row)(const float* sums, const float* c, float* energy, int n,
                             float inv_window, float noise);
    // The empirical Wiener gain: m = sums[j] * inv_window; c[j] = c[j] * (m / (m + noise)).
    void (*wiener_row)(const float* sums, float* c, int n, float inv_window, float noise);
    // pilot_energy_row with each coefficient's own noise: nm = noise * ratio[j];
    // m = sums[j] * inv_window; d = m - nm; v = d > 0 ? d : +0; p = c[j] * (v / (v + nm));
    // energy[j] = p * p.
    void (*pilot_energy_ratio_row)(const float* sums, const float* c, const float* ratio,
                                   float* energy, int n, float inv_window, float noise);
    // wiener_row with each coefficient's own noise, keeping the gains: nm = noise * ratio[j];
    // m = sums[j] * inv_window; g = m / (m + nm); gains[j] = g; c[j] = c[j] * g.
    void (*wiener_gain_row)(const float* sums, float* c, const float* ratio, float* gains, int n,
                            float inv_window, float noise);
    // acc[j] = (acc[j] + src[j]) * scale.
    void (*accumulate_row)(float* acc, const float* src, int n, float scale);

    // The temporal averaging's block motion and weights.
    // Sums of absolute differences of the side x side block of 8-bit samples at `cur` (side 4 or
    // 8) and the blocks at ref + r * ref_stride + k, r = 0 .. rows - 1, k = 0 .. count - 1
    // (rows and count 1 to 64):
    //   sads[r * count + k] = sum over i, j < side of
    //                         |cur[i * cur_stride + j] - ref[(r + i) * ref_stride + j + k]|
    // (integers: the order does not matter). The vector forms read up to 32 bytes past
    // ref[(r + i) * ref_stride + count + side - 2] in each row and write up to 7 values past
    // sads[rows * count - 1]: the caller's memory must hold them.
    void (*block_sads)(const uint8_t* cur, int32_t cur_stride, const uint8_t* ref,
                       int32_t ref_stride, int side, int count, int rows, int32_t* sads);
    // Blocks of 2 x 2 8-bit samples side by side, n of them (1 or more): block b covers columns
    // 2b and 2b + 1 of the rows cur0 and cur1 and is compared with the same columns of ref0 and
    // ref1:
    //   s = |cur0[2b] - ref0[2b]| + |cur0[2b + 1] - ref0[2b + 1]|
    //     + |cur1[2b] - ref1[2b]| + |cur1[2b + 1] - ref1[2b + 1]|
    // (integers: the order does not matter); where s < least[b] (every least[b] below 32768),
    // least[b] = s and chosen[b] = candidate. Nothing past the n blocks is read or written.
    void (*keep_least_pair_sads)(const uint8_t* cur0, const uint8_t* cur1, const uint8_t* ref0,
                                 const uint8_t* ref1, int n, uint16_t* least, uint16_t* chosen,
                                 uint16_t candidate);
    // The candidate of least cost in a window of width x width block sums (width odd, 1 to 63;
    // as block_sads leaves them, rows = count = width): candidate (r, c) is the vector
    // (y + r, x + c) and costs sads[r * width + c] + (|y + r| + |x + c|) * penalty (every cost
    // below 2^31 - 1). Of the least, the one of the least |r - h| + |c - h| (h = width / 2);
    // of those the first by r, then c. Returns r * width + c. The vector forms read up to 7
    // values past sads[width * width - 1]: the caller's memory must hold them.
    int32_t (*least_cost)(const int32_t* sads, int width, int32_t y, int32_t x, int32_t penalty);
    // out[j] = t * t with t = (a[j] - b[j]) * scale; out may be a or b.
    void (*difference_square_row)(const float* a, const float* b, float* out, int n, float scale);
    // Those squares of 8-bit samples, d[j] = t * t with t = ((float)a[j] - (float)b[j]) * scale,
    // summed three at a time as box_sum_row sums them (radius 1):
    // out[j] = (d[c(j-1)] + d[c(j)]) + d[c(j+1)], c(i) = min(max(i, 0), n-1).
    void (*difference_box_u8)(const uint8_t* a, const uint8_t* b, float* out, int n, float scale);
    // A temporal weight per sample from three rows of 3-sample sums of squared pilot
    // differences (r0, r1, r2 from top to bottom) and the two pilots' error variances:
    //   d = ((r0[j] + r1[j]) + r2[j]) * ninth;  r = d / ((own[j] + other[j]) + floor);
    //   w1 = clamp01((3 - r) * 0.5);  u = (d - own[j]) - other[j];
    //   ex = (u > 0 ? u : +0) / (own[j] + floor);  w2 = clamp01(2 - ex);
    //   w[j] = w2 < w1 ? w2 : w1,
    // clamp01(v) = v < 0 ? 0 : (v > 1 ? 1 : v), the constants as in the arguments. Returns the
    // sum over j of w[j] >= 0 ? (int32_t)(w[j] * 65536 + 0.5) : 0 (truncated; for w in 0..1).
    int64_t (*temporal_weight_row)(const float* r0, const float* r1, const float* r2,
                                   const float* own, const float* other, float* w, int n,
                                   float ninth, float floor);
    // The average of a sample of the centre picture with its neighbours' samples v[u] moved to it,
    // weighted by w[u], u = 0 .. count - 1 (count 0 or more), in that order: from s = centre[j],
    // ws = 1, sq = 1, for each u: s = s + w[u][j] * v[u][j]; ws = ws + w[u][j];
    // sq = sq + w[u][j] * w[u][j]; then average[j] = s / ws and, where `ratio` is not null,
    // ratio[j] = sq / (ws * ws). Neither output overlaps an input.
    void (*temporal_blend_row)(const float* centre, const float* const* w, const float* const* v,
                               int count, float* average, float* ratio, int n);
    // The same of 8-bit samples, each value (float)(sample << shift) (shift 0 to 8).
    void (*temporal_blend_u8)(const uint8_t* centre, const float* const* w, const uint8_t* const* v,
                              int count, int shift, float* average, float* ratio, int n);
    // The mean of the 2 x 2 luma weights each 4:2:0 chroma sample covers, rows top and bottom:
    // mean[j] = ((((0 + top[2j]) + top[2j + 1]) + bottom[2j]) + bottom[2j + 1]) * 0.25.
    void (*covered_mean_row)(const float* top, const float* bottom, float* mean, int n);
    // `pairs` pairs of planar samples shifted left by `shift`, to floats split for the row
    // lifting: sample 2k into e[k], sample 2k + 1 into o[k].
    void (*split_u8)(const uint8_t* src, float* e, float* o, int pairs, int shift);
    void (*split_u16)(const uint16_t* src, float* e, float* o, int pairs, int shift);

    // The column lifting on lines: `count` adjacent floats of rows kept apart from the plane.
    // target += (a + b) * c; target += a * c2, the end term; dst = src * s.
    void (*lift_lines)(float* target, const float* a, const float* b, float c, int count);
    void (*lift_line_end)(float* target, const float* a, float c2, int count);
    void (*scale_line)(const float* src, float* dst, float s, int count);

    // One pair of rows arriving at a sliding window of the forward column lifting. lines =
    // {e0, e1, o1, e2, o2, o3}: e0 the new even row, then the even and odd rows of the pairs
    // before it, newest first. In order: o1 += alpha (e1 + e0), e1 += beta (o2 + o1),
    // o2 += gamma (e2 + e1), e2 += delta (o3 + o2); then the finished pair goes out scaled:
    // low = e2 * K, high = o2 * 1/K. Each line but e2, which no later step reads, keeps its
    // lifted value.
    void (*forward_column_step)(float* const* lines, float* low, float* high, int count);
    // The same, for outputs not read again soon: `low` and `high` are written past the caches
    // where the vector form can (both aligned to its width), and are visible to other threads
    // when it returns.
    void (*forward_column_step_streaming)(float* const* lines, float* low, float* high, int count);
    // The same for the inverse lifting, lines = {e0, o0, e1, o1, e2, o2} (the new pair first):
    // e0 -= delta (o1 + o0), o1 -= gamma (e1 + e0), e1 -= beta (o2 + o1),
    // o2 -= alpha (e2 + e1), each as + (a + b) * -c; the pair (e2, o2) is then finished.
    void (*inverse_column_step)(float* const* lines, int count);

    // The masked thresholding a row at a time, with one mark bit per coefficient: bit j % 32
    // of marks[j / 32]. mark_reaches sets bit j when some coefficient of row j-1, j, j+1
    // (within 0..n-1) reaches x (|c| >= x, never for NaN) and clears the others, up to the end
    // of the last word.
    void (*mark_reaches)(const float* row, int n, float x, uint32_t* marks);
    // dst[j] = (keep ? row[j] : 0) * s, keep when bit j of above, here or below is set: the
    // row thresholded by the marks of its own and its neighbouring rows, then scaled.
    void (*keep_scaled)(const float* row, const uint32_t* above, const uint32_t* here,
                        const uint32_t* below, float s, float* dst, int n);
};

// Every kernel of the table, in its order. The equivalence tests, the kernels fuzz target and
// the kernel benchmark go through this list, so a kernel left out of it goes unchecked: the
// assertion below refuses a table with a kernel the list does not name.
#define VELMORA_KERNELS(X)           \
    X(forward_row)                   \
    X(inverse_row)                   \
    X(forward_row_split)             \
    X(forward_columns)               \
    X(inverse_columns)               \
    X(threshold_strip)               \
    X(load_s16)                      \
    X(store_s16)                     \
    X(max_abs)                       \
    X(load_u8)                       \
    X(load_u16)                      \
    X(store_u8)                      \
    X(store_u16)                     \
    X(square_row)                    \
    X(box_sum_row)                   \
    X(box_sum_rows)                  \
    X(pilot_energy_row)              \
    X(wiener_row)                    \
    X(pilot_energy_ratio_row)        \
    X(wiener_gain_row)               \
    X(accumulate_row)                \
    X(block_sads)                    \
    X(keep_least_pair_sads)          \
    X(least_cost)                    \
    X(difference_square_row)         \
    X(difference_box_u8)             \
    X(temporal_weight_row)           \
    X(temporal_blend_row)            \
    X(temporal_blend_u8)             \
    X(covered_mean_row)              \
    X(split_u8)                      \
    X(split_u16)                     \
    X(lift_lines)                    \
    X(lift_line_end)                 \
    X(scale_line)                    \
    X(forward_column_step)           \
    X(forward_column_step_streaming) \
    X(inverse_column_step)           \
    X(mark_reaches)                  \
    X(keep_scaled)

#define VELMORA_KERNEL_NAME(kernel) #kernel,
inline constexpr const char* kKernelNames[] = {VELMORA_KERNELS(VELMORA_KERNEL_NAME)};
#undef VELMORA_KERNEL_NAME
inline constexpr int kKernelCount = static_cast<int>(std::size(kKernelNames));

// The list names each kernel of the table once: its entries are distinct members, each a
// kernel slot after the table's name, and there are as many as the table has slots.
constexpr bool lists_every_kernel_once() {
#define VELMORA_KERNEL_OFFSET(kernel) offsetof(KernelSet, kernel),
    const size_t offsets[] = {VELMORA_KERNELS(VELMORA_KERNEL_OFFSET)};
#undef VELMORA_KERNEL_OFFSET
    const size_t first = offsetof(KernelSet, name) + sizeof(KernelSet::name);
    const size_t slot = sizeof(KernelSet::forward_row);
    if (sizeof(KernelSet) - first != kKernelCount * slot) return false;
    for (int i = 0; i < kKernelCount; ++i) {
        if (offsets[i] < first || (offsets[i] - first) % slot != 0) return false;
        for (int j = 0; j < i; ++j)
            if (offsets[j] == offsets[i]) return false;
    }
    return true;
}
static_assert(lists_every_kernel_once(), "VELMORA_KERNELS must name every kernel of KernelSet");

extern const KernelSet scalar_kernels;
extern const KernelSet sse41_kernels;
extern const KernelSet avx2_kernels;

// The table for one instruction set, or null when the processor lacks it.
const KernelSet* kernels_for(Isa isa);

// The table of the best instruction set the processor offers.
const KernelSet& best_kernels();

// The table called `name` ("scalar", "sse41", "avx2") when the processor has it, else the best
// one (also for a null name).
const KernelSet& kernels_named(const char* name);

// The table named by the environment variable VELMORA_ISA, as kernels_named chooses it.
const KernelSet& preferred_kernels();
