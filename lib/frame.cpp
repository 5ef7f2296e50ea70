#include "lib/frame.h"

#include <cstring>

#include "lib/enum_value.h"
#include "lib/large_buffer.h"

namespace velmora {

int FrameShape::shift_x(int p) const {
    if (p == 0) return 0;
    switch (layout) {
    case VELMORA_LAYOUT_420:
    case VELMORA_LAYOUT_422:
        return 1;
    case VELMORA_LAYOUT_411:
        return 2;
    default:
        return 0;
    }
}

int FrameShape::shift_y(int p) const { return p != 0 && layout == VELMORA_LAYOUT_420 ? 1 : 0; }

size_t FrameShape::plane_bytes(int p) const {
    return static_cast<size_t>(plane_width(p)) * plane_height(p) * sample_bytes(format);
}

size_t FrameShape::frame_bytes() const {
    size_t bytes = 0;
    for (int p = 0; p < planes(); ++p) bytes += plane_bytes(p);
    return bytes;
}

bool sample_format_for_depth(int bit_depth, SampleFormat& format) {
    switch (bit_depth) {
    case 8:
        format = SampleFormat::u8;
        return true;
    case 10:
        format = SampleFormat::u10;
        return true;
    case 12:
        format = SampleFormat::u12;
        return true;
    case 16:
        format = SampleFormat::u16;
        return true;
    default:
        return false;
    }
}

bool shape_of(const velmora_format& f, FrameShape& shape, const char*& why) {
    if (f.width < 1 || f.height < 1 || f.width > kMaxFrameSide || f.height > kMaxFrameSide) {
        why = "the frame size is not from 1x1 to 16384x16384";
        return false;
    }
    if (!enum_in(f.layout, VELMORA_LAYOUT_420, VELMORA_LAYOUT_MONO)) {
        why = "the layout is none of 4:2:0, 4:2:2, 4:4:4, 4:1:1 and mono";
        return false;
    }
    if (!sample_format_for_depth(f.bit_depth, shape.format)) {
        why = "the bit depth is none of 8, 10, 12 and 16";
        return false;
    }
    shape.width = f.width;
    shape.height = f.height;
    shape.layout = f.layout;
    return true;
}

PlaneView field_of(const PlaneView& plane, int parity) {
    PlaneView field = plane;
    field.base =
        static_cast<char*>(plane.base) + parity * plane.row_stride * sample_bytes(plane.format);
    field.row_stride = 2 * plane.row_stride;
    field.height = (plane.height + 1 - parity) / 2;
    return field;
}

PlaneView rows_of(const PlaneView& plane, int first, int count) {
    PlaneView rows = plane;
    rows.base =
        static_cast<char*>(plane.base) + first * plane.row_stride * sample_bytes(plane.format);
    rows.height = count;
    return rows;
}

void OwnedFrame::Free::operator()(uint8_t* p) const { free_large(p); }

void OwnedFrame::assign(const FrameView& from, const FrameShape& shape) {
    const size_t bytes = shape.frame_bytes();
    if (bytes != bytes_) {
        data_.reset();
        data_.reset(static_cast<uint8_t*>(allocate_large(bytes)));
        bytes_ = bytes;
    }
    uint8_t* at = data_.get();
    view_ = from;
    for (int p = 0; p < shape.planes(); ++p) {
        const int width = shape.plane_width(p);
        view_.plane[p] = {at, 1, width, width, shape.plane_height(p), shape.format};
        copy_plane(from.plane[p], view_.plane[p]);
        at += shape.plane_bytes(p);
    }
}

void copy_plane(const PlaneView& from, const PlaneView& to) {
    const size_t bytes = static_cast<size_t>(sample_bytes(to.format));
    for (int32_t y = 0; y < to.height; ++y)
        std::memcpy(
            static_cast<char*>(to.base) + static_cast<size_t>(y) * to.row_stride * bytes,
            static_cast<const char*>(from.base) + static_cast<size_t>(y) * from.row_stride * bytes,
            static_cast<size_t>(to.width) * bytes);
}

}  // namespace velmora
