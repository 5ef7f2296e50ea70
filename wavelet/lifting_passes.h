// The forward and inverse CDF 9/7 passes of one level, each over one thread's share of the
// level's active block.
#pragma once

#include "wavelet/transform_plane.h"

constexpr int kLevels = 5;

void forward_rows(const TransformPlane& plane, int level, int t, int T);
void forward_columns(const TransformPlane& plane, int level, int t, int T);
void inverse_columns(const TransformPlane& plane, int level, int t, int T);
void inverse_rows(const TransformPlane& plane, int level, int t, int T);
