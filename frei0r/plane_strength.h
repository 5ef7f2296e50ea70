// From the settings to each plane's noise level (best mode) and thresholds (exact mode). The
// threshold of a plane is K times its noise
// level at every level and orientation, K = 3 as in the command-line tool, times the plane's
// factor (1 for luma, 2 * chroma for the chroma planes). The noise level is the strength's
// (25 * strength^2 8-bit steps, 16 working units each) or, with auto, the level measured on
// that plane of this very frame (its blocks of least detail, as velmora --auto measures one
// frame): the hosts hand an instance any subset of the frames (MLT gives
// each rendering thread its own instance), so nothing measured may carry over to another frame.
//
// The threshold becomes whole track units per level, rounded to nearest, as the command-line
// tool does for the same noise level: strength s filters a 12-bit 4:4:4 plane exactly as
// `velmora --sigma 25s^2` does.
#pragma once

#include "engine/engine.h"
#include "frei0r/parameters.h"

namespace velmora {

// Threshold factor over the noise level.
constexpr double kThresholdFactor = 3.0;

// Working units (of the 12-bit planes) per 8-bit step.
constexpr double kWorkingUnitsPer8Bit = 16.0;

// The plane's factor: 1 for luma (plane 0), 2 * chroma for Cb and Cr.
double plane_factor(const Settings& s, int plane);

// Whether the plane must be decomposed before its thresholds are known (auto measures it).
bool measures_noise(const Settings& s);

// The noise level of `plane` in working units, its factor applied; `measured` is this frame's
// measured level of the plane in working units (used only when measures_noise). Zero when the
// plane is to stay untouched.
double plane_noise(const Settings& s, int plane, float measured);

// The exact mode's thresholds for `plane`: K times plane_noise at every level. All zero when
// the plane is to stay untouched.
SubbandThresholds plane_thresholds(const Settings& s, int plane, float measured);

// The thresholds of a threshold of `working` units at every level, as whole track units.
SubbandThresholds thresholds_for(double working);

bool all_zero(const SubbandThresholds& t);

}  // namespace velmora
