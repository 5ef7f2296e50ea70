// Four-wide SSE4.1 forms of the kernels. Each element gets exactly the operations of the scalar
// form: vectors only change how many elements are computed at once.
#include <smmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "kernels/band_rows.h"
#include "kernels/difference_box.h"
#include "kernels/kernel_set.h"
#include "kernels/least_cost.h"
#include "kernels/lifting_constants.h"

namespace {

struct Sse {
    static constexpr int N = 4;
    using F = __m128;
    static F load(const float* p) { return _mm_load_ps(p); }
    static F loadu(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, F v) { _mm_store_ps(p, v); }
    static void storeu(float* p, F v) { _mm_storeu_ps(p, v); }
    static F set1(float v) { return _mm_set1_ps(v); }
    static F add(F a, F b) { return _mm_add_ps(a, b); }
    static F mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F div(F a, F b) { return _mm_div_ps(a, b); }
    // d > 0 ? d : +0 (the second operand of max wins for NaN and for -0).
    // N bytes as floats.
    static F bytes(const uint8_t* p) {
        int32_t four;
        std::memcpy(&four, p, sizeof four);
        return _mm_cvtepi32_ps(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)));
    }
    static F positive(F d) { return _mm_max_ps(d, _mm_setzero_ps()); }
    static F min(F a, F b) { return _mm_min_ps(a, b); }  // a < b ? a : b
    static F max(F a, F b) { return _mm_max_ps(a, b); }  // a > b ? a : b
    using I = __m128i;
    static I izero() { return _mm_setzero_si128(); }
    static I iadd(I a, I b) { return _mm_add_epi32(a, b); }
    static int64_t isum(I v) {
        return int64_t{_mm_extract_epi32(v, 0)} + _mm_extract_epi32(v, 1) +
               _mm_extract_epi32(v, 2) + _mm_extract_epi32(v, 3);
    }
    static I iloadu(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void istoreu(void* p, I v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    // |a - b| of unsigned bytes, then the sums of adjacent pairs as 16-bit words.
    static I byte_pair_distances(I a, I b) {
        return _mm_maddubs_epi16(_mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)),
                                 _mm_set1_epi8(1));
    }
    static I add16(I a, I b) { return _mm_add_epi16(a, b); }
    static I less16(I a, I b) { return _mm_cmplt_epi16(a, b); }
    static I min16(I a, I b) { return _mm_min_epi16(a, b); }
    static I set16(uint16_t v) { return _mm_set1_epi16(static_cast<short>(v)); }
    static I select(I mask, I yes, I no) { return _mm_blendv_epi8(no, yes, mask); }
    // w >= 0 ? (int32)(w * units + half) : 0.
    static I guard_units(F w, F units, F half) {
        const I v = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(w, units), half));
        return _mm_and_si128(v, _mm_castps_si128(_mm_cmpge_ps(w, _mm_setzero_ps())));
    }
    // The sign cleared by AND with a mask (rather than AND-NOT with the sign), which leaves the
    // mask's register as it was and saves a copy a vector.
    static F abs(F v) { return _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff))); }
    static F reaches(F c, F x) { return _mm_cmpge_ps(abs(c), x); }  // false for NaN
    static F or_masks(F a, F b) { return _mm_or_ps(a, b); }
    static void store_mask_or(int32_t* m, F keep) {
        auto* p = reinterpret_cast<__m128i*>(m);
        _mm_storeu_si128(p, _mm_or_si128(_mm_loadu_si128(p), _mm_castps_si128(keep)));
    }
    // The reach bits of 32 floats from p: the comparisons packed to bytes, in order.
    static uint32_t reach_word(const float* p, F x) {
        auto bytes = [&](int g) {
            const auto mask = [&](int v) {
                return _mm_castps_si128(reaches(loadu(p + g + 4 * v), x));
            };
            return _mm_movemask_epi8(_mm_packs_epi16(_mm_packs_epi32(mask(0), mask(1)),
                                                     _mm_packs_epi32(mask(2), mask(3))));
        };
        return static_cast<uint32_t>(bytes(0)) | static_cast<uint32_t>(bytes(16)) << 16;
    }
    static __m128i broadcast_bits(uint32_t bits) {
        return _mm_set1_epi32(static_cast<int32_t>(bits));
    }
    static F keep_bits(F v, __m128i bits, int g) {
        const __m128i lanes = _mm_slli_epi32(_mm_setr_epi32(1, 2, 4, 8), g);
        const __m128i set = _mm_and_si128(bits, lanes);
        return _mm_and_ps(v, _mm_castsi128_ps(_mm_cmpeq_epi32(set, lanes)));
    }
    static void zero_unmarked(float* row, int32_t* mask) {
        auto* p = reinterpret_cast<__m128i*>(mask);
        _mm_storeu_ps(row, _mm_and_ps(_mm_loadu_ps(row), _mm_castsi128_ps(_mm_loadu_si128(p))));
        _mm_storeu_si128(p, _mm_setzero_si128());
    }
    // [a3 b0 b1 b2]: each lane's previous neighbour in a row.
    static F previous_of(F a, F b) {
        return _mm_castsi128_ps(_mm_alignr_epi8(_mm_castps_si128(b), _mm_castps_si128(a), 12));
    }
    static void stream(float* p, F v) { _mm_stream_ps(p, v); }
    static void fence() { _mm_sfence(); }
    static F max_keep(F a, F m) { return _mm_max_ps(a, m); }  // keeps m where a is a NaN
    static float hmax(F v) {
        v = _mm_max_ps(v, _mm_movehl_ps(v, v));
        return _mm_cvtss_f32(_mm_max_ss(v, _mm_shuffle_ps(v, v, 1)));
    }
    static void deinterleave(F a, F b, float* e, float* o) {
        _mm_store_ps(e, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_store_ps(o, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    static void interleave(F e, F o, float* lo, float* hi) {
        _mm_store_ps(lo, _mm_unpacklo_ps(e, o));
        _mm_store_ps(hi, _mm_unpackhi_ps(e, o));
    }
};

constexpr int kWidestStrip = 64;

#include "kernels/vector_kernels.inc"

// ---- samples ------------------------------------------------------------------------------

// pshufb controls between three registers of interleaved three-sample pixels (24 samples,
// counted from the wanted component) and one register of eight packed samples.
struct InterleaveShuffles {
    alignas(16) int8_t gather[3][16];   // register -> packed lanes
    alignas(16) int8_t scatter[3][16];  // packed lanes -> register lanes
    alignas(16) int8_t select[3][16];   // bytes of the register that carry the component
};

constexpr InterleaveShuffles make_interleave_shuffles() {
    InterleaveShuffles t{};
    for (int r = 0; r < 3; ++r) {
        for (int b = 0; b < 16; ++b) {
            t.gather[r][b] = -128;
            t.scatter[r][b] = -128;
            t.select[r][b] = 0;
        }
    }
    for (int i = 0; i < 8; ++i) {
        const int r = (3 * i) / 8, lane = (3 * i) % 8;
        for (int half = 0; half < 2; ++half) {
            t.gather[r][2 * i + half] = static_cast<int8_t>(2 * lane + half);
            t.scatter[r][2 * lane + half] = static_cast<int8_t>(2 * i + half);
            t.select[r][2 * lane + half] = -1;
        }
    }
    return t;
}

constexpr InterleaveShuffles interleave = make_interleave_shuffles();

inline __m128i control(const int8_t* bytes) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

inline void store_eight(float* dst, __m128i packed) {
    _mm_storeu_ps(dst, _mm_cvtepi32_ps(_mm_cvtepi16_epi32(packed)));
    _mm_storeu_ps(dst + 4, _mm_cvtepi32_ps(_mm_cvtepi16_epi32(_mm_srli_si128(packed, 8))));
}

// The low 16 bits of eight 32-bit integers, packed.
inline __m128i low_halves(__m128i a, __m128i b) {
    const __m128i pick =
        _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -128, -128, -128, -128, -128, -128, -128, -128);
    return _mm_unpacklo_epi64(_mm_shuffle_epi8(a, pick), _mm_shuffle_epi8(b, pick));
}

// With three samples per pixel, a group of eight pixels is read as 24 samples starting at the
// component, which reaches two samples into the next pixel: the vector loop runs only while
// that pixel exists, and the scalar form takes the last group.
void load_s16(const int16_t* src, int sample_stride, float* dst, int count) {
    int i = 0;
    if (sample_stride == 3) {
        for (; i + 8 < count; i += 8) {
            const __m128i* q = reinterpret_cast<const __m128i*>(src + 3 * i);
            __m128i packed = _mm_setzero_si128();
            for (int r = 0; r < 3; ++r)
                packed = _mm_or_si128(packed, _mm_shuffle_epi8(_mm_loadu_si128(q + r),
                                                               control(interleave.gather[r])));
            store_eight(dst + i, packed);
        }
    } else if (sample_stride == 1) {
        for (; i + 8 <= count; i += 8)
            store_eight(dst + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    }
    scalar_kernels.load_s16(src + i * sample_stride, sample_stride, dst + i, count - i);
}

void store_s16(const float* src, int16_t* dst, int sample_stride, int count, int rounded) {
    int i = 0;
    if (sample_stride == 3) {
        for (; i + 8 <= rounded && i + 8 < count; i += 8) {
            const __m128i packed = low_halves(_mm_cvtps_epi32(_mm_loadu_ps(src + i)),
                                              _mm_cvtps_epi32(_mm_loadu_ps(src + i + 4)));
            __m128i* q = reinterpret_cast<__m128i*>(dst + 3 * i);
            for (int r = 0; r < 3; ++r) {
                const __m128i placed = _mm_shuffle_epi8(packed, control(interleave.scatter[r]));
                _mm_storeu_si128(q + r, _mm_blendv_epi8(_mm_loadu_si128(q + r), placed,
                                                        control(interleave.select[r])));
            }
        }
    } else if (sample_stride == 1) {
        for (; i + 8 <= rounded; i += 8) {
            const __m128i packed = low_halves(_mm_cvtps_epi32(_mm_loadu_ps(src + i)),
                                              _mm_cvtps_epi32(_mm_loadu_ps(src + i + 4)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), packed);
        }
    }
    scalar_kernels.store_s16(src + i, dst + i * sample_stride, sample_stride, count - i,
                             rounded - i);
}

// ---- planar unsigned samples --------------------------------------------------------------

inline void store_four(float* dst, __m128i v, __m128i shift) {
    _mm_storeu_ps(dst, _mm_cvtepi32_ps(_mm_sll_epi32(v, shift)));
}

void load_u8(const uint8_t* src, float* dst, int count, int shift) {
    const __m128i s = _mm_cvtsi32_si128(shift);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        store_four(dst + i, _mm_cvtepu8_epi32(bytes), s);
        store_four(dst + i + 4, _mm_cvtepu8_epi32(_mm_srli_si128(bytes, 4)), s);
        store_four(dst + i + 8, _mm_cvtepu8_epi32(_mm_srli_si128(bytes, 8)), s);
        store_four(dst + i + 12, _mm_cvtepu8_epi32(_mm_srli_si128(bytes, 12)), s);
    }
    scalar_kernels.load_u8(src + i, dst + i, count - i, shift);
}

void load_u16(const uint16_t* src, float* dst, int count, int shift) {
    const __m128i s = _mm_cvtsi32_si128(shift);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        store_four(dst + i, _mm_cvtepu16_epi32(words), s);
        store_four(dst + i + 4, _mm_cvtepu16_epi32(_mm_srli_si128(words, 8)), s);
    }
    scalar_kernels.load_u16(src + i, dst + i, count - i, shift);
}

