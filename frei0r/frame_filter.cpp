#include "frei0r/frame_filter.h"

#include <pthread.h>

#include <algorithm>
#include <new>

#include "frei0r/colour.h"
#include "frei0r/plane_strength.h"

namespace velmora {

velmora_format planes_format(int32_t width, int32_t height) {
    return {width, height, VELMORA_LAYOUT_444, 12};
}

namespace {

size_t planes_bytes(int32_t width, int32_t height) {
    return 3 * sizeof(uint16_t) * static_cast<size_t>(width) * height;
}

// The denoiser's memory for `set`: the most a frame may ask (measured noise, in either mode the
// set holds); 0 for a size the denoiser does not take.
size_t denoiser_bytes(int32_t width, int32_t height, const WorkingSet& set) {
    const velmora_format format = planes_format(width, height);
    size_t most = 0;
    for (bool best : {false, set.best}) {
        const velmora_settings s = denoiser_settings(Settings{}, best, set.threads);
        size_t bytes = 0;
        if (velmora_memory_needed(&format, &s, &bytes) != VELMORA_OK) return 0;
        most = std::max(most, bytes);
    }
    return most;
}

// The stack a new thread takes.
size_t thread_stack_bytes() {
    pthread_attr_t attributes;
    size_t bytes = 0;
    if (pthread_attr_init(&attributes) != 0) return 0;
    pthread_attr_getstacksize(&attributes, &bytes);
    pthread_attr_destroy(&attributes);
    return bytes;
}

}  // namespace

int64_t workspace_bytes(int32_t width, int32_t height, const WorkingSet& set) {
    const size_t bytes = denoiser_bytes(width, height, set);
    return bytes ? static_cast<int64_t>(bytes + planes_bytes(width, height)) : 0;
}

Workspace::Workspace(int32_t width, int32_t height, const WorkingSet& set)
    : width_(width), height_(height), set_(set) {}

std::unique_ptr<Workspace> Workspace::make(int32_t width, int32_t height, const WorkingSet& set) {
    const size_t needed = denoiser_bytes(width, height, set);
    if (needed == 0) return nullptr;
    std::unique_ptr<Workspace> w(new (std::nothrow) Workspace(width, height, set));
    if (!w) return nullptr;
    w->samples_ = new (std::nothrow) uint16_t[planes_bytes(width, height) / sizeof(uint16_t)];
    if (!w->samples_) return nullptr;
    // The denoiser makes its memory as frames first ask for it: whether it can be had, with the
    // stacks of the workers it starts, is asked here, so that a working set without it is
    // passed over before a frame is filtered (memory that runs out in the middle of a frame may
    // stay with the allocator, and less would be left for the next working set).
    void* room = ::operator new(needed + (set.threads - 1) * thread_stack_bytes(), std::nothrow);
    if (!room) return nullptr;
    ::operator delete(room);
    const velmora_format format = planes_format(width, height);
    const velmora_settings s = denoiser_settings(w->applied_, set.best, set.threads);
    if (velmora_open(&w->denoiser_, &format, &s) != VELMORA_OK) return nullptr;
    return w;
}

Workspace::~Workspace() {
    velmora_close(&denoiser_);
    delete[] samples_;
}

velmora_status Workspace::filter(const Settings& s, const uint8_t* in, uint8_t* out) {
    if (!(s == applied_)) {
        const velmora_settings d = denoiser_settings(s, set_.best, set_.threads);
        if (const velmora_status status = velmora_change_settings(denoiser_, &d);
            status != VELMORA_OK)
            return status;
        applied_ = s;
    }
    const size_t plane_samples = static_cast<size_t>(width_) * height_;
    const YCbCrPlanes planes = {samples_, samples_ + plane_samples, samples_ + 2 * plane_samples,
                                width_, height_};
    rgba_to_planes(in, planes, 0, height_);
    velmora_picture picture = {};
    picture.format = planes_format(width_, height_);
    uint16_t* const data[3] = {planes.y, planes.cb, planes.cr};
    for (int p = 0; p < 3; ++p) {
        picture.data[p] = data[p];
        picture.stride[p] = static_cast<ptrdiff_t>(sizeof(uint16_t)) * width_;
    }
    if (const velmora_status status = velmora_denoise_picture(denoiser_, &picture);
        status != VELMORA_OK)
        return status;
    planes_to_rgba(planes, in, out, 0, height_);
    return VELMORA_OK;
}

}  // namespace velmora
