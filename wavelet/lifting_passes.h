// The forward and inverse CDF 9/7 passes of one level, each over one thread's share of the
// level's active block: the top-left (W >> level) x (H >> level) region of the plane.
#pragma once

#include "kernels/kernel_set.h"
#include "wavelet/transform_plane.h"

void forward_rows(const KernelSet& k, const TransformPlane& plane, int level, int t, int T);
void forward_columns(const KernelSet& k, const TransformPlane& plane, int level, int t, int T);
void inverse_columns(const KernelSet& k, const TransformPlane& plane, int level, int t, int T);
void inverse_rows(const KernelSet& k, const TransformPlane& plane, int level, int t, int T);
