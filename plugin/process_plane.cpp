#include "plugin/process_plane.h"

#include "plugin/frame_geometry.h"
#include "plugin/learning.h"
#include "plugin/parameter_store.h"
#include "plugin/plane_stages.h"
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

    WorkerParams params = {fp, fpip, component_view(fpip, frame_geometry.current_plane)};
    const ExecMultiThread exec = fp->exfunc->exec_multi_thread_func;
    run_load(exec, &params);
    run_forward(exec, &params, levels);
    if (fp->check[kCheckSelection] != 0 && measure_requested != 0) LearnThresholds(fp, levels);
    run_threshold(exec, &params, levels);
    if (view_shown) {
        DrawCoefficientView(fpip, levels);
        return 1;
    }
    run_inverse(exec, &params, levels);
    run_store(exec, &params);
    return 0;
}
