// Temporal radius R: each frame filtered with the R frames before and after it. A sliding window of
// 2R + 1 frames keeps each frame's noisy samples, its pilot (the frame filtered on its own by the
// mode in use, made once when the frame comes in), the pilot's error maps and motion pyramids.
// When a frame's window is complete (or the stream has ended) its neighbours are averaged into
// it (engine/temporal.h) and the average is filtered again with the frame's own levels: in best
// mode with the noise energy scaled by the average's noise ratio m, in exact mode with the
// frame's thresholds. A picture to which no neighbour was added is its pilot.
//
// The first and last frames use the neighbours that exist. An interlaced frame is averaged
// field by field with the same fields (the same line parity) of its neighbours; a neighbour
// that is progressive where the frame is interlaced, or the other way round, is not used.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "engine/motion_search.h"
#include "engine/temporal.h"
#include "lib/denoiser.h"
#include "lib/frame.h"
#include "lib/workers.h"

namespace velmora {

class TemporalFilter {
public:
    // Frames are passed on as soon as they are finished: the frame given to push() (its
    // samples replaced by the result) and its index.
    using Emit = std::function<void(const FrameView& frame, int64_t index)>;

    TemporalFilter(int radius, const FrameShape& shape, const KernelSet& kernels,
                   Denoiser& denoiser, Workers& workers);

    // Takes frame `index` (consecutive from the first pushed). The frame is kept, unchanged,
    // until it is emitted, at most radius + 1 frames later.
    void push(const FrameView& frame, int64_t index, const Emit& emit);

    // The stream has ended: emits the frames still kept.
    void finish(const Emit& emit);

    // Frames kept at most at once between push() calls.
    int frames_kept() const { return radius_ + 1; }

    // Bytes of memory the filter holds at most for frames of `shape` on `threads` threads.
    static int64_t memory_bytes(int radius, const FrameShape& shape, int threads);

private:
    // One picture of a frame: the whole frame, or one of its fields.
    struct Picture {
        std::array<std::vector<float>, 3> error;
        std::vector<uint8_t> pyramid_memory;
        MotionPyramid pyramid = {};
    };
    struct Slot {
        int64_t index = -1;
        velmora_field_order order = VELMORA_PROGRESSIVE;
        OwnedFrame noisy, pilot;
        PlaneLevels levels;
        std::array<Picture, 2> pictures;  // [0] the frame or its top field, [1] the bottom field
    };

    Slot& slot(int64_t index) { return slots_[static_cast<size_t>(index % slots_.size())]; }
    static PlaneView view(const FrameView& frame, int p, int parity);
    void make_pilot(Slot& s, int64_t index);
    void finish_frame(int64_t index, const Emit& emit);
    // Returns the number of neighbours averaged into the picture.
    int average_picture(int64_t index, int parity);

    int radius_;
    const FrameShape& f_;
    const KernelSet& kernels_;
    Denoiser& denoiser_;
    Workers& workers_;
    std::vector<Slot> slots_;
    std::deque<std::pair<FrameView, int64_t>> kept_;
    int64_t first_ = -1, last_ = -1;  // the frames pushed so far

    // The averaged planes of the picture being finished, in working values as floats, and as
    // 16-bit working values the spatial filter reads, and their noise ratios, per picture.
    std::array<std::vector<float>, 3> averaged_;
    std::array<std::array<std::vector<uint16_t>, 3>, 2> rounded_;
    std::array<std::array<std::vector<float>, 3>, 2> ratio_;
    std::vector<std::max_align_t> memory_;
    // The neighbours of the picture being averaged and their distances in frames.
    std::vector<TemporalPicture> neighbours_;
    std::vector<int> distances_;
};

}  // namespace velmora
