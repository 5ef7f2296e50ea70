// Eight-wide AVX2 forms of the lifting, thresholding and maximum kernels (never FMA: every
// product is rounded before it is added) and of the planar sample conversions. The plug-in's
// interleaved samples stay with the SSE4.1 forms.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "kernels/band_rows.h"
#include "kernels/difference_box.h"
#include "kernels/kernel_set.h"
#include "kernels/least_cost.h"
#include "kernels/lifting_constants.h"

namespace {

struct Avx {
    static constexpr int N = 8;
    using F = __m256;
    // Rows and scratch arrays are 16-byte aligned only: every access is unaligned.
    static F load(const float* p) { return _mm256_loadu_ps(p); }
    static F loadu(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, F v) { _mm256_storeu_ps(p, v); }
    static void storeu(float* p, F v) { _mm256_storeu_ps(p, v); }
    static F set1(float v) { return _mm256_set1_ps(v); }
    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F div(F a, F b) { return _mm256_div_ps(a, b); }
    // N bytes as floats.
    static F bytes(const uint8_t* p) {
        return _mm256_cvtepi32_ps(
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    // d > 0 ? d : +0 (the second operand of max wins for NaN and for -0).
    static F positive(F d) { return _mm256_max_ps(d, _mm256_setzero_ps()); }
    static F min(F a, F b) { return _mm256_min_ps(a, b); }  // a < b ? a : b
    static F max(F a, F b) { return _mm256_max_ps(a, b); }  // a > b ? a : b
    using I = __m256i;
    static I izero() { return _mm256_setzero_si256(); }
    static I iadd(I a, I b) { return _mm256_add_epi32(a, b); }
    static int64_t isum(I v) {
        int32_t lanes[8];
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), v);
        int64_t sum = 0;
        for (int32_t lane : lanes) sum += lane;
        return sum;
    }
    static I iloadu(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void istoreu(void* p, I v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    // |a - b| of unsigned bytes, then the sums of adjacent pairs as 16-bit words.
    static I byte_pair_distances(I a, I b) {
        return _mm256_maddubs_epi16(_mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a)),
                                    _mm256_set1_epi8(1));
    }
    static I add16(I a, I b) { return _mm256_add_epi16(a, b); }
    static I less16(I a, I b) { return _mm256_cmpgt_epi16(b, a); }
    static I min16(I a, I b) { return _mm256_min_epi16(a, b); }
    static I set16(uint16_t v) { return _mm256_set1_epi16(static_cast<short>(v)); }
    static I select(I mask, I yes, I no) { return _mm256_blendv_epi8(no, yes, mask); }
    // w >= 0 ? (int32)(w * units + half) : 0.
    static I guard_units(F w, F units, F half) {
        const I v = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(w, units), half));
        return _mm256_and_si256(
            v, _mm256_castps_si256(_mm256_cmp_ps(w, _mm256_setzero_ps(), _CMP_GE_OQ)));
    }
    static F abs(F v) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), v); }
    static F reaches(F c, F x) { return _mm256_cmp_ps(abs(c), x, _CMP_GE_OQ); }  // false for NaN
    static F or_masks(F a, F b) { return _mm256_or_ps(a, b); }
    static void store_mask_or(int32_t* m, F keep) {
        auto* p = reinterpret_cast<__m256i*>(m);
        _mm256_storeu_si256(p, _mm256_or_si256(_mm256_loadu_si256(p), _mm256_castps_si256(keep)));
    }
    // The reach bits of 32 floats from p: the comparisons packed to bytes within each half,
    // then the halves' dwords put back in order.
    static uint32_t reach_word(const float* p, F x) {
        const auto mask = [&](int v) { return _mm256_castps_si256(reaches(loadu(p + 8 * v), x)); };
        const __m256i packed = _mm256_packs_epi16(_mm256_packs_epi32(mask(0), mask(1)),
                                                  _mm256_packs_epi32(mask(2), mask(3)));
        const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
        return static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_permutevar8x32_epi32(packed, order)));
    }
    static __m256i broadcast_bits(uint32_t bits) {
        return _mm256_set1_epi32(static_cast<int32_t>(bits));
    }
    static F keep_bits(F v, __m256i bits, int g) {
        const __m256i lanes = _mm256_slli_epi32(_mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128), g);
        const __m256i set = _mm256_and_si256(bits, lanes);
        return _mm256_and_ps(v, _mm256_castsi256_ps(_mm256_cmpeq_epi32(set, lanes)));
    }
    static void zero_unmarked(float* row, int32_t* mask) {
        auto* p = reinterpret_cast<__m256i*>(mask);
        const F keep = _mm256_castsi256_ps(_mm256_loadu_si256(p));
        _mm256_storeu_ps(row, _mm256_and_ps(_mm256_loadu_ps(row), keep));
        _mm256_storeu_si256(p, _mm256_setzero_si256());
    }
    // [a7 b0 .. b6]: each lane's previous neighbour in a row.
    static F previous_of(F a, F b) {
        const __m256i t = _mm256_castps_si256(_mm256_permute2f128_ps(a, b, 0x21));
        return _mm256_castsi256_ps(_mm256_alignr_epi8(_mm256_castps_si256(b), t, 12));
    }
    static void stream(float* p, F v) { _mm256_stream_ps(p, v); }
    static void fence() { _mm_sfence(); }
    static F max_keep(F a, F m) { return _mm256_max_ps(a, m); }  // keeps m where a is a NaN
    static float hmax(F v) {
        __m128 h = _mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
        h = _mm_max_ps(h, _mm_movehl_ps(h, h));
        return _mm_cvtss_f32(_mm_max_ss(h, _mm_shuffle_ps(h, h, 1)));
    }
    static void deinterleave(F a, F b, float* e, float* o) {
        const auto order = [](F v) {
            return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), 0xD8));
        };
        _mm256_storeu_ps(e, order(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))));
        _mm256_storeu_ps(o, order(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
    }
    static void interleave(F e, F o, float* lo, float* hi) {
        const F a = _mm256_unpacklo_ps(e, o), b = _mm256_unpackhi_ps(e, o);
        _mm256_storeu_ps(lo, _mm256_permute2f128_ps(a, b, 0x20));
        _mm256_storeu_ps(hi, _mm256_permute2f128_ps(a, b, 0x31));
    }
};

