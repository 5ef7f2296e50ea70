// Neighbourhood-masked thresholding of the detail blocks: a coefficient survives only when some
// coefficient of its 3x3 neighbourhood within the block reaches the block's threshold.
#pragma once

#include "kernels/kernel_set.h"
#include "wavelet/transform_plane.h"

// Coefficient-magnitude thresholds of the detail blocks, [level][orientation] with orientation
// 0 = H (top right of the level's active block), 1 = V (bottom left), 2 = D (bottom right).
// A threshold of 0 or less (or NaN) keeps every coefficient of its block.
struct SubbandThresholds {
    float value[kLevels][3];
};

// Thresholds the rows of every detail block of the finest `levels` levels that fall to
// thread t of T.
void threshold_bands(const KernelSet& k, const TransformPlane& plane,
                     const SubbandThresholds& thresholds, int levels, int t, int T);
