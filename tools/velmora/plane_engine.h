// The plug-in's engine applied to one plane of any size and sample format: the same stages
// (load, five forward levels, masked thresholding, five inverse levels, store), the same
// workers, threshold table, learning and coefficient view, run on the stand-in thread pool.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "pipeline/plane_view.h"
#include "wavelet/transform_plane.h"

namespace velmora {

// Fifteen threshold table entries of one plane, [3 * level + orientation], in the working
// units of the plane's sample format (the plug-in's track units, times threshold_factor).
using ThresholdRow = std::array<int32_t, 15>;

bool is_zero(const ThresholdRow& row);

class PlaneEngine {
public:
    // Working memory for planes up to max_width x max_height with `threads` worker threads.
    PlaneEngine(int max_width, int max_height, int threads);
    ~PlaneEngine();
    PlaneEngine(const PlaneEngine&) = delete;
    PlaneEngine& operator=(const PlaneEngine&) = delete;

    // Loads `view` and decomposes it. `plane` (0..2) selects the threshold table row the later
    // steps use.
    void analyse(const PlaneView& view, int plane);

    // Noise estimate in working units: the median magnitude of the finest diagonal subband
    // over the positions that lie inside the visible plane, divided by 0.6745.
    float estimate_noise() const;

    // The plug-in's learning from the 128 x 128 box at (x, y) of the analysed plane.
    ThresholdRow learn(int x, int y);

    // Thresholds the analysed plane's coefficients with `row`.
    void threshold(const ThresholdRow& row);

    // Rebuilds the plane and stores it into `view` (the view given to analyse).
    void synthesise(const PlaneView& view);

    // The plug-in's coefficient view of the analysed (and thresholded) plane, its y values
    // mapped onto the view's sample range.
    void draw_coefficients(const PlaneView& view);

    // The working plane of the last analysed plane.
    const TransformPlane& plane() const { return plane_; }

private:
    void use_plane(int32_t W, int32_t H, int plane);

    struct Memory;
    std::unique_ptr<Memory> memory_;
    TransformPlane plane_ = {};
    int width_ = 0, height_ = 0;
    int current_ = 0;
};

// A coefficient view pixel's y (0..4095 for black..white in the plug-in's scale; the 16-bit
// store wraps larger magnitudes to negative values) as a sample of `format`: read as the
// unsigned 16-bit value it was stored as, capped at 4095 and scaled to the sample range.
uint32_t coefficient_view_sample(int16_t y, SampleFormat format);

}  // namespace velmora
