// Error maps: the predicted error variance of a spatially denoised picture (a "pilot"), per
// block of samples. The temporal filter (temporal.h) weighs the difference between two pilots
// against their error maps.
//
// A detail coefficient of level l and orientation o that the denoiser multiplied by a gain g
// (0 or 1 for a threshold, the Wiener gain in best mode) keeps g times its noise energy
// (sigma * G[l][o])^2, G the subband's noise gain; a nearly orthonormal synthesis spreads it
// evenly over the 2^(l+1) x 2^(l+1) samples the coefficient stands for, and the low band left
// after five levels, kept whole, adds (sigma * G_A)^2 / 4^5 everywhere. Per block:
//   e = ((sum over bands, in the order l = 0..4, o = H, V, D, of
//          (sum over the band's coefficients that cover the block, by rows then columns, of
//           g * the number of the block's samples the coefficient covers) * G[l][o]^2 / 4^(l+1))
//        / the block's samples + G_A^2 / 4^5) * sigma^2,
// single precision, every operation rounded, in the order written.
#pragma once

#include <cstdint>

#include "engine/engine.h"
#include "engine/executor.h"
#include "engine/motion_search.h"
#include "wavelet/band_shrink.h"
#include "wavelet/transform_plane.h"

namespace velmora {

// An error map holds the predicted error variance of a pilot, in 8-bit steps squared, per block
// of (8 >> shift_x) x (8 >> shift_y) samples of a plane (one motion block of luma), blocks at
// the right and bottom edges cut to the picture.
struct ErrorMapLayout {
    int32_t block_width, block_height;
    int32_t columns, rows;
};

ErrorMapLayout error_map_layout(int32_t width, int32_t height, int shift_x, int shift_y);
inline int64_t error_map_floats(const ErrorMapLayout& l) {
    return static_cast<int64_t>(l.columns) * l.rows;
}

// The error map of a pilot made by thresholding: `e` holds the thresholded coefficients of a
// five-level transform of the plane (after threshold(), before inverse()), whose noise was
// `sigma` 8-bit steps. A coefficient that survived has g = 1, one that was removed g = 0 (its
// error is a bias that neighbouring pictures share).
void thresholded_error_map(const Engine& e, float sigma, const ErrorMapLayout& layout, float* map,
                           const Executor& ex);

// The transform of a picture of width x height samples at the top left of its plane: `gains`
// holds the gain g of every detail coefficient at the coefficient's place in a plane laid out
// like `plane`. With `bands`, each subband's noise is that of correlated noise: G[l][o] becomes
// G[l][o] * factor[l][o] (rounded) before it is squared; the low band keeps G_A. With `ratio`
// (width x height, row stride the width: each sample's noise energy over sigma^2, as a noise
// curve gives it, the same over each 8 x 8 block of the plane and so over each block of the map),
// each block's e is then multiplied by the ratio at its first sample: the pilot's error follows
// the local noise. For thread t of T, the rows of blocks of its share.
void gain_error_map_rows(const TransformPlane& plane, const float* gains, int32_t width,
                         int32_t height, float sigma, const ErrorMapLayout& layout, float* map,
                         int t, int T, const BandFactors* bands = nullptr,
                         const float* ratio = nullptr);

}  // namespace velmora
