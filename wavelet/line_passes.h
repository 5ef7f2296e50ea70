// The fused passes of one level over one thread's band of rows. The forward pass lifts each
// input row as it arrives and the columns on a sliding window of the lifted rows, so a level's
// rows are read once and its coefficients written once; the inverse pass thresholds the
// coefficient rows as it takes them, lifts the columns on a sliding window and each finished
// row, and hands the row on. Every value gets the operations of the stage-by-stage passes
// (lifting_passes.h, masked_threshold.h) in the same order, so the results are the same bits.
//
// A level's low-pass rows go to the next level through buffers outside the plane, and the
// inverse passes never write the plane: no thread writes what another one reads. A band reads
// a few rows beyond its own at each end and lifts them again, exactly as their own band does.
#pragma once

#include <cstdint>

#include "kernels/kernel_set.h"
#include "wavelet/masked_threshold.h"
#include "wavelet/prefetch_queue.h"
#include "wavelet/transform_plane.h"

// Rows of floats: row y at data + y * stride.
struct FloatRows {
    float* data;
    int64_t stride;
    float* row(int32_t y) const { return data + y * stride; }
};

// The finest level's rows outside the engine: the forward pass has row y of the padded plane
// (W floats) made in `line`, the inverse pass hands over row y (W floats) to be taken out. The
// forward pass has the row made already split when `split` is given: its even samples into e,
// its odd ones into o (W / 2 each).
// `samples`, when given, tells where row y's samples lie (nothing outside the picture), so that
// the passes can ask the caches for them a few rows ahead.
struct RowConversion {
    void (*convert)(void* context, int32_t y, float* line);
    void* context;
    void (*split)(void* context, int32_t y, float* e, float* o) = nullptr;
    MemoryRange (*samples)(void* context, int32_t y) = nullptr;
};

// Floats from one kept line to the next for lines of w floats: whole cache lines and one more,
// so that the lines of power-of-two widths do not all fall into the same cache sets.
inline int32_t line_stride(int32_t w) { return ((w + 15) & ~15) + 16; }

// 32-bit words from one row of keep marks to the next for rows of n coefficients.
inline int32_t mark_words(int32_t n) { return line_stride((n + 31) / 32); }

// Floats of scratch each thread needs for the fused passes of a plane W wide: the window of
// lines (eight forward, six inverse), the row kernels' pair, and the inverse pass's three rows
// of keep marks for each of the three detail blocks and its line for a finished row.
inline int64_t line_pass_floats(int32_t W) {
    const int64_t line = line_stride(W), half = line_stride(W / 2);
    const int64_t forward = 8 * line + 2 * half,
                  inverse = 7 * line + 2 * half + 9 * mark_words(W / 2);
    return forward > inverse ? forward : inverse;
}

// The low-pass rows between levels, LL_i (W >> i by H >> i) for i = 1 .. levels-1: LL_1 and
// LL_3 in `odd`, LL_2 and LL_4 in `even`. The last level's low pass stays in the plane.
struct LevelBuffers {
    float* odd;
    float* even;

    FloatRows rows(int32_t W, int i) const { return {i & 1 ? odd : even, line_stride(W >> i)}; }
};

inline int64_t level_buffer_floats(int32_t W, int32_t H) {
    return static_cast<int64_t>(line_stride(W >> 1)) * (H >> 1) +
           static_cast<int64_t>(line_stride(W >> 2)) * (H >> 2);
}

// The buffers at `memory`, which holds level_buffer_floats(W, H) floats.
inline LevelBuffers lay_out_level_buffers(float* memory, int32_t W, int32_t H) {
    return {memory, memory + static_cast<int64_t>(line_stride(W >> 1)) * (H >> 1)};
}

// The forward transform of `level` (of `levels`) for thread t of T: the level's input rows
// (level 0: made by `load`; else LL_level) to its detail blocks in the plane and its low pass
// (LL_level+1, in the plane's top-left corner after the last level). The plane's scratch
// slices hold line_pass_floats(plane.W) floats.
void forward_level_band(const KernelSet& k, const TransformPlane& plane,
                        const LevelBuffers& buffers, int level, int levels,
                        const RowConversion& load, int t, int T, const uint16_t* weights = nullptr);

// The row pairs of `level` that its forward pass, and its inverse pass for the first `rows` rows
// of level 0, share among the threads (by weighted_share with the weights given).
int32_t forward_level_pairs(const TransformPlane& plane, int level);
int32_t inverse_level_pairs(const TransformPlane& plane, int level, int32_t rows);

// The thresholding and inverse transform of `level` for thread t of T: the level's low pass
// (LL_level+1) and detail blocks, thresholded, to its rebuilt rows (level 0: handed to
// `store`; else LL_level), as far as the first `rows` rows of level 0 need them. The plane is
// only read.
void inverse_level_band(const KernelSet& k, const TransformPlane& plane,
                        const LevelBuffers& buffers, const SubbandThresholds& thresholds, int level,
                        int levels, const RowConversion& store, int32_t rows, int t, int T,
                        const uint16_t* weights = nullptr);
