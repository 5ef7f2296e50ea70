// The filtering of velmora's frames: each plane in the mode chosen, with noise levels given or
// measured over windows of frames (exact mode: thresholds from them, or from tracks or a
// learning box), each plane filtered as one picture or, in an interlaced frame, as its two
// fields. The temporal filter (temporal_filter.h) uses it twice per frame: for the frame's
// pilot with its error maps, and for the final pass over the frame averaged with its
// neighbours.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "lib/frame.h"
#include "lib/log.h"
#include "lib/noise_window.h"
#include "lib/plane_engine.h"
#include "lib/workers.h"

namespace velmora {

// A measured plane's noise by brightness, where best mode follows it: the curve of the window
// its level came from (working units) and that level, before the noise factor. Best mode then
// filters each sample with its noise energy times curve_noise_ratio (engine/noise_curve.h).
struct LocalNoise {
    bool used = false;
    NoiseCurve curve = {};
    float level = 0.0f;
};

// What a frame's planes were filtered with: exact mode's thresholds, best mode's noise levels
// (working units), the local noise they follow and their noise per detail band relative to
// white noise's (measured planes; white for a level given), and either mode's noise levels in
// 8-bit steps (0 where none is known).
struct PlaneLevels {
    velmora_mode mode = VELMORA_MODE_BEST;
    std::array<ThresholdRow, 3> rows = {};
    std::array<float, 3> sigmas = {};
    std::array<LocalNoise, 3> local = {};
    std::array<BandFactors, 3> bands = {};
    std::array<double, 3> eight_bit = {};

    // Whether plane p is filtered at all.
    bool filtered(int p) const {
        return mode == VELMORA_MODE_EXACT ? !is_zero(rows[p]) : sigmas[p] > 0.0f;
    }
};

// A measured plane's noise by brightness (engine/noise_curve.h) from its last window, in
// 8-bit steps: -1 in a bin without a level; unknown before the first window.
struct MeasuredCurve {
    bool known = false;
    int64_t first = 0, last = 0;  // the window's frames, as the messages number them
    std::array<double, kNoiseCurveBins> sigma = {};
    std::array<int64_t, kNoiseCurveBins> blocks = {};  // the values each bin had
    MeasuredBands bands;  // the window's noise per detail band (white where not measured)
};

class Denoiser {
public:
    // Settings checked by check_settings() for frames of `shape`, planes through `engine`.
    Denoiser(const velmora_settings& s, const FrameShape& shape, PlaneEngine& engine,
             const Log& log);

    // How many frames must have been observed before the first one is filtered: the first
    // measurement window, or 1.
    int64_t lookahead() const;

    // Every frame, in order (index 0 the first of the stream), as soon as it comes and before it
    // is filtered: measured when it
    // belongs to a measurement window. The frame is not changed.
    void observe(const FrameView& frame, int64_t index);

    // Where filter() writes the error map of a picture of plane p (parity -1 for a whole
    // plane): error_map_layout() of the picture, in 8-bit steps squared; null for none. Asked
    // only for planes that are filtered, and only with noise levels (not --tracks, --learn).
    using ErrorMaps = std::function<float*(int plane, int parity)>;

    // Filters frame `index` of the stream in place (or draws its coefficients), with the
    // error maps of its pictures where `maps` asks for them. A frame with error maps is a
    // temporal pilot: best mode makes two of its four moves.
    void filter(FrameView& frame, int64_t index, const ErrorMaps& maps = {});

    // The levels in force after the last filter().
    PlaneLevels levels() const;

    // Filters one picture of plane p with `levels`, read from `source` (of the target's size;
    // s16 holds working values) and stored into `target`; `luma` is the same picture of the
    // frame's luma plane (its light: engine/light.h). Best mode multiplies the noise energy by
    // `noise_ratio` (target.width x target.height, row stride the width; null for none); exact
    // mode does not read it.
    void filter_picture(const PlaneView& source, const PlaneView& target, const PlaneView& luma,
                        int p, const PlaneLevels& levels, const float* noise_ratio);

    PlaneEngine& engine() { return engine_; }

    const MeasuredCurve& curve(int p) const { return curves_[p]; }

private:
    enum class Measure { none, learn };

    // Exact mode, one plane: the whole plane, or its fields in time order; the first is
    // learnt from when asked.
    void filter_exact(const PlaneView& plane, int p, velmora_field_order order, Measure measure,
                      const ErrorMaps& maps);
    // Best mode, one plane, whole or field by field, its light read from the frame's `luma`.
    void filter_best(const PlaneView& plane, const PlaneView& luma, int p,
                     velmora_field_order order, const ErrorMaps& maps);

    // The measured planes' levels for the window starting at frame n, with what they found said
    // in the log.
    void update_levels(int64_t n, velmora_field_order order);
    // Sets plane p's level: `working` units (the noise factor applied), 0 for none; the local
    // noise it follows, or none; and its band factors (white by default).
    void set_level(int p, double working, const LocalNoise& local = {},
                   const BandFactors& bands = {});
    // Best mode: each plane's level and band factors learnt from the learning box of the
    // frame's first picture in time, said in the log.
    void learn_levels(const FrameView& frame, int64_t n);
    // Sets plane p's level from a curve given in 8-bit steps per bin (levels of 0 or less:
    // none), the level the root of its bins' mean energy.
    void set_curve(int p, const double* levels);
    // Best mode's noise ratios of a picture whose plane follows `local`: the local noise's,
    // times `given` where that is not null; `given` itself where the plane has no local noise.
    const float* noise_ratios(const PlaneView& picture, const Light& light, const LocalNoise& local,
                              const float* given);
    // Where plane p's brightness is read: the same picture of the frame's luma.
    Light light(int p, const PlaneView& luma) const { return {luma, f_.shift_x(p), f_.shift_y(p)}; }

    // The number messages give frame `index`.
    int64_t number(int64_t index) const { return s_.first_frame + index; }

    const velmora_settings& s_;
    const FrameShape& f_;
    PlaneEngine& engine_;
    const Log& log_;
    std::array<ThresholdRow, 3> rows_ = {};              // exact mode
    std::array<float, 3> sigmas_ = {};                   // working units; 0: none known
    std::array<std::optional<NoiseWindow>, 3> windows_;  // the measured planes
    std::array<bool, 3> measured_before_ = {};           // a level has been found for the plane
    std::array<int, 3> said_ = {};                       // what was last said of a plane (see .cpp)
    std::array<MeasuredCurve, 3> curves_ = {};
    std::array<LocalNoise, 3> local_ = {};
    std::array<BandFactors, 3> bands_ = {};
    std::vector<float> ratios_;  // the noise ratios of the picture being filtered
    // Best mode's learning: a plane's noise blocks and the scratch of what they give.
    struct Learning {
        std::vector<float> coefficients, bands, scratch;
        std::vector<uint8_t> left_out;
    } learning_;
};

}  // namespace velmora
