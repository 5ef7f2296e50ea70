// Thresholds measured from a box of the picture: the largest coefficient magnitude of every
// detail block over the positions whose footprint lies inside the box.
#pragma once

#include <cstdint>

#include "kernels/kernel_set.h"
#include "wavelet/masked_threshold.h"

namespace velmora {

// A box of picture positions: columns x .. x + width - 1, rows y .. y + height - 1. It may lie
// partly or wholly outside the plane; only the positions inside count.
struct Box {
    int64_t x, y;
    int32_t width, height;
};

// For each of the finest `levels` levels and each orientation, the largest magnitude of the
// block positions (i, j) with i * 2^(l+1) >= x and (i + 1) * 2^(l+1) <= x + width, and the
// same along y; 0 where there is none. Coarser levels stay 0.
SubbandThresholds box_maxima(const KernelSet& k, const TransformPlane& plane, const Box& box,
                             int levels);

}  // namespace velmora
