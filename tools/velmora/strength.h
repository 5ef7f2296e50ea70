// How strongly each plane is filtered: thresholds from a noise level, from the plug-in's track
// values, and their display in track units.
#pragma once

#include <string>
#include <string_view>

#include "engine/plane_view.h"
#include "tools/velmora/plane_engine.h"

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

// "P:v0,v1,...,v14" with P one of 0, 1, 2 (or y, cb, cr): false when malformed, with `error`
// saying why.
bool parse_tracks(std::string_view text, int& plane, ThresholdRow& tracks, std::string& error);

}  // namespace velmora
