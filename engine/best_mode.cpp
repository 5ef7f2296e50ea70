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
// layout), then the two planes of box sums, the w x h sum of the results and the levels of the
// noise ratio map, (W >> (l+1)) x (H >> (l+1)) each.
struct Layout {
    TransformPlane plane;
    float* row_sums;
    float* pilot_sums;
    float* sum;
    float* ratio[kLevels];
};

int64_t area(int32_t W, int32_t H) { return static_cast<int64_t>(W) * H; }

int64_t ratio_floats(int32_t W, int32_t H) {
    int64_t floats = 0;
    for (int l = 0; l < kLevels; ++l) floats += area(W >> (l + 1), H >> (l + 1));
    return floats;
}

Layout lay_out(float* memory, int32_t w, int32_t h, int32_t threads) {
    const int32_t W = best_padded_size(w), H = best_padded_size(h);
    Layout l;
    l.plane = lay_out_plane(memory, W, H);
    l.row_sums = memory + working_floats(W, H, threads);
    l.pilot_sums = l.row_sums + area(W, H);
    l.sum = l.pilot_sums + area(W, H);
    float* ratio = l.sum + area(w, h);
    for (int k = 0; k < kLevels; ++k) {
        l.ratio[k] = ratio;
        ratio += area(W >> (k + 1), H >> (k + 1));
    }
    return l;
}

struct Pass {
    const KernelSet* k;
    const PlaneView* view;    // where the result goes
    const PlaneView* source;  // what is filtered
    const BestModeExtras* extras;
    Layout layout;
    ShrinkSettings shrink;
    ShrinkMaps maps;
    int shift;
    int level;  // of the noise ratio map being built
    float error_sigma;
};

void load_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    load_shifted_plane_band(*p.k, *p.source, p.layout.plane, kShifts[p.shift][0],
                            kShifts[p.shift][1], t, T);
}

// One level of the noise ratio map: means of 2 x 2 values of the map below it, or of the
// samples' ratios at the moved places for level 0.
void ratio_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    const int l = p.level;
    const int32_t n = p.layout.plane.W >> (l + 1), m = p.layout.plane.H >> (l + 1);
    const int32_t w = p.view->width, h = p.view->height;
    const int32_t dy = kShifts[p.shift][0], dx = kShifts[p.shift][1];
    float* out = p.layout.ratio[l];
    const ItemRange rows = thread_share(m, t, T);
    for (int32_t i = rows.begin; i < rows.end; ++i) {
        float* dst = out + static_cast<int64_t>(i) * n;
        if (l == 0) {
            const float* ratio = p.extras->noise_ratio;
            const float* a = ratio + static_cast<int64_t>(symmetric_index(2 * i - dy, h)) * w;
            const float* b = ratio + static_cast<int64_t>(symmetric_index(2 * i + 1 - dy, h)) * w;
            for (int32_t j = 0; j < n; ++j) {
                const int32_t x0 = symmetric_index(2 * j - dx, w);
                const int32_t x1 = symmetric_index(2 * j + 1 - dx, w);
                dst[j] = ((a[x0] + a[x1]) + (b[x0] + b[x1])) * 0.25f;
            }
        } else {
            const int32_t below = n * 2;
            const float* a = p.layout.ratio[l - 1] + static_cast<int64_t>(2 * i) * below;
            const float* b = a + below;
            for (int32_t j = 0; j < n; ++j)
                dst[j] = ((a[2 * j] + a[2 * j + 1]) + (b[2 * j] + b[2 * j + 1])) * 0.25f;
        }
    }
}

void row_energy_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    shrink_row_energy(*p.k, p.layout.plane, p.layout.row_sums, p.shrink, t, T);
}

void pilot_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    shrink_pilot(*p.k, p.layout.plane, p.layout.row_sums, p.layout.pilot_sums, p.shrink, p.maps, t,
                 T);
}

void apply_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    shrink_apply(*p.k, p.layout.plane, p.layout.pilot_sums, p.shrink, p.maps, t, T);
}

// The part of the rebuilt plane that covers the picture, added to the sum; after the last move
// the mean goes back into the view. Then this move's error map, from the gains kept.
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
    if (p.maps.gains)
        gain_error_map_rows(p.layout.plane, p.maps.gains, w, p.view->height, dy, dx, p.error_sigma,
                            p.extras->error_layout, p.shift, kShiftCount, p.extras->error_map, t,
                            T);
}

}  // namespace

int32_t best_padded_size(int32_t v) { return (v + 3 + 31) & ~31; }

int64_t best_mode_memory_floats(int32_t max_width, int32_t max_height, int32_t threads) {
    const int32_t W = best_padded_size(max_width), H = best_padded_size(max_height);
    return working_floats(W, H, threads < 1 ? 1 : threads) + 2 * area(W, H) +
           area(max_width, max_height) + ratio_floats(W, H);
}

BestMode make_best_mode(const KernelSet& kernels, float* memory, int32_t max_width,
                        int32_t max_height, int32_t threads) {
    return {&kernels, memory, max_width, max_height, threads < 1 ? 1 : threads};
}

void denoise_best(const BestMode& b, const PlaneView& view, float noise, PlaneKind kind,
                  const Executor& ex, const BestModeExtras& extras) {
    if (view.width <= 0 || view.height <= 0) return;
    if (!(noise > 0.0f)) return;
    Pass pass;
    pass.k = b.kernels;
    pass.view = &view;
    pass.source = extras.source ? extras.source : &view;
    pass.extras = &extras;
    pass.layout = lay_out(b.memory, view.width, view.height, b.threads);
    pass.shrink = shrink_settings(noise, kind == PlaneKind::chroma);
    if (!shrink_is_defined(pass.shrink)) return;
    if (extras.noise_ratio)
        for (int l = 0; l < kLevels; ++l) pass.maps.ratio[l] = pass.layout.ratio[l];
    if (extras.error_map) {
        pass.maps.gains = pass.layout.row_sums;  // free once the pilots are made
        pass.error_sigma = noise / extras.error_unit;
    }
    // The transforms are the engine's own, run over this working plane.
    Engine e = make_engine(*b.kernels, b.memory, b.max_width, b.max_height, b.threads, kLevels);
    e.plane = pass.layout.plane;
    e.width = view.width;
    e.height = view.height;
    e.format = pass.source->format;
    for (pass.shift = 0; pass.shift < kShiftCount; ++pass.shift) {
        ex.run(ex.self, load_worker, &pass);
        forward(e, ex);
        if (extras.noise_ratio)
            for (pass.level = 0; pass.level < kLevels; ++pass.level)
                ex.run(ex.self, ratio_worker, &pass);
        ex.run(ex.self, row_energy_worker, &pass);
        ex.run(ex.self, pilot_worker, &pass);
        ex.run(ex.self, apply_worker, &pass);
        inverse(e, ex);
        ex.run(ex.self, accumulate_worker, &pass);
    }
}

}  // namespace velmora
