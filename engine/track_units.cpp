#include "engine/track_units.h"

#include "kernels/lifting_constants.h"
#include "kernels/sample_conversion.h"

namespace velmora {

namespace {

// powf(1.4142135f, l) for l = 0..4, correctly rounded (1.4142135 is 0x3FB504F3).
constexpr uint32_t kSqrt2PowerBits[] = {0x3F800000, 0x3FB504F3, 0x3FFFFFFF, 0x403504F3, 0x407FFFFF};

}  // namespace

float sqrt2_power(int level) { return float_from_bits(kSqrt2PowerBits[level]); }

float track_unit(int level) { return sqrt2_power(level) * 0.25f; }

SubbandThresholds thresholds_from_tracks(const int32_t* entries, int levels) {
    SubbandThresholds t = {};
    for (int l = 0; l < levels && l < kLevels; ++l)
        for (int o = 0; o < 3; ++o)
            t.value[l][o] = static_cast<float>(entries[3 * l + o]) * track_unit(l);
    return t;
}

int32_t track_entry(float magnitude, int level) {
    const float q = 4.0f / sqrt2_power(level);
    return convert_truncate(magnitude * q);
}

void tracks_from_maxima(const SubbandThresholds& maxima, int levels, int32_t* entries) {
    for (int l = 0; l < levels && l < kLevels; ++l)
        for (int o = 0; o < 3; ++o) entries[3 * l + o] = track_entry(maxima.value[l][o], l);
}

}  // namespace velmora
