// The plug-in libgstvelmora.so: one element, "velmora".
#include <gst/gst.h>

#include "gstreamer/element.h"

namespace {

gboolean plugin_init(GstPlugin* plugin) {
    return gst_element_register(plugin, "velmora", GST_RANK_NONE, GST_TYPE_VELMORA);
}

}  // namespace

#define PACKAGE "velmora"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, velmora,
                  "Wavelet noise reduction on libvelmora", plugin_init, VELMORA_VERSION_TEXT,
                  "unknown", "Velmora", "the Velmora source tree")
