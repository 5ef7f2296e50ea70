#include "plugin/plane_stages.h"

#include "plugin/frame_geometry.h"

namespace {

int32_t probed_threads = 1;

void RecordThreadCountWorker(int t, int T, void*, void*) {
    if (t == 0) probed_threads = T;
}

}  // namespace

void run_load(ExecMultiThread exec, WorkerParams* params) {
    exec(LoadPlaneWorker, params, &frame_geometry.current_plane);
}

void run_forward(ExecMultiThread exec, WorkerParams* params, int levels) {
    for (int l = 0; l < levels; ++l) {
        exec(ForwardRowsWorker, params, &l);
        exec(ForwardColumnsWorker, params, &l);
    }
}

void run_threshold(ExecMultiThread exec, WorkerParams* params, int levels) {
    exec(ThresholdWorker, params, &levels);
}

void run_inverse(ExecMultiThread exec, WorkerParams* params, int levels) {
    for (int l = levels - 1; l >= 0; --l) {
        exec(InverseColumnsWorker, params, &l);
        exec(InverseRowsWorker, params, &l);
    }
}

void run_store(ExecMultiThread exec, WorkerParams* params) {
    exec(StorePlaneWorker, params, &frame_geometry.current_plane);
}

int probe_thread_count(ExecMultiThread exec) {
    probed_threads = 1;
    exec(RecordThreadCountWorker, nullptr, nullptr);
    return probed_threads < 1 ? 1 : probed_threads;
}
