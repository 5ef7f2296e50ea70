#include "engine/engine.h"

#include "engine/coefficient_view.h"
#include "engine/loaded_plane.h"
#include "engine/noise_estimate.h"
#include "engine/plane_io.h"
#include "engine/working_layout.h"
#include "wavelet/lifting_passes.h"

namespace velmora {

namespace {

struct Stage {
    const Engine* e;
    const PlaneView* view;
    const SubbandThresholds* thresholds;
    int level;
};

void load_worker(int t, int T, void* c) {
    const Stage& s = *static_cast<Stage*>(c);
    load_plane_band(*s.e->kernels, *s.view, s.e->plane, t, T);
}

void store_worker(int t, int T, void* c) {
    const Stage& s = *static_cast<Stage*>(c);
    store_plane_band(*s.e->kernels, *s.view, s.e->plane, t, T);
}

template <void (*pass)(const KernelSet&, const TransformPlane&, int, int, int)>
void lifting_worker(int t, int T, void* c) {
    const Stage& s = *static_cast<Stage*>(c);
    pass(*s.e->kernels, s.e->plane, s.level, t, T);
}

void threshold_worker(int t, int T, void* c) {
    const Stage& s = *static_cast<Stage*>(c);
    threshold_bands(*s.e->kernels, s.e->plane, *s.thresholds, s.e->levels, t, T);
}

void run(const Executor& ex, WorkerFunction fn, Stage& stage) { ex.run(ex.self, fn, &stage); }

}  // namespace

void lay_out_loaded_plane(Engine& e, const PlaneView& view) {
    e.width = view.width;
    e.height = view.height;
    e.format = view.format;
    if (!e.memory) return;  // the caller's plane stays
    e.plane =
        lay_out_working(e.memory, padded_size(view.width), padded_size(view.height), e.threads)
            .plane;
}

int64_t engine_memory_floats(int32_t max_width, int32_t max_height, int32_t threads) {
    return working_layout_floats(padded_size(max_width), padded_size(max_height),
                                 threads < 1 ? 1 : threads);
}

Engine make_engine(const KernelSet& kernels, float* memory, int32_t max_width, int32_t max_height,
                   int32_t threads, int levels) {
    Engine e = {};
    e.kernels = &kernels;
    e.memory = memory;
    e.max_width = max_width;
    e.max_height = max_height;
    e.threads = threads < 1 ? 1 : threads;
    e.levels = levels < 1 ? 1 : levels > kLevels ? kLevels : levels;
    e.speeds = equal_pass_speeds();
    return e;
}

Engine engine_over_plane(const KernelSet& kernels, const TransformPlane& plane, int32_t threads,
                         int levels) {
    Engine e = make_engine(kernels, nullptr, plane.W, plane.H, threads, levels);
    e.plane = plane;
    return e;
}

void load(Engine& e, const PlaneView& view, const Executor& ex) {
    lay_out_loaded_plane(e, view);
    Stage stage = {&e, &view, nullptr, 0};
    run(ex, load_worker, stage);
}

void forward(const Engine& e, const Executor& ex) {
    Stage stage = {&e, nullptr, nullptr, 0};
    for (stage.level = 0; stage.level < e.levels; ++stage.level) {
        run(ex, lifting_worker<forward_rows>, stage);
        run(ex, lifting_worker<forward_columns>, stage);
    }
}

void threshold(const Engine& e, const SubbandThresholds& thresholds, const Executor& ex) {
    Stage stage = {&e, nullptr, &thresholds, 0};
    run(ex, threshold_worker, stage);
}

void inverse(const Engine& e, const Executor& ex) {
    Stage stage = {&e, nullptr, nullptr, 0};
    for (stage.level = e.levels - 1; stage.level >= 0; --stage.level) {
        run(ex, lifting_worker<inverse_columns>, stage);
        run(ex, lifting_worker<inverse_rows>, stage);
    }
}

void store(const Engine& e, const PlaneView& view, const Executor& ex) {
    Stage stage = {&e, &view, nullptr, 0};
    run(ex, store_worker, stage);
}

SubbandThresholds box_maxima(const Engine& e, const Box& box) {
    return box_maxima(*e.kernels, e.plane, box, e.levels);
}

float estimate_noise(const Engine& e) { return estimate_noise(e.plane, e.width, e.height); }

void draw_coefficient_view(const Engine& e, const PlaneView& canvas) {
    // A 16-bit plane works at 16 times the plug-in's scale; the factor is a power of two, so
    // bringing its coefficients back is exact.
    const float scale = 1.0f / static_cast<float>(threshold_factor(e.format));
    draw_coefficient_view(e.plane, e.levels, scale, canvas);
}

Executor serial_executor(int threads) {
    const int T = threads < 1 ? 1 : threads;
    const auto run_all = [](void* self, WorkerFunction fn, void* context) {
        const int count = static_cast<int>(reinterpret_cast<std::intptr_t>(self));
        for (int t = 0; t < count; ++t) fn(t, count, context);
    };
    return {T, run_all, reinterpret_cast<void*>(static_cast<std::intptr_t>(T))};
}

}  // namespace velmora
