// Where one plane's samples live in a frame: the plug-in's interleaved PIXEL_YC components and
// the command line's planar samples are both described this way.
#pragma once

#include <cstddef>
#include <cstdint>

enum class SampleFormat { s16 };

struct PlaneView {
    void* base;              // sample (0, 0)
    int32_t sample_stride;   // samples between horizontal neighbours
    ptrdiff_t row_stride;    // samples between vertical neighbours
    int32_t width;
    int32_t height;
    SampleFormat format;
};
