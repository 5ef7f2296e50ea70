#include "frei0r/plane_strength.h"

#include <cmath>
#include <cstdint>

#include "engine/track_units.h"

namespace velmora {

double plane_factor(const Settings& s, int plane) { return plane == 0 ? 1.0 : 2.0 * s.chroma; }

bool measures_noise(const Settings& s) { return s.automatic; }

SubbandThresholds thresholds_for(double working) {
    int32_t entries[kTrackEntries] = {};
    for (int l = 0; l < kLevels; ++l) {
        const double entry = std::nearbyint(working / static_cast<double>(track_unit(l)));
        // Also false for NaN: such a threshold keeps the plane as it is.
        const int32_t whole =
            entry > 0.0 ? entry < 2147483647.0 ? static_cast<int32_t>(entry) : INT32_MAX : 0;
        for (int o = 0; o < 3; ++o) entries[3 * l + o] = whole;
    }
    return thresholds_from_tracks(entries, kLevels);
}

double plane_noise(const Settings& s, int plane, float measured) {
    const double noise = measures_noise(s) ? static_cast<double>(measured)
                                           : sigma_for_strength(s.strength) * kWorkingUnitsPer8Bit;
    return plane_factor(s, plane) * noise;
}

SubbandThresholds plane_thresholds(const Settings& s, int plane, float measured) {
    return thresholds_for(kThresholdFactor * plane_noise(s, plane, measured));
}

bool all_zero(const SubbandThresholds& t) {
    for (const auto& level : t.value)
        for (float v : level)
            if (v != 0.0f) return false;
    return true;
}

}  // namespace velmora
