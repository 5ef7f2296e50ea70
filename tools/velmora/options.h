// The command line of velmora.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/velmora/plane_engine.h"

namespace velmora {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class StrengthSource { automatic, sigma, tracks, learn };

// The progress report on standard error: a line redrawn on a terminal (automatic: when standard
// error is one and --quiet is not given; always: whatever it is), lines for programs, or none.
enum class ProgressMode { automatic, always, machine, never };

// A region of the picture: width x height samples at (x, y) of the luma plane.
struct Region {
    int width = 0, height = 0, x = 0, y = 0;
};

struct Options {
    std::string input;
    std::string output;

    StrengthSource strength = StrengthSource::automatic;
    std::optional<double> sigma_luma, sigma_chroma;  // 8-bit sample steps
    double k = 3.0;
    int64_t auto_every = 0;  // re-estimate every N frames; 0: from the first frame only
    std::array<std::optional<ThresholdRow>, 3> tracks;  // the plug-in's track values
    int learn_x = 0, learn_y = 0;
    int learn_size = 128;  // the box's side in samples of each plane
    bool learn_every_frame = false;

    // Frames before and after each frame averaged into it (0: none). Used with a noise level
    // (--sigma*, --auto); --tracks, --learn and --view coefficients filter frames on their own.
    int temporal = 3;
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

    int threads = 1;
    bool quiet = false;
    bool verbose = false;
    ProgressMode progress = ProgressMode::automatic;
    bool help = false;
    bool version = false;
};

// Throws UsageError.
Options parse_options(const std::vector<std::string>& args);

// The --temporal radius in effect: 0 where frames are filtered on their own.
int temporal_radius(const Options& o);

std::string help_text();

// "velmora VERSION".
std::string version_text();

// What velmora says when run without arguments.
std::string short_usage();

}  // namespace velmora
