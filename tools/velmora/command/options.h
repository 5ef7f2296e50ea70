// The command line of velmora.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "velmora/velmora.h"

namespace velmora {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How strength is set: noise levels per plane (automatic: at least one plane measured, sigma:
// every plane given or off), the plug-in's tracks, or learning from a box.
enum class StrengthSource { automatic, sigma, tracks, learn };

// The plug-in's fifteen track values of one plane.
using Tracks = std::array<int32_t, VELMORA_TRACKS>;

// A plane's noise level in each brightness bin, 8-bit steps.
using NoiseCurveLevels = std::array<double, VELMORA_CURVE_BINS>;

// The progress report on standard error: a line redrawn on a terminal (automatic: when standard
// error is one and --quiet is not given; always: whatever it is), lines for programs, or none.
enum class ProgressMode { automatic, always, machine, never };

// A region of the picture: width x height samples at (x, y) of the luma plane.
struct Region {
    int width = 0, height = 0, x = 0, y = 0;
};

struct Options {
    Options();

    std::string input;
    std::string output;

    // best: the mean of four moved transforms with a two-step band shrink, driven by noise
    // levels (or learnt: --learn). exact: the plug-in's masked thresholds, bit for bit;
    // --tracks, --k, --view coefficients and --learn (unless best mode is asked for) choose it.
    velmora_mode mode;
    StrengthSource strength = StrengthSource::automatic;
    // A plane kind's level is given (sigma_*, 8-bit sample steps), measured (measure_*), or
    // neither: then its planes are left untouched.
    std::optional<double> sigma_luma, sigma_chroma;
    // ... or given by brightness (best mode): a level per bin, -1 for a bin without one.
    std::optional<NoiseCurveLevels> curve_luma, curve_chroma;
    bool measure_luma = true, measure_chroma = true;
    double k;  // exact mode's thresholds: K times the noise level
    // Measured levels: from a window of auto_window frames, measured again every auto_every
    // frames (the window starting there).
    int64_t auto_window, auto_every;
    std::array<std::optional<Tracks>, 3> tracks;  // the plug-in's track values
    int learn_x = 0, learn_y = 0;
    int learn_size;  // the side: each plane's samples in exact mode, luma samples in best mode
    bool learn_every_frame = false;

    // Frames before and after each frame averaged into it (0: none), when given; else the
    // mode's. Used with a noise level (--sigma*, --auto, best mode's --learn); --tracks, exact
    // mode's --learn and --view coefficients filter frames on their own.
    int temporal = 0;
    bool temporal_given = false;

    int64_t start = 0;              // the first frame filtered
    std::optional<int64_t> frames;  // how many, when not all to the end

    bool view_coefficients = false;
    std::string preview;                   // PNG file, empty for none
    std::optional<int64_t> preview_frame;  // default: the first frame filtered
    std::optional<Region> preview_crop;
    bool preview_difference = false;

    bool keep_partial = false;  // commit the frames before damage in the input
    bool force_y4m = false;     // write a stream under a name of another format
    bool force = false;         // replace write-protected outputs

    int threads = 0;  // 0: one per processor
    bool quiet = false;
    bool verbose = false;
    bool noise_curve = false;  // say each measured plane's noise by brightness
    ProgressMode progress = ProgressMode::automatic;
    bool help = false;
    bool version = false;
};

// Throws UsageError.
Options parse_options(const std::vector<std::string>& args);

// The library's settings for the options, messages going to `log` with `user`.
velmora_settings settings_of(const Options& o,
                             void (*log)(void*, velmora_log_level, const char*) = nullptr,
                             void* user = nullptr);

// "P:v0,v1,...,v14" with P one of 0, 1, 2 (or y, cb, cr): false when malformed, with `error`
// saying why.
bool parse_tracks(std::string_view text, int& plane, Tracks& tracks, std::string& error);

std::string help_text();

// "velmora VERSION".
std::string version_text();

// What velmora says when run without arguments.
std::string short_usage();

}  // namespace velmora
