#include "gstreamer/formats.h"

namespace velmora_gst {

namespace {

// The layout whose chroma shifts are these; the shifts of a format the element lists are
// always one of them.
bool layout_of(int shift_x, int shift_y, velmora_layout& layout) {
    struct Shifts {
        int x, y;
        velmora_layout layout;
    };
    static constexpr Shifts kLayouts[] = {{1, 1, VELMORA_LAYOUT_420},
                                          {1, 0, VELMORA_LAYOUT_422},
                                          {0, 0, VELMORA_LAYOUT_444},
                                          {2, 0, VELMORA_LAYOUT_411}};
    for (const Shifts& s : kLayouts)
        if (s.x == shift_x && s.y == shift_y) {
            layout = s.layout;
            return true;
        }
    return false;
}

}  // namespace

bool format_of(const GstVideoInfo& info, velmora_format& format) {
    const GstVideoFormatInfo* f = info.finfo;
    if (f == nullptr || GST_VIDEO_FORMAT_INFO_IS_COMPLEX(f)) return false;
    format.width = static_cast<int>(GST_VIDEO_INFO_WIDTH(&info));
    format.height = static_cast<int>(GST_VIDEO_INFO_HEIGHT(&info));
    format.bit_depth = static_cast<int>(GST_VIDEO_FORMAT_INFO_DEPTH(f, 0));
    if (GST_VIDEO_FORMAT_INFO_N_COMPONENTS(f) == 1) {
        format.layout = VELMORA_LAYOUT_MONO;
    } else if (GST_VIDEO_FORMAT_INFO_N_PLANES(f) != 3 ||
               !layout_of(static_cast<int>(GST_VIDEO_FORMAT_INFO_W_SUB(f, 1)),
                          static_cast<int>(GST_VIDEO_FORMAT_INFO_H_SUB(f, 1)), format.layout)) {
        return false;
    }
    return velmora_plane_count(&format) > 0;
}

velmora_field_order field_order_of(const GstVideoInfo& info, const GstBuffer* buffer) {
    if (!GST_VIDEO_INFO_IS_INTERLACED(&info)) return VELMORA_PROGRESSIVE;
    if (GST_VIDEO_INFO_INTERLACE_MODE(&info) == GST_VIDEO_INTERLACE_MODE_MIXED &&
        !GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_INTERLACED))
        return VELMORA_PROGRESSIVE;
    switch (GST_VIDEO_INFO_FIELD_ORDER(&info)) {
    case GST_VIDEO_FIELD_ORDER_TOP_FIELD_FIRST:
        return VELMORA_TOP_FIELD_FIRST;
    case GST_VIDEO_FIELD_ORDER_BOTTOM_FIELD_FIRST:
        return VELMORA_BOTTOM_FIELD_FIRST;
    default:
        return GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_TFF)
                   ? VELMORA_TOP_FIELD_FIRST
                   : VELMORA_BOTTOM_FIELD_FIRST;
    }
}

velmora_picture picture_of(GstVideoFrame& frame, const velmora_format& format,
                           velmora_field_order order) {
    velmora_picture p = {};
    p.format = format;
    for (int c = 0; c < velmora_plane_count(&format); ++c) {
        p.data[c] = GST_VIDEO_FRAME_COMP_DATA(&frame, c);
        p.stride[c] = GST_VIDEO_FRAME_COMP_STRIDE(&frame, c);
    }
    p.field_order = order;
    p.user = &frame;
    return p;
}

}  // namespace velmora_gst
