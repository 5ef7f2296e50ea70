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

    bool view_coefficients = false;
    std::string preview;  // PNG file, empty for none
    int64_t preview_frame = 0;

    int threads = 1;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
};

// Throws UsageError.
Options parse_options(const std::vector<std::string>& args);

std::string help_text();

}  // namespace velmora
