// The engine's working memory for one W x H plane worked on by `threads` threads: the plane,
// each thread's scratch slice (the stage-by-stage column passes' strips or the fused passes'
// lines, whichever is larger, in whole cache lines), then the low-pass rows that pass between
// the fused passes' levels.
#pragma once

#include <cstdint>

#include "wavelet/line_passes.h"
#include "wavelet/transform_plane.h"

namespace velmora {

inline int64_t slice_floats(int32_t W, int32_t H) {
    const int64_t strips = roomy_scratch_floats_per_thread(W, H), lines = line_pass_floats(W);
    return ((strips > lines ? strips : lines) + 15) & ~int64_t{15};
}

inline int64_t working_layout_floats(int32_t W, int32_t H, int32_t threads) {
    return static_cast<int64_t>(W) * H + slice_floats(W, H) * threads + level_buffer_floats(W, H);
}

struct WorkingLayout {
    TransformPlane plane;
    LevelBuffers buffers;
};

// The layout in `memory`, 16-byte aligned, of working_layout_floats(W, H, threads) floats.
inline WorkingLayout lay_out_working(float* memory, int32_t W, int32_t H, int32_t threads) {
    const int64_t slice = slice_floats(W, H);
    float* scratch = memory + static_cast<int64_t>(W) * H;
    return {{memory, W, H, scratch, static_cast<int32_t>(slice)},
            lay_out_level_buffers(scratch + slice * threads, W, H)};
}

}  // namespace velmora
