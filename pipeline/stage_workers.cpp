#include "pipeline/stage_workers.h"

#include "host/parameter_store.h"
#include "pipeline/frame_geometry.h"
#include "pipeline/plane_io.h"
#include "wavelet/lifting_passes.h"
#include "wavelet/masked_threshold.h"

namespace {

const PlaneView& view_of(void* params) { return static_cast<WorkerParams*>(params)->view; }
int value_of(void* p) { return *static_cast<const int*>(p); }

}  // namespace

void LoadPlaneWorker(int t, int T, void* params, void*) {
    load_plane_band(view_of(params), working_plane(), t, T);
}

void StorePlaneWorker(int t, int T, void* params, void*) {
    store_plane_band(view_of(params), working_plane(), t, T);
}

void ForwardRowsWorker(int t, int T, void*, void* level) {
    forward_rows(working_plane(), value_of(level), t, T);
}

void ForwardColumnsWorker(int t, int T, void*, void* level) {
    forward_columns(working_plane(), value_of(level), t, T);
}

void InverseColumnsWorker(int t, int T, void*, void* level) {
    inverse_columns(working_plane(), value_of(level), t, T);
}

void InverseRowsWorker(int t, int T, void*, void* level) {
    inverse_rows(working_plane(), value_of(level), t, T);
}

void ThresholdWorker(int t, int T, void*, void* levels) {
    threshold_bands(working_plane(), ThresholdTable[clamp_plane(frame_geometry.current_plane)],
                    value_of(levels), t, T);
}
