#include "lib/denoiser.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/learnt_noise.h"
#include "lib/settings.h"
#include "lib/strength.h"

namespace velmora {

namespace {

constexpr const char* kPlaneNames[3] = {"Y", "Cb", "Cr"};

// Best mode's moves for a temporal pilot: two of the four are enough to find motion and
// agreement, for half the work (a frame that is not averaged is filtered again in full).
constexpr int kPilotMoves = 2;

// What was said last of a measured plane, so that a state is said once when it begins.
enum Said { nothing = 0, level_said, none_found, none_measurable };

std::string fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// How far a level measured on one picture can be trusted; empty for one from frame changes.
std::string certainty_text(const NoiseLevel& level) {
    const std::string share = level.spatial_values > 0
                                  ? fixed(100.0 * static_cast<double>(level.weak_values) /
                                              static_cast<double>(level.spatial_values),
                                          0)
                                  : "0";
    switch (level.certainty) {
    case NoiseCertainty::weak_texture:
        return "sure: measured on the " + share + " % of the picture with the least texture";
    case NoiseCertainty::some_weak_texture:
        return "fairly sure: measured on the " + share + " % of the picture with the least texture";
    case NoiseCertainty::texture:
        return "unsure: fine texture nearly everywhere and no frame changes to tell it from "
               "noise; the level may be off by a third (give --sigma where it is known)";
    case NoiseCertainty::frames:
        break;
    }
    return "";
}

std::string frames_text(int64_t first, int64_t last) {
    return first == last ? "frame " + std::to_string(first)
                         : "frames " + std::to_string(first) + "-" + std::to_string(last);
}

// The first field in time of an interlaced frame, or the whole plane.
PlaneView first_picture(const PlaneView& plane, velmora_field_order order) {
    if (order == VELMORA_PROGRESSIVE) return plane;
    return field_of(plane, order == VELMORA_TOP_FIELD_FIRST ? 0 : 1);
}

}  // namespace

Denoiser::Denoiser(const velmora_settings& s, const FrameShape& f, PlaneEngine& engine,
                   const Log& log)
    : s_(s), f_(f), engine_(engine), log_(log) {
    if (s.strength == VELMORA_STRENGTH_NOISE) {
        for (int p = 0; p < f.planes(); ++p) {
            if (measures(s, p))
                windows_[p].emplace(s.measure_window, s.measure_every, s.texture_as_noise != 0,
                                    s.mode == VELMORA_MODE_BEST);
            else if (has_noise_curve(s, p))
                set_curve(p, s.noise_curve[p]);
            else if (s.noise[p] != VELMORA_NOISE_MEASURED)
                set_level(p, s.noise_factor[p] * (s.noise[p] * working_units_per_8bit(f.format)));
            // else a measured plane whose factor is 0: untouched
        }
    } else if (s.strength == VELMORA_STRENGTH_TRACKS) {
        for (int p = 0; p < f.planes(); ++p) {
            ThresholdRow tracks;
            std::copy(std::begin(s.tracks[p]), std::end(s.tracks[p]), tracks.begin());
            rows_[p] = row_from_tracks(tracks, f.format);
        }
    }
}

int64_t Denoiser::lookahead() const {
    for (const auto& w : windows_)
        if (w) return s_.measure_window;
    return 1;
}

void Denoiser::set_level(int p, double working, const LocalNoise& local, const BandFactors& bands) {
    if (s_.mode == VELMORA_MODE_EXACT) rows_[p] = row_for_threshold(s_.k * working);
    sigmas_[p] = static_cast<float>(working);
    local_[p] = local;
    bands_[p] = bands;
}

void Denoiser::set_curve(int p, const double* levels) {
    static_assert(kNoiseCurveBins == VELMORA_CURVE_BINS, "a curve's bins are the library's");
    // Each bin above 0 a sure level, weighing as much as every other in the plane's level.
    const double unit = working_units_per_8bit(f_.format);
    LocalNoise local;
    local.used = true;
    for (int b = 0; b < kNoiseCurveBins; ++b)
        if (levels[b] > 0.0)
            local.curve.bins[b] = {true, static_cast<float>(levels[b] * unit), 1, 0};
    local.level = noise_curve_mean(local.curve);
    set_level(p, s_.noise_factor[p] * local.level, local);
}

const float* Denoiser::noise_ratios(const PlaneView& picture, const Light& light,
                                    const LocalNoise& local, const float* given) {
    if (!local.used) return given;
    ratios_.resize(static_cast<size_t>(picture.width) * picture.height);
    const float width = static_cast<float>(32.0 * working_units_per_8bit(f_.format));
    if (!curve_noise_ratio(local.curve, width, local.level, light, picture.width, picture.height,
                           ratios_.data(), engine().executor(picture.width, picture.height)))
        return given;
    if (given)
        for (size_t i = 0; i < ratios_.size(); ++i) ratios_[i] = ratios_[i] * given[i];
    return ratios_.data();
}

PlaneLevels Denoiser::levels() const {
    PlaneLevels l;
    l.mode = s_.mode;
    l.rows = rows_;
    l.sigmas = sigmas_;
    l.local = local_;
    l.bands = bands_;
    for (int p = 0; p < 3; ++p) l.eight_bit[p] = sigmas_[p] / working_units_per_8bit(f_.format);
    return l;
}

void Denoiser::observe(const FrameView& frame, int64_t n) {
    for (int p = 0; p < f_.planes(); ++p) {
        if (!windows_[p] || !windows_[p]->wants(n)) continue;
        const PlaneView picture = first_picture(frame.plane[p], frame.order);
        const PlaneView luma = first_picture(frame.plane[0], frame.order);
        if (picture.height > 0) windows_[p]->observe(engine(), picture, light(p, luma), n);
    }
}

void Denoiser::update_levels(int64_t n, velmora_field_order order) {
    const int64_t index = number(n);
    int64_t last = index;
    std::string levels;
    std::vector<std::string> notices;
    bool changed = false;
    std::array<NoiseLevel, 3> found = {};
    std::array<int64_t, 3> measured_last = {n, n, n};
    std::array<bool, 3> repeated = {};
    std::array<MeasuredBands, 3> bands = {};
    for (int p = 0; p < f_.planes(); ++p) {
        if (!windows_[p]) continue;
        found[p] = windows_[p]->level_at(engine(), n, measured_last[p], repeated[p]);
        bands[p] = windows_[p]->bands();
    }
    settle_one_picture_bands(bands.data(), f_.planes());
    for (int p = 0; p < f_.planes(); ++p) {
        if (!windows_[p]) continue;
        const int64_t measured = measured_last[p];
        const bool still = repeated[p];
        const NoiseLevel& level = found[p];
        const int64_t plane_last = index + measured - n;
        last = std::max(last, plane_last);
        const double unit = working_units_per_8bit(f_.format);
        const double sigma = level.found ? level.sigma / unit : 0.0;
        MeasuredCurve& curve = curves_[p];
        curve.known = true;
        curve.first = index;
        curve.last = plane_last;
        for (int b = 0; b < kNoiseCurveBins; ++b) {
            const NoiseLevel& bin = windows_[p]->curve().bins[b];
            curve.sigma[b] = bin.found ? bin.sigma / unit : -1.0;
            curve.blocks[b] = bin.spatial_values + bin.temporal_values;
        }
        curve.bands = bands[p];
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
            // Under a fine texture nearly everywhere, noise may be there and not be told.
            const bool unsure = !still && level.certainty == NoiseCertainty::texture;
            notices.push_back(
                name + (unsure ? "no noise told from its fine texture (" : "no noise found (") +
                (still ? std::string("the picture does not change in ")
                       : "estimate " + fixed(sigma, 2) + " over ") +
                frames_text(index, plane_last) + "); left unfiltered");
        } else {
            state = level_said;
            // Best mode follows the curve where the level is its mean (not on a textured
            // picture, nor where texture is taken as noise: the curve is the texture's too).
            LocalNoise local;
            local.used = s_.mode == VELMORA_MODE_BEST && windows_[p]->level_from_curve();
            local.curve = windows_[p]->curve();
            local.level = level.sigma;
            set_level(p, s_.noise_factor[p] * level.sigma, local, bands[p].factors);
            measured_before_[p] = true;
            levels +=
                std::string(levels.empty() ? " " : ", ") + kPlaneNames[p] + " " + fixed(sigma, 2);
        }
        const std::string sure = certainty_text(level);
        if (level.found && !still && !sure.empty() && (state == level_said || state == none_found))
            notices.push_back(name + sure);
        changed = changed || state != said_[p];
        said_[p] = state;
    }
    // The first window is always said, later ones when a plane changes state (or verbosely).
    const velmora_log_level level = n == 0 || changed ? VELMORA_LOG_INFO : VELMORA_LOG_VERBOSE;
    std::string where = frames_text(index, last);
    if (order != VELMORA_PROGRESSIVE)
        where += order == VELMORA_TOP_FIELD_FIRST ? " (top field)" : " (bottom field)";
    if (!levels.empty()) log_.say(level, where + ": noise sigma" + levels + " (8-bit steps)");
    for (const std::string& notice : notices) log_.say(level, notice);
}

