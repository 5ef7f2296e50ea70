#include "gstreamer/properties.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstddef>

static_assert(sizeof(velmora_mode) == sizeof(int));

namespace velmora_gst {

namespace {

enum class Kind { mode, real, integer, flag, curve };

struct Field {
    const char* name;
    const char* blurb;
    Kind kind;
    double min, max;
    size_t offset;
};

#define VELMORA_FIELD(member) offsetof(velmora_settings, member)

const Field kFields[] = {
    {"mode",
     "best: the mean of four shifted transforms with Wiener gains (the default); exact: "
     "neighbourhood-masked thresholds, about five times faster",
     Kind::mode, 0, 1, VELMORA_FIELD(mode)},
    {"noise-y", "Noise of Y in 8-bit steps (-1: measured, 0: untouched)", Kind::real, -1, 255,
     VELMORA_FIELD(noise[0])},
    {"noise-u", "Noise of U (Cb) in 8-bit steps (-1: measured, 0: untouched)", Kind::real, -1, 255,
     VELMORA_FIELD(noise[1])},
    {"noise-v", "Noise of V (Cr) in 8-bit steps (-1: measured, 0: untouched)", Kind::real, -1, 255,
     VELMORA_FIELD(noise[2])},
    {"noise-curve-y",
     "Best mode: Y's noise by brightness instead of one level, darkest first: levels in 8-bit "
     "steps for the blocks whose brightness (the mean of the luma under them) is 0-31, 32-63, "
     "..., 224-255 (-1: the nearest bin's; empty: none), as velmora --noise-curve prints them",
     Kind::curve, -1, 255, VELMORA_FIELD(noise_curve[0])},
    {"noise-curve-u", "Best mode: U's noise by brightness, as noise-curve-y", Kind::curve, -1, 255,
     VELMORA_FIELD(noise_curve[1])},
    {"noise-curve-v", "Best mode: V's noise by brightness, as noise-curve-y", Kind::curve, -1, 255,
     VELMORA_FIELD(noise_curve[2])},
    {"factor-y", "Y's noise level, given or measured, is multiplied by this (0: untouched)",
     Kind::real, 0, 16, VELMORA_FIELD(noise_factor[0])},
    {"factor-u", "U's noise level, given or measured, is multiplied by this (0: untouched)",
     Kind::real, 0, 16, VELMORA_FIELD(noise_factor[1])},
    {"factor-v", "V's noise level, given or measured, is multiplied by this (0: untouched)",
     Kind::real, 0, 16, VELMORA_FIELD(noise_factor[2])},
    {"k", "Exact mode: thresholds at k times the noise level", Kind::real, 0, 100,
     VELMORA_FIELD(k)},
    {"temporal-radius",
     "Frames before and after each frame averaged into it, with motion (-1: 3 in best mode, 0 "
     "in exact mode); the element's latency grows with it",
     Kind::integer, VELMORA_TEMPORAL_FOR_MODE, VELMORA_MAX_TEMPORAL_RADIUS,
     VELMORA_FIELD(temporal_radius)},
    {"measure-window",
     "Measured noise: frames per measurement window (the latency holds the first window)",
     Kind::integer, 1, 250, VELMORA_FIELD(measure_window)},
    {"measure-every", "Measured noise: a window starts every this many frames", Kind::integer, 1,
     100000, VELMORA_FIELD(measure_every)},
    {"texture-as-noise",
     "Where a window has no frame differences (a still), take the blocks of least detail as "
     "noise instead of correcting for fine texture",
     Kind::flag, 0, 1, VELMORA_FIELD(texture_as_noise)},
    {"threads", "Worker threads (0: one per processor); the output is the same for any",
     Kind::integer, 0, 256, VELMORA_FIELD(threads)},
};

#undef VELMORA_FIELD

constexpr guint kFieldCount = sizeof kFields / sizeof kFields[0];

GType mode_type() {
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        static const GEnumValue kModes[] = {
            {VELMORA_MODE_BEST, "Four shifted transforms with Wiener gains", "best"},
            {VELMORA_MODE_EXACT, "Neighbourhood-masked thresholds", "exact"},
            {0, nullptr, nullptr}};
        g_once_init_leave(&type, g_enum_register_static("VelmoraMode", kModes));
    }
    return type;
}

// The field of `f` in the settings (velmora_mode is an int-sized enum: read as int).
template <class T>
T& at(velmora_settings& s, const Field& f) {
    return *reinterpret_cast<T*>(reinterpret_cast<char*>(&s) + f.offset);
}

template <class T>
const T& at(const velmora_settings& s, const Field& f) {
    return *reinterpret_cast<const T*>(reinterpret_cast<const char*>(&s) + f.offset);
}

GParamSpec* param_of(const Field& f, const velmora_settings& defaults) {
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_CONTROLLABLE);
    switch (f.kind) {
    case Kind::mode:
        return g_param_spec_enum(f.name, f.name, f.blurb, mode_type(), at<int>(defaults, f), flags);
    case Kind::real:
        return g_param_spec_double(f.name, f.name, f.blurb, f.min, f.max, at<double>(defaults, f),
                                   flags);
    case Kind::integer:
        return g_param_spec_int(f.name, f.name, f.blurb, static_cast<int>(f.min),
                                static_cast<int>(f.max), at<int>(defaults, f), flags);
    case Kind::flag:
        return g_param_spec_boolean(f.name, f.name, f.blurb, at<int>(defaults, f) != 0, flags);
    case Kind::curve:  // an array: not for a controller
        return gst_param_spec_array(
            f.name, f.name, f.blurb,
            g_param_spec_double(
                "level", "level", "8-bit steps", f.min, f.max, f.min,
                static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)),
            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));
    }
    return nullptr;
}

