// A second opinion on a plane's noise level, from the kurtosis of the 63 AC channels of 8x8 DCT
// blocks. A natural picture has about the same kurtosis in every band-pass channel; Gaussian
// noise of variance s^2 pulls a channel's kurtosis towards 3 by its share of the channel's
// variance v, so that sqrt(kurtosis - 3) = a (1 - s^2 / v) with a the picture's own; s^2 is fitted
// over the channels. Fine texture, which raises the block measure (noise_level.h) as noise does,
// leaves this one low: on such pictures it under-reads where the block measure over-reads.
//
// Up to kKurtosisBlocks blocks, 4 samples apart or evenly spread further apart, in double
// precision in a fixed order with no library function but the square root: the same bits on
// every machine.
#pragma once

#include <cstdint>

#include "engine/plane_view.h"

namespace velmora {

constexpr int64_t kKurtosisBlocks = 16384;

// The level in working units (the load's scale); 0 for a picture with a flat channel; -1 for one
// smaller than 8 x 8 or one whose channels are all about as Gaussian as noise (kurtosis below 4:
// a smooth picture, or noise alone), which says nothing this way.
double kurtosis_noise_level(const PlaneView& view);

}  // namespace velmora