void Denoiser::learn_levels(const FrameView& frame, int64_t n) {
    const int field = frame.order == VELMORA_PROGRESSIVE ? 0 : 1;
    std::string levels;
    std::vector<std::string> notices;
    for (int p = 0; p < f_.planes(); ++p) {
        const PlaneView picture = first_picture(frame.plane[p], frame.order);
        const int32_t columns = noise_blocks_along(picture.width);
        const int32_t rows = noise_blocks_along(picture.height);
        const size_t blocks = static_cast<size_t>(columns) * rows;
        learning_.coefficients.resize(blocks * kNoiseBlockCoefficients * kNoiseBlockCoefficients);
        learning_.left_out.resize(blocks);
        learning_.bands.resize(static_cast<size_t>(noise_band_coefficient_floats(columns, rows)));
        learning_.scratch.resize(static_cast<size_t>(learnt_noise_scratch_floats(columns, rows)));
        NoiseBlocks b = {columns, rows, learning_.coefficients.data(), learning_.left_out.data()};
        b.bands = learning_.bands.data();
        if (blocks > 0) engine().measure_noise(picture, own_light(picture), b);
        // The box on the plane's samples, as the luma box covers them.
        const int sx = f_.shift_x(p), sy = f_.shift_y(p) + field;
        const Box box = {s_.learn_x >> sx, s_.learn_y >> sy, s_.learn_size >> sx,
                         s_.learn_size >> sy};
        const LearntNoise learnt = learn_noise(b, box, learning_.scratch.data());
        if (!learnt.level.found) {
            set_level(p, 0);
            notices.push_back(std::string("plane ") + kPlaneNames[p] +
                              ": the learning box holds too few whole blocks of 8 x 8 samples "
                              "that are neither flat nor clipped; left unfiltered");
            continue;
        }
        const float sigma = learnt.level.sigma;
        set_level(p, s_.noise_factor[p] * sigma, {}, learnt.bands.factors);
        levels += std::string(levels.empty() ? " " : ", ") + kPlaneNames[p] + " " +
                  fixed(sigma / working_units_per_8bit(f_.format), 2);
    }
    const velmora_log_level level = n == 0 ? VELMORA_LOG_INFO : VELMORA_LOG_VERBOSE;
    const std::string box = std::to_string(s_.learn_size) + "x" + std::to_string(s_.learn_size) +
                            " box at " + std::to_string(s_.learn_x) + "," +
                            std::to_string(s_.learn_y);
    if (!levels.empty())
        log_.say(level, "frame " + std::to_string(number(n)) + ": noise sigma learnt from the " +
                            box + ":" + levels + " (8-bit steps)");
    for (const std::string& notice : notices) log_.say(level, notice);
}

