// The element "velmora": a video filter whose buffers go through libvelmora's stream denoiser
// and come out filtered in place, in order, with their own timestamps, latency() frames later.
// It drains at the end of the stream (and before new caps or a new segment), forgets what it
// holds on a flush, reports the frames it holds as latency, and applies changed properties
// (a controller's keyframes) between two frames, after finishing those it holds.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

GType gst_velmora_get_type(void);
#define GST_TYPE_VELMORA (gst_velmora_get_type())

G_END_DECLS
