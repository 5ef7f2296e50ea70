#include "frei0r/colour.h"

#include <emmintrin.h>

namespace velmora {

namespace {

// BT.709 luma weights; the matrix follows from them in single precision, each coefficient one
// correctly rounded operation on the ones before (constant folding rounds as the processor does).
constexpr float kKr = 0.2126f, kKb = 0.0722f;
constexpr float kKg = 1.0f - kKr - kKb;
constexpr float kDb = 2.0f * (1.0f - kKb);  // B = Y + kDb Cb
constexpr float kDr = 2.0f * (1.0f - kKr);  // R = Y + kDr Cr

constexpr float kCbR = -kKr / kDb, kCbG = -kKg / kDb, kCbB = 0.5f;
constexpr float kCrR = 0.5f, kCrG = -kKg / kDr, kCrB = -kKb / kDr;
constexpr float kGCb = -kKb * kDb / kKg, kGCr = -kKr * kDr / kKg;  // G = Y + kGCb Cb + kGCr Cr

constexpr float kSteps = 16.0f;           // 12-bit steps per 8-bit step
constexpr float kInverseSteps = 0.0625f;  // exact: a power of two
constexpr int32_t kMid = 2048, kTop = 4095;

// Round to nearest, ties to even, for |v| < 2^22: adding 1.5 * 2^23 leaves no fraction bits,
// so the sum is rounded in the default mode, which the entry points set.
inline int32_t round_even(float v) {
    constexpr float kShifter = 12582912.0f;
    return static_cast<int32_t>((v + kShifter) - kShifter);
}

inline int32_t clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

inline YCbCr12 forward(float r, float g, float b) {
    float y = kKr * r;
    y = y + kKg * g;
    y = y + kKb * b;
    float cb = kCbR * r;
    cb = cb + kCbG * g;
    cb = cb + kCbB * b;
    float cr = kCrR * r;
    cr = cr + kCrG * g;
    cr = cr + kCrB * b;
    return {clamp(round_even(y * kSteps), 0, kTop), clamp(round_even(cb * kSteps) + kMid, 0, kTop),
            clamp(round_even(cr * kSteps) + kMid, 0, kTop)};
}

inline void inverse(int32_t y12, int32_t cb12, int32_t cr12, uint8_t* rgb) {
    const float y = static_cast<float>(y12) * kInverseSteps;
    const float cb = static_cast<float>(cb12 - kMid) * kInverseSteps;
    const float cr = static_cast<float>(cr12 - kMid) * kInverseSteps;
    const float r = y + kDr * cr;
    float g = y + kGCb * cb;
    g = g + kGCr * cr;
    const float b = y + kDb * cb;
    rgb[0] = static_cast<uint8_t>(clamp(round_even(r), 0, 255));
    rgb[1] = static_cast<uint8_t>(clamp(round_even(g), 0, 255));
    rgb[2] = static_cast<uint8_t>(clamp(round_even(b), 0, 255));
}

// Four pixels at a time with SSE2, which every x86-64 processor has: the same operations in the
// same order as the scalar forms, lane by lane. The clamps move before the rounding, which gives
// the same integers because the bounds are whole numbers; the rounding conversion uses the
// default mode, as round_even does.
void forward4(const uint8_t* rgba, uint16_t* y, uint16_t* cb, uint16_t* cr) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba));
    const __m128i byte = _mm_set1_epi32(0xFF);
    const __m128 r = _mm_cvtepi32_ps(_mm_and_si128(pixels, byte));
    const __m128 g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(pixels, 8), byte));
    const __m128 b = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(pixels, 16), byte));
    const auto weigh = [&](float wr, float wg, float wb) {
        __m128 v = _mm_mul_ps(_mm_set1_ps(wr), r);
        v = _mm_add_ps(v, _mm_mul_ps(_mm_set1_ps(wg), g));
        v = _mm_add_ps(v, _mm_mul_ps(_mm_set1_ps(wb), b));
        return _mm_mul_ps(v, _mm_set1_ps(kSteps));
    };
    const auto whole = [](__m128 v, float lo, float hi, int32_t offset) {
        v = _mm_min_ps(_mm_max_ps(v, _mm_set1_ps(lo)), _mm_set1_ps(hi));
        const __m128i i = _mm_add_epi32(_mm_cvtps_epi32(v), _mm_set1_epi32(offset));
        return _mm_packs_epi32(i, i);  // 0..4095 fits
    };
    constexpr float kTopF = kTop, kMidF = kMid;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(y), whole(weigh(kKr, kKg, kKb), 0.0f, kTopF, 0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cb),
                     whole(weigh(kCbR, kCbG, kCbB), -kMidF, kTopF - kMidF, kMid));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cr),
                     whole(weigh(kCrR, kCrG, kCrB), -kMidF, kTopF - kMidF, kMid));
}

