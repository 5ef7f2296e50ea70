#include "engine/best_mode.h"

#include <algorithm>
#include <cstring>

#include "engine/plane_io.h"
#include "engine/working_layout.h"
#include "wavelet/band_shrink.h"

namespace velmora {

namespace {

// The moves (dy, dx), summed in this order.
constexpr int32_t kShifts[4][2] = {{0, 0}, {1, 1}, {2, 3}, {3, 2}};
constexpr int kShiftCount = 4;
static_assert(kShifts[0][0] == 0 && kShifts[0][1] == 0,
              "the error map is made from the unmoved picture");
constexpr float kMeanOfFour = 0.25f, kMeanOfTwo = 0.5f;

// Where everything lives for one plane: the working plane, its scratch slices and the buffers
// between levels (the engine's layout), then the plane of the gains the first move keeps for
// the error map, the plane of the pilot's box sums, the w x h sum of the results and the levels
// of the noise ratio map, (W >> (l+1)) x (H >> (l+1)) each.
struct Layout {
    TransformPlane plane;
    LevelBuffers buffers;
    float* gains;
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
    const WorkingLayout working = lay_out_working(memory, W, H, threads);
    l.plane = working.plane;
    l.buffers = working.buffers;
    l.gains = memory + working_layout_floats(W, H, threads);
    l.pilot_sums = l.gains + area(W, H);
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
    PassSpeeds* speeds;       // the transforms' shares by level
    const uint16_t* weights;  // the shrink phases' shares (the finest forward pass's), or null
    const PlaneView* view;    // where the result goes
    const PlaneView* source;  // what is filtered
    const BestModeExtras* extras;
    Layout layout;
    ShrinkSettings shrink;
    ShrinkMaps maps;
    int shift;
    int moves;  // made and averaged: kShiftCount, or 2
    int level;  // of the transform, or of the noise ratio map being built
    float error_sigma;
    double busy[ThreadSpeeds::kThreads];  // seconds each thread spent on the last transform
};

// Row y of the moved picture, made as the forward pass takes it.
void moved_row(void* c, int32_t y, float* line) {
    const Pass& p = *static_cast<const Pass*>(c);
    load_shifted_row(*p.k, *p.source, p.layout.plane.W, y, kShifts[p.shift][0], kShifts[p.shift][1],
                     line);
}

// The part of rebuilt row y that covers the picture, added to the sum as the inverse pass hands
// it over; after the last move the mean goes back into the view.
void rebuilt_row(void* c, int32_t y, float* line) {
    const Pass& p = *static_cast<const Pass*>(c);
    const int32_t w = p.view->width, dy = kShifts[p.shift][0], dx = kShifts[p.shift][1];
    if (y < dy || y - dy >= p.view->height) return;
    float* sum = p.layout.sum + static_cast<int64_t>(y - dy) * w;
    const float* result = line + dx;
    if (p.shift == 0) {
        std::memcpy(sum, result, static_cast<size_t>(w) * sizeof(float));
    } else if (p.shift + 1 < p.moves) {
        p.k->accumulate_row(sum, result, w, 1.0f);
    } else {
        p.k->accumulate_row(sum, result, w, p.moves == 2 ? kMeanOfTwo : kMeanOfFour);
        store_rounded_row(*p.k, *p.view, y - dy, sum);
    }
}

// The transforms are the engine's fused passes over the working plane: the forward one takes
// the moved picture's rows, the inverse one (with nothing to threshold) hands its rows to the sum.
void forward_worker(int t, int T, void* c) {
    Pass& p = *static_cast<Pass*>(c);
    timed_share(p.busy, t, [&] {
        forward_level_band(*p.k, p.layout.plane, p.layout.buffers, p.level, kLevels,
                           {moved_row, &p}, t, T, share_weights(p.speeds->forward[p.level], T));
    });
}

// The rows of the moved picture the inverse passes rebuild: those that hold the view's.
int32_t rebuilt_rows(const Pass& p) { return p.view->height + kShifts[p.shift][0]; }

void inverse_worker(int t, int T, void* c) {
    Pass& p = *static_cast<Pass*>(c);
    const SubbandThresholds none = {};
    timed_share(p.busy, t, [&] {
        inverse_level_band(*p.k, p.layout.plane, p.layout.buffers, none, p.level, kLevels,
                           {rebuilt_row, &p}, rebuilt_rows(p), t, T,
                           share_weights(p.speeds->inverse[p.level], T));
    });
}

// One level of the noise ratio map: means of 2 x 2 values of the map below it, or of the
// samples' ratios at the moved places for level 0.
// Row i of level 0 of the noise ratio map (n values) from the w x h map of the samples,
// moved by (dy, dx). Pairs whose samples both lie in the row are read where they are, the rest
// through the mirror.
void first_ratio_row(const float* ratio, int32_t w, int32_t h, int32_t dy, int32_t dx, int32_t i,
                     int32_t n, float* dst) {
    const float* a = ratio + static_cast<int64_t>(symmetric_index(2 * i - dy, h)) * w;
    const float* b = ratio + static_cast<int64_t>(symmetric_index(2 * i + 1 - dy, h)) * w;
    const auto pair = [&](int32_t j, int32_t x0, int32_t x1) {
        dst[j] = ((a[x0] + a[x1]) + (b[x0] + b[x1])) * 0.25f;
    };
    const auto mirrored = [&](int32_t j) {
        pair(j, symmetric_index(2 * j - dx, w), symmetric_index(2 * j + 1 - dx, w));
    };
    const int32_t first = std::min(n, (dx + 1) / 2);
    const int32_t end = std::max(first, std::min(n, (w + dx) / 2));
    for (int32_t j = 0; j < first; ++j) mirrored(j);
    for (int32_t j = first; j < end; ++j) pair(j, 2 * j - dx, 2 * j + 1 - dx);
    for (int32_t j = end; j < n; ++j) mirrored(j);
}

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
            first_ratio_row(p.extras->noise_ratio, w, h, dy, dx, i, n, dst);
        } else {
            const int32_t below = n * 2;
            const float* a = p.layout.ratio[l - 1] + static_cast<int64_t>(2 * i) * below;
            const float* b = a + below;
            for (int32_t j = 0; j < n; ++j)
                dst[j] = ((a[2 * j] + a[2 * j + 1]) + (b[2 * j] + b[2 * j + 1])) * 0.25f;
        }
    }
}

