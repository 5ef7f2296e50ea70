// One frame through the denoiser: RGBA to Y'CbCr planes, the planes filtered as a still by
// libvelmora in the chosen mode at their noise levels, and back, with the working memory and
// workers of one filter instance.
#pragma once

#include <cstdint>
#include <memory>

#include "frei0r/parameters.h"
#include "velmora/velmora.h"

namespace velmora {

// What a workspace is made for: `threads` workers, and both modes or the exact mode alone
// (less memory), which then filters the frames set to best as well.
struct WorkingSet {
    int threads;
    bool best;
};

// The denoiser's format for width x height frames: three full planes of 12-bit samples.
velmora_format planes_format(int32_t width, int32_t height);

// Bytes of working memory a workspace for width x height frames holds at most: the planes and
// the denoiser's memory in the modes of `set`. 0 for a size the denoiser does not take.
int64_t workspace_bytes(int32_t width, int32_t height, const WorkingSet& set);

class Workspace {
public:
    // For width x height frames. Null when the planes' memory or the denoiser's (what
    // workspace_bytes counts) cannot be had, or the denoiser cannot be opened (a size it does
    // not take, worker threads that cannot be started).
    static std::unique_ptr<Workspace> make(int32_t width, int32_t height, const WorkingSet& set);
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // Filters `in` into `out` (width x height RGBA pixels each, rows width * 4 bytes apart; they
    // may be the same frame). Alpha is copied. The result depends on the frame, the settings and
    // the modes the workspace holds alone, never on an earlier frame or on the number of
    // workers. Not VELMORA_OK when the denoiser failed (its memory is made as the modes and
    // settings first need it, so it may be short on any frame): `out` is then not written.
    velmora_status filter(const Settings& s, const uint8_t* in, uint8_t* out);

private:
    Workspace(int32_t width, int32_t height, const WorkingSet& set);

    const int32_t width_, height_;
    const WorkingSet set_;
    uint16_t* samples_ = nullptr;  // Y, then Cb, then Cr
    VelmoraDenoiser* denoiser_ = nullptr;
    Settings applied_;  // what the denoiser's settings were made from
};

}  // namespace velmora