void inverse4(const uint16_t* y12, const uint16_t* cb12, const uint16_t* cr12,
              const uint8_t* alpha_from, uint8_t* rgba) {
    const __m128i zero = _mm_setzero_si128();
    const auto value = [&](const uint16_t* p, int32_t offset) {
        const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        const __m128i i = _mm_sub_epi32(_mm_unpacklo_epi16(s, zero), _mm_set1_epi32(offset));
        return _mm_mul_ps(_mm_cvtepi32_ps(i), _mm_set1_ps(kInverseSteps));
    };
    const __m128 y = value(y12, 0), cb = value(cb12, kMid), cr = value(cr12, kMid);
    const __m128 r = _mm_add_ps(y, _mm_mul_ps(_mm_set1_ps(kDr), cr));
    __m128 g = _mm_add_ps(y, _mm_mul_ps(_mm_set1_ps(kGCb), cb));
    g = _mm_add_ps(g, _mm_mul_ps(_mm_set1_ps(kGCr), cr));
    const __m128 b = _mm_add_ps(y, _mm_mul_ps(_mm_set1_ps(kDb), cb));
    const auto byte = [](__m128 v) {
        v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(255.0f));
        return _mm_cvtps_epi32(v);
    };
    const __m128i alpha =
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha_from)),
                      _mm_set1_epi32(static_cast<int32_t>(0xFF000000u)));
    __m128i pixels = _mm_or_si128(byte(r), _mm_slli_epi32(byte(g), 8));
    pixels = _mm_or_si128(pixels, _mm_slli_epi32(byte(b), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgba), _mm_or_si128(pixels, alpha));
}

}  // namespace

YCbCr12 ycbcr_from_rgb(uint8_t r, uint8_t g, uint8_t b) {
    return forward(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
}

void rgb_from_ycbcr(const YCbCr12& c, uint8_t rgb[3]) { inverse(c.y, c.cb, c.cr, rgb); }

void rgba_to_planes(const uint8_t* rgba, const YCbCrPlanes& planes, int32_t row_begin,
                    int32_t row_end) {
    const int64_t w = planes.width;
    int64_t i = row_begin * w;
    const int64_t end = row_end * w;
    for (; i + 4 <= end; i += 4) forward4(rgba + 4 * i, planes.y + i, planes.cb + i, planes.cr + i);
    for (; i < end; ++i) {
        const uint8_t* p = rgba + 4 * i;
        const YCbCr12 c = ycbcr_from_rgb(p[0], p[1], p[2]);
        planes.y[i] = static_cast<uint16_t>(c.y);
        planes.cb[i] = static_cast<uint16_t>(c.cb);
        planes.cr[i] = static_cast<uint16_t>(c.cr);
    }
}

void planes_to_rgba(const YCbCrPlanes& planes, const uint8_t* alpha_from, uint8_t* rgba,
                    int32_t row_begin, int32_t row_end) {
    const int64_t w = planes.width;
    int64_t i = row_begin * w;
    const int64_t end = row_end * w;
    for (; i + 4 <= end; i += 4)
        inverse4(planes.y + i, planes.cb + i, planes.cr + i, alpha_from + 4 * i, rgba + 4 * i);
    for (; i < end; ++i) {
        uint8_t* p = rgba + 4 * i;
        const uint8_t alpha = alpha_from[4 * i + 3];
        inverse(planes.y[i], planes.cb[i], planes.cr[i], p);
        p[3] = alpha;
    }
}

}  // namespace velmora
