// The fused form of the engine's stages: each level of the transform is one pass down the rows
// (analyse: load and forward; synthesise: threshold, inverse and store).
#include "engine/engine.h"
#include "engine/loaded_plane.h"
#include "engine/plane_io.h"
#include "engine/working_layout.h"
#include "wavelet/line_passes.h"

namespace velmora {

namespace {

// One fused pass over a level, as its workers see it.
struct Pass {
    const Engine* e;
    const PlaneView* view;
    const SubbandThresholds* thresholds;
    int level;
    LevelBuffers buffers;
    double busy[ThreadSpeeds::kThreads];  // seconds each worker spent on the last pass
};

LevelBuffers level_buffers(const Engine& e) {
    return lay_out_working(e.memory, e.plane.W, e.plane.H, e.threads).buffers;
}

// The finest level's rows to and from the view's samples.
struct SampleRows {
    const KernelSet* k;
    const PlaneView* view;
    int32_t W;
};

void load_sample_row(void* c, int32_t y, float* line) {
    const SampleRows& s = *static_cast<SampleRows*>(c);
    load_padded_row(*s.k, *s.view, s.W, y, line);
}

void split_sample_row(void* c, int32_t y, float* e, float* o) {
    const SampleRows& s = *static_cast<SampleRows*>(c);
    load_split_row(*s.k, *s.view, s.W, y, e, o);
}

void store_sample_row(void* c, int32_t y, float* line) {
    const SampleRows& s = *static_cast<SampleRows*>(c);
    store_row(*s.k, *s.view, y, line);
}

MemoryRange sample_row_range(void* c, int32_t y) {
    return sample_row_memory(*static_cast<SampleRows*>(c)->view, y);
}

void forward_level_worker(int t, int T, void* c) {
    Pass& s = *static_cast<Pass*>(c);
    SampleRows samples = {s.e->kernels, s.view, s.e->plane.W};
    // Planar samples go straight into the halves the row lifting splits a row into.
    const bool planar = s.view->format != SampleFormat::s16 && s.view->sample_stride == 1;
    const RowConversion load = {load_sample_row, &samples, planar ? split_sample_row : nullptr,
                                sample_row_range};
    timed_share(s.busy, t, [&] {
        forward_level_band(*s.e->kernels, s.e->plane, s.buffers, s.level, s.e->levels, load, t, T,
                           share_weights(s.e->speeds.forward[s.level], T));
    });
}

void inverse_level_worker(int t, int T, void* c) {
    Pass& s = *static_cast<Pass*>(c);
    SampleRows samples = {s.e->kernels, s.view, s.e->plane.W};
    const RowConversion store = {store_sample_row, &samples, nullptr, sample_row_range};
    timed_share(s.busy, t, [&] {
        inverse_level_band(*s.e->kernels, s.e->plane, s.buffers, *s.thresholds, s.level,
                           s.e->levels, store, s.view->height, t, T,
                           share_weights(s.e->speeds.inverse[s.level], T));
    });
}

}  // namespace

void analyse(Engine& e, const PlaneView& view, const Executor& ex) {
    lay_out_loaded_plane(e, view);
    Pass pass = {&e, &view, nullptr, 0, level_buffers(e), {}};
    for (pass.level = 0; pass.level < e.levels; ++pass.level) {
        ex.run(ex.self, forward_level_worker, &pass);
        learn_speeds(e.speeds.forward[pass.level], ex.threads,
                     forward_level_pairs(e.plane, pass.level), pass.busy);
    }
}

void synthesise(const Engine& e, const SubbandThresholds& thresholds, const PlaneView& view,
                const Executor& ex) {
    Pass pass = {&e, &view, &thresholds, 0, level_buffers(e), {}};
    for (pass.level = e.levels - 1; pass.level >= 0; --pass.level) {
        ex.run(ex.self, inverse_level_worker, &pass);
        learn_speeds(e.speeds.inverse[pass.level], ex.threads,
                     inverse_level_pairs(e.plane, pass.level, view.height), pass.busy);
    }
}

void denoise(Engine& e, const PlaneView& view, const SubbandThresholds& thresholds,
             const Executor& ex) {
    analyse(e, view, ex);
    synthesise(e, thresholds, view, ex);
}

}  // namespace velmora
