// Neighbourhood-masked thresholding of the detail blocks: a coefficient survives only when some
// coefficient of its 3x3 neighbourhood within the block reaches the block's threshold.
#pragma once

#include <cstdint>

#include "wavelet/transform_plane.h"

// One track unit at level l in coefficient magnitude: powf(1.4142135, l) * 0.25, correctly
// rounded, as fixed bit patterns so that no math library changes a decision.
float threshold_scale(int level);

// powf(1.4142135, l), correctly rounded.
float sqrt2_power(int level);

// Thresholds rows of every detail block of `levels` levels that fall to thread t of T, with the
// 15 table entries `row` ([3 * level + orientation]).
void threshold_bands(const TransformPlane& plane, const int32_t* row, int levels, int t, int T);
