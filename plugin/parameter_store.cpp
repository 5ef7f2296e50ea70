#include "plugin/parameter_store.h"

ThresholdRow ThresholdTable[kPlaneCount];
int32_t shown_plane = 0;

int32_t clamp_plane(int32_t value) {
    if (value < 0) return 0;
    if (value >= kPlaneCount) return kPlaneCount - 1;
    return value;
}

void commit_tracks(FILTER* fp) {
    int32_t* row = ThresholdTable[clamp_plane(shown_plane)];
    for (int k = 0; k < kLevelTrackCount; ++k) row[k] = fp->track[kTrackFirstLevel + k];
}

void show_row(FILTER* fp, int32_t plane) {
    const int32_t* row = ThresholdTable[clamp_plane(plane)];
    for (int k = 0; k < kLevelTrackCount; ++k) fp->track[kTrackFirstLevel + k] = row[k];
}

void reset_parameter_store() {
    for (auto& row : ThresholdTable)
        for (auto& entry : row) entry = 0;
    shown_plane = 0;
}
