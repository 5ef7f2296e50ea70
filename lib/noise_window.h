// The measured noise level of one plane along a stream. Windows of `window` frames start at the
// first frame filtered and at every `every`-th frame after it; the level of a window is used
// from its first frame on, until the next window's. Every frame of a window is measured when it
// is read, before anything is filtered, so a run holds a window's frames back until its last
// has been read.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "engine/noise_bands.h"
#include "engine/noise_blocks.h"
#include "engine/noise_curve.h"
#include "engine/noise_level.h"
#include "lib/plane_engine.h"

namespace velmora {

class NoiseWindow {
public:
    // With `texture_as_noise`, a window without temporal values takes its spatial level as it
    // is (neither weakly textured blocks nor the kurtosis level: noise_level.h). With `bands`
    // (and not texture_as_noise), the noise of each detail band is measured too.
    NoiseWindow(int64_t window, int64_t every, bool texture_as_noise, bool bands = false);

    // Whether frame n (counted from the first frame filtered) belongs to a window.
    bool wants(int64_t n) const;
    // Whether a window starts at frame n.
    bool starts(int64_t n) const { return n % every_ == 0; }
    // The last frame of the window starting at n.
    int64_t last_of(int64_t n) const { return n + window_ - 1; }

    // Measures frame n's picture of this plane (n in a window, frames in order).
    void observe(PlaneEngine& engine, const PlaneView& picture, const Light& light, int64_t n);

    // The level of the window starting at frame n, from those of its frames measured (all of
    // them, unless the stream ended first), the last of which is put in `last`. Forgets the
    // frames before n. A window of frames that repeat one picture, without a block that
    // changes, has no noise that changes in time: its level is found and 0, and `still` is set.
    // A sure level (noise_curve.h) is the curve's mean where at least two of its bins are sure.
    NoiseLevel level_at(PlaneEngine& engine, int64_t n, int64_t& last, bool& still);
    // The curve of the window level_at measured last: bins 32 8-bit steps wide (the format's
    // samples scaled to 8 bits), the first from 0.
    const NoiseCurve& curve() const { return curve_; }
    // Whether the level level_at gave last is the curve's mean.
    bool level_from_curve() const { return level_from_curve_; }
    // The band factors of the window level_at measured last (engine/noise_bands.h), from its
    // frame changes, or without any from its blocks weakly textured at its level (where the
    // level was measured on such blocks; settle_one_picture_bands decides whether they are
    // used); white where no level was found or bands are not measured.
    const MeasuredBands& bands() const { return bands_; }

private:
    struct Measured {
        std::vector<float> spatial, temporal;  // temporal: with frame n - 1
        std::vector<float> detail;             // the spatial values' blocks' detail values
        std::vector<float> spatial_brightness, temporal_brightness;  // each value's block's
        int64_t unchanged = 0;  // blocks the same as in frame n - 1
        // With bands: the band values of the change from frame n - 1 (none without it) and of
        // the frame itself, of columns x rows noise blocks, and the detail value of each of them.
        int32_t columns = 0, rows = 0;
        std::vector<float> band_temporal, band_spatial, block_detail;
    };
    struct Blocks {
        int32_t width = 0, height = 0;
        SampleFormat format = SampleFormat::u8;
        std::vector<float> coefficients;
        std::vector<uint8_t> left_out;
        std::vector<float> detail, brightness;
        std::vector<uint8_t> samples;  // a packed copy of the picture
        std::vector<float> bands;      // empty without bands
        NoiseBlocks blocks() {
            return {width / 8,
                    height / 8,
                    coefficients.data(),
                    left_out.data(),
                    detail.data(),
                    brightness.data(),
                    bands.empty() ? nullptr : bands.data()};
        }
        PlaneView view();
    };

    // The band factors of the window starting at frame n, from its frame changes.
    MeasuredBands measure_bands(int64_t n) const;
    // The band factors of the window starting at frame n, without frame changes: from its
    // frames' blocks weakly textured at `sigma` (noise_level.h).
    MeasuredBands measure_still_bands(int64_t n, float sigma) const;
    // For the window starting at frame n, without frame changes, whose level comes from few
    // weakly textured blocks: the kurtosis level (channel_kurtosis.h) and, with `patch`, the
    // patch level (patch_noise.h) of its last picture observed. False where it has none.
    bool texture_levels(PlaneEngine& engine, int64_t n, bool patch, double& texture,
                        double& patches);

    int64_t window_, every_;
    bool texture_as_noise_, measure_bands_;
    MeasuredBands bands_;
    std::map<int64_t, Measured> frames_;
    NoiseCurve curve_ = {};
    bool level_from_curve_ = false;
    Blocks previous_, current_;
    int64_t previous_frame_ = -2;
};

}  // namespace velmora
