#include "gstreamer/element.h"

#include <gst/base/gstbasetransform.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include "gstreamer/formats.h"
#include "gstreamer/properties.h"
#include "gstreamer/stream.h"

using velmora_gst::Stream;

namespace {

// What the element keeps besides its GObject parts. `properties` and `latency` are read by
// other threads, under the object lock; the rest belongs to the streaming thread.
struct State {
    State() {
        velmora_default_settings(&properties);
        in_use = properties;
    }
    velmora_settings properties;
    velmora_settings in_use;
    GstClockTime latency = 0;
    GstClockTime frame_duration = GST_CLOCK_TIME_NONE;
    velmora_format format = {};
    Stream stream;
};

}  // namespace

struct GstVelmora {
    GstVideoFilter parent;
    State* state;
};

struct GstVelmoraClass {
    GstVideoFilterClass parent_class;
};

G_DEFINE_TYPE(GstVelmora, gst_velmora, GST_TYPE_VIDEO_FILTER)

namespace {

GstVelmora* self_of(gpointer object) { return reinterpret_cast<GstVelmora*>(object); }

void set_property(GObject* object, guint id, const GValue* value, GParamSpec* param) {
    GstVelmora* self = self_of(object);
    GST_OBJECT_LOCK(self);
    const bool known = velmora_gst::set_property(self->state->properties, id, value);
    GST_OBJECT_UNLOCK(self);
    if (!known) G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
}

void get_property(GObject* object, guint id, GValue* value, GParamSpec* param) {
    GstVelmora* self = self_of(object);
    GST_OBJECT_LOCK(self);
    const bool known = velmora_gst::get_property(self->state->properties, id, value);
    GST_OBJECT_UNLOCK(self);
    if (!known) G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
}

void finalize(GObject* object) {
    delete self_of(object)->state;
    G_OBJECT_CLASS(gst_velmora_parent_class)->finalize(object);
}

velmora_settings current_properties(GstVelmora* self) {
    GST_OBJECT_LOCK(self);
    const velmora_settings p = self->state->properties;
    GST_OBJECT_UNLOCK(self);
    return p;
}

// The latency is the frames the denoiser holds, in frame durations; a stream of no fixed
// frame rate adds none it could name.
void update_latency(GstVelmora* self) {
    State& s = *self->state;
    const GstClockTime latency = GST_CLOCK_TIME_IS_VALID(s.frame_duration)
                                     ? s.frame_duration * static_cast<guint64>(s.stream.latency())
                                     : 0;
    GST_OBJECT_LOCK(self);
    const bool changed = latency != s.latency;
    s.latency = latency;
    GST_OBJECT_UNLOCK(self);
    if (changed)
        gst_element_post_message(GST_ELEMENT(self), gst_message_new_latency(GST_OBJECT(self)));
}

GstFlowReturn stream_error(GstVelmora* self, const char* what) {
    GST_ELEMENT_ERROR(self, STREAM, FAILED, ("%s", what),
                      ("%s", self->state->stream.error().c_str()));
    return GST_FLOW_ERROR;
}

gboolean set_info(GstVideoFilter* filter, GstCaps*, GstVideoInfo* in_info, GstCaps*,
                  GstVideoInfo*) {
    GstVelmora* self = self_of(filter);
    State& s = *self->state;
    if (!velmora_gst::format_of(*in_info, s.format)) return FALSE;
    s.in_use = current_properties(self);
    if (s.stream.open(s.format, s.in_use) != VELMORA_OK) {
        stream_error(self, "the denoiser cannot be opened for these caps and properties");
        return FALSE;
    }
    s.frame_duration = GST_VIDEO_INFO_FPS_N(in_info) > 0
                           ? gst_util_uint64_scale_int(GST_SECOND, GST_VIDEO_INFO_FPS_D(in_info),
                                                       GST_VIDEO_INFO_FPS_N(in_info))
                           : GST_CLOCK_TIME_NONE;
    update_latency(self);
    return TRUE;
}

// A controller's values for this buffer's time, and the properties they leave: when they
// changed, the frames held are finished and the new ones filter from this buffer on.
GstFlowReturn follow_properties(GstVelmora* self, GstBuffer* buffer) {
    GstBaseTransform* trans = GST_BASE_TRANSFORM(self);
    const GstClockTime time =
        gst_segment_to_stream_time(&trans->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    if (GST_CLOCK_TIME_IS_VALID(time)) gst_object_sync_values(GST_OBJECT(self), time);
    State& s = *self->state;
    const velmora_settings p = current_properties(self);
    if (velmora_gst::same_properties(p, s.in_use)) return GST_FLOW_OK;
    if (s.stream.change(p) != VELMORA_OK)
        return stream_error(self, "the new properties cannot be applied");
    s.in_use = p;
    update_latency(self);
    return GST_FLOW_OK;
}

GstFlowReturn submit_input_buffer(GstBaseTransform* trans, gboolean, GstBuffer* buffer) {
    GstVelmora* self = self_of(trans);
    State& s = *self->state;
    if (!s.stream.is_open()) {
        gst_buffer_unref(buffer);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (const GstFlowReturn flow = follow_properties(self, buffer); flow != GST_FLOW_OK) {
        gst_buffer_unref(buffer);
        return flow;
    }
    const GstVideoInfo& info = GST_VIDEO_FILTER(trans)->in_info;
    if (s.stream.send(buffer, info, velmora_gst::field_order_of(info, buffer)) != VELMORA_OK)
        return stream_error(self, "a frame cannot be filtered");
    return GST_FLOW_OK;
}

GstFlowReturn generate_output(GstBaseTransform* trans, GstBuffer** out) {
    *out = self_of(trans)->state->stream.next();
    return GST_FLOW_OK;
}

// Every buffer held, finished and pushed on, before an event that ends their stream.
void finish_held(GstVelmora* self) {
    Stream& stream = self->state->stream;
    if (!stream.is_open()) return;
    if (stream.drain() != VELMORA_OK) {
        stream_error(self, "the end of the stream cannot be filtered");
        stream.reset();
        return;
    }
    while (GstBuffer* buffer = stream.next())
        gst_pad_push(GST_BASE_TRANSFORM_SRC_PAD(self), buffer);
}

gboolean sink_event(GstBaseTransform* trans, GstEvent* event) {
    GstVelmora* self = self_of(trans);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS:
    case GST_EVENT_CAPS:
    case GST_EVENT_SEGMENT:
        finish_held(self);
        break;
    case GST_EVENT_FLUSH_STOP:
        self->state->stream.reset();
        break;
    default:
        break;
    }
    return GST_BASE_TRANSFORM_CLASS(gst_velmora_parent_class)->sink_event(trans, event);
}

// Upstream's latency and the frames held.
gboolean query(GstBaseTransform* trans, GstPadDirection direction, GstQuery* query) {
    if (direction != GST_PAD_SRC || GST_QUERY_TYPE(query) != GST_QUERY_LATENCY)
        return GST_BASE_TRANSFORM_CLASS(gst_velmora_parent_class)->query(trans, direction, query);
    if (!gst_pad_peer_query(GST_BASE_TRANSFORM_SINK_PAD(trans), query)) return FALSE;
    gboolean live;
    GstClockTime min, max;
    gst_query_parse_latency(query, &live, &min, &max);
    GstVelmora* self = self_of(trans);
    GST_OBJECT_LOCK(self);
    const GstClockTime ours = self->state->latency;
    GST_OBJECT_UNLOCK(self);
    gst_query_set_latency(query, live, min + ours, GST_CLOCK_TIME_IS_VALID(max) ? max + ours : max);
    return TRUE;
}

gboolean stop(GstBaseTransform* trans) {
    self_of(trans)->state->stream.reset();
    return TRUE;
}

GstStaticPadTemplate pad_template(const char* name, GstPadDirection direction) {
    return GST_STATIC_PAD_TEMPLATE(name, direction, GST_PAD_ALWAYS,
                                   GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE(VELMORA_GST_FORMATS)));
}

}  // namespace

static void gst_velmora_class_init(GstVelmoraClass* klass) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->set_property = set_property;
    object->get_property = get_property;
    object->finalize = finalize;
    velmora_gst::install_properties(object);

    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(
        element, "Velmora wavelet denoiser", "Filter/Effect/Video",
        "Wavelet noise reduction of planar Y'CbCr and grey video, 8 to 16 bits, with temporal "
        "averaging; best mode by default",
        "Velmora");
    static GstStaticPadTemplate sink = pad_template("sink", GST_PAD_SINK);
    static GstStaticPadTemplate src = pad_template("src", GST_PAD_SRC);
    gst_element_class_add_static_pad_template(element, &sink);
    gst_element_class_add_static_pad_template(element, &src);

    GstBaseTransformClass* trans = GST_BASE_TRANSFORM_CLASS(klass);
    trans->passthrough_on_same_caps = FALSE;
    trans->submit_input_buffer = submit_input_buffer;
    trans->generate_output = generate_output;
    trans->sink_event = sink_event;
    trans->query = query;
    trans->stop = stop;
    GST_VIDEO_FILTER_CLASS(klass)->set_info = set_info;
}

static void gst_velmora_init(GstVelmora* self) { self->state = new State; }
