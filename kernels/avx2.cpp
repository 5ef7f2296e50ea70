// Eight-wide AVX2 forms of the lifting, thresholding and maximum kernels (never FMA: every
// product is rounded before it is added). Sample conversion stays with the SSE4.1 forms.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "kernels/band_rows.h"
#include "kernels/kernel_set.h"
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
    static void zero_unmarked(float* row, int32_t* mask) {
        auto* p = reinterpret_cast<__m256i*>(mask);
        const F keep = _mm256_castsi256_ps(_mm256_loadu_si256(p));
        _mm256_storeu_ps(row, _mm256_and_ps(_mm256_loadu_ps(row), keep));
        _mm256_storeu_si256(p, _mm256_setzero_si256());
    }
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
inline void store_sums(__m128i sums, int32_t* sads, int count) {
    const __m256i wide = _mm256_cvtepu16_epi32(sums);
    if (count >= 8) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sads), wide);
        return;
    }
    int32_t all[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(all), wide);
    for (int k = 0; k < count; ++k) sads[k] = all[k];
}

// Side 4 and 8: VMPSADBW on two rows at once (one per 128-bit lane), the lanes added at the
// end. Side 2: each of the four samples against 32 offsets, summed in 16 bits.
// One row of candidates.
void block_sads_row(const uint8_t* cur, int32_t cur_stride, const uint8_t* ref, int32_t ref_stride,
                    int side, int count, int32_t* sads) {
    if (side == 2) {
        for (int k0 = 0; k0 < count; k0 += 32) {
            __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 2; ++j) {
                    const __m256i r = _mm256_loadu_si256(
                        reinterpret_cast<const __m256i*>(ref + i * ref_stride + j + k0));
                    const __m256i c = _mm256_set1_epi8(static_cast<char>(cur[i * cur_stride + j]));
                    const __m256i d =
                        _mm256_or_si256(_mm256_subs_epu8(r, c), _mm256_subs_epu8(c, r));
                    lo = _mm256_add_epi16(lo, _mm256_cvtepu8_epi16(_mm256_castsi256_si128(d)));
                    hi = _mm256_add_epi16(hi, _mm256_cvtepu8_epi16(_mm256_extracti128_si256(d, 1)));
                }
            for (int part = 0; part < 4 && k0 + 8 * part < count; ++part) {
                const __m256i half = part < 2 ? lo : hi;
                const __m128i sums =
                    part % 2 ? _mm256_extracti128_si256(half, 1) : _mm256_castsi256_si128(half);
                store_sums(sums, sads + k0 + 8 * part, count - k0 - 8 * part);
            }
        }
        return;
    }
    const auto row_pair = [](const uint8_t* first, int32_t stride, bool two) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
        const __m128i b =
            two ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + stride)) : a;
        return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
    };
    for (int k0 = 0; k0 < count; k0 += 8) {
        __m256i sums = _mm256_setzero_si256();
        for (int i = 0; i < side; i += 2) {
            const __m256i r = row_pair(ref + i * ref_stride + k0, ref_stride, true);
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
                   sads + k0, count - k0);
    }
}

void block_sads(const uint8_t* cur, int32_t cur_stride, const uint8_t* ref, int32_t ref_stride,
                int side, int count, int rows, int32_t* sads) {
    for (int r = 0; r < rows; ++r)
        block_sads_row(cur, cur_stride, ref + r * ref_stride, ref_stride, side, count,
                       sads + r * count);
}

}  // namespace

const KernelSet avx2_kernels = {
    Isa::avx2,
    "avx2",
    forward_row<Avx>,
    inverse_row<Avx>,
    forward_columns<Avx>,
    inverse_columns<Avx>,
    threshold_strip<Avx>,
    sse41_kernels.load_s16,
    sse41_kernels.store_s16,
    max_abs<Avx>,
    sse41_kernels.load_u8,
    sse41_kernels.load_u16,
    sse41_kernels.store_u8,
    sse41_kernels.store_u16,
    square_row<Avx>,
    box_sum_row<Avx>,
    box_sum_rows<Avx>,
    pilot_energy_row<Avx>,
    wiener_row<Avx>,
    pilot_energy_ratio_row<Avx>,
    wiener_gain_row<Avx>,
    accumulate_row<Avx>,
    block_sads,
    difference_square_row<Avx>,
    temporal_weight_row<Avx>,
    temporal_accumulate_row<Avx>,
    temporal_finish_row<Avx>,
};