void pilot_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    shrink_pilot(*p.k, p.layout.plane, p.layout.pilot_sums, p.shrink, p.maps, t, T, p.weights);
}

void apply_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    shrink_apply(*p.k, p.layout.plane, p.layout.pilot_sums, p.shrink, p.maps, t, T, p.weights);
}

// The error map, from the gains the first move kept.
void error_map_worker(int t, int T, void* c) {
    const Pass& p = *static_cast<Pass*>(c);
    gain_error_map_rows(p.layout.plane, p.maps.gains, p.view->width, p.view->height, p.error_sigma,
                        p.extras->error_layout, p.extras->error_map, t, T, p.extras->band_factors,
                        p.extras->noise_ratio);
}

}  // namespace

int32_t best_padded_size(int32_t v) { return (v + 3 + 31) & ~31; }

int64_t best_mode_memory_floats(int32_t max_width, int32_t max_height, int32_t threads) {
    const int32_t W = best_padded_size(max_width), H = best_padded_size(max_height);
    return working_layout_floats(W, H, threads < 1 ? 1 : threads) + 2 * area(W, H) +
           area(max_width, max_height) + ratio_floats(W, H);
}

BestMode make_best_mode(const KernelSet& kernels, float* memory, int32_t max_width,
                        int32_t max_height, int32_t threads) {
    const int32_t T = threads < 1 ? 1 : threads;
    return {&kernels, memory, max_width, max_height, T, equal_pass_speeds()};
}

void denoise_best(const BestMode& b, const PlaneView& view, float noise, PlaneKind kind,
                  const Executor& ex, const BestModeExtras& extras) {
    if (view.width <= 0 || view.height <= 0) return;
    if (!(noise > 0.0f)) return;
    Pass pass = {};
    pass.k = b.kernels;
    pass.speeds = &b.speeds;
    pass.weights = share_weights(b.speeds.forward[0], ex.threads);
    pass.view = &view;
    pass.source = extras.source ? extras.source : &view;
    pass.extras = &extras;
    pass.layout = lay_out(b.memory, view.width, view.height, b.threads);
    pass.shrink = shrink_settings(noise, kind == PlaneKind::chroma, extras.band_factors);
    if (!shrink_is_defined(pass.shrink)) return;
    if (extras.noise_ratio)
        for (int l = 0; l < kLevels; ++l) pass.maps.ratio[l] = pass.layout.ratio[l];
    if (extras.error_map) {
        pass.maps.gains = pass.layout.gains;
        pass.error_sigma = noise / extras.error_unit;
    }
    pass.moves = extras.moves == 2 ? 2 : kShiftCount;
    for (pass.shift = 0; pass.shift < pass.moves; ++pass.shift) {
        for (pass.level = 0; pass.level < kLevels; ++pass.level) {
            ex.run(ex.self, forward_worker, &pass);
            learn_speeds(b.speeds.forward[pass.level], ex.threads,
                         forward_level_pairs(pass.layout.plane, pass.level), pass.busy);
        }
        if (extras.noise_ratio)
            for (pass.level = 0; pass.level < kLevels; ++pass.level)
                ex.run(ex.self, ratio_worker, &pass);
        ex.run(ex.self, pilot_worker, &pass);
        ex.run(ex.self, apply_worker, &pass);
        for (pass.level = kLevels - 1; pass.level >= 0; --pass.level) {
            ex.run(ex.self, inverse_worker, &pass);
            learn_speeds(b.speeds.inverse[pass.level], ex.threads,
                         inverse_level_pairs(pass.layout.plane, pass.level, rebuilt_rows(pass)),
                         pass.busy);
        }
        if (pass.maps.gains) {
            ex.run(ex.self, error_map_worker, &pass);
            pass.maps.gains = nullptr;  // the other moves keep no gains
        }
    }
}

}  // namespace velmora
