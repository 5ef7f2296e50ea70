// Four-wide SSE4.1 forms of the kernels. Each element gets exactly the operations of the scalar
// form: vectors only change how many elements are computed at once.
#include <smmintrin.h>

#include <array>

#include "kernels/kernel_set.h"
#include "kernels/scalar_lifting.h"

namespace {

using namespace lifting;

// ---- lifting steps on contiguous arrays ---------------------------------------------------

void predict(float* o, const float* e, int n, float c, float c2) {
    const __m128 vc = _mm_set1_ps(c);
    int k = 0;
    for (; k + 4 < n; k += 4) {
        const __m128 s = _mm_add_ps(_mm_load_ps(e + k), _mm_loadu_ps(e + k + 1));
        _mm_store_ps(o + k, _mm_add_ps(_mm_load_ps(o + k), _mm_mul_ps(s, vc)));
    }
    for (; k < n - 1; ++k) o[k] = o[k] + (e[k] + e[k + 1]) * c;
    o[n - 1] = o[n - 1] + e[n - 1] * c2;
}

void update(float* e, const float* o, int n, float c, float c2) {
    const __m128 vc = _mm_set1_ps(c);
    e[0] = e[0] + o[0] * c2;
    int k = 1;
    for (; k < 4 && k < n; ++k) e[k] = e[k] + (o[k - 1] + o[k]) * c;
    for (; k + 4 <= n; k += 4) {
        const __m128 s = _mm_add_ps(_mm_loadu_ps(o + k - 1), _mm_load_ps(o + k));
        _mm_store_ps(e + k, _mm_add_ps(_mm_load_ps(e + k), _mm_mul_ps(s, vc)));
    }
    for (; k < n; ++k) e[k] = e[k] + (o[k - 1] + o[k]) * c;
}

void forward_steps(float* e, float* o, int n) {
    predict(o, e, n, kAlpha, kAlpha2);
    update(e, o, n, kBeta, kBeta2);
    predict(o, e, n, kGamma, kGamma2);
    update(e, o, n, kDelta, kDelta2);
}

void inverse_steps(float* e, float* o, int n) {
    update(e, o, n, -kDelta, -kDelta2);
    predict(o, e, n, -kGamma, -kGamma2);
    update(e, o, n, -kBeta, -kBeta2);
    predict(o, e, n, -kAlpha, -kAlpha2);
}

// ---- rows ---------------------------------------------------------------------------------

void forward_row(float* row, int n, float* e, float* o) {
    int k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m128 a = _mm_load_ps(row + 2 * k);
        const __m128 b = _mm_load_ps(row + 2 * k + 4);
        _mm_store_ps(e + k, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_store_ps(o + k, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    for (; k < n; ++k) {
        e[k] = row[2 * k];
        o[k] = row[2 * k + 1];
    }
    forward_steps(e, o, n);
    const __m128 vk = _mm_set1_ps(kK);
    const __m128 vinv = _mm_set1_ps(kInvK);
    // The high half starts at x = n: aligned only when n is a multiple of 4.
    for (k = 0; k + 4 <= n; k += 4) {
        _mm_store_ps(row + k, _mm_mul_ps(_mm_load_ps(e + k), vk));
        _mm_storeu_ps(row + n + k, _mm_mul_ps(_mm_load_ps(o + k), vinv));
    }
    for (; k < n; ++k) {
        row[k] = e[k] * kK;
        row[n + k] = o[k] * kInvK;
    }
}

void inverse_row(float* row, int n, float* e, float* o) {
    const __m128 vk = _mm_set1_ps(kK);
    const __m128 vinv = _mm_set1_ps(kInvK);
    int k = 0;
    for (; k + 4 <= n; k += 4) {
        _mm_store_ps(e + k, _mm_mul_ps(_mm_load_ps(row + k), vinv));
        _mm_store_ps(o + k, _mm_mul_ps(_mm_loadu_ps(row + n + k), vk));
    }
    for (; k < n; ++k) {
        e[k] = row[k] * kInvK;
        o[k] = row[n + k] * kK;
    }
    inverse_steps(e, o, n);
    for (k = 0; k + 4 <= n; k += 4) {
        const __m128 ve = _mm_load_ps(e + k);
        const __m128 vo = _mm_load_ps(o + k);
        _mm_store_ps(row + 2 * k, _mm_unpacklo_ps(ve, vo));
        _mm_store_ps(row + 2 * k + 4, _mm_unpackhi_ps(ve, vo));
    }
    for (; k < n; ++k) {
        row[2 * k] = e[k];
        row[2 * k + 1] = o[k];
    }
}

// ---- columns: four adjacent columns lifted in place with vertical vectors -----------------

struct Strip {
    float* top;
    ptrdiff_t stride;
    float* row(int r) const { return top + r * stride; }
};

// Odd rows: x[2k+1] += c * (x[2k] + x[2k+2]); the last odd row takes 2c * x[N-2].
void strip_predict(Strip s, int n, float c, float c2) {
    const __m128 vc = _mm_set1_ps(c);
    for (int k = 0; k < n - 1; ++k) {
        const __m128 sum = _mm_add_ps(_mm_loadu_ps(s.row(2 * k)), _mm_loadu_ps(s.row(2 * k + 2)));
        float* t = s.row(2 * k + 1);
        _mm_storeu_ps(t, _mm_add_ps(_mm_loadu_ps(t), _mm_mul_ps(sum, vc)));
    }
    float* t = s.row(2 * n - 1);
    _mm_storeu_ps(t, _mm_add_ps(_mm_loadu_ps(t), _mm_mul_ps(_mm_loadu_ps(s.row(2 * n - 2)),
                                                             _mm_set1_ps(c2))));
}

// Even rows: x[0] += 2c * x[1]; x[2k] += c * (x[2k-1] + x[2k+1]).
void strip_update(Strip s, int n, float c, float c2) {
    const __m128 vc = _mm_set1_ps(c);
    float* t0 = s.row(0);
    _mm_storeu_ps(t0, _mm_add_ps(_mm_loadu_ps(t0), _mm_mul_ps(_mm_loadu_ps(s.row(1)),
                                                               _mm_set1_ps(c2))));
    for (int k = 1; k < n; ++k) {
        const __m128 sum =
            _mm_add_ps(_mm_loadu_ps(s.row(2 * k - 1)), _mm_loadu_ps(s.row(2 * k + 1)));
        float* t = s.row(2 * k);
        _mm_storeu_ps(t, _mm_add_ps(_mm_loadu_ps(t), _mm_mul_ps(sum, vc)));
    }
}

// The interleaved strip becomes low half (x K) over high half (x 1/K); `tmp` holds 4n floats.
void strip_deinterleave(Strip s, int n, float* tmp) {
    const __m128 vk = _mm_set1_ps(kK);
    const __m128 vinv = _mm_set1_ps(kInvK);
    for (int k = 0; k < n; ++k)
        _mm_store_ps(tmp + 4 * k, _mm_mul_ps(_mm_loadu_ps(s.row(2 * k + 1)), vinv));
    for (int k = 0; k < n; ++k) _mm_storeu_ps(s.row(k), _mm_mul_ps(_mm_loadu_ps(s.row(2 * k)), vk));
    for (int k = 0; k < n; ++k) _mm_storeu_ps(s.row(n + k), _mm_load_ps(tmp + 4 * k));
}

// The inverse: low half (x 1/K) and high half (x K) interleaved again.
void strip_interleave(Strip s, int n, float* tmp) {
    const __m128 vk = _mm_set1_ps(kK);
    const __m128 vinv = _mm_set1_ps(kInvK);
    for (int k = 0; k < n; ++k)
        _mm_store_ps(tmp + 4 * k, _mm_mul_ps(_mm_loadu_ps(s.row(n + k)), vk));
    // Descending, so that every low row is read before anything lands on it.
    for (int k = n - 1; k >= 0; --k) {
        const __m128 low = _mm_mul_ps(_mm_loadu_ps(s.row(k)), vinv);
        _mm_storeu_ps(s.row(2 * k + 1), _mm_load_ps(tmp + 4 * k));
        _mm_storeu_ps(s.row(2 * k), low);
    }
}

void forward_columns(float* top, ptrdiff_t stride, int count, int n, float* scratch,
                     int scratch_floats) {
    int c = 0;
    if (scratch_floats >= 4 * n) {
        for (; c + 4 <= count; c += 4) {
            const Strip s{top + c, stride};
            strip_predict(s, n, kAlpha, kAlpha2);
            strip_update(s, n, kBeta, kBeta2);
            strip_predict(s, n, kGamma, kGamma2);
            strip_update(s, n, kDelta, kDelta2);
            strip_deinterleave(s, n, scratch);
        }
    }
    scalar_kernels.forward_columns(top + c, stride, count - c, n, scratch, scratch_floats);
}

void inverse_columns(float* top, ptrdiff_t stride, int count, int n, float* scratch,
                     int scratch_floats) {
    int c = 0;
    if (scratch_floats >= 4 * n) {
        for (; c + 4 <= count; c += 4) {
            const Strip s{top + c, stride};
            strip_interleave(s, n, scratch);
            strip_update(s, n, -kDelta, -kDelta2);
            strip_predict(s, n, -kGamma, -kGamma2);
            strip_update(s, n, -kBeta, -kBeta2);
            strip_predict(s, n, -kAlpha, -kAlpha2);
        }
    }
    scalar_kernels.inverse_columns(top + c, stride, count - c, n, scratch, scratch_floats);
}

// ---- thresholding -------------------------------------------------------------------------

inline __m128 reaches(__m128 c, __m128 x) {
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), c);
    return _mm_cmpge_ps(magnitude, x);  // false for NaN
}

inline bool reaches(float c, float x) { return __builtin_fabsf(c) >= x; }

// The row's keep marks, dilated by one column each way, OR-ed into `count` mask rows.
void mark_row(const float* row, int n, float x, int32_t* const* masks, int count) {
    auto mark_one = [&](int j) {
        const bool keep = reaches(row[j], x) || (j > 0 && reaches(row[j - 1], x)) ||
                          (j + 1 < n && reaches(row[j + 1], x));
        if (keep)
            for (int r = 0; r < count; ++r) masks[r][j] = -1;
    };
    const __m128 vx = _mm_set1_ps(x);
    int j = 0;
    mark_one(j++);
    for (; j + 5 <= n; j += 4) {
        const __m128 keep = _mm_or_ps(_mm_or_ps(reaches(_mm_loadu_ps(row + j - 1), vx),
                                                reaches(_mm_loadu_ps(row + j), vx)),
                                      reaches(_mm_loadu_ps(row + j + 1), vx));
        const __m128i k = _mm_castps_si128(keep);
        for (int r = 0; r < count; ++r) {
            __m128i* m = reinterpret_cast<__m128i*>(masks[r] + j);
            _mm_storeu_si128(m, _mm_or_si128(_mm_loadu_si128(m), k));
        }
    }
    for (; j < n; ++j) mark_one(j);
}

void zero_unmarked(float* row, int32_t* mask, int n) {
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m128 keep = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<__m128i*>(mask + j)));
        _mm_storeu_ps(row + j, _mm_and_ps(_mm_loadu_ps(row + j), keep));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mask + j), _mm_setzero_si128());
    }
    for (; j < n; ++j) {
        if (mask[j] == 0) row[j] = 0.0f;
        mask[j] = 0;
    }
}