// Four rounded conversions shifted down with rounding and capped at `maximum`. Negative results
// (a NaN or an out-of-range value converts to INT32_MIN) are cleared by the unsigned saturation
// of the packing that follows.
inline __m128i planar_four(const float* src, __m128i half, __m128i shift, __m128i maximum) {
    const __m128i v = _mm_add_epi32(_mm_cvtps_epi32(_mm_loadu_ps(src)), half);
    return _mm_min_epi32(_mm_sra_epi32(v, shift), maximum);
}

void store_u8(const float* src, uint8_t* dst, int count, int rounded, int shift) {
    const __m128i half = _mm_set1_epi32((1 << shift) >> 1), s = _mm_cvtsi32_si128(shift);
    const __m128i maximum = _mm_set1_epi32(255);
    int i = 0;
    for (; i + 16 <= rounded; i += 16) {
        const __m128i low = _mm_packus_epi32(planar_four(src + i, half, s, maximum),
                                             planar_four(src + i + 4, half, s, maximum));
        const __m128i high = _mm_packus_epi32(planar_four(src + i + 8, half, s, maximum),
                                              planar_four(src + i + 12, half, s, maximum));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(low, high));
    }
    scalar_kernels.store_u8(src + i, dst + i, count - i, rounded - i, shift);
}

