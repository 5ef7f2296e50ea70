#include "tools/velmora/denoiser.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/velmora/strength.h"

namespace velmora {

namespace {

constexpr const char* kPlaneNames[3] = {"Y", "Cb", "Cr"};

// What was said last of a measured plane, so that a state is said once when it begins.
enum Said { nothing = 0, level_said, none_found, none_measurable };

std::string fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string frames_text(int64_t first, int64_t last) {
    return first == last ? "frame " + std::to_string(first)
                         : "frames " + std::to_string(first) + "-" + std::to_string(last);
}

// The first field in time of an interlaced frame, or the whole plane.
PlaneView first_picture(const PlaneView& plane, FieldOrder order) {
    if (order == FieldOrder::progressive) return plane;
    return field_of(plane, order == FieldOrder::top_first ? 0 : 1);
}

}  // namespace

Denoiser::Denoiser(const Options& o, const StreamFormat& f, Console& console)
    : o_(o), f_(f), console_(console) {
    if (o.strength == StrengthSource::sigma || o.strength == StrengthSource::automatic) {
        for (int p = 0; p < f.planes(); ++p) {
            const std::optional<double>& s = p == 0 ? o.sigma_luma : o.sigma_chroma;
            if (p == 0 ? o.measure_luma : o.measure_chroma)
                windows_[p].emplace(o.auto_window, o.auto_every);
            else if (s)
                set_level(p, *s * working_units_per_8bit(f.format));
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

int64_t Denoiser::lookahead() const {
    for (const auto& w : windows_)
        if (w) return o_.auto_window;
    return 1;
}

void Denoiser::set_level(int p, double working) {
    if (o_.mode == Mode::exact) rows_[p] = row_for_threshold(o_.k * working);
    sigmas_[p] = static_cast<float>(working);
}

PlaneLevels Denoiser::levels() const {
    PlaneLevels l;
    l.mode = o_.mode;
    l.rows = rows_;
    l.sigmas = sigmas_;
    for (int p = 0; p < 3; ++p) l.eight_bit[p] = sigmas_[p] / working_units_per_8bit(f_.format);
    return l;
}

void Denoiser::observe(Frame& frame, int64_t index) {
    const int64_t n = index - o_.start;
    const FieldOrder order = frame_field_order(f_, frame.header);
    for (int p = 0; p < f_.planes(); ++p) {
        if (!windows_[p] || !windows_[p]->wants(n)) continue;
        const PlaneView picture = first_picture(frame.plane(f_, p), order);
        if (picture.height > 0) windows_[p]->observe(engine(), picture, n);
    }
}

void Denoiser::update_levels(int64_t n, int64_t index, FieldOrder order) {
    int64_t last = index;
    std::string levels;
    std::vector<std::string> notices;
    bool changed = false;
    for (int p = 0; p < f_.planes(); ++p) {
        if (!windows_[p]) continue;
        int64_t measured = n;
        bool still = false;
        const NoiseLevel level = windows_[p]->level_at(n, measured, still);
        const int64_t plane_last = index + measured - n;
        last = std::max(last, plane_last);
        const double unit = working_units_per_8bit(f_.format);
        const double sigma = level.found ? level.sigma / unit : 0.0;
        const std::string name = std::string("plane ") + kPlaneNames[p] + ": ";
        int state;
        if ((!level.found || still) && measured_before_[p]) {
            state = said_[p];  // the level found before stays
            notices.push_back(
                name + (still ? "the picture does not change in " : "nothing measurable in ") +
                frames_text(index, plane_last) + (still ? "" : " (flat or clipped)") +
                "; the level found before stays");
        } else if (!level.found) {
            state = none_measurable;
            set_level(p, 0);
            notices.push_back(name + "nothing measurable yet in " + frames_text(index, plane_last) +
                              " (flat or clipped); left unfiltered");
        } else if (sigma < kLeastNoise) {
            state = none_found;
            set_level(p, 0);
            measured_before_[p] = true;
            notices.push_back(name + "no noise found (" +
                              (still ? std::string("the picture does not change in ")
                                     : "estimate " + fixed(sigma, 2) + " over ") +
                              frames_text(index, plane_last) + "); left unfiltered");
        } else {
            state = level_said;
            set_level(p, level.sigma);
            measured_before_[p] = true;
            levels +=
                std::string(levels.empty() ? " " : ", ") + kPlaneNames[p] + " " + fixed(sigma, 2);
        }
        changed = changed || state != said_[p];
        said_[p] = state;
    }
    // The first window is always said, later ones when a plane changes state or with --verbose.
    if (!(n == 0 || changed || o_.verbose)) return;
    std::string where = frames_text(index, last);
    if (order != FieldOrder::progressive)
        where += order == FieldOrder::top_first ? " (top field)" : " (bottom field)";
    if (!levels.empty()) console_.info(where + ": noise sigma" + levels + " (8-bit steps)");
    for (const std::string& notice : notices) console_.info(notice);
}

void Denoiser::filter(Frame& frame, int64_t index, const ErrorMaps& maps) {
    const int64_t n = index - o_.start;  // frames into those filtered
    const FieldOrder order = frame_field_order(f_, frame.header);
    bool window_start = false;
    for (const auto& w : windows_) window_start = window_start || (w && w->starts(n));
    if (window_start) update_levels(n, index, order);
    if (o_.mode == Mode::best) {
        const std::array<float, 3> before = sigmas_;
        for (int p = 0; p < f_.planes(); ++p)
            if (sigmas_[p] > 0.0f) filter_best(frame.plane(f_, p), p, order, maps);
        if (o_.verbose && (sigmas_ != before || n == 0 || window_start)) {
            std::string text;
            for (int p = 0; p < f_.planes(); ++p)
                text += std::string(p ? ", " : " ") + kPlaneNames[p] + " " +
                        fixed(sigmas_[p] / working_units_per_8bit(f_.format), 2);
            console_.info("frame " + std::to_string(index) + ": noise levels in use" + text +
                          " (8-bit steps; 0: untouched)");
        }
        return;
    }
    Measure measure = Measure::none;
    if (o_.strength == StrengthSource::learn && (n == 0 || o_.learn_every_frame))
        measure = Measure::learn;
    const std::array<ThresholdRow, 3> before = rows_;
    for (int p = 0; p < f_.planes(); ++p) {
        if (measure == Measure::none && !o_.view_coefficients && is_zero(rows_[p])) continue;
        filter_exact(frame.plane(f_, p), p, order, measure, maps);
    }
    if (o_.verbose && (rows_ != before || n == 0 || window_start)) {
        console_.info("frame " + std::to_string(index) +
                      ": thresholds in track units (Lv.0 H V D ... Lv.4 H V D)");
        for (int p = 0; p < f_.planes(); ++p)
            console_.info(std::string("  ") + kPlaneNames[p] + ": " +
                          format_tracks(rows_[p], f_.format));
    }
}

void Denoiser::filter_best(const PlaneView& plane, int p, FieldOrder order, const ErrorMaps& maps) {
    const PlaneKind kind = p == 0 ? PlaneKind::luma : PlaneKind::chroma;
    for (int parity = order == FieldOrder::progressive ? -1 : 0; parity < 2; ++parity) {
        const PlaneView picture = parity < 0 ? plane : field_of(plane, parity);
        if (picture.height == 0) continue;  // the second field of a one-line plane
        BestModeExtras extras;
        if (maps && (extras.error_map = maps(p, parity)) != nullptr) {
            extras.error_layout =
                error_map_layout(picture.width, picture.height, f_.shift_x(p), f_.shift_y(p));
            extras.error_unit = static_cast<float>(working_units_per_8bit(f_.format));
        }
        engine().denoise_best(picture, sigmas_[p], kind, extras);
        if (parity < 0) break;
    }
}

void Denoiser::filter_picture(const PlaneView& source, const PlaneView& target, int p,
                              const PlaneLevels& levels, const float* noise_ratio) {
    if (levels.mode == Mode::exact) {
        engine().analyse(source);
        engine().threshold(levels.rows[p]);
        engine().synthesise(target);
        return;
    }
    BestModeExtras extras;
    extras.source = &source;
    extras.noise_ratio = noise_ratio;
    engine().denoise_best(target, levels.sigmas[p], p == 0 ? PlaneKind::luma : PlaneKind::chroma,
                          extras);
}

void Denoiser::filter_exact(const PlaneView& plane, int p, FieldOrder order, Measure measure,
                            const ErrorMaps& maps) {
    // Each picture of the plane: the samples it is read from and, for the coefficient view,
    // where it is drawn. Fields are drawn one above the other (the top field in the upper
    // half), each a picture of its own; they are read from a copy of the plane, since drawing
    // the first would overwrite lines of the second.
    struct Picture {
        PlaneView source, drawn;
        int parity;
    };
    std::array<Picture, 2> pictures = {};
    int count = 1;
    std::vector<uint8_t> copy;
    if (order == FieldOrder::progressive) {
        pictures[0] = {plane, plane, -1};
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
            order == FieldOrder::top_first ? std::array{top, bottom} : std::array{bottom, top};
        count = 2;
    }
    const int field_shift = order == FieldOrder::progressive ? 0 : 1;
    for (int i = 0; i < count; ++i) {
        const Picture& picture = pictures[i];
        if (picture.source.height == 0) continue;  // the second field of a one-line plane
        engine().analyse(picture.source);
        if (measure == Measure::learn) {
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
            if (float* map = maps ? maps(p, picture.parity) : nullptr) {
                const PlaneView& v = picture.source;
                engine().error_map(
                    static_cast<float>(sigmas_[p] / working_units_per_8bit(f_.format)),
                    error_map_layout(v.width, v.height, f_.shift_x(p), f_.shift_y(p)), map);
            }
            engine().synthesise(picture.source);
        }
    }
}

PlaneEngine& Denoiser::engine() {
    if (!engine_) engine_.emplace(f_.plane_width(0), f_.plane_height(0), o_.threads);
    return *engine_;
}

}  // namespace velmora