constexpr int kWidestStrip = 64;

#include "kernels/vector_kernels.inc"

// Eight 16-bit sums as 32-bit values into sads[0 .. count), count 1 or more.
// Eight sums, as 32-bit values: past a row's end they fall on the next row's, which its own
// stores then replace, or into the room the caller leaves after the last row.
inline void store_sums(__m128i sums, int32_t* sads) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sads), _mm256_cvtepu16_epi32(sums));
}

// VMPSADBW on two rows at once (one per 128-bit lane), the lanes added at the end. One row of
// candidates.
void block_sads_row(const uint8_t* cur, int32_t cur_stride, const uint8_t* ref, int32_t ref_stride,
                    int side, int count, int32_t* sads) {
    const auto row_pair = [](const uint8_t* first, int32_t stride) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + stride));
        return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
    };
    for (int k0 = 0; k0 < count; k0 += 8) {
        __m256i sums = _mm256_setzero_si256();
        for (int i = 0; i < side; i += 2) {
            const __m256i r = row_pair(ref + i * ref_stride + k0, ref_stride);
            const uint8_t* c = cur + i * cur_stride;
            __m128i c0, c1;
            if (side == 8) {
                c0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c));
                c1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c + cur_stride));
            } else {
                int32_t v0, v1;
                std::memcpy(&v0, c, 4);
                std::memcpy(&v1, c + cur_stride, 4);
                c0 = _mm_cvtsi32_si128(v0);
                c1 = _mm_cvtsi32_si128(v1);
            }
            const __m256i b = _mm256_inserti128_si256(_mm256_castsi128_si256(c0), c1, 1);
            sums = _mm256_add_epi16(sums, _mm256_mpsadbw_epu8(r, b, 0));
            if (side == 8) sums = _mm256_add_epi16(sums, _mm256_mpsadbw_epu8(r, b, 5 | (5 << 3)));
        }
        store_sums(_mm_add_epi16(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1)),
                   sads + k0);
    }
}

void block_sads(const uint8_t* cur, int32_t cur_stride, const uint8_t* ref, int32_t ref_stride,
                int side, int count, int rows, int32_t* sads) {
    for (int r = 0; r < rows; ++r)
        block_sads_row(cur, cur_stride, ref + r * ref_stride, ref_stride, side, count,
                       sads + r * count);
}