void store_u16(const float* src, uint16_t* dst, int count, int rounded, int shift,
               int32_t maximum) {
    const __m128i half = _mm_set1_epi32((1 << shift) >> 1), s = _mm_cvtsi32_si128(shift);
    const __m128i top = _mm_set1_epi32(maximum);
    int i = 0;
    for (; i + 8 <= rounded; i += 8) {
        const __m128i packed = _mm_packus_epi32(planar_four(src + i, half, s, top),
                                                planar_four(src + i + 4, half, s, top));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), packed);
    }
    scalar_kernels.store_u16(src + i, dst + i, count - i, rounded - i, shift, maximum);
}

// Eight sums, as 32-bit values: past a row's end they fall on the next row's, which its own
// stores then replace, or into the room the caller leaves after the last row.
inline void store_sums(__m128i sums, int32_t* sads) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sads), _mm_cvtepu16_epi32(sums));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sads + 4),
                     _mm_cvtepu16_epi32(_mm_srli_si128(sums, 8)));
}

inline uint32_t four_bytes(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// MPSADBW sums four absolute differences at eight offsets at once (16-bit sums: at most
// 64 x 255). One row of candidates.
void block_sads_row(const uint8_t* cur, int32_t cur_stride, const uint8_t* ref, int32_t ref_stride,
                    int side, int count, int32_t* sads) {
    for (int k0 = 0; k0 < count; k0 += 8) {
        __m128i sums = _mm_setzero_si128();
        for (int i = 0; i < side; ++i) {
            const __m128i r =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(ref + i * ref_stride + k0));
            const uint8_t* c = cur + i * cur_stride;
            if (side == 8) {
                const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c));
                sums = _mm_add_epi16(sums, _mm_mpsadbw_epu8(r, b, 0));  // bytes 0-3 at k
                sums = _mm_add_epi16(sums, _mm_mpsadbw_epu8(r, b, 5));  // bytes 4-7 at k + 4
            } else {
                const __m128i b = _mm_cvtsi32_si128(static_cast<int>(four_bytes(c)));
                sums = _mm_add_epi16(sums, _mm_mpsadbw_epu8(r, b, 0));
            }
        }
        store_sums(sums, sads + k0);
    }
}

