// The noise of a box of a picture that the user knows to be flat (a wall, the sky, a grey card),
// as best mode learns it: the level from the finest diagonal details of the noise blocks wholly
// inside the box, as a picture's level is measured (engine/noise_level.h), and the noise of each
// detail band from its blocks wholly inside the box, as frame changes give it
// (engine/noise_bands.h). The box holding nothing but noise, every block inside it counts: no
// texture is left out, and camera noise shows how it is correlated where one picture's
// measurement cannot tell it from texture.
#pragma once

#include <cstdint>

#include "engine/learning.h"
#include "engine/noise_bands.h"
#include "engine/noise_level.h"

namespace velmora {

struct LearntNoise {
    NoiseLevel level;     // found: false where fewer than kNoiseLevelBlocks blocks lie in the box
    MeasuredBands bands;  // white where the level is not found or `frame` has no bands
};

// Floats of scratch learn_noise needs for a picture of columns x rows noise blocks.
int64_t learnt_noise_scratch_floats(int32_t columns, int32_t rows);

// From the noise blocks of one picture (with their bands for band factors) and a box in its
// samples, which may reach outside it.
LearntNoise learn_noise(const NoiseBlocks& frame, const Box& box, float* scratch);

}  // namespace velmora