// The costs of the window a row at a time, eight columns at once (the columns past the row's
// end read, then set to the largest cost; the next row's costs are stored over them), their
// least, then the candidates of that cost eight at a time.
int32_t least_cost(const int32_t* sads, int width, int32_t y, int32_t x, int32_t penalty) {
    int32_t costs[63 * 63 + 7];
    const __m256i pen = _mm256_set1_epi32(penalty), none = _mm256_set1_epi32(INT32_MAX);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const int count = width * width;
    __m256i least = none;
    for (int r = 0; r < width; ++r) {
        const __m256i rows = _mm256_set1_epi32(y + r < 0 ? -(y + r) : y + r);
        const int32_t* in = sads + r * width;
        int32_t* out = costs + r * width;
        for (int c = 0; c < width; c += 8) {
            const __m256i past = _mm256_cmpgt_epi32(lanes, _mm256_set1_epi32(width - c - 1));
            const __m256i cols =
                _mm256_abs_epi32(_mm256_add_epi32(_mm256_set1_epi32(x + c), lanes));
            const __m256i cost = _mm256_blendv_epi8(
                _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + c)),
                                 _mm256_mullo_epi32(_mm256_add_epi32(rows, cols), pen)),
                none, past);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), cost);
            least = _mm256_min_epi32(least, cost);
        }
    }
    __m128i half = _mm_min_epi32(_mm256_castsi256_si128(least), _mm256_extracti128_si256(least, 1));
    half = _mm_min_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(1, 0, 3, 2)));
    half = _mm_min_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(2, 3, 0, 1)));
    const int32_t m = _mm_cvtsi128_si32(half);
    const __m256i ms = _mm256_set1_epi32(m);
    velmora::NearestCandidate best{width};
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i hit =
            _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(costs + i)), ms);
        best.consider_bits(static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(hit))), i);
    }
    for (; i < count; ++i)
        if (costs[i] == m) best.consider(i);
    return best.index;
}

// ---- planar unsigned samples --------------------------------------------------------------

inline void store_eight(float* dst, __m256i v, __m128i shift) {
    _mm256_storeu_ps(dst, _mm256_cvtepi32_ps(_mm256_sll_epi32(v, shift)));
}

void load_u8(const uint8_t* src, float* dst, int count, int shift) {
    const __m128i s = _mm_cvtsi32_si128(shift);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + i));
        store_eight(dst + i, _mm256_cvtepu8_epi32(bytes), s);
    }
    sse41_kernels.load_u8(src + i, dst + i, count - i, shift);
}

void load_u16(const uint16_t* src, float* dst, int count, int shift) {
    const __m128i s = _mm_cvtsi32_si128(shift);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        store_eight(dst + i, _mm256_cvtepu16_epi32(words), s);
    }
    sse41_kernels.load_u16(src + i, dst + i, count - i, shift);
}

// Eight pairs at a time: the even samples are the low half of each 32-bit lane, the odd ones
// the high half.
inline void split_eight(__m256i pairs, __m128i shift, float* e, float* o) {
    store_eight(e, _mm256_and_si256(pairs, _mm256_set1_epi32(0xFFFF)), shift);
    store_eight(o, _mm256_srli_epi32(pairs, 16), shift);
}

void split_u8(const uint8_t* src, float* e, float* o, int pairs, int shift) {
    const __m128i s = _mm_cvtsi32_si128(shift);
    int k = 0;
    for (; k + 8 <= pairs; k += 8) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * k));
        split_eight(_mm256_cvtepu8_epi16(bytes), s, e + k, o + k);
    }
    sse41_kernels.split_u8(src + 2 * k, e + k, o + k, pairs - k, shift);
}

void split_u16(const uint16_t* src, float* e, float* o, int pairs, int shift) {
    const __m128i s = _mm_cvtsi32_si128(shift);
    int k = 0;
    for (; k + 8 <= pairs; k += 8)
        split_eight(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * k)), s, e + k,
                    o + k);
    sse41_kernels.split_u16(src + 2 * k, e + k, o + k, pairs - k, shift);
}