void block_sads(const uint8_t* cur, int32_t cur_stride, const uint8_t* ref, int32_t ref_stride,
                int side, int count, int rows, int32_t* sads) {
    for (int r = 0; r < rows; ++r)
        block_sads_row(cur, cur_stride, ref + r * ref_stride, ref_stride, side, count,
                       sads + r * count);
}

// The costs of the window a row at a time, four columns at once (the last columns of a row one
// by one), their least, then the candidates of that cost four at a time.
int32_t least_cost(const int32_t* sads, int width, int32_t y, int32_t x, int32_t penalty) {
    int32_t costs[63 * 63 + 3];
    const __m128i pen = _mm_set1_epi32(penalty), lanes = _mm_setr_epi32(0, 1, 2, 3);
    const int full = width & ~3, count = width * width;
    __m128i least = _mm_set1_epi32(INT32_MAX);
    int32_t least_rest = INT32_MAX;
    for (int r = 0; r < width; ++r) {
        const int32_t row = y + r < 0 ? -(y + r) : y + r;
        const __m128i rows = _mm_set1_epi32(row);
        const int32_t* in = sads + r * width;
        int32_t* out = costs + r * width;
        int c = 0;
        for (; c < full; c += 4) {
            const __m128i cols = _mm_abs_epi32(_mm_add_epi32(_mm_set1_epi32(x + c), lanes));
            const __m128i cost =
                _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + c)),
                              _mm_mullo_epi32(_mm_add_epi32(rows, cols), pen));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), cost);
            least = _mm_min_epi32(least, cost);
        }
        for (; c < width; ++c) {
            const int32_t col = x + c < 0 ? -(x + c) : x + c;
            out[c] = in[c] + (row + col) * penalty;
            least_rest = out[c] < least_rest ? out[c] : least_rest;
        }
    }
    least = _mm_min_epi32(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(1, 0, 3, 2)));
    least = _mm_min_epi32(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(2, 3, 0, 1)));
    const int32_t m = std::min(_mm_cvtsi128_si32(least), least_rest);
    const __m128i ms = _mm_set1_epi32(m);
    velmora::NearestCandidate best{width};
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i hit =
            _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(costs + i)), ms);
        best.consider_bits(static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(hit))), i);
    }
    for (; i < count; ++i)
        if (costs[i] == m) best.consider(i);
    return best.index;
}

