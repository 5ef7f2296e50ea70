#include "tools/velmora/strength.h"

#include <charconv>
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

bool parse_tracks(std::string_view text, int& plane, ThresholdRow& tracks, std::string& error) {
    const size_t colon = text.find(':');
    if (colon == text.npos) {
        error = "expected P:v0,...,v14";
        return false;
    }
    const std::string_view name = text.substr(0, colon);
    if (name == "0" || name == "y" || name == "Y") {
        plane = 0;
    } else if (name == "1" || name == "cb" || name == "Cb" || name == "u" || name == "U") {
        plane = 1;
    } else if (name == "2" || name == "cr" || name == "Cr" || name == "v" || name == "V") {
        plane = 2;
    } else {
        error = "plane '" + std::string(name) + "' is not 0, 1 or 2";
        return false;
    }
    std::string_view values = text.substr(colon + 1);
    for (size_t i = 0; i < tracks.size(); ++i) {
        const size_t comma = values.find(',');
        const std::string_view item = values.substr(0, comma);
        int32_t v = 0;
        const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
        if (ec != std::errc() || end != item.data() + item.size() || v < 0 || v > (1 << 26)) {
            error = "track value " + std::to_string(i) + " '" + std::string(item) +
                    "' is not a whole number from 0 to " + std::to_string(1 << 26);
            return false;
        }
        tracks[i] = v;
        if ((comma == values.npos) != (i + 1 == tracks.size())) {
            error = "expected exactly 15 values";
            return false;
        }
        if (comma != values.npos) values.remove_prefix(comma + 1);
    }
    return true;
}

}  // namespace velmora
