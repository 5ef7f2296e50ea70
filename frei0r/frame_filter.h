// One frame through the engine: RGBA to Y'CbCr planes, each plane denoised in the chosen mode at
// its noise level, and back, with the working memory and workers of one filter instance.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/best_mode.h"
#include "engine/engine.h"
#include "frei0r/parameters.h"

namespace velmora {

class ThreadPool;

// Largest width and height the filter works on; larger frames pass through unchanged.
constexpr int32_t kMaxFrameSide = 16384;

// The modes a workspace holds memory for: both, or the exact mode alone (about half as much),
// which then filters the frames set to best as well.
enum class Modes { both, exact_only };

// Bytes of working memory a workspace for width x height frames with `threads` workers holds.
int64_t workspace_bytes(int32_t width, int32_t height, int threads, Modes modes);

// The working memory of one instance: the three planes, the engine's memory and its workers.
class Workspace {
public:
    // For width x height frames with up to `threads` workers (1: the calling thread alone).
    // Null when the memory cannot be had.
    static std::unique_ptr<Workspace> make(int32_t width, int32_t height, int threads,
                                           Modes modes = Modes::both);
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // Filters `in` into `out` (width x height RGBA pixels each, rows width * 4 bytes apart; they
    // may be the same frame). Alpha is copied. With `share` the workers (started on first use)
    // take shares of the frame, else the calling thread does it all. The result depends on the
    // frame, the settings and the modes the workspace holds alone, never on an earlier frame or
    // on the number of workers.
    void filter(const Settings& s, const uint8_t* in, uint8_t* out, bool share);

private:
    Workspace() = default;
    Executor executor(bool share);
    // This frame's noise level of the plane in working units: zero when nothing is measurable
    // or the level is below the least the command-line tool filters.
    float measured_noise(const PlaneView& view, const Executor& ex);
    void denoise_plane(const Settings& s, const PlaneView& view, int plane, const Executor& ex);

    struct Buffers;
    std::unique_ptr<Buffers> buffers_;
    std::unique_ptr<ThreadPool> pool_;
    Engine engine_ = {};
    BestMode best_ = {};
    Modes modes_ = Modes::both;
};

}  // namespace velmora
