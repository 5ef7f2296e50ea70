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
    velmora::tracks_from_maxima(maxima, levels,
                                ThresholdTable[clamp_plane(frame_geometry.current_plane)]);
}
