// How strongly each plane is filtered: thresholds from a noise level, from the plug-in's track
// values, and their display in track units (the one home of the working units per 8-bit step).
#pragma once

#include <string>

#include "engine/plane_view.h"
#include "lib/plane_engine.h"

namespace velmora {

// Working units of one 8-bit sample step: 16, or 256 for 16-bit samples (whose working scale
// is the sample value itself).
double working_units_per_8bit(SampleFormat format);

// Entries that make the coefficient threshold `threshold` working units at every level: one
// entry at level l is track_unit(l) in coefficient magnitude; rounded to nearest.
ThresholdRow row_for_threshold(double threshold);

// K times the noise level sigma (in 8-bit sample steps) at every level.
ThresholdRow row_for_sigma(double sigma_8bit, double k, SampleFormat format);

// The plug-in's fifteen track values as entries for `format` (times threshold_factor).
ThresholdRow row_from_tracks(const ThresholdRow& tracks, SampleFormat format);

// Entries as the plug-in's track values: "768 768 768 543 ..." (with decimals where a 16-bit
// plane's entry is not a whole number of tracks).
std::string format_tracks(const ThresholdRow& row, SampleFormat format);

}  // namespace velmora
