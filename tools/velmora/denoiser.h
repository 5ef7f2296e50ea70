// The filtering of velmora's frames: each plane in the mode chosen, with noise levels given or
// measured over windows of frames (exact mode: thresholds from them, or from tracks or a
// learning box), each plane filtered as one picture or, in an interlaced frame, as its two
// fields.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "tools/velmora/console.h"
#include "tools/velmora/noise_window.h"
#include "tools/velmora/options.h"
#include "tools/velmora/plane_engine.h"
#include "tools/velmora/y4m.h"

namespace velmora {

class Denoiser {
public:
    // Throws UsageError for a learning box that does not fit into the picture.
    Denoiser(const Options& o, const StreamFormat& f, Console& console);

    // How many frames must have been read (and observed) before the first one is filtered:
    // the first measurement window, or 1.
    int64_t lookahead() const;

    // Every frame, in order, as soon as it is read and before it is filtered: measured when it
    // belongs to a measurement window. The frame is not changed.
    void observe(Frame& frame, int64_t index);

    // Filters frame `index` of the stream in place (or draws its coefficients).
    void filter(Frame& frame, int64_t index);

private:
    enum class Measure { none, learn };

    // Exact mode, one plane: the whole plane, or its fields in time order; the first is
    // learnt from when asked.
    void filter_exact(const PlaneView& plane, int p, FieldOrder order, Measure measure);
    // Best mode, one plane, whole or field by field.
    void filter_best(const PlaneView& plane, int p, FieldOrder order);

    // The measured planes' levels for the window starting at frame `index`, with what they
    // found said on standard error.
    void update_levels(int64_t n, int64_t index, FieldOrder order);
    // Sets plane p's level: `working` units, 0 for none.
    void set_level(int p, double working);

    // Made on the first frame: a stream that ends before one arrives needs no working memory.
    PlaneEngine& engine();

    const Options& o_;
    const StreamFormat& f_;
    Console& console_;
    std::optional<PlaneEngine> engine_;
    std::array<ThresholdRow, 3> rows_ = {};              // exact mode
    std::array<float, 3> sigmas_ = {};                   // best mode, working units; 0: untouched
    std::array<std::optional<NoiseWindow>, 3> windows_;  // the measured planes
    std::array<bool, 3> measured_before_ = {};           // a level has been found for the plane
    std::array<int, 3> said_ = {};                       // what was last said of a plane (see .cpp)
};

}  // namespace velmora