void Denoiser::filter(FrameView& frame, int64_t n, const ErrorMaps& maps) {
    const int64_t index = number(n);
    const velmora_field_order order = frame.order;
    bool window_start = false;
    for (const auto& w : windows_) window_start = window_start || (w && w->starts(n));
    if (window_start) update_levels(n, order);
    const bool verbose = log_.wants(VELMORA_LOG_VERBOSE);
    if (s_.mode == VELMORA_MODE_BEST) {
        if (s_.strength == VELMORA_STRENGTH_LEARN && (n == 0 || s_.learn_every_frame))
            learn_levels(frame, n);
        const std::array<float, 3> before = sigmas_;
        for (int p = 0; p < f_.planes(); ++p)
            if (sigmas_[p] > 0.0f) filter_best(frame.plane[p], frame.plane[0], p, order, maps);
        if (verbose && (sigmas_ != before || n == 0 || window_start)) {
            std::string text;
            for (int p = 0; p < f_.planes(); ++p)
                text += std::string(p ? ", " : " ") + kPlaneNames[p] + " " +
                        fixed(sigmas_[p] / working_units_per_8bit(f_.format), 2);
            log_.say(VELMORA_LOG_VERBOSE, "frame " + std::to_string(index) +
                                              ": noise levels in use" + text +
                                              " (8-bit steps; 0: untouched)");
        }
        return;
    }
    Measure measure = Measure::none;
    if (s_.strength == VELMORA_STRENGTH_LEARN && (n == 0 || s_.learn_every_frame))
        measure = Measure::learn;
    const std::array<ThresholdRow, 3> before = rows_;
    for (int p = 0; p < f_.planes(); ++p) {
        if (measure == Measure::none && !s_.view_coefficients && is_zero(rows_[p])) continue;
        filter_exact(frame.plane[p], p, order, measure, maps);
    }
    if (verbose && (rows_ != before || n == 0 || window_start)) {
        log_.say(VELMORA_LOG_VERBOSE,
                 "frame " + std::to_string(index) +
                     ": thresholds in track units (Lv.0 H V D ... Lv.4 H V D)");
        for (int p = 0; p < f_.planes(); ++p)
            log_.say(VELMORA_LOG_VERBOSE, std::string("  ") + kPlaneNames[p] + ": " +
                                              format_tracks(rows_[p], f_.format));
    }
}

