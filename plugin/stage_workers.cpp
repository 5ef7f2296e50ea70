#include "plugin/stage_workers.h"

#include "engine/plane_io.h"
#include "engine/track_units.h"
#include "plugin/frame_geometry.h"
#include "plugin/parameter_store.h"
#include "wavelet/lifting_passes.h"
#include "wavelet/masked_threshold.h"

namespace {

const velmora::PlaneView& view_of(void* params) { return static_cast<WorkerParams*>(params)->view; }
int value_of(void* p) { return *static_cast<const int*>(p); }
const KernelSet& frame_kernels() { return *frame_geometry.kernels; }

}  // namespace

void LoadPlaneWorker(int t, int T, void* params, void*) {
    velmora::load_plane_band(frame_kernels(), view_of(params), working_plane(), t, T);
}

void StorePlaneWorker(int t, int T, void* params, void*) {
    velmora::store_plane_band(frame_kernels(), view_of(params), working_plane(), t, T);
}

void ForwardRowsWorker(int t, int T, void*, void* level) {
    forward_rows(frame_kernels(), working_plane(), value_of(level), t, T);
}

void ForwardColumnsWorker(int t, int T, void*, void* level) {
    forward_columns(frame_kernels(), working_plane(), value_of(level), t, T);
}

void InverseColumnsWorker(int t, int T, void*, void* level) {
    inverse_columns(frame_kernels(), working_plane(), value_of(level), t, T);
}

void InverseRowsWorker(int t, int T, void*, void* level) {
    inverse_rows(frame_kernels(), working_plane(), value_of(level), t, T);
}

void ThresholdWorker(int t, int T, void*, void* levels) {
    const int count = value_of(levels);
    const int32_t* row = ThresholdTable[clamp_plane(frame_geometry.current_plane)];
    threshold_bands(frame_kernels(), working_plane(), velmora::thresholds_from_tracks(row, count),
                    count, t, T);
}
