// The filtering of velmora's frames: thresholds from the strength options, measured on the
// first frame filtered (and again as asked), each plane filtered as one picture or, in an
// interlaced frame, as its two fields.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
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

    // Called for each picture of a plane once thresholded, before it is rebuilt: the plane,
    // the field's parity (-1 for a whole plane), the engine holding the thresholded
    // coefficients, and the plane's noise level in 8-bit steps.
    using PictureHook =
        std::function<void(int plane, int parity, PlaneEngine& engine, double sigma)>;

    // Filters frame `index` of the stream in place (or draws its coefficients).
    void filter(Frame& frame, int64_t index, const PictureHook& hook = {});

    // The thresholds in force after the last filter().
    const std::array<ThresholdRow, 3>& thresholds() const { return rows_; }

    // Filters the pictures of `frame` (as `order` divides it) with `rows`, each read from
    // source(plane, parity) (parity -1 for a whole plane) instead of the frame and stored into
    // it. Planes whose rows are zero are left as they are.
    void filter_from(Frame& frame, FieldOrder order, const std::array<ThresholdRow, 3>& rows,
                     const std::function<PlaneView(int plane, int parity)>& source);

private:
    enum class Measure { none, estimate, learn };

    // One plane: the whole plane, or its fields in time order; the first is measured as asked.
    // Returns the noise level measured, in 8-bit steps.
    double filter_plane(const PlaneView& plane, int p, FieldOrder order, Measure measure,
                        const PictureHook& hook);

    // Made on the first frame: a stream that ends before one arrives needs no working memory.
    PlaneEngine& engine();

    const Options& o_;
    const StreamFormat& f_;
    Console& console_;
    std::optional<PlaneEngine> engine_;
    std::array<ThresholdRow, 3> rows_ = {};
    std::array<double, 3> sigma_ = {};  // each plane's noise level, as given or measured
};

}  // namespace velmora
