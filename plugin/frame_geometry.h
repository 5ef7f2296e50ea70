// Where the current frame's working memory lies: written by the frame handler while no worker
// runs, read by every worker of the frame.
#pragma once

#include <cstdint>

#include "kernels/kernel_set.h"
#include "wavelet/transform_plane.h"

struct FrameGeometry {
    int32_t W;  // frame width rounded up to a multiple of 32: the WorkingPlane's row stride
    int32_t H;  // frame height rounded up the same way
    float* WorkingPlane;
    float* ScratchArea;
    int32_t scratch_per_thread;  // floats in each worker thread's ScratchArea slice
    int32_t threads;             // worker threads the host runs each stage on
    int32_t current_plane;
    const KernelSet* kernels;  // the arithmetic kernels the frame's workers use
};

extern FrameGeometry frame_geometry;

inline TransformPlane working_plane() {
    return {frame_geometry.WorkingPlane, frame_geometry.W, frame_geometry.H,
            frame_geometry.ScratchArea, frame_geometry.scratch_per_thread};
}
