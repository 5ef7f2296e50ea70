// The noise of each detail band of a plane, measured rather than derived from the finest
// diagonal band with white-noise gains: demosaicing, compression and scaling take noise from the
// finest bands and move it to coarser ones. The bands of levels 0 .. kNoiseBandLevels - 1 of the
// unmoved transform (engine/noise_blocks.h) are cut into blocks of 4 x 4 coefficients; a block
// of level l covers 2^(l+3) x 2^(l+3) samples, that is 4^l noise blocks. Each block's value is
// half the mean square of its coefficients' change between consecutive frames, which holds the
// noise and no texture (motion the low quantile leaves out). A band's factor is the root of its
// blocks' low quantile over the low quantile of the finest diagonal values of the noise blocks
// inside the same blocks (both of 16 squares, so that the quantiles of pure noise stand in the
// same ratio as the noise energies), over the ratio of the white-noise gains.
//
// A window without frame changes (one picture) measures the same way on its frames' blocks
// weakly textured at the plane's level (engine/noise_level.h), each block's value the mean square
// of its coefficients: where the picture has no texture they hold its noise alone. But a texture
// too fine to be seen among the noise of the finest bands (gravel, grass) fills the coarser bands
// as correlated noise would, and even the finest horizontal and vertical bands of its weakly
// textured blocks read a tenth above the noise, so such factors are used only where the chroma
// planes show the noise correlated (settle_one_picture_bands).
#pragma once

#include <cstdint>

#include "engine/noise_blocks.h"
#include "wavelet/band_shrink.h"

namespace velmora {

constexpr int kNoiseBandLevels = 4;
constexpr int kNoiseBands = 3 * kNoiseBandLevels;  // band b: level b / 3, orientation b % 3

// A band with fewer blocks than this is not measured: its low quantile would be the fourth
// smallest value or an earlier one, too unsure to move a band's noise by.
constexpr int64_t kLeastBandBlocks = 32;
// Measured factors are kept within these. Against the finest diagonal band, demosaicing leaves
// about 0.8 to 1.1 in the other finest bands and 2 in those of level 3, 4:2:0 chroma averaging
// about 1.5; a factor far outside is texture or motion read as noise, and a band shrunk with 6
// times its noise energy loses the picture's shapes.
constexpr float kLeastBandFactor = 0.5f;
constexpr float kMostBandFactor = 2.5f;

// Floats of a frame's band coefficients (NoiseBlocks::bands) and of its band values, for
// `columns` x `rows` noise blocks. Band b holds (columns >> l) x (rows >> l) blocks, l = b / 3:
// 4 x 4 as many coefficients, row-major, and one value each; the bands follow one another.
int64_t noise_band_coefficient_floats(int32_t columns, int32_t rows);
int64_t noise_band_value_floats(int32_t columns, int32_t rows);

// Copies thread t of T's share of every band's coefficients of the decomposed `plane` (at least
// kNoiseBandLevels levels) into `out.bands`.
void copy_noise_bands(const TransformPlane& plane, NoiseBlocks& out, int t, int T);

// Half the mean square of the change of each block's coefficients between two consecutive
// frames, row-major; -1 for a block with a noise block that temporal_noise_values passes over
// (left out in either frame, or the same samples in both). `usable` has room for a byte per
// noise block.
void temporal_band_values(const NoiseBlocks& previous, const PlaneView& previous_view,
                          const NoiseBlocks& current, const PlaneView& current_view,
                          uint8_t* usable, float* values);

// Each block's mean square of its coefficients in one frame, row-major; -1 for a block with a
// noise block left out (NoiseBlocks::left_out). Where the picture has no texture the blocks hold
// its noise alone, so that the frame's weakly textured blocks can stand in for frame changes.
void spatial_band_values(const NoiseBlocks& frame, float* values);

// Sets to -1 the values of every block holding a noise block that `usable` (a byte per noise
// block, row-major) does not pass.
void leave_out_band_blocks(int32_t columns, int32_t rows, const uint8_t* usable, float* values);

// One frame change's band values, or one frame's.
struct BandEvidence {
    int32_t columns, rows;  // noise blocks
    const float* values;
};

struct MeasuredBands {
    BandFactors factors;
    int64_t blocks[kNoiseBands] = {};  // how many blocks each band was measured on (0: none)
    bool one_picture = false;          // measured on weakly textured blocks, not frame changes
};

// Floats of scratch measure_band_factors needs for these frame changes.
int64_t band_factor_scratch_floats(const BandEvidence* changes, int count);

// The factors from the frame changes' values pooled in order: every block with a value; the
// quantile is the floor(0.1 (n - 1))-th smallest, as for the plane's level. A band with fewer
// than kLeastBandBlocks blocks, or whose finest diagonal quantile is 0, is not measured (0
// blocks) and takes the finer level's factor, as do the levels from kNoiseBandLevels on:
// correlated noise grows towards the coarse bands, so that is the nearer guess, and white noise
// measures about 1 at every level. Measured factors are clamped to [kLeastBandFactor,
// kMostBandFactor]; the finest diagonal band is 1 by what it is.
MeasuredBands measure_band_factors(const BandEvidence* changes, int count, float* scratch);

// Measured on one picture, correlated noise and fine texture read alike in a plane's coarser
// bands. But a picture's chroma holds little fine texture while a sensor's noise is correlated
// in every plane: the finest horizontal and vertical chroma bands holding a few hundredths more
// noise than the finest diagonal one, as white noise never makes them, tell a picture's noise
// from its texture. And the finest bands alone, read a little high on any texture, do not
// show what moved to the coarser ones.
//
// `planes`: luma, then the chroma planes (`count` in all). Where the mean of the finest H and V
// factors of the chroma planes measured on one picture (both bands measured) is below
// kCorrelatedChroma, or none was, every one-picture measurement becomes white; otherwise those
// without a band of level 1 measured do, but a chroma plane takes the other chroma plane's
// factors where that one's stand (their noise came through the same sensor and the same
// subsampling). Measurements on frame changes are left as they are.
constexpr float kCorrelatedChroma = 1.065f;
void settle_one_picture_bands(MeasuredBands* planes, int count);

}  // namespace velmora
