// Where one plane's samples live in a frame: the plug-in's interleaved PIXEL_YC components and
// the command line's planar samples are both described this way.
#pragma once

#include <cstddef>
#include <cstdint>

// s16: the plug-in's signed components, used at their own value.
// u8, u10, u12, u16: planar unsigned samples (u8 in bytes, the others in 16-bit words), shifted
// up into the plug-in's working scale: u8 x16, u10 x4, u12 and u16 x1. A u16 plane thus works
// at 16 times the plug-in's scale, and its thresholds are scaled by 16 to match.
namespace velmora {

enum class SampleFormat { s16, u8, u10, u12, u16 };

struct PlaneView {
    void* base;             // sample (0, 0)
    int32_t sample_stride;  // samples between horizontal neighbours (1 for the planar formats)
    ptrdiff_t row_stride;   // samples between vertical neighbours
    int32_t width;
    int32_t height;
    SampleFormat format;
};

constexpr int sample_bytes(SampleFormat f) { return f == SampleFormat::u8 ? 1 : 2; }

constexpr int sample_bits(SampleFormat f) {
    switch (f) {
    case SampleFormat::u8:
        return 8;
    case SampleFormat::u10:
        return 10;
    case SampleFormat::u12:
        return 12;
    default:
        return 16;
    }
}

// Left shift from a sample to its working value; the store shifts back, rounding.
constexpr int working_shift(SampleFormat f) {
    switch (f) {
    case SampleFormat::u8:
        return 4;
    case SampleFormat::u10:
        return 2;
    default:
        return 0;
    }
}

// Largest sample value the store writes (the planar formats clamp, s16 wraps).
constexpr int32_t sample_maximum(SampleFormat f) {
    return f == SampleFormat::s16 ? 32767 : (int32_t{1} << sample_bits(f)) - 1;
}

// Sample (x, y) of a view as it is stored.
inline int32_t sample_at(const PlaneView& view, int32_t x, int32_t y) {
    const ptrdiff_t at = static_cast<ptrdiff_t>(y) * view.row_stride +
                         static_cast<ptrdiff_t>(x) * view.sample_stride;
    switch (view.format) {
    case SampleFormat::s16:
        return static_cast<const int16_t*>(view.base)[at];
    case SampleFormat::u8:
        return static_cast<const uint8_t*>(view.base)[at];
    default:
        return static_cast<const uint16_t*>(view.base)[at];
    }
}

// Threshold entries for this format per track unit: a u16 plane works at 16 times the scale.
constexpr int32_t threshold_factor(SampleFormat f) { return f == SampleFormat::u16 ? 16 : 1; }

}  // namespace velmora
