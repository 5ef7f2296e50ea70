// The element's properties: every setting of the library a stream can use, each a GObject
// property that a controller can drive (an editor's keyframes), each the field of
// velmora_settings of its name with the library's default (velmora_default_settings).
#pragma once

#include <glib-object.h>

#include "velmora/velmora.h"

namespace velmora_gst {

// Whether two settings agree in every field a property sets.
bool same_properties(const velmora_settings& a, const velmora_settings& b);

// Installs the properties on the element's class, numbered from 1.
void install_properties(GObjectClass* klass);
// False for an id that is not one of them.
bool set_property(velmora_settings& s, guint id, const GValue* value);
bool get_property(const velmora_settings& s, guint id, GValue* value);

}  // namespace velmora_gst
