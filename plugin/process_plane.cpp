#include "plugin/process_plane.h"

#include "engine/engine.h"
#include "engine/track_units.h"
#include "plugin/frame_geometry.h"
#include "plugin/host_executor.h"
#include "plugin/learning.h"
#include "plugin/parameter_store.h"
#include "plugin/views.h"
#include "plugin/window_procedure.h"

velmora::PlaneView component_view(FILTER_PROC_INFO* fpip, int32_t p) {
    return {reinterpret_cast<int16_t*>(fpip->ycp_edit) + p,
            3,
            3 * static_cast<ptrdiff_t>(fpip->max_w),
            fpip->w,
            fpip->h,
            velmora::SampleFormat::s16};
}

int32_t ProcessPlane(FILTER* fp, FILTER_PROC_INFO* fpip, int32_t levels) {
    const bool editing = fp->exfunc->is_editing(fpip->editp) != 0;
    const bool view_shown = fp->check[kCheckCoefficientView] != 0 && editing;
    const bool selected = frame_geometry.current_plane == clamp_plane(fp->track[kTrackSel]);
    if (view_shown && !selected) return 0;

    // The engine works in the frame's WorkingPlane and ScratchArea, on the host's threads.
    velmora::Engine e = velmora::engine_over_plane(*frame_geometry.kernels, working_plane(),
                                                   frame_geometry.threads, levels);
    const velmora::Executor ex = host_executor(fp->exfunc, frame_geometry.threads);
    const velmora::PlaneView component = component_view(fpip, frame_geometry.current_plane);
    velmora::load(e, component, ex);
    velmora::forward(e, ex);
    if (fp->check[kCheckSelection] != 0 && measure_requested != 0) LearnThresholds(fp, levels);
    const int32_t* row = ThresholdTable[clamp_plane(frame_geometry.current_plane)];
    velmora::threshold(e, velmora::thresholds_from_tracks(row, levels), ex);
    if (view_shown) {
        DrawCoefficientView(fpip, levels);
        return 1;
    }
    velmora::inverse(e, ex);
    velmora::store(e, component, ex);
    return 0;
}
