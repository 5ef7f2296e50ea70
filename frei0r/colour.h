// Frames of 8-bit RGBA to and from three planes of 12-bit full-range Y'CbCr with BT.709
// weights, the form in which the engine filters them.
//
// Why this space: the engine's thresholds and noise estimate work on a luma and two chroma
// planes, and users set luma and chroma apart. frei0r RGBA is full range (0..255), so the planes
// are full range too and no colour is clipped; RGBA has no subsampling, so all three planes are
// full size. BT.709 because the hosts decode HD video (the common case in the editors) with it,
// so the luma plane is the source's own luma and the chroma noise stays in the chroma planes;
// any other video only mixes a little luma into chroma. 12-bit samples, 16 steps per 8-bit step
// (Y = 16 Y', Cb = 2048 + 16 Cb'), are the engine's own working scale, and at that precision the
// conversion there and back gives every one of the 2^24 colours back exactly: single precision,
// every operation rounded in a fixed order, no fused multiply-add. So whatever the engine leaves
// untouched comes back bit for bit.
#pragma once

#include <cstdint>

namespace velmora {

// The three planes of a frame: width x height samples each, rows `width` samples apart.
struct YCbCrPlanes {
    uint16_t* y;
    uint16_t* cb;
    uint16_t* cr;
    int32_t width;
    int32_t height;
};

// Rows [row_begin, row_end) of `rgba` (width x height pixels, bytes R, G, B, A, rows width * 4
// bytes apart) into the planes. Alpha is not read.
void rgba_to_planes(const uint8_t* rgba, const YCbCrPlanes& planes, int32_t row_begin,
                    int32_t row_end);

// Rows [row_begin, row_end) of the planes back into `rgba`, each channel rounded to nearest
// (ties to even) and clamped to 0..255; the alpha bytes are copied from `alpha_from` (which may
// be `rgba` itself).
void planes_to_rgba(const YCbCrPlanes& planes, const uint8_t* alpha_from, uint8_t* rgba,
                    int32_t row_begin, int32_t row_end);

// One pixel each way, as the row functions compute it.
struct YCbCr12 {
    int32_t y, cb, cr;
};
YCbCr12 ycbcr_from_rgb(uint8_t r, uint8_t g, uint8_t b);
void rgb_from_ycbcr(const YCbCr12& c, uint8_t rgb[3]);

}  // namespace velmora
