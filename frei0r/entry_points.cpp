// The frei0r entry points of velmora.so. They translate the host's calls into calls on an
// Instance and let no exception cross into the host.
//
// What the hosts do, and what follows here:
// - f0r_init and f0r_deinit run once per host filter, not once per process (ffmpeg's first
//   filter deinitialises while a second one lives; it unloads and reloads the library whenever
//   the frame size changes), so they do nothing: all state lives in the instances.
// - f0r_get_plugin_info and f0r_get_param_info are called before f0r_init and on every frame
//   from several threads: they return constant data.
// - f0r_construct is called for any size from 1 x 1 and must not fail (ffmpeg stops, melt
//   crashes); it allocates nothing but the instance.
// - f0r_construct is where the host can be told (velmora::warn_if_host_drops_rows): ffmpeg
//   5.1's filter loses the last rows of frames whose width is not a multiple of 16.
// - f0r_update never uses the time argument (milliseconds in ffmpeg, seconds in MLT, garbage
//   after ffmpeg reinitialises), and its result depends on the frame and the settings alone.
#include "frei0r/frei0r_api.h"
#include "frei0r/host_stride.h"
#include "frei0r/instance.h"

using velmora::Instance;

#define VELMORA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

Instance* instance(f0r_instance_t handle) { return static_cast<Instance*>(handle); }

}  // namespace

VELMORA_EXPORT int f0r_init() { return 1; }

VELMORA_EXPORT void f0r_deinit() {}

VELMORA_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (info == nullptr) return;
    info->name = "velmora";
    info->author = "Velmora";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    // Not PACKED32: ffmpeg hands that model's frames over as ARGB.
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 0;
    info->minor_version = 1;
    info->num_params = velmora::kParameterCount;
    info->explanation =
        "Wavelet noise reduction of Y, Cb and Cr. By default (auto, mode best) the noise of each "
        "plane is measured on every frame, and the plane is the mean of four moved CDF 9/7 "
        "transforms with Wiener gains; mode exact, about five times faster, keeps details only "
        "near coefficients above a threshold";
}

VELMORA_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (info != nullptr) velmora::parameter_info(index, *info);
}

VELMORA_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    // Sizes beyond the filter's range still get an instance: it passes frames through (and
    // says so on the first).
    velmora::warn_if_host_drops_rows(__builtin_return_address(0), width, height);
    try {
        return new Instance(width, height);
    } catch (...) {
        return nullptr;
    }
}

VELMORA_EXPORT void f0r_destruct(f0r_instance_t handle) { delete instance(handle); }

VELMORA_EXPORT void f0r_set_param_value(f0r_instance_t handle, f0r_param_t value, int index) {
    if (handle == nullptr) return;
    try {
        instance(handle)->set(index, value);
    } catch (...) {
    }
}

VELMORA_EXPORT void f0r_get_param_value(f0r_instance_t handle, f0r_param_t value, int index) {
    if (handle == nullptr) return;
    try {
        instance(handle)->get(index, value);
    } catch (...) {
    }
}

VELMORA_EXPORT void f0r_update(f0r_instance_t handle, double, const uint32_t* in, uint32_t* out) {
    if (handle == nullptr || in == nullptr || out == nullptr) return;
    try {
        instance(handle)->update(in, out);
    } catch (...) {
    }
}