// Eight rounded conversions shifted down with rounding and capped at `maximum`; negative
// results (a NaN or an out-of-range value converts to INT32_MIN) are cleared by the unsigned
// saturation of the packing that follows.
inline __m256i planar_eight(const float* src, __m256i half, __m128i shift, __m256i maximum) {
    const __m256i v = _mm256_add_epi32(_mm256_cvtps_epi32(_mm256_loadu_ps(src)), half);
    return _mm256_min_epi32(_mm256_sra_epi32(v, shift), maximum);
}

void store_u8(const float* src, uint8_t* dst, int count, int rounded, int shift) {
    const __m256i half = _mm256_set1_epi32((1 << shift) >> 1), maximum = _mm256_set1_epi32(255);
    const __m128i s = _mm_cvtsi32_si128(shift);
    // The packs work within 128-bit lanes: this puts the four groups of four back in order.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int i = 0;
    for (; i + 32 <= rounded; i += 32) {
        const __m256i low = _mm256_packus_epi32(planar_eight(src + i, half, s, maximum),
                                                planar_eight(src + i + 8, half, s, maximum));
        const __m256i high = _mm256_packus_epi32(planar_eight(src + i + 16, half, s, maximum),
                                                 planar_eight(src + i + 24, half, s, maximum));
        const __m256i bytes = _mm256_packus_epi16(low, high);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i),
                            _mm256_permutevar8x32_epi32(bytes, order));
    }
    sse41_kernels.store_u8(src + i, dst + i, count - i, rounded - i, shift);
}

void store_u16(const float* src, uint16_t* dst, int count, int rounded, int shift,
               int32_t maximum) {
    const __m256i half = _mm256_set1_epi32((1 << shift) >> 1), top = _mm256_set1_epi32(maximum);
    const __m128i s = _mm_cvtsi32_si128(shift);
    int i = 0;
    for (; i + 16 <= rounded; i += 16) {
        const __m256i words = _mm256_packus_epi32(planar_eight(src + i, half, s, top),
                                                  planar_eight(src + i + 8, half, s, top));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i),
                            _mm256_permute4x64_epi64(words, 0xD8));
    }
    sse41_kernels.store_u16(src + i, dst + i, count - i, rounded - i, shift, maximum);
}

}  // namespace

const KernelSet avx2_kernels = {
    .isa = Isa::avx2,
    .name = "avx2",
    .forward_row = forward_row_in_passes<Avx>,
    .inverse_row = inverse_row_in_passes<Avx>,
    .forward_row_split = forward_row_split_in_passes<Avx>,
    .forward_columns = forward_columns<Avx>,
    .inverse_columns = inverse_columns<Avx>,
    .threshold_strip = threshold_strip<Avx>,
    .load_s16 = sse41_kernels.load_s16,
    .store_s16 = sse41_kernels.store_s16,
    .max_abs = max_abs<Avx>,
    .load_u8 = load_u8,
    .load_u16 = load_u16,
    .store_u8 = store_u8,
    .store_u16 = store_u16,
    .square_row = square_row<Avx>,
    .box_sum_row = box_sum_row<Avx>,
    .box_sum_rows = box_sum_rows<Avx>,
    .pilot_energy_row = pilot_energy_row<Avx>,
    .wiener_row = wiener_row<Avx>,
    .pilot_energy_ratio_row = pilot_energy_ratio_row<Avx>,
    .wiener_gain_row = wiener_gain_row<Avx>,
    .accumulate_row = accumulate_row<Avx>,
    .block_sads = block_sads,
    .keep_least_pair_sads = keep_least_pair_sads<Avx>,
    .least_cost = least_cost,
    .difference_square_row = difference_square_row<Avx>,
    .difference_box_u8 = difference_box_u8<Avx>,
    .temporal_weight_row = temporal_weight_row<Avx>,
    .temporal_blend_row = temporal_blend_row<Avx>,
    .temporal_blend_u8 = temporal_blend_u8<Avx>,
    .covered_mean_row = covered_mean_row<Avx>,
    .split_u8 = split_u8,
    .split_u16 = split_u16,
    .lift_lines = lift_lines<Avx>,
    .lift_line_end = lift_line_end<Avx>,
    .scale_line = scale_line<Avx>,
    .forward_column_step = forward_column_step<Avx>,
    .forward_column_step_streaming = forward_column_step_streaming<Avx>,
    .inverse_column_step = inverse_column_step<Avx>,
    .mark_reaches = mark_reaches<Avx>,
    .keep_scaled = keep_scaled<Avx>,
};