void Denoiser::filter_best(const PlaneView& plane, const PlaneView& luma, int p,
                           velmora_field_order order, const ErrorMaps& maps) {
    const PlaneKind kind = p == 0 ? PlaneKind::luma : PlaneKind::chroma;
    for (int parity = order == VELMORA_PROGRESSIVE ? -1 : 0; parity < 2; ++parity) {
        const PlaneView picture = parity < 0 ? plane : field_of(plane, parity);
        if (picture.height == 0) continue;  // the second field of a one-line plane
        const PlaneView luma_picture = parity < 0 ? luma : field_of(luma, parity);
        BestModeExtras extras;
        if (maps && (extras.error_map = maps(p, parity)) != nullptr) {
            extras.moves = kPilotMoves;
            extras.error_layout =
                error_map_layout(picture.width, picture.height, f_.shift_x(p), f_.shift_y(p));
            extras.error_unit = static_cast<float>(working_units_per_8bit(f_.format));
        }
        extras.noise_ratio = noise_ratios(picture, light(p, luma_picture), local_[p], nullptr);
        extras.band_factors = &bands_[p];
        engine().denoise_best(picture, sigmas_[p], kind, extras);
        if (parity < 0) break;
    }
}

void Denoiser::filter_picture(const PlaneView& source, const PlaneView& target,
                              const PlaneView& luma, int p, const PlaneLevels& levels,
                              const float* noise_ratio) {
    if (levels.mode == VELMORA_MODE_EXACT) {
        engine().analyse(source);
        engine().threshold(levels.rows[p]);
        engine().synthesise(target);
        return;
    }
    BestModeExtras extras;
    extras.source = &source;
    extras.noise_ratio = noise_ratios(source, light(p, luma), levels.local[p], noise_ratio);
    extras.band_factors = &levels.bands[p];
    engine().denoise_best(target, levels.sigmas[p], p == 0 ? PlaneKind::luma : PlaneKind::chroma,
                          extras);
}

void Denoiser::filter_exact(const PlaneView& plane, int p, velmora_field_order order,
                            Measure measure, const ErrorMaps& maps) {
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
    if (order == VELMORA_PROGRESSIVE) {
        pictures[0] = {plane, plane, -1};
    } else {
        PlaneView source = plane;
        if (s_.view_coefficients) {
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
            order == VELMORA_TOP_FIELD_FIRST ? std::array{top, bottom} : std::array{bottom, top};
        count = 2;
    }
    const int field_shift = order == VELMORA_PROGRESSIVE ? 0 : 1;
    for (int i = 0; i < count; ++i) {
        const Picture& picture = pictures[i];
        if (picture.source.height == 0) continue;  // the second field of a one-line plane
        engine().analyse(picture.source);
        if (measure == Measure::learn) {
            const int size = s_.learn_size;
            const PlaneView& s = picture.source;
            rows_[p] =
                engine().learn(std::min(s_.learn_x >> f_.shift_x(p), std::max(0, s.width - size)),
                               std::min((s_.learn_y >> f_.shift_y(p)) >> field_shift,
                                        std::max(0, s.height - size)),
                               size);
        }
        measure = Measure::none;  // the first picture in time only
        if (s_.view_coefficients) {
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

}  // namespace velmora
