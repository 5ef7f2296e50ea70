#include "plugin/frame_entry.h"

#include "kernels/kernel_set.h"
#include "plugin/filter_table.h"
#include "plugin/frame_geometry.h"
#include "plugin/host_executor.h"
#include "plugin/host_services.h"
#include "plugin/parameter_store.h"
#include "plugin/process_plane.h"
#include "plugin/selection_box.h"
#include "plugin/views.h"
#include "plugin/window_procedure.h"

FrameGeometry frame_geometry = {};

namespace {

// The kernel table of every frame, chosen on the first.
const KernelSet* plugin_kernels = nullptr;

bool is_sane_frame(const FILTER_PROC_INFO* fpip) {
    return fpip->ycp_edit && fpip->ycp_temp && fpip->w >= 1 && fpip->h >= 1 &&
           fpip->w <= fpip->max_w && fpip->h <= fpip->max_h;
}

// Keeps one Pos track inside [minimum, maximum], with a window update per correction.
void clamp_position(FILTER* fp, int track, int32_t size) {
    fp->track_s[track] = kPosMinimum;
    if (fp->track[track] < kPosMinimum) {
        fp->track[track] = kPosMinimum;
        request_window_update(fp);
    }
    fp->track_e[track] = pos_maximum(size);
}

void clamp_to_maximum(FILTER* fp, int track) {
    if (fp->track[track] > fp->track_e[track]) {
        fp->track[track] = fp->track_e[track];
        request_window_update(fp);
    }
}

void clamp_selection_box(FILTER* fp, const FILTER_PROC_INFO* fpip) {
    clamp_position(fp, kTrackPosX, fpip->w);
    clamp_position(fp, kTrackPosY, fpip->h);
    clamp_to_maximum(fp, kTrackPosX);
    clamp_to_maximum(fp, kTrackPosY);
}

}  // namespace

void use_kernels(const KernelSet* kernels) { plugin_kernels = kernels; }

int64_t working_memory_bytes(std::uintptr_t temp, int32_t W, int32_t H, int32_t threads) {
    const int64_t alignment_slack = static_cast<int64_t>((16 - (temp & 15)) & 15);
    const int64_t plane = static_cast<int64_t>(W) * H * 4;
    const int64_t scratch = scratch_floats_per_thread(W, H) * 4 * threads;
    return alignment_slack + plane + scratch;
}

BOOL func_proc(FILTER* fp, FILTER_PROC_INFO* fpip) {
    if (!is_sane_frame(fpip) || !can_process_frames(fp)) return FALSE;
    const bool editing = fp->exfunc->is_editing(fpip->editp) != 0;
    clamp_selection_box(fp, fpip);
    commit_tracks(fp);

    const int32_t W = padded_size(fpip->w), H = padded_size(fpip->h);
    const int32_t threads = probe_thread_count(fp->exfunc);
    const auto temp = reinterpret_cast<std::uintptr_t>(fpip->ycp_temp);
    const int64_t capacity = static_cast<int64_t>(fpip->max_w) * fpip->max_h * 6;
    if (working_memory_bytes(temp, W, H, threads) > capacity) return FALSE;

    if (!plugin_kernels) plugin_kernels = &preferred_kernels();
    frame_geometry.kernels = plugin_kernels;
    frame_geometry.threads = threads;
    frame_geometry.W = W;
    frame_geometry.H = H;
    frame_geometry.WorkingPlane = reinterpret_cast<float*>((temp + 15) & ~std::uintptr_t{15});
    frame_geometry.ScratchArea = frame_geometry.WorkingPlane + static_cast<int64_t>(W) * H;
    const int64_t after_plane =
        (capacity - static_cast<int64_t>(
                        reinterpret_cast<std::uintptr_t>(frame_geometry.ScratchArea) - temp)) /
        4;
    frame_geometry.scratch_per_thread =
        static_cast<int32_t>(scratch_slice_floats(W, H, threads, after_plane));

    for (int32_t p = 0; p < kPlaneCount; ++p) {
        frame_geometry.current_plane = p;
        if (ProcessPlane(fp, fpip, kLevels) != 0) break;
    }
    if (fp->check[kCheckSelection] != 0 && editing) DrawSelectionOverlay(fp, fpip);
    if (fp->check[kCheckSelection] != 0 && measure_requested != 0) {
        show_row(fp, fp->track[kTrackSel]);
        request_window_update(fp);
    }
    return TRUE;
}
