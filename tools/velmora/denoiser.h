// The filtering of velmora's frames: thresholds from the strength options, measured on the
// first frame filtered (and again as asked), each plane filtered as one picture or, in an
// interlaced frame, as its two fields.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "tools/velmora/console.h"
#include "tools/velmora/options.h"
#include "tools/velmora/plane_engine.h"
#include "tools/velmora/y4m.h"

namespace velmora {

class Denoiser {
public:
    // Throws UsageError for a learning box that does not fit into the picture.
    Denoiser(const Options& o, const StreamFormat& f, Console& console);

    // Filters frame `index` of the stream in place (or draws its coefficients).
    void filter(Frame& frame, int64_t index);

private:
    enum class Measure { none, estimate, learn };

    // One plane: the whole plane, or its fields in time order; the first is measured as asked.
    // Returns the noise level measured, in 8-bit steps.
    double filter_plane(const PlaneView& plane, int p, FieldOrder order, Measure measure);

    // Made on the first frame: a stream that ends before one arrives needs no working memory.
    PlaneEngine& engine();

    const Options& o_;
    const StreamFormat& f_;
    Console& console_;
    std::optional<PlaneEngine> engine_;
    std::array<ThresholdRow, 3> rows_ = {};
};

}  // namespace velmora
