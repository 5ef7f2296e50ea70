// The C interface: handles, status codes and messages around the stream.
#include <new>
#include <string>
#include <system_error>

#include "lib/enum_value.h"
#include "lib/frame.h"
#include "lib/large_buffer.h"
#include "lib/settings.h"
#include "lib/stream.h"
#include "lib/strength.h"
#include "velmora/velmora.h"

#ifndef VELMORA_VERSION_TEXT
#error "VELMORA_VERSION_TEXT is set by the build"
#endif

using velmora::FrameShape;
using velmora::FrameView;

struct VelmoraDenoiser {
    velmora_format format;
    FrameShape shape;
    velmora_settings settings;
    velmora::Stream stream;
    std::string error;

    VelmoraDenoiser(const velmora_format& f, const FrameShape& s, const velmora_settings& settings,
                    const KernelSet& kernels)
        : format(f), shape(s), settings(settings), stream(settings, s, kernels) {}
};

namespace {

velmora_status fail(VelmoraDenoiser* d, velmora_status status, const std::string& why) {
    if (d) d->error = why;
    return status;
}

// Runs `body` on `d`, turning what it throws into a status and a message.
template <class Body>
velmora_status guarded(VelmoraDenoiser* d, Body&& body) {
    if (!d) return VELMORA_ERROR_ARGUMENT;
    d->error.clear();
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return fail(d, VELMORA_ERROR_MEMORY, "out of memory");
    } catch (const std::system_error& e) {
        return fail(d, VELMORA_ERROR_RESOURCES,
                    std::string("cannot start a worker thread (") + e.what() + ")");
    }
}

bool same_format(const velmora_format& a, const velmora_format& b) {
    return a.width == b.width && a.height == b.height &&
           velmora::enum_value(a.layout) == velmora::enum_value(b.layout) &&
           a.bit_depth == b.bit_depth;
}

std::string format_text(const velmora_format& f) {
    static const char* const kLayouts[] = {"4:2:0", "4:2:2", "4:4:4", "4:1:1", "mono"};
    const int layout = velmora::enum_value(f.layout);
    const bool known = velmora::enum_in(f.layout, VELMORA_LAYOUT_420, VELMORA_LAYOUT_MONO);
    return std::to_string(f.width) + "x" + std::to_string(f.height) + " " +
           (known ? kLayouts[layout] : "unknown layout") + " " + std::to_string(f.bit_depth) +
           "-bit";
}

// The frame a picture describes, or false with `why` set.
bool frame_of(const VelmoraDenoiser& d, const velmora_picture& p, FrameView& frame,
              std::string& why) {
    if (!same_format(p.format, d.format)) {
        why = "a " + format_text(p.format) + " picture given to a denoiser of " +
              format_text(d.format) + " frames";
        return false;
    }
    if (!velmora::enum_in(p.field_order, VELMORA_PROGRESSIVE, VELMORA_BOTTOM_FIELD_FIRST)) {
        why = "the picture's field order is none of progressive, top first and bottom first";
        return false;
    }
    const int bytes = velmora::sample_bytes(d.shape.format);
    for (int i = 0; i < d.shape.planes(); ++i) {
        const int width = d.shape.plane_width(i);
        if (!p.data[i] || p.stride[i] % bytes != 0 || p.stride[i] / bytes < width) {
            why = "plane " + std::to_string(i) +
                  (p.data[i] ? " has a row stride of " + std::to_string(p.stride[i]) +
                                   " bytes, not a whole number of samples of at least " +
                                   std::to_string(width)
                             : " is missing");
            return false;
        }
        frame.plane[i] = {p.data[i],     1, p.stride[i] / bytes, width, d.shape.plane_height(i),
                          d.shape.format};
    }
    frame.order = p.field_order;
    frame.user = p.user;
    return true;
}

// Hands the frame `picture` describes to `use`, or fails with what is wrong with it.
template <class Use>
velmora_status with_frame(VelmoraDenoiser* d, const velmora_picture& picture, Use use) {
    FrameView frame;
    std::string why;
    if (!frame_of(*d, picture, frame, why)) return fail(d, VELMORA_ERROR_ARGUMENT, why);
    use(frame);
    return VELMORA_OK;
}

void say(const velmora_settings& s, const std::string& text) {
    if (s.log) s.log(s.log_user, VELMORA_LOG_ERROR, text.c_str());
}

}  // namespace

