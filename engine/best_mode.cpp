#include "engine/best_mode.h"

#include <cstring>

#include "engine/engine.h"
#include "engine/plane_io.h"
#include "wavelet/band_shrink.h"

namespace velmora {

namespace {

// The moves (dy, dx), summed in this order.
constexpr int32_t kShifts[4][2] = {{0, 0}, {1, 1}, {2, 3}, {3, 2}};
constexpr int kShiftCount = 4;
constexpr float kMeanOfFour = 0.25f;

// Where everything lives for one plane: the working plane and its scratch slices (the engine's
// layout), then the two planes of box sums, then the w x h sum of the results.
struct Layout {
    TransformPlane plane;
    float* row_sums;
    float* pilot_sums;
    float* sum;
};

int64_t area(int32_t W, int32_t H) { return static_cast<int64_t>(W) * H; }

Layout lay_out(float* memory, int32_t w, int32_t h, int32_t threads) {
    const int32_t W = best_padded_size(w), H = best_padded_size(h);
    Layout l;
    l.plane = lay_out_plane(memory, W, H);
    l.row_sums = memory + working_floats(W, H, threads);
    l.pilot_sums = l.row_sums + area(W, H);
    l.sum = l.pilot_sums + area(W, H);
    return l;
}

struct Pass {
    const KernelSet* k;
    const PlaneView* view;
    Layout layout;
    ShrinkSettings shrink;
    int shift;
};

void load_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    load_shifted_plane_band(*p.k, *p.view, p.layout.plane, kShifts[p.shift][0], kShifts[p.shift][1],
                            t, T);
}

void row_energy_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    shrink_row_energy(*p.k, p.layout.plane, p.layout.row_sums, p.shrink, t, T);
}

void pilot_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    shrink_pilot(*p.k, p.layout.plane, p.layout.row_sums, p.layout.pilot_sums, p.shrink, t, T);
}

void apply_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    shrink_apply(*p.k, p.layout.plane, p.layout.pilot_sums, p.shrink, t, T);
}

// The part of the rebuilt plane that covers the picture, added to the sum; after the last move
// the mean goes back into the view.
void accumulate_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    const int32_t w = p.view->width, dy = kShifts[p.shift][0], dx = kShifts[p.shift][1];
    const ItemRange rows = thread_share(p.view->height, t, T);
    for (int32_t y = rows.begin; y < rows.end; ++y) {
        float* sum = p.layout.sum + static_cast<int64_t>(y) * w;
        const float* result =
            p.layout.plane.data + static_cast<int64_t>(y + dy) * p.layout.plane.W + dx;
        if (p.shift == 0) {
            std::memcpy(sum, result, static_cast<size_t>(w) * sizeof(float));
        } else if (p.shift + 1 < kShiftCount) {
            p.k->accumulate_row(sum, result, w, 1.0f);
        } else {
            p.k->accumulate_row(sum, result, w, kMeanOfFour);
            store_rounded_row(*p.k, *p.view, y, sum);
        }
    }
}

}  // namespace

int32_t best_padded_size(int32_t v) { return (v + 3 + 31) & ~31; }

int64_t best_mode_memory_floats(int32_t max_width, int32_t max_height, int32_t threads) {
    const int32_t W = best_padded_size(max_width), H = best_padded_size(max_height);
    return working_floats(W, H, threads < 1 ? 1 : threads) + 2 * area(W, H) +
           area(max_width, max_height);
}

BestMode make_best_mode(const KernelSet& kernels, float* memory, int32_t max_width,
                        int32_t max_height, int32_t threads) {
    return {&kernels, memory, max_width, max_height, threads < 1 ? 1 : threads};
}

void denoise_best(const BestMode& b, const PlaneView& view, float noise, PlaneKind kind,
                  const Executor& ex) {
    if (view.width <= 0 || view.height <= 0) return;
    if (!(noise > 0.0f)) return;
    Pass pass;
    pass.k = b.kernels;
    pass.view = &view;
    pass.layout = lay_out(b.memory, view.width, view.height, b.threads);
    pass.shrink = shrink_settings(noise, kind == PlaneKind::chroma);
    if (!shrink_is_defined(pass.shrink)) return;
    // The transforms are the engine's own, run over this working plane.
    Engine e = make_engine(*b.kernels, b.memory, b.max_width, b.max_height, b.threads, kLevels);
    e.plane = pass.layout.plane;
    e.width = view.width;
    e.height = view.height;
    e.format = view.format;
    for (pass.shift = 0; pass.shift < kShiftCount; ++pass.shift) {
        ex.run(ex.self, load_worker, &pass);
        forward(e, ex);
        ex.run(ex.self, row_energy_worker, &pass);
        ex.run(ex.self, pilot_worker, &pass);
        ex.run(ex.self, apply_worker, &pass);
        inverse(e, ex);
        ex.run(ex.self, accumulate_worker, &pass);
    }
}

}  // namespace velmora
