// Block motion between two pictures of a stream, measured on their spatially denoised luma
// planes ("pilots"): integer-sample vectors of 8 x 8 blocks from a three-level pyramid search.
//
// Everything is integer arithmetic with a fixed order of candidates, so the vectors are the same
// for every thread count, kernel table and processor. The caller passes the memory and an executor.
#pragma once

#include <cstdint>

#include "engine/executor.h"
#include "engine/plane_view.h"
#include "kernels/kernel_set.h"

namespace velmora {

constexpr int32_t kMotionBlock = 8;     // side of a motion block in luma samples
constexpr int kPyramidLevels = 3;       // full, half and quarter size
constexpr int kMostMotionDistance = 8;  // pictures between two whose motion is searched

// One picture's pilot rounded to 8-bit samples, and the same halved twice.
struct MotionPyramid {
    uint8_t* level[kPyramidLevels];  // row stride = the level's width
    int32_t width[kPyramidLevels];
    int32_t height[kPyramidLevels];
};

// Bytes of a pyramid of a width x height picture: its levels and kPyramidSlack bytes after them,
// which the vector kernels may read past the last row of a block (kernel_set.h, block_sads).
constexpr int64_t kPyramidSlack = 32;
int64_t motion_pyramid_bytes(int32_t width, int32_t height);

// The pyramid's levels laid out in `memory` (motion_pyramid_bytes of them).
MotionPyramid lay_out_motion_pyramid(uint8_t* memory, int32_t width, int32_t height);

// Fills the pyramid from a planar pilot (u8, u10, u12 or u16 of the pyramid's size): level 0 is
// the pilot rounded to 8-bit steps, (v + half) >> (bits - 8) capped at 255; each further level
// averages 2 x 2 samples of the one before, (a + b + c + d + 2) >> 2 (an odd last row or column
// is left out).
void build_motion_pyramid(const PlaneView& pilot, const MotionPyramid& pyramid, const Executor& ex);

struct BlockVector {
    int32_t y, x;  // the block's samples are found at (y, x) further in the other picture
};

// Motion blocks of a picture: the 8 x 8 blocks wholly inside it. A sample right of or below them
// takes the vector of the nearest block; a picture smaller than one block has none, and all of
// its samples take the zero vector.
inline int32_t motion_columns(int32_t width) { return width / kMotionBlock; }
inline int32_t motion_rows(int32_t height) { return height / kMotionBlock; }

// The vector of every motion block of `current` into `reference` (rows x columns, row-major),
// the sums of absolute differences from the kernel table `k` where the candidates lie inside:
// at a quarter size a full search of +-(2 + distance) around zero on 2 x 2 blocks, then at half
// and full size +-2 around twice the coarser vector on 4 x 4 and 8 x 8 blocks. The cost of a
// vector is the sum of absolute differences plus (|y| + |x|) * side * side / 16 (4 per unit of
// length at full size, 1 at half, 0 at quarter); samples outside the reference are taken from
// its nearest edge. Candidates are tried by increasing |dy| + |dx| of their offset, then by
// (dy, dx), and only a strictly lower cost replaces the best so far. `distance` is the number
// of pictures between the two (1 to kMostMotionDistance; beyond, the window of the farthest).
void search_motion(const KernelSet& k, const MotionPyramid& current, const MotionPyramid& reference,
                   int distance, BlockVector* vectors, const Executor& ex);

}  // namespace velmora
