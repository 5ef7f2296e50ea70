#include "plugin/learning.h"

#include "engine/learning.h"
#include "engine/track_units.h"
#include "plugin/frame_geometry.h"
#include "plugin/parameter_store.h"
#include "plugin/selection_box.h"

void LearnThresholds(FILTER* fp, int levels) {
    const velmora::Box box = {fp->track[kTrackPosX], fp->track[kTrackPosY], kSelectionSize,
                              kSelectionSize};
    const SubbandThresholds maxima =
        velmora::box_maxima(*frame_geometry.kernels, working_plane(), box, levels);
    int32_t* row = ThresholdTable[clamp_plane(frame_geometry.current_plane)];
    for (int l = 0; l < levels && l < kLevelCount; ++l)
        for (int o = 0; o < kOrientationCount; ++o)
            row[3 * l + o] = velmora::track_entry(maxima.value[l][o], l);
}
