// Thresholds as whole numbers of track units, the plug-in's scale that the command line shares:
// at level l one unit is powf(1.4142135, l) / 4 in coefficient magnitude. The powers are fixed
// bit patterns, correctly rounded, so that no math library changes a decision.
#pragma once

#include <cstdint>

#include "wavelet/masked_threshold.h"

namespace velmora {

// Fifteen entries, [3 * level + orientation].
constexpr int kTrackEntries = 3 * kLevels;

// powf(1.4142135, level), correctly rounded, for level 0 .. kLevels - 1.
float sqrt2_power(int level);

// One track unit at `level` in coefficient magnitude: sqrt2_power(level) * 0.25.
float track_unit(int level);

// Thresholds for the finest `levels` levels (the coarser ones stay 0): entry * track_unit.
SubbandThresholds thresholds_from_tracks(const int32_t* entries, int levels);

// A measured coefficient magnitude in track units, truncated: magnitude * (4 / sqrt2_power).
int32_t track_entry(float magnitude, int level);

// Learnt thresholds (box_maxima) as entries of the finest `levels` levels; the entries of the
// coarser levels are left as they are.
void tracks_from_maxima(const SubbandThresholds& maxima, int levels, int32_t* entries);

}  // namespace velmora