// A curve's bins from an array of up to VELMORA_CURVE_BINS numbers (the rest -1: none); all 0
// (no curve) from an empty one.
void set_curve(double* bins, const GValue* value) {
    const guint n = gst_value_array_get_size(value);
    for (guint b = 0; b < VELMORA_CURVE_BINS; ++b) {
        const GValue* item = b < n ? gst_value_array_get_value(value, b) : nullptr;
        bins[b] = n == 0                       ? 0.0
                  : item == nullptr            ? -1.0
                  : G_VALUE_HOLDS_DOUBLE(item) ? g_value_get_double(item)
                  : G_VALUE_HOLDS_INT(item)    ? g_value_get_int(item)
                                               : -1.0;
    }
}

void get_curve(const double* bins, GValue* value) {
    if (std::all_of(bins, bins + VELMORA_CURVE_BINS, [](double v) { return v == 0.0; })) return;
    for (int b = 0; b < VELMORA_CURVE_BINS; ++b) {
        GValue item = G_VALUE_INIT;
        g_value_init(&item, G_TYPE_DOUBLE);
        g_value_set_double(&item, bins[b]);
        gst_value_array_append_and_take_value(value, &item);
    }
}

bool same_field(const velmora_settings& a, const velmora_settings& b, const Field& f) {
    switch (f.kind) {
    case Kind::real:
        return at<double>(a, f) == at<double>(b, f);
    case Kind::curve:
        return std::equal(&at<double>(a, f), &at<double>(a, f) + VELMORA_CURVE_BINS,
                          &at<double>(b, f));
    default:
        return at<int>(a, f) == at<int>(b, f);
    }
}

}  // namespace

bool same_properties(const velmora_settings& a, const velmora_settings& b) {
    for (const Field& f : kFields)
        if (!same_field(a, b, f)) return false;
    return true;
}

void install_properties(GObjectClass* klass) {
    velmora_settings defaults;
    velmora_default_settings(&defaults);
    for (guint id = 1; id <= kFieldCount; ++id)
        g_object_class_install_property(klass, id, param_of(kFields[id - 1], defaults));
}

bool set_property(velmora_settings& p, guint id, const GValue* value) {
    if (id < 1 || id > kFieldCount) return false;
    const Field& f = kFields[id - 1];
    switch (f.kind) {
    case Kind::mode:
        at<int>(p, f) = g_value_get_enum(value);
        break;
    case Kind::real:
        at<double>(p, f) = g_value_get_double(value);
        break;
    case Kind::integer:
        at<int>(p, f) = g_value_get_int(value);
        break;
    case Kind::flag:
        at<int>(p, f) = g_value_get_boolean(value) ? 1 : 0;
        break;
    case Kind::curve:
        set_curve(&at<double>(p, f), value);
        break;
    }
    return true;
}

bool get_property(const velmora_settings& p, guint id, GValue* value) {
    if (id < 1 || id > kFieldCount) return false;
    const Field& f = kFields[id - 1];
    switch (f.kind) {
    case Kind::mode:
        g_value_set_enum(value, at<int>(p, f));
        break;
    case Kind::real:
        g_value_set_double(value, at<double>(p, f));
        break;
    case Kind::integer:
        g_value_set_int(value, at<int>(p, f));
        break;
    case Kind::flag:
        g_value_set_boolean(value, at<int>(p, f) != 0);
        break;
    case Kind::curve:
        get_curve(&at<double>(p, f), value);
        break;
    }
    return true;
}

}  // namespace velmora_gst
