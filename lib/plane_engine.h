// The engine of a denoiser: one plane of any size and sample format at a time, through the
// plug-in's algorithm or the best mode, with its own working memory, on the denoiser's workers.
// The memory grows to what the modes used need.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/best_mode.h"
#include "engine/engine.h"
#include "engine/error_map.h"
#include "engine/noise_blocks.h"
#include "engine/track_units.h"
#include "lib/workers.h"

namespace velmora {

// Fifteen threshold entries of one plane, [3 * level + orientation], in track units of the
// plane's sample format (the plug-in's track units, times threshold_factor).
using ThresholdRow = std::array<int32_t, kTrackEntries>;

bool is_zero(const ThresholdRow& row);

class PlaneEngine {
public:
    // Working memory for planes up to max_width x max_height, passes on `workers`.
    PlaneEngine(int max_width, int max_height, const KernelSet& kernels, Workers& workers);
    ~PlaneEngine();
    PlaneEngine(const PlaneEngine&) = delete;
    PlaneEngine& operator=(const PlaneEngine&) = delete;

    // Loads `view` and decomposes it (the engine's fused analyse).
    void analyse(const PlaneView& view);

    // Noise estimate of the analysed plane in working units.
    float estimate_noise() const;

    // The largest coefficients under the size x size box at (x, y) of the analysed plane, in
    // track units, as the plug-in learns them.
    ThresholdRow learn(int x, int y, int size);

    // Thresholds the analysed plane's coefficients with `row`: synthesise thresholds them as it
    // rebuilds the plane, draw_coefficients before it draws them.
    void threshold(const ThresholdRow& row);

    // Rebuilds the plane and stores it into `view` (the view given to analyse, or another of
    // its size and format), in the engine's fused synthesise.
    void synthesise(const PlaneView& view);

    // The error map of the plane thresholded as `threshold` asked, whose noise level is `sigma`
    // 8-bit steps.
    void error_map(float sigma, const ErrorMapLayout& layout, float* map);

    // The plug-in's coefficient view of the analysed (and thresholded) plane, its y values
    // mapped onto the view's sample range.
    void draw_coefficients(const PlaneView& view);

    // Best mode: filters `view` in place with noise `sigma` in working units (or from another
    // source, with a noise ratio map and an error map: BestModeExtras).
    void denoise_best(const PlaneView& view, float sigma, PlaneKind kind,
                      const BestModeExtras& extras = {});

    // The noise blocks of `view` into `out` (whose counts are the view's), their brightness
    // read from `light`.
    void measure_noise(const PlaneView& view, const Light& light, NoiseBlocks& out);
    // The patch noise level of `view` (engine/patch_noise.h).
    double patch_noise(const PlaneView& view);
    // The executor for a pass over a width x height plane.
    Executor executor(int32_t width, int32_t height) { return workers_.executor(width, height); }

    // Bytes of working memory the engine holds at most for planes up to width x height on
    // `threads` threads, in the modes `exact` and `best` (and measuring noise with `measure`).
    static int64_t memory_bytes(int width, int height, int threads, bool exact, bool best,
                                bool measure);

private:
    struct Memory;
    // At least `floats` of working memory; the engines are made again over new memory.
    float* memory(int64_t floats);

    int max_width_, max_height_;
    const KernelSet& kernels_;
    Workers& workers_;
    std::unique_ptr<Memory> memory_;
    int64_t memory_floats_ = 0;
    Engine engine_;
    SubbandThresholds thresholds_ = {};  // not yet applied to the analysed plane
};

// A coefficient view pixel's y (0..4095 for black..white in the plug-in's scale; the 16-bit
// store wraps larger magnitudes to negative values) as a sample of `format`: read as the
// unsigned 16-bit value it was stored as, capped at 4095 and scaled to the sample range.
uint32_t coefficient_view_sample(int16_t y, SampleFormat format);

}  // namespace velmora
