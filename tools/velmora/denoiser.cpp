#include "tools/velmora/denoiser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/velmora/strength.h"

namespace velmora {

namespace {

constexpr const char* kPlaneNames[3] = {"Y", "Cb", "Cr"};

std::string fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

}  // namespace

Denoiser::Denoiser(const Options& o, const StreamFormat& f, Console& console)
    : o_(o), f_(f), console_(console) {
    if (o.strength == StrengthSource::sigma) {
        for (int p = 0; p < f.planes(); ++p) {
            const std::optional<double>& s = p == 0 ? o.sigma_luma : o.sigma_chroma;
            rows_[p] = s ? row_for_sigma(*s, o.k, f.format) : ThresholdRow{};
            sigma_[p] = s.value_or(0.0);
        }
    } else if (o.strength == StrengthSource::tracks) {
        for (int p = 0; p < f.planes(); ++p)
            rows_[p] = o.tracks[p] ? row_from_tracks(*o.tracks[p], f.format) : ThresholdRow{};
    }
    const int size = o.learn_size;
    if (o.strength == StrengthSource::learn &&
        (o.learn_x + size > f.width || o.learn_y + size > f.height))
        throw UsageError("--learn " + std::to_string(o.learn_x) + "," + std::to_string(o.learn_y) +
                         ": the " + std::to_string(size) + "x" + std::to_string(size) +
                         " box does not fit into the " + std::to_string(f.width) + "x" +
                         std::to_string(f.height) + " picture");
}

void Denoiser::filter(Frame& frame, int64_t index, const PictureHook& hook) {
    const int64_t n = index - o_.start;  // frames into those filtered
    Measure measure = Measure::none;
    if (o_.strength == StrengthSource::automatic &&
        (n == 0 || (o_.auto_every > 0 && n % o_.auto_every == 0)))
        measure = Measure::estimate;
    if (o_.strength == StrengthSource::learn && (n == 0 || o_.learn_every_frame))
        measure = Measure::learn;
    const FieldOrder order = frame_field_order(f_, frame.header);
    const std::array<ThresholdRow, 3> before = rows_;
    std::array<double, 3> sigmas = {};
    for (int p = 0; p < f_.planes(); ++p) {
        if (measure == Measure::none && !o_.view_coefficients && is_zero(rows_[p])) continue;
        sigmas[p] = filter_plane(frame.plane(f_, p), p, order, measure, hook);
    }
    if (measure == Measure::estimate) {
        std::string text = "frame " + std::to_string(index);
        if (order != FieldOrder::progressive)
            text += order == FieldOrder::top_first ? " (top field)" : " (bottom field)";
        text += ": noise sigma";
        for (int p = 0; p < f_.planes(); ++p)
            text += std::string(p ? ", " : " ") + kPlaneNames[p] + " " + fixed(sigmas[p], 2);
        console_.info(text + " (8-bit steps)");
    }
    if (o_.verbose && (rows_ != before || n == 0)) {
        console_.info("frame " + std::to_string(index) +
                      ": thresholds in track units (Lv.0 H V D ... Lv.4 H V D)");
        for (int p = 0; p < f_.planes(); ++p)
            console_.info(std::string("  ") + kPlaneNames[p] + ": " +
                          format_tracks(rows_[p], f_.format));
    }
}

double Denoiser::filter_plane(const PlaneView& plane, int p, FieldOrder order, Measure measure,
                              const PictureHook& hook) {
    // Each picture of the plane: the samples it is read from and, for the coefficient view,
    // where it is drawn. Fields are drawn one above the other (the top field in the upper
    // half), each a picture of its own; they are read from a copy of the plane, since drawing
    // the first would overwrite lines of the second.
    struct Picture {
        PlaneView source, drawn;
        int parity;
    };
    std::vector<Picture> pictures;
    std::vector<uint8_t> copy;
    if (order == FieldOrder::progressive) {
        pictures.push_back({plane, plane, -1});
    } else {
        PlaneView source = plane;
        if (o_.view_coefficients) {
            const size_t bytes =
                static_cast<size_t>(plane.height) * plane.row_stride * sample_bytes(plane.format);
            copy.assign(static_cast<uint8_t*>(plane.base),
                        static_cast<uint8_t*>(plane.base) + bytes);
            source.base = copy.data();
        }
        const int top_rows = (plane.height + 1) / 2;
        const Picture top{field_of(source, 0), rows_of(plane, 0, top_rows), 0};
        const Picture bottom{field_of(source, 1), rows_of(plane, top_rows, plane.height - top_rows),
                             1};
        pictures =
            order == FieldOrder::top_first ? std::vector{top, bottom} : std::vector{bottom, top};
    }
    const int field_shift = order == FieldOrder::progressive ? 0 : 1;
    double sigma = 0;
    for (const Picture& picture : pictures) {
        if (picture.source.height == 0) continue;  // the second field of a one-line plane
        engine().analyse(picture.source);
        if (measure == Measure::estimate) {
            const double working = engine().estimate_noise();
            sigma = working / working_units_per_8bit(f_.format);
            sigma_[p] = sigma;
            rows_[p] = row_for_threshold(o_.k * working);
        } else if (measure == Measure::learn) {
            const int size = o_.learn_size;
            const PlaneView& s = picture.source;
            rows_[p] =
                engine().learn(std::min(o_.learn_x >> f_.shift_x(p), std::max(0, s.width - size)),
                               std::min((o_.learn_y >> f_.shift_y(p)) >> field_shift,
                                        std::max(0, s.height - size)),
                               size);
        }
        measure = Measure::none;  // the first picture in time only
        if (o_.view_coefficients) {
            engine().threshold(rows_[p]);
            engine().draw_coefficients(picture.drawn);
        } else if (!is_zero(rows_[p])) {
            engine().threshold(rows_[p]);
            if (hook) hook(p, picture.parity, engine(), sigma_[p]);
            engine().synthesise(picture.source);
        }
    }
    return sigma;
}

void Denoiser::filter_from(Frame& frame, FieldOrder order, const std::array<ThresholdRow, 3>& rows,
                           const std::function<PlaneView(int plane, int parity)>& source) {
    for (int p = 0; p < f_.planes(); ++p) {
        if (is_zero(rows[p])) continue;
        const PlaneView plane = frame.plane(f_, p);
        for (int parity = order == FieldOrder::progressive ? -1 : 0; parity < 2; ++parity) {
            const PlaneView target = parity < 0 ? plane : field_of(plane, parity);
            if (target.height == 0) continue;
            engine().analyse(source(p, parity));
            engine().threshold(rows[p]);
            engine().synthesise(target);
            if (parity < 0) break;
        }
    }
}

PlaneEngine& Denoiser::engine() {
    if (!engine_) engine_.emplace(f_.plane_width(0), f_.plane_height(0), o_.threads);
    return *engine_;
}

}  // namespace velmora
