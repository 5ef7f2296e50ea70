// What one frame of one plane tells about its noise: the finest diagonal details of its whole
// blocks of 8 x 8 samples (4 x 4 coefficients each), and which blocks tell nothing. The values
// of many blocks over several frames are pooled into a noise level (engine/noise_level.h).
#pragma once

#include <cstdint>

#include "engine/executor.h"
#include "engine/light.h"
#include "engine/plane_view.h"
#include "kernels/kernel_set.h"

namespace velmora {

// Samples per side of a block; its finest diagonal coefficients are half as many per side.
constexpr int32_t kNoiseBlockSamples = 8;
constexpr int32_t kNoiseBlockCoefficients = kNoiseBlockSamples / 2;

struct NoiseBlocks {
    int32_t columns, rows;  // whole blocks: width / 8 and height / 8 of the picture
    // (4 columns) x (4 rows) floats, row-major: the finest diagonal (D) coefficients of the
    // blocks, from the unmoved transform of the best mode, in working units. The caller's.
    float* coefficients;
    // columns x rows, row-major: 1 for a block that tells nothing, because its 12 x 12 samples
    // (the block and 2 around it, within the picture) hold a clipped sample (0 or the format's
    // maximum; s16 samples never count as clipped) or its 64 samples are all equal. The
    // caller's.
    uint8_t* left_out;
    // columns x rows, row-major, or null: the mean square of each block's finest horizontal and
    // vertical (H and V) coefficients, 32 of them, in working units squared. Noise gives them
    // what it gives the diagonal ones (times the gains' ratio squared); texture, mostly along the
    // rows and columns, raises them far more. The caller's.
    float* detail = nullptr;
    // columns x rows, row-major, or null: the mean brightness of each block, in working units
    // (exact: a sum of whole numbers over their count). The caller's.
    float* brightness = nullptr;
    // noise_band_coefficient_floats(columns, rows) floats, or null: the coefficients of the
    // detail bands of the first levels (engine/noise_bands.h), from the same transform taken
    // further down. The caller's.
    float* bands = nullptr;
};

// Whole blocks of a picture side.
inline int32_t noise_blocks_along(int32_t side) { return side / kNoiseBlockSamples; }

// Floats of working memory for measuring planes up to max_width x max_height on `threads`
// threads.
int64_t noise_blocks_memory_floats(int32_t max_width, int32_t max_height, int32_t threads);

// Decomposes the picture of `view` by one level (kNoiseBandLevels with `out.bands`) into
// `memory` (16-byte aligned) and fills `out`, whose columns and rows must be the view's block
// counts; the blocks' brightness is read from `light` (engine/light.h). ex.threads <= threads.
void measure_noise_blocks(const KernelSet& k, float* memory, int32_t threads, const PlaneView& view,
                          const Light& light, const Executor& ex, NoiseBlocks& out);

// The mean square of the coefficients of every block not left out, in working units squared,
// written to `values` (room for columns x rows); returns how many. Each sum runs row-major over
// the block in single precision. With `details` (the frame's `detail` must be there) the same
// blocks' detail values are written to it in the same order, and with `brightness` (the
// frame's `brightness` must be there) their brightness.
int64_t spatial_noise_values(const NoiseBlocks& frame, float* values, float* details = nullptr,
                             float* brightness = nullptr);

// Whether block (bx, by) has the same 8 x 8 samples in both views.
bool same_block_samples(const PlaneView& a, const PlaneView& b, int32_t bx, int32_t by);

// Half the mean square of the change of the coefficients between two consecutive frames of the
// same picture size, for every block left out in neither frame whose 8 x 8 samples are not all
// the same in both (a repeated frame or a codec's skipped block tells nothing about the noise).
// `previous_view` and `current_view` hold the two frames' samples. `unchanged`, when given,
// receives how many blocks were left out only for not having changed; `brightness`, when given
// (the current frame's `brightness` must be there), each value's block's in the current frame.
int64_t temporal_noise_values(const NoiseBlocks& previous, const PlaneView& previous_view,
                              const NoiseBlocks& current, const PlaneView& current_view,
                              float* values, int64_t* unchanged = nullptr,
                              float* brightness = nullptr);

}  // namespace velmora
