// The raw video formats the element takes, and how a GStreamer frame is lent to the library:
// planes by component (so that YV12's swapped chroma planes land right), with their own row
// strides, and the field order each buffer carries.
#pragma once

#include <gst/video/video.h>

#include "velmora/velmora.h"

namespace velmora_gst {

// The caps of both pads: the planar Y'CbCr and grey formats the library filters.
#define VELMORA_GST_FORMATS                                                               \
    "{ I420, YV12, Y42B, Y444, Y41B, GRAY8, I420_10LE, I420_12LE, I422_10LE, I422_12LE, " \
    "Y444_10LE, Y444_12LE, Y444_16LE, GRAY16_LE }"

// The library's format of a negotiated stream; false for one it does not take.
bool format_of(const GstVideoInfo& info, velmora_format& format);

// Progressive, or the order of the two fields of an interlaced buffer: from the caps'
// field-order where they give one, else from the buffer's flags.
velmora_field_order field_order_of(const GstVideoInfo& info, const GstBuffer* buffer);

// A mapped frame as the library's picture, `user` set to the frame.
velmora_picture picture_of(GstVideoFrame& frame, const velmora_format& format,
                           velmora_field_order order);

}  // namespace velmora_gst
