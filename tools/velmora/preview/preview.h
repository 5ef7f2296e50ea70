// Pictures for people: frames as 8-bit RGB, before and after side by side, saved as PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/velmora/files/output_file.h"
#include "tools/velmora/stream/y4m.h"

namespace velmora {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // R, G, B per pixel, row after row
};

// One frame as RGB: Y'CbCr with BT.709 coefficients for pictures taller than 576 lines and
// BT.601 otherwise, limited range unless the stream says XCOLORRANGE=FULL; chroma taken from
// the nearest chroma sample. Monochrome streams give grey.
RgbImage frame_to_rgb(const StreamFormat& format, const Frame& frame);

// Plane p of a frame as grey, its whole sample range black to white (for pictures such as the
// coefficient view, which are not colour video).
RgbImage plane_to_grey(const StreamFormat& format, const Frame& frame, int p);

// `left` and `right` beside each other with a grey gap between them.
RgbImage side_by_side(const RgbImage& left, const RgbImage& right, int gap = 8);

// `top` above `bottom` with a grey gap between them, each at the left.
RgbImage above(const RgbImage& top, const RgbImage& bottom, int gap = 8);

// The width x height region at (x, y), which must lie inside the image.
RgbImage crop(const RgbImage& image, int x, int y, int width, int height);

// What changed from `before` to `after` (pictures of one size), each channel on its own:
// 128 + kDifferenceGain * (before - after), clamped to 0..255. Mid-grey where nothing changed;
// what the filter took away shows brighter where the picture was brighter than its result.
constexpr int kDifferenceGain = 4;
RgbImage difference(const RgbImage& before, const RgbImage& after);

// Writes a PNG picture into `file` and commits it. Throws IoError.
void write_png(OutputFile& file, const std::string& path, const RgbImage& image);

// Reads an 8-bit or 16-bit PNG into RGB (grey and palette pictures expanded, alpha dropped).
// Throws IoError.
RgbImage read_png(const std::string& path);

}  // namespace velmora