extern "C" {

const char* velmora_version(void) { return VELMORA_VERSION_TEXT; }

const char* velmora_status_text(velmora_status status) {
    switch (status) {
    case VELMORA_OK:
        return "ok";
    case VELMORA_AGAIN:
        return "no picture ready";
    case VELMORA_ERROR_ARGUMENT:
        return "invalid argument";
    case VELMORA_ERROR_ORDER:
        return "call out of order";
    case VELMORA_ERROR_MEMORY:
        return "out of memory";
    case VELMORA_ERROR_RESOURCES:
        return "cannot start a worker thread";
    case VELMORA_ERROR_UNSUPPORTED:
        return "not supported here";
    }
    return "unknown status";
}

int velmora_plane_count(const velmora_format* format) {
    FrameShape shape;
    const char* why = nullptr;
    return format && velmora::shape_of(*format, shape, why) ? shape.planes() : 0;
}

velmora_status velmora_plane_shape_of(const velmora_format* format, int plane,
                                      velmora_plane_shape* out) {
    FrameShape shape;
    const char* why = nullptr;
    if (!format || !out || !velmora::shape_of(*format, shape, why) || plane < 0 ||
        plane >= shape.planes())
        return VELMORA_ERROR_ARGUMENT;
    *out = {shape.plane_width(plane), shape.plane_height(plane), shape.shift_x(plane),
            shape.shift_y(plane)};
    return VELMORA_OK;
}

int velmora_temporal_radius(const velmora_settings* settings) {
    return settings ? velmora::temporal_radius(*settings) : 0;
}

velmora_status velmora_open(VelmoraDenoiser** out, const velmora_format* format,
                            const velmora_settings* settings) {
    if (!out) return VELMORA_ERROR_ARGUMENT;
    *out = nullptr;
    if (!format || !settings) return VELMORA_ERROR_ARGUMENT;
    FrameShape shape;
    const char* why = nullptr;
    if (!velmora::shape_of(*format, shape, why)) {
        say(*settings, why);
        return VELMORA_ERROR_ARGUMENT;
    }
    std::string problem;
    if (!velmora::check_settings(*settings, shape, problem)) {
        say(*settings, problem);
        return VELMORA_ERROR_ARGUMENT;
    }
    const KernelSet* kernels = velmora::kernel_table(*settings);
    if (!kernels) {
        say(*settings, "this processor lacks the instruction set asked for");
        return VELMORA_ERROR_UNSUPPORTED;
    }
    try {
        *out = new VelmoraDenoiser(*format, shape, *settings, *kernels);
        return VELMORA_OK;
    } catch (const std::bad_alloc&) {
        say(*settings, "out of memory");
        return VELMORA_ERROR_MEMORY;
    } catch (const std::system_error& e) {
        say(*settings, std::string("cannot start a worker thread (") + e.what() + ")");
        return VELMORA_ERROR_RESOURCES;
    }
}

void velmora_close(VelmoraDenoiser** d) {
    if (!d) return;
    delete *d;
    *d = nullptr;
}

const char* velmora_last_error(const VelmoraDenoiser* d) { return d ? d->error.c_str() : ""; }

int velmora_latency(const VelmoraDenoiser* d) { return d ? d->stream.latency() : 0; }

velmora_status velmora_send(VelmoraDenoiser* d, const velmora_picture* picture) {
    return guarded(d, [&] {
        if (!picture) return fail(d, VELMORA_ERROR_ARGUMENT, "no picture");
        if (d->stream.drained())
            return fail(d, VELMORA_ERROR_ORDER,
                        "a frame sent after the end of the stream (reset to start another)");
        return with_frame(d, *picture, [&](const FrameView& frame) { d->stream.send(frame); });
    });
}

velmora_status velmora_receive(VelmoraDenoiser* d, velmora_picture* picture) {
    return guarded(d, [&] {
        if (!picture) return fail(d, VELMORA_ERROR_ARGUMENT, "no picture");
        FrameView frame;
        if (!d->stream.receive(frame)) return VELMORA_AGAIN;
        *picture = {};
        picture->format = d->format;
        const int bytes = velmora::sample_bytes(d->shape.format);
        for (int i = 0; i < d->shape.planes(); ++i) {
            picture->data[i] = frame.plane[i].base;
            picture->stride[i] = frame.plane[i].row_stride * bytes;
        }
        picture->field_order = frame.order;
        picture->user = frame.user;
        return VELMORA_OK;
    });
}

velmora_status velmora_drain(VelmoraDenoiser* d) {
    return guarded(d, [&] {
        d->stream.drain();
        return VELMORA_OK;
    });
}

velmora_status velmora_reset(VelmoraDenoiser* d) {
    return guarded(d, [&] {
        d->stream.reset();
        return VELMORA_OK;
    });
}

velmora_status velmora_change_settings(VelmoraDenoiser* d, const velmora_settings* settings) {
    return guarded(d, [&] {
        if (!settings) return fail(d, VELMORA_ERROR_ARGUMENT, "no settings");
        if (d->stream.busy())
            return fail(d, VELMORA_ERROR_ORDER,
                        "settings changed while frames of a stream are held (drain and receive "
                        "them, or reset, first)");
        std::string why;
        if (!velmora::check_settings(*settings, d->shape, why))
            return fail(d, VELMORA_ERROR_ARGUMENT, why);
        const velmora_settings& was = d->settings;
        if (settings->threads != was.threads || settings->isa != was.isa ||
            settings->executor.run != was.executor.run ||
            settings->executor.self != was.executor.self ||
            settings->executor.threads != was.executor.threads)
            return fail(d, VELMORA_ERROR_ARGUMENT,
                        "the threads, the executor and the instruction set stay those the "
                        "denoiser was opened with");
        d->settings = *settings;
        d->stream.change(*settings);
        return VELMORA_OK;
    });
}

velmora_status velmora_denoise_picture(VelmoraDenoiser* d, const velmora_picture* picture) {
    return guarded(d, [&] {
        if (!picture) return fail(d, VELMORA_ERROR_ARGUMENT, "no picture");
        if (d->stream.busy())
            return fail(d, VELMORA_ERROR_ORDER,
                        "a still given while frames of a stream are held (drain and receive "
                        "them, or reset, first)");
        return with_frame(d, *picture, [&](FrameView& frame) { d->stream.denoise_picture(frame); });
    });
}

velmora_status velmora_measure_noise(VelmoraDenoiser* d, const velmora_picture* picture,
                                     double sigma[3]) {
    return guarded(d, [&] {
        if (!picture || !sigma) return fail(d, VELMORA_ERROR_ARGUMENT, "no picture or no result");
        return with_frame(d, *picture, [&](const FrameView& frame) {
            for (int p = 0; p < 3; ++p) sigma[p] = -1.0;
            d->stream.measure(frame, sigma);
        });
    });
}

velmora_status velmora_levels_in_use(const VelmoraDenoiser* d, int plane, double* sigma,
                                     double tracks[VELMORA_TRACKS]) {
    if (!d || plane < 0 || plane >= d->shape.planes()) return VELMORA_ERROR_ARGUMENT;
    const velmora::PlaneLevels levels = d->stream.levels();
    if (sigma) *sigma = levels.eight_bit[plane];
    if (tracks) {
        const int32_t factor = velmora::threshold_factor(d->shape.format);
        for (int i = 0; i < VELMORA_TRACKS; ++i)
            tracks[i] = static_cast<double>(levels.rows[plane][i]) / factor;
    }
    return VELMORA_OK;
}

static_assert(VELMORA_CURVE_BINS == velmora::kNoiseCurveBins);

velmora_status velmora_measured_curve(const VelmoraDenoiser* d, int plane,
                                      velmora_noise_curve* curve) {
    if (!d || !curve || plane < 0 || plane >= d->shape.planes()) return VELMORA_ERROR_ARGUMENT;
    const velmora::MeasuredCurve c = d->stream.curve(plane);
    if (!c.known) return VELMORA_AGAIN;
    for (int b = 0; b < VELMORA_CURVE_BINS; ++b) {
        curve->sigma[b] = c.sigma[b];
        curve->blocks[b] = static_cast<long long>(c.blocks[b]);
    }
    curve->first_frame = static_cast<long long>(c.first);
    curve->last_frame = static_cast<long long>(c.last);
    return VELMORA_OK;
}

static_assert(VELMORA_BAND_LEVELS == kLevels);

velmora_status velmora_measured_bands(const VelmoraDenoiser* d, int plane,
                                      velmora_noise_bands* bands) {
    if (!d || !bands || plane < 0 || plane >= d->shape.planes()) return VELMORA_ERROR_ARGUMENT;
    const velmora::MeasuredCurve c = d->stream.curve(plane);
    if (!c.known || d->settings.mode != VELMORA_MODE_BEST) return VELMORA_AGAIN;
    for (int l = 0; l < VELMORA_BAND_LEVELS; ++l)
        for (int o = 0; o < 3; ++o) {
            bands->factor[l][o] = c.bands.factors.f[l][o];
            bands->blocks[l][o] = l < velmora::kNoiseBandLevels
                                      ? static_cast<long long>(c.bands.blocks[3 * l + o])
                                      : 0;
        }
    bands->first_frame = static_cast<long long>(c.first);
    bands->last_frame = static_cast<long long>(c.last);
    return VELMORA_OK;
}

velmora_status velmora_memory_needed(const velmora_format* format, const velmora_settings* settings,
                                     size_t* bytes) {
    if (!format || !settings || !bytes) return VELMORA_ERROR_ARGUMENT;
    FrameShape shape;
    const char* why = nullptr;
    std::string problem;
    if (!velmora::shape_of(*format, shape, why) ||
        !velmora::check_settings(*settings, shape, problem))
        return VELMORA_ERROR_ARGUMENT;
    *bytes = static_cast<size_t>(velmora::Stream::memory_bytes(*settings, shape));
    return VELMORA_OK;
}

void* velmora_alloc_buffer(size_t bytes) {
    try {
        return velmora::allocate_large(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void velmora_free_buffer(void* buffer) { velmora::free_large(buffer); }

}  // extern "C"