// Four pairs at a time: the even samples are the low half of each 32-bit lane, the odd ones
// the high half.
inline void split_four(__m128i pairs, __m128i shift, float* e, float* o) {
    const __m128i even = _mm_and_si128(pairs, _mm_set1_epi32(0xFFFF));
    store_four(e, even, shift);
    store_four(o, _mm_srli_epi32(pairs, 16), shift);
}

void split_u8(const uint8_t* src, float* e, float* o, int pairs, int shift) {
    const __m128i s = _mm_cvtsi32_si128(shift);
    int k = 0;
    for (; k + 4 <= pairs; k += 4) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 2 * k));
        split_four(_mm_cvtepu8_epi16(bytes), s, e + k, o + k);
    }
    scalar_kernels.split_u8(src + 2 * k, e + k, o + k, pairs - k, shift);
}

void split_u16(const uint16_t* src, float* e, float* o, int pairs, int shift) {
    const __m128i s = _mm_cvtsi32_si128(shift);
    int k = 0;
    for (; k + 4 <= pairs; k += 4)
        split_four(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * k)), s, e + k, o + k);
    scalar_kernels.split_u16(src + 2 * k, e + k, o + k, pairs - k, shift);
}

}  // namespace

const KernelSet sse41_kernels = {
    .isa = Isa::sse41,
    .name = "sse41",
    .forward_row = forward_row_in_passes<Sse>,
    .inverse_row = inverse_row_in_passes<Sse>,
    .forward_row_split = forward_row_split_in_passes<Sse>,
    .forward_columns = forward_columns<Sse>,
    .inverse_columns = inverse_columns<Sse>,
    .threshold_strip = threshold_strip<Sse>,
    .load_s16 = load_s16,
    .store_s16 = store_s16,
    .max_abs = max_abs<Sse>,
    .load_u8 = load_u8,
    .load_u16 = load_u16,
    .store_u8 = store_u8,
    .store_u16 = store_u16,
    .square_row = square_row<Sse>,
    .box_sum_row = box_sum_row<Sse>,
    .box_sum_rows = box_sum_rows<Sse>,
    .pilot_energy_row = pilot_energy_row<Sse>,
    .wiener_row = wiener_row<Sse>,
    .pilot_energy_ratio_row = pilot_energy_ratio_row<Sse>,
    .wiener_gain_row = wiener_gain_row<Sse>,
    .accumulate_row = accumulate_row<Sse>,
    .block_sads = block_sads,
    .keep_least_pair_sads = keep_least_pair_sads<Sse>,
    .least_cost = least_cost,
    .difference_square_row = difference_square_row<Sse>,
    .difference_box_u8 = difference_box_u8<Sse>,
    .temporal_weight_row = temporal_weight_row<Sse>,
    .temporal_blend_row = temporal_blend_row<Sse>,
    .temporal_blend_u8 = temporal_blend_u8<Sse>,
    .covered_mean_row = covered_mean_row<Sse>,
    .split_u8 = split_u8,
    .split_u16 = split_u16,
    .lift_lines = lift_lines<Sse>,
    .lift_line_end = lift_line_end<Sse>,
    .scale_line = scale_line<Sse>,
    .forward_column_step = forward_column_step<Sse>,
    .forward_column_step_streaming = forward_column_step_streaming<Sse>,
    .inverse_column_step = inverse_column_step<Sse>,
    .mark_reaches = mark_reaches<Sse>,
    .keep_scaled = keep_scaled<Sse>,
};
