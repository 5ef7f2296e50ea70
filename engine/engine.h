// The denoising engine: one plane of samples at a time through the five-level CDF 9/7 lifting
// transform, the neighbourhood-masked thresholding and back.
//
// Plain structs and functions. The caller passes the working memory, the thresholds and an
// executor that runs the workers; nothing is allocated, thrown or kept anywhere but in the
// caller's Engine and memory, so any number of engines work at once, on any threads.
//
//     std::vector<float> memory(engine_memory_floats(1920, 1080, 2) + 4);  // + 16-byte slack
//     Engine e = make_engine(best_kernels(), aligned(memory), 1920, 1080, 2);
//     analyse(e, view, pool);
//     synthesise(e, thresholds, view, pool);
//
// analyse and synthesise are the fast forms: each level of the transform is one pass down the
// rows, which lifts, thresholds and converts the rows while they are in the cache. Between them
// the coefficients may be measured (box_maxima, estimate_noise). The stage-by-stage form, one
// pass over the plane for each step,
//
//     load(e, view, pool);  forward(e, pool);
//     threshold(e, thresholds, pool);
//     inverse(e, pool);  store(e, view, pool);
//
// gives the same bits; after threshold the coefficients may be drawn instead of rebuilt. The
// two forms meet where their coefficients do: after analyse or forward the plane holds the same
// coefficients, and synthesise with thresholds of 0 rebuilds a plane thresholded by threshold.
#pragma once

#include <cstdint>

#include "engine/executor.h"
#include "engine/learning.h"
#include "engine/plane_view.h"
#include "engine/thread_speeds.h"
#include "kernels/kernel_set.h"
#include "wavelet/masked_threshold.h"
#include "wavelet/transform_plane.h"

namespace velmora {

// Floats of working memory for planes up to max_width x max_height worked on by `threads`
// threads: the padded plane and one scratch slice per thread.
int64_t engine_memory_floats(int32_t max_width, int32_t max_height, int32_t threads);

struct Engine {
    const KernelSet* kernels;
    // engine_memory_floats(...) floats, 16-byte aligned, the caller's; null for an engine over
    // a plane the caller lays out (engine_over_plane)
    float* memory;
    int32_t max_width, max_height;
    int32_t threads;  // the most threads an executor may run the stages on
    int levels;       // 1..5

    // The plane loaded last: its padded working layout, visible size and sample format.
    TransformPlane plane;
    int32_t width, height;
    SampleFormat format;

    // The fused passes' threads' recent speeds, by which they share the rows (each pass learns
    // from its own timing; a scheduling record, not a result, so even a const engine keeps it).
    mutable PassSpeeds speeds;
};

// An engine over `memory`; `levels` is clamped to 1..5.
Engine make_engine(const KernelSet& kernels, float* memory, int32_t max_width, int32_t max_height,
                   int32_t threads, int levels = 5);

// An engine over a plane the caller has laid out in memory of its own, with scratch slices of
// at least scratch_floats_per_thread(plane.W, plane.H) floats for each of `threads` threads:
// load fills that plane, for views whose padded size is the plane's, instead of laying one out.
// Only the stage-by-stage form runs on it; the fused forms need make_engine's memory.
Engine engine_over_plane(const KernelSet& kernels, const TransformPlane& plane, int32_t threads,
                         int levels = 5);

// The stages. `ex.threads` must not exceed the engine's threads; a view must not be larger
// than the engine's maximum size.
void load(Engine& e, const PlaneView& view, const Executor& ex);
void forward(const Engine& e, const Executor& ex);
void threshold(const Engine& e, const SubbandThresholds& thresholds, const Executor& ex);
void inverse(const Engine& e, const Executor& ex);
void store(const Engine& e, const PlaneView& view, const Executor& ex);

// The fused forms. analyse: load and forward. synthesise: threshold, inverse and store of the
// plane analysed (or loaded and forwarded) last, into `view` of the same size; the plane is only
// read, so it keeps its forward coefficients and may be synthesised again.
void analyse(Engine& e, const PlaneView& view, const Executor& ex);
void synthesise(const Engine& e, const SubbandThresholds& thresholds, const PlaneView& view,
                const Executor& ex);

// Both at once: the plane in `view` denoised in place.
void denoise(Engine& e, const PlaneView& view, const SubbandThresholds& thresholds,
             const Executor& ex);

// Measurements of the forward coefficients: the largest magnitudes under `box` (plane
// positions), and the noise level in working units.
SubbandThresholds box_maxima(const Engine& e, const Box& box);
float estimate_noise(const Engine& e);

// The coefficients as a grey picture on `canvas` (s16 samples, 0..4095 for black..white in
// the plug-in's scale), at the plug-in's scale whatever the loaded plane's format.
void draw_coefficient_view(const Engine& e, const PlaneView& canvas);

}  // namespace velmora
