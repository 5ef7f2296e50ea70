#include "frei0r/parameters.h"

#include <cmath>
#include <cstring>

namespace velmora {

namespace {

struct Parameter {
    const char* name;
    int type;
    const char* explanation;
};

constexpr Parameter kParameters[kParameterCount] = {
    {"auto", F0R_PARAM_BOOL,
     "Estimate the noise of each plane on every frame (strength is then not used)"},
    {"strength", F0R_PARAM_DOUBLE,
     "Noise level when auto is off: 25 * strength^2 8-bit steps (0.4 = 4 steps)"},
    {"chroma", F0R_PARAM_DOUBLE,
     "Chroma strength relative to luma: 0 leaves colour untouched, 0.5 as luma, 1 twice"},
    {"mode", F0R_PARAM_STRING,
     "Algorithm: best (the default: four moved transforms with Wiener gains) or exact (masked "
     "thresholding, about five times faster)"},
};

constexpr Mode kModes[] = {Mode::best, Mode::exact};

double clamp_unit(double v, double fallback) {
    if (std::isnan(v)) return fallback;
    return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v;
}

}  // namespace

bool parameter_info(int index, f0r_param_info_t& info) {
    if (index < 0 || index >= kParameterCount) return false;
    info.name = kParameters[index].name;
    info.type = kParameters[index].type;
    info.explanation = kParameters[index].explanation;
    return true;
}

const char* mode_name(Mode m) {
    switch (m) {
    case Mode::best:
        return "best";
    case Mode::exact:
        return "exact";
    }
    return "best";
}

void set_parameter(Settings& s, int index, const void* value) {
    if (value == nullptr) return;
    const Settings defaults;
    switch (index) {
    case kAuto:
        s.automatic = clamp_unit(*static_cast<const double*>(value), defaults.automatic) >= 0.5;
        break;
    case kStrength:
        s.strength = clamp_unit(*static_cast<const double*>(value), defaults.strength);
        break;
    case kChroma:
        s.chroma = clamp_unit(*static_cast<const double*>(value), defaults.chroma);
        break;
    case kMode: {
        const char* name = *static_cast<const char* const*>(value);
        s.mode = defaults.mode;
        for (Mode m : kModes)
            if (name != nullptr && std::strcmp(name, mode_name(m)) == 0) s.mode = m;
        break;
    }
    default:
        break;
    }
}

void get_parameter(const Settings& s, int index, void* value) {
    if (value == nullptr) return;
    switch (index) {
    case kAuto:
        *static_cast<double*>(value) = s.automatic ? 1.0 : 0.0;
        break;
    case kStrength:
        *static_cast<double*>(value) = s.strength;
        break;
    case kChroma:
        *static_cast<double*>(value) = s.chroma;
        break;
    case kMode:
        *static_cast<const char**>(value) = mode_name(s.mode);
        break;
    default:
        break;
    }
}

double sigma_for_strength(double strength) { return 25.0 * strength * strength; }

}  // namespace velmora
