#include "lib/strength.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/track_units.h"

namespace velmora {

double working_units_per_8bit(SampleFormat format) { return 16.0 * threshold_factor(format); }

ThresholdRow row_for_threshold(double threshold) {
    ThresholdRow row;
    for (int l = 0; l < 5; ++l) {
        const double entry = std::nearbyint(threshold / static_cast<double>(track_unit(l)));
        const double clamped =
            std::min(std::max(entry, 0.0), double(std::numeric_limits<int32_t>::max()));
        for (int o = 0; o < 3; ++o) row[3 * l + o] = static_cast<int32_t>(clamped);
    }
    return row;
}

ThresholdRow row_for_sigma(double sigma_8bit, double k, SampleFormat format) {
    return row_for_threshold(k * sigma_8bit * working_units_per_8bit(format));
}

ThresholdRow row_from_tracks(const ThresholdRow& tracks, SampleFormat format) {
    ThresholdRow row;
    for (size_t i = 0; i < row.size(); ++i) row[i] = tracks[i] * threshold_factor(format);
    return row;
}

std::string format_tracks(const ThresholdRow& row, SampleFormat format) {
    const int32_t factor = threshold_factor(format);
    std::string out;
    for (size_t i = 0; i < row.size(); ++i) {
        if (i) out += ' ';
        if (row[i] % factor == 0) {
            out += std::to_string(row[i] / factor);
        } else {
            char text[32];
            std::snprintf(text, sizeof text, "%.4g", static_cast<double>(row[i]) / factor);
            out += text;
        }
    }
    return out;
}

}  // namespace velmora
