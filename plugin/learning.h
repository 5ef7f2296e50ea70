// Thresholds learned from the picture under the SelectionBox.
#pragma once

#include "sdk/aviutl_filter.h"

// Row current_plane of the ThresholdTable := for every level and orientation, the largest
// coefficient magnitude of the block positions whose footprint lies inside the SelectionBox, in
// track units, truncated. Windows are clipped to their blocks.
void LearnThresholds(FILTER* fp, int levels);
