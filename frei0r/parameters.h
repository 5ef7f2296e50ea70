// The filter's parameters as the hosts see them: names, types, defaults, and how a value a host
// passes becomes a setting. Hosts pass values unchecked (out of range, infinite, NaN), so every
// value is clamped here; nothing a host sets can make a setting invalid.
//
//   0 auto      bool    on   estimate the noise of each plane on every frame
//   1 strength  double  0.4  used when auto is off: noise level sigma = 25 * strength^2 8-bit
//                            steps (0.2 -> 1, 0.4 -> 4, 0.6 -> 9, 0.8 -> 16, 1 -> 25)
//   2 chroma    double  0.5  the chroma planes' strength relative to luma: factor 2 * chroma
//                            (0 leaves chroma untouched, 0.5 as luma, 1 twice as strong)
//   3 mode      string  best  the engine's algorithm: "best" (four moved transforms with Wiener
//                             gains, as velmora's default) or "exact" (the masked thresholding)
//
// No parameter is named "threads": MLT gives a filter property of that name a meaning of its own
// (it cuts frames into slices).
#pragma once

#include <array>
#include <string>

#include "frei0r/frei0r_api.h"

namespace velmora {

enum class Mode { best, exact };

struct Settings {
    bool automatic = true;
    double strength = 0.4;  // 0..1
    double chroma = 0.5;    // 0..1
    Mode mode = Mode::best;

    friend bool operator==(const Settings&, const Settings&) = default;
};

enum ParameterIndex { kAuto, kStrength, kChroma, kMode, kParameterCount };

// Name, type and explanation of parameter `index`; false for an index out of range.
bool parameter_info(int index, f0r_param_info_t& info);

// Sets parameter `index` from what `value` points to (a double for bool and double parameters,
// a char* for strings), clamped: NaN gives the default, numbers are clamped to 0..1, a bool is
// on from 0.5, a null or unknown mode name gives the default mode. Out-of-range indices and null
// values change nothing.
void set_parameter(Settings& s, int index, const void* value);

// Writes parameter `index` to `value` (a double, or a const char* that stays valid for the life
// of the program); out-of-range indices write nothing.
void get_parameter(const Settings& s, int index, void* value);

// The mode's name as the mode parameter shows it.
const char* mode_name(Mode m);

// Noise level in 8-bit steps for a strength of 0..1: 25 * strength^2.
double sigma_for_strength(double strength);

}  // namespace velmora
