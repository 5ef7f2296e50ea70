// Temporal averaging: the noisy pictures around a picture, moved by block motion and weighted
// per sample by how well they match, averaged into one plane with less noise, which a spatial
// denoiser then filters.
//
// Each picture of the window comes with its spatially denoised planes (the "pilots", made by any
// spatial denoiser), the predicted error variance of each pilot (an error map, error_map.h) and
// the motion pyramid of its luma pilot. For a neighbour u of the centre picture t:
//
//   1. The vectors of t's 8 x 8 blocks into u (search_motion on the pyramids).
//   2. Per luma sample, with B the pilots in 8-bit steps, B' and e' the neighbour's pilot and
//      error map read at the sample moved by its block's vector (edges repeated):
//        D  = mean of (B_t - B'_u)^2 over the 3 x 3 samples around (edges repeated),
//        r  = D / (e_t + e'_u + 0.05),        w1 = clamp((3 - r) / 2, 0, 1),
//        ex = max(D - e_t - e'_u, 0) / (e_t + 0.05),   w2 = clamp(2 - ex, 0, 1),
//        w  = min(w1, w2):
//      the pilots may differ by what their own errors explain, and what they do not explain
//      must stay below the centre pilot's own error.
//   3. A neighbour whose mean luma weight is below 1/2 is left out entirely (a scene cut, a
//      flash, motion the search could not follow): the mean is taken over the weights rounded
//      to 1/65536, summed as integers.
//   4. A chroma sample's weight is the smaller of the mean weight of the luma samples it covers
//      and its own weight by rule 2 on the chroma pilots and error maps; its vector is the luma
//      vector shifted right by the subsampling (arithmetic shift).
//   5. A = (Y_t + sum of w_u Y'_u) / (1 + sum of w_u), summed over u in the order given; the
//      noise variance of A relative to one picture's is m = (1 + sum w_u^2) / (1 + sum w_u)^2.
//
// All single precision, every operation rounded, in the order written; the result is the same
// for every thread count and kernel table (the hot loops are the table's block_sads,
// difference_box_u8 (or difference_square_row and box_sum_row for wider samples),
// temporal_weight_row, covered_mean_row, temporal_blend_u8 (temporal_blend_row) and sample
// loads). The caller passes the memory (temporal_memory_bytes), the kernel table and an
// executor.
#pragma once

#include <cstdint>

#include "engine/engine.h"
#include "engine/error_map.h"
#include "engine/executor.h"
#include "engine/motion_search.h"
#include "engine/plane_view.h"

namespace velmora {

// One plane of one picture of the window.
struct TemporalPlane {
    PlaneView noisy;     // u8, u10, u12 or u16
    PlaneView pilot;     // the same format and size
    const float* error;  // its error map (error_map_layout of the plane)
};

// One picture (a frame, or one field of an interlaced frame).
struct TemporalPicture {
    TemporalPlane plane[3];
    const MotionPyramid* pyramid;  // of plane 0's pilot
};

// The planes of the pictures: sizes, subsampling, and which planes are averaged (the others
// only lend luma its weights, or are not read at all).
struct TemporalShape {
    int planes;  // 1 or 3
    int32_t width[3], height[3];
    int shift_x[3], shift_y[3];  // 0 to 2 across, 0 or 1 down
    bool averaged[3];
    // The pictures' samples, for the memory a neighbour's moved samples take: left s16 (zero),
    // there is room for 16-bit ones.
    SampleFormat format;
};

// Bytes of memory temporal_average needs for up to `neighbours` neighbours and `threads` threads:
// the luma weights of every neighbour are kept until the average is made.
int64_t temporal_memory_bytes(const TemporalShape& shape, int neighbours, int threads);

// The averaged planes of `centre` from its `count` neighbours (in the order given;
// distances[i] is the number of pictures between neighbour i and the centre), in working
// values (the engine's scale, sample << working_shift), width x height each, row stride =
// width. `noise_ratio` (m above) is written for the planes where it is not null. Returns the
// number of neighbours that passed the cut guard. `memory` is 16-byte aligned.
int temporal_average(const KernelSet& k, const TemporalShape& shape, const TemporalPicture& centre,
                     const TemporalPicture* neighbours, const int* distances, int count,
                     float* const averaged[3], float* const noise_ratio[3], void* memory,
                     const Executor& ex);

}  // namespace velmora