void threshold_strip(float* block, ptrdiff_t stride, int32_t* mask, int mask_stride, int r0,
                     int r1, float x, int n, int m) {
    int32_t* rows[3] = {mask, mask + mask_stride, mask + 2 * mask_stride};
    for (int i = 0; i < 3 * mask_stride; ++i) mask[i] = 0;
    if (r0 > 0) mark_row(block + (r0 - 1) * stride, n, x, rows, 1);
    mark_row(block + r0 * stride, n, x, rows, 2);
    const int limit = r1 == m ? m - 1 : r1;
    for (int r = r0; r < limit; ++r) {
        mark_row(block + (r + 1) * stride, n, x, rows, 3);
        zero_unmarked(block + r * stride, rows[0], n);  // also clears the row for reuse
        int32_t* recycled = rows[0];
        rows[0] = rows[1];
        rows[1] = rows[2];
        rows[2] = recycled;
    }
    if (r1 == m) zero_unmarked(block + (m - 1) * stride, rows[0], n);
}

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
    const __m128i pick = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -128, -128, -128, -128, -128,
                                       -128, -128, -128);
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
                packed = _mm_or_si128(
                    packed, _mm_shuffle_epi8(_mm_loadu_si128(q + r), control(interleave.gather[r])));
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

float max_abs(const float* src, int count) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    __m128 m0 = _mm_setzero_ps(), m1 = _mm_setzero_ps();
    int i = 0;
    // _mm_max_ps(a, m) keeps m when a is a NaN, as the scalar form does.
    for (; i + 8 <= count; i += 8) {
        m0 = _mm_max_ps(_mm_andnot_ps(sign, _mm_loadu_ps(src + i)), m0);
        m1 = _mm_max_ps(_mm_andnot_ps(sign, _mm_loadu_ps(src + i + 4)), m1);
    }
    m0 = _mm_max_ps(m0, m1);
    m0 = _mm_max_ps(m0, _mm_movehl_ps(m0, m0));
    m0 = _mm_max_ss(m0, _mm_shuffle_ps(m0, m0, 1));
    const float head = _mm_cvtss_f32(m0);
    const float tail = scalar_kernels.max_abs(src + i, count - i);
    return tail > head ? tail : head;
}

}  // namespace

const KernelSet sse41_kernels = {
    Isa::sse41,      "sse41",         forward_row, inverse_row, forward_columns,
    inverse_columns, threshold_strip, load_s16,    store_s16,   max_abs,
};
