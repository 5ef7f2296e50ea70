// The noise of each detail band of a plane, measured rather than derived from the finest
// diagonal band with white-noise gains: demosaicing, compression and scaling take noise from the
// finest bands and move it to coarser ones. The bands of levels 0 .. kNoiseBandLevels - 1 of the
// unmoved transform (engine/noise_blocks.h) are cut into blocks of 4 x 4 coefficients; a block
// of level l covers 2^(l+3) x 2^(l+3) samples, that is 4^l noise blocks. A band's factor is the
// root of its blocks' low quantile over the low quantile of the finest diagonal values of the
// noise blocks inside the same blocks (both of 16 squares, so that the quantiles of pure noise
// stand in the same ratio as the noise energies), over the ratio of the white-noise gains.
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

// The mean square of each block's 16 coefficients, row-major (band 2's values are
// spatial_noise_values'); -1 for a block with a noise block left out. `frame.bands` must be there.
void spatial_band_values(const NoiseBlocks& frame, float* values);

// Half the mean square of the change of each block's coefficients between two consecutive
// frames, row-major; -1 for a block with a noise block that temporal_noise_values passes over
// (left out in either frame, or the same samples in both). `usable` has room for a byte per
// noise block.
void temporal_band_values(const NoiseBlocks& previous, const PlaneView& previous_view,
                          const NoiseBlocks& current, const PlaneView& current_view,
                          uint8_t* usable, float* values);

// One frame's band values, and the detail values of its noise blocks (NoiseBlocks::detail, the
// frame's grid) or null.
struct BandEvidence {
    int32_t columns, rows;
    const float* values;
    const float* detail;
};

struct MeasuredBands {
    BandFactors factors;
    int64_t blocks[kNoiseBands] = {};  // how many blocks each band was measured on (0: none)
};

// Floats of scratch measure_band_factors needs for these frames.
int64_t band_factor_scratch_floats(const BandEvidence* frames, int count);

// The factors from the frames' values pooled in order: only blocks with a value of which at
// most one in 16 noise blocks, counting those around within a quarter of the block's side (a
// coarse band's weights reach past its block), has a detail value above `detail_limit` (frames
// without detail: every block with a value); the quantile is the floor(0.1 (n - 1))-th smallest, as
// for the plane's level. A band with fewer than kLeastBandBlocks blocks, or whose finest diagonal
// quantile is 0, keeps 1 with 0 blocks, as do the levels from kNoiseBandLevels on; the others are
// clamped to [kLeastBandFactor, kMostBandFactor]. The finest diagonal band is 1 by what it is.
MeasuredBands measure_band_factors(const BandEvidence* frames, int count, float detail_limit,
                                   float* scratch);

// The factors of a window from those of its pictures and of its frame changes (either may have
// no band measured): each band's smaller factor where both measured it, as the plane's level is
// the smaller of its two (texture raises a picture's values, motion those of frame changes),
// else the one measured. A band neither measured, and every level from kNoiseBandLevels on,
// takes the finer level's factor: correlated noise grows towards the coarse bands, so that is
// the nearer guess, and white noise measures about 1 at every level.
MeasuredBands combine_band_factors(const MeasuredBands& pictures, const MeasuredBands& changes);

}  // namespace velmora
