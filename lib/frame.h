// The frames of a stream as the library sees them: the shape of their planes (the one home of
// the chroma subsampling rule), views of a caller's planes, and frames of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/plane_view.h"
#include "velmora/velmora.h"

namespace velmora {

struct FrameShape {
    int width = 0, height = 0;
    velmora_layout layout = VELMORA_LAYOUT_420;
    SampleFormat format = SampleFormat::u8;

    int planes() const { return layout == VELMORA_LAYOUT_MONO ? 1 : 3; }
    int shift_x(int p) const;
    int shift_y(int p) const;
    int plane_width(int p) const { return (width + (1 << shift_x(p)) - 1) >> shift_x(p); }
    int plane_height(int p) const { return (height + (1 << shift_y(p)) - 1) >> shift_y(p); }
    // Bytes of plane p packed (rows without gaps), and of all planes.
    size_t plane_bytes(int p) const;
    size_t frame_bytes() const;
};

// The largest width and height of a frame.
constexpr int kMaxFrameSide = 16384;

// The sample format of a bit depth: 8, 10, 12 or 16 bits; false for any other.
bool sample_format_for_depth(int bit_depth, SampleFormat& format);

// The shape of a format, or false with `why` set when it is not one the library filters.
bool shape_of(const velmora_format& format, FrameShape& shape, const char*& why);

// One frame: a view of each plane and how its lines were sampled.
struct FrameView {
    std::array<PlaneView, 3> plane = {};
    velmora_field_order order = VELMORA_PROGRESSIVE;
    void* user = nullptr;
};

// Lines parity, parity + 2, ... of a plane: one field, without copying.
PlaneView field_of(const PlaneView& plane, int parity);
// Rows first .. first + count - 1 of a plane.
PlaneView rows_of(const PlaneView& plane, int first, int count);

// A frame in the library's own memory, planes packed.
class OwnedFrame {
public:
    // A copy of `from` (of `shape`); the memory is kept for the next copy of the same shape.
    void assign(const FrameView& from, const FrameShape& shape);
    FrameView& view() { return view_; }

private:
    struct Free {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, Free> data_;
    size_t bytes_ = 0;
    FrameView view_;
};

// Samples of one view into another of the same size and format.
void copy_plane(const PlaneView& from, const PlaneView& to);

}  // namespace velmora
