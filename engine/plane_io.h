// Conversion between a plane of frame samples and the padded floating-point working plane.
#pragma once

#include "engine/plane_view.h"
#include "kernels/kernel_set.h"
#include "wavelet/prefetch_queue.h"
#include "wavelet/transform_plane.h"

namespace velmora {

// Index of the sample that position i of the padded line takes from a visible line of n samples:
// whole-sample symmetric extension (i = n takes n-2, n+1 takes n-3, ...), reflected again at
// each end when the padding is longer than the line.
int32_t mirror_index(int32_t i, int32_t n);

// mirror_index extended to positions before the line: i < 0 takes -i (whole-sample symmetry
// about sample 0).
int32_t symmetric_index(int32_t i, int32_t n);

// The mean of the samples in columns [x0, x1) of rows [y0, y1) of the view (at most 2^15 of
// them), in working units: their exact sum scaled to the working scale, over their count,
// rounded once.
float area_mean(const PlaneView& view, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// Thread t of T: its share of the plane's rows, with the picture moved right by dx and down by
// dy (0 or more): position (x, y) takes the sample at (symmetric_index(x - dx, width),
// symmetric_index(y - dy, height)).
void load_shifted_plane_band(const KernelSet& k, const PlaneView& view, const TransformPlane& plane,
                             int32_t dy, int32_t dx, int t, int T);
// Row y of that moved picture, padded to W, into `line`.
void load_shifted_row(const KernelSet& k, const PlaneView& view, int32_t W, int32_t y, int32_t dy,
                      int32_t dx, float* line);

// Row y of the view from `src` (view.width floats): every value rounded to nearest even, then
// as store_plane_band.
void store_rounded_row(const KernelSet& k, const PlaneView& view, int32_t y, const float* src);
// Row y (0 <= y < W's plane height) of a padded plane W wide, made from the view's samples into
// `line`: the mirrored row below the picture, the mirrored samples right of it.
void load_padded_row(const KernelSet& k, const PlaneView& view, int32_t W, int32_t y, float* line);

// The same row split for the row lifting, its even samples into e and its odd ones into o
// (W / 2 each), for planar views (u8, u10, u12, u16 with sample_stride 1).
void load_split_row(const KernelSet& k, const PlaneView& view, int32_t W, int32_t y, float* e,
                    float* o);

// Visible row y of a plane from `line` into the view, as store_plane_band stores it.
void store_row(const KernelSet& k, const PlaneView& view, int32_t y, const float* line);

// The memory of row y's samples; nothing when the view has no row y.
MemoryRange sample_row_memory(const PlaneView& view, int32_t y);

// Thread t of T: visible rows of its share, then its share of the columns of the bottom padding.
void load_plane_band(const KernelSet& k, const PlaneView& view, const TransformPlane& plane, int t,
                     int T);

// Thread t of T: its share of the visible rows back into the frame. The last (width mod 16)
// columns truncate toward zero, the others round to nearest even. Planar formats then shift
// back to their depth, rounding, and clamp to their range; s16 keeps the low 16 bits.
void store_plane_band(const KernelSet& k, const PlaneView& view, const TransformPlane& plane, int t,
                      int T);

}  // namespace velmora
