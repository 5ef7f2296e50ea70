// A plane's noise level from the covariance of its patches of 7 x 7 samples. Noise adds its
// variance to every eigenvalue of that covariance, while texture lives in a few directions, so
// the smallest eigenvalue is the noise's; on the patches whose gradient is weak (the largest
// eigenvalue of the 2 x 2 gradient matrix below what noise of the level gives 99 % of the time,
// or the weakest tenth of them, at least 4 x 49) it holds even where fine texture covers most of
// the picture. The selection and the level are repeated from the level until it stays.
//
// Up to kNoisePatches patches, 3 samples apart or evenly spread further apart, in double
// precision in a fixed order with no library function but the square root: the same bits on
// every machine. The patches are sorted by gradient once, with the sums of their samples and
// products kept every kPatchChunk patches in that order, so that a selection adds at most
// kPatchChunk - 1 patches to sums already made.
#pragma once

#include <cstdint>

#include "engine/plane_view.h"

namespace velmora {

constexpr int kPatchSide = 7;
constexpr int kPatchSamples = kPatchSide * kPatchSide;
constexpr int64_t kNoisePatches = 16384;
constexpr int64_t kPatchChunk = 512;

// Working memory for a plane of any size: the patches' order, and their sums.
constexpr int64_t patch_noise_order_words() { return kNoisePatches; }
constexpr int64_t patch_noise_sum_doubles() {
    return kNoisePatches / kPatchChunk * (kPatchSamples + kPatchSamples * (kPatchSamples + 1) / 2);
}

// The level in working units (the load's scale); -1 for a picture with too few patches to say
// (fewer than 4 kPatchSamples). `order` has patch_noise_order_words() words, `sums`
// patch_noise_sum_doubles() doubles.
double patch_noise_level(const PlaneView& view, uint64_t* order, double* sums);

// The eigenvalues of the symmetric n x n matrix `a` (row-major, a[r][c] == a[c][r] exactly;
// overwritten) by cyclic Jacobi rotations, a fixed number of sweeps, into `values` in ascending
// order.
void symmetric_eigenvalues(double* a, int n, double* values);

}  // namespace velmora
