#include "lib/noise_window.h"

#include <algorithm>
#include <cstring>

#include "engine/channel_kurtosis.h"
#include "engine/patch_noise.h"
#include "lib/strength.h"

namespace velmora {

PlaneView NoiseWindow::Blocks::view() { return {samples.data(), 1, width, width, height, format}; }

NoiseWindow::NoiseWindow(int64_t window, int64_t every, bool texture_as_noise, bool bands)
    : window_(window < 1 ? 1 : window),
      every_(every < 1 ? 1 : every),
      texture_as_noise_(texture_as_noise),
      measure_bands_(bands && !texture_as_noise) {}

bool NoiseWindow::wants(int64_t n) const { return n >= 0 && n % every_ < window_; }

void NoiseWindow::observe(PlaneEngine& engine, const PlaneView& picture, const Light& light,
                          int64_t n) {
    Blocks& b = current_;
    b.width = picture.width;
    b.height = picture.height;
    b.format = picture.format;
    const int32_t columns = noise_blocks_along(b.width), rows = noise_blocks_along(b.height);
    b.coefficients.resize(static_cast<size_t>(columns) * rows * kNoiseBlockCoefficients *
                          kNoiseBlockCoefficients);
    b.left_out.resize(static_cast<size_t>(columns) * rows);
    b.detail.resize(b.left_out.size());
    b.brightness.resize(b.left_out.size());
    b.bands.resize(
        measure_bands_ ? static_cast<size_t>(noise_band_coefficient_floats(columns, rows)) : 0);
    NoiseBlocks blocks = b.blocks();
    engine.measure_noise(picture, light, blocks);
    // The samples, packed, for the next frame's comparison.
    const size_t line = static_cast<size_t>(b.width) * sample_bytes(b.format);
    b.samples.resize(line * b.height);
    for (int32_t y = 0; y < b.height; ++y) {
        const char* row = static_cast<const char*>(picture.base) +
                          static_cast<ptrdiff_t>(y) * picture.row_stride * sample_bytes(b.format);
        if (picture.sample_stride == 1) {
            std::memcpy(b.samples.data() + y * line, row, line);
        } else {
            const size_t bytes = sample_bytes(b.format);
            for (int32_t x = 0; x < b.width; ++x)
                std::memcpy(b.samples.data() + y * line + x * bytes,
                            row + static_cast<size_t>(x) * picture.sample_stride * bytes, bytes);
        }
    }
    Measured m;
    m.spatial.resize(b.left_out.size());
    m.detail.resize(b.left_out.size());
    m.spatial_brightness.resize(b.left_out.size());
    m.spatial.resize(static_cast<size_t>(spatial_noise_values(
        blocks, m.spatial.data(), m.detail.data(), m.spatial_brightness.data())));
    m.detail.resize(m.spatial.size());
    m.spatial_brightness.resize(m.spatial.size());
    const bool pair = previous_frame_ == n - 1 && previous_.width == b.width &&
                      previous_.height == b.height && previous_.format == b.format;
    if (pair) {
        m.temporal.resize(b.left_out.size());
        m.temporal_brightness.resize(b.left_out.size());
        NoiseBlocks before = previous_.blocks();
        m.temporal.resize(static_cast<size_t>(
            temporal_noise_values(before, previous_.view(), blocks, b.view(), m.temporal.data(),
                                  &m.unchanged, m.temporal_brightness.data())));
        m.temporal_brightness.resize(m.temporal.size());
    }
    if (measure_bands_) {
        m.columns = columns;
        m.rows = rows;
        const size_t values = static_cast<size_t>(noise_band_value_floats(columns, rows));
        m.band_spatial.resize(values);
        spatial_band_values(blocks, m.band_spatial.data());
        m.block_detail = b.detail;
        if (pair) {
            m.band_temporal.resize(values);
            std::vector<uint8_t> usable(b.left_out.size());
            temporal_band_values(previous_.blocks(), previous_.view(), blocks, b.view(),
                                 usable.data(), m.band_temporal.data());
        }
    }
    frames_[n] = std::move(m);
    std::swap(previous_, current_);
    previous_frame_ = n;
}

MeasuredBands NoiseWindow::measure_bands(int64_t n) const {
    std::vector<BandEvidence> changes;
    for (auto it = frames_.upper_bound(n); it != frames_.end() && it->first <= last_of(n); ++it)
        if (!it->second.band_temporal.empty())
            changes.push_back(
                {it->second.columns, it->second.rows, it->second.band_temporal.data()});
    const int count = static_cast<int>(changes.size());
    std::vector<float> scratch(
        static_cast<size_t>(band_factor_scratch_floats(changes.data(), count)));
    return measure_band_factors(changes.data(), count, scratch.data());
}

MeasuredBands NoiseWindow::measure_still_bands(int64_t n, float sigma) const {
    const float limit = weak_texture_limit(sigma);
    std::vector<std::vector<float>> values;
    std::vector<BandEvidence> frames;
    for (auto it = frames_.lower_bound(n); it != frames_.end() && it->first <= last_of(n); ++it) {
        const Measured& m = it->second;
        if (m.band_spatial.empty()) continue;
        std::vector<uint8_t> weak(m.block_detail.size());
        for (size_t i = 0; i < weak.size(); ++i) weak[i] = m.block_detail[i] <= limit;
        values.push_back(m.band_spatial);
        leave_out_band_blocks(m.columns, m.rows, weak.data(), values.back().data());
        frames.push_back({m.columns, m.rows, values.back().data()});
    }
    const int count = static_cast<int>(frames.size());
    std::vector<float> scratch(
        static_cast<size_t>(band_factor_scratch_floats(frames.data(), count)));
    MeasuredBands out = measure_band_factors(frames.data(), count, scratch.data());
    out.one_picture = true;
    return out;
}

bool NoiseWindow::texture_levels(PlaneEngine& engine, int64_t n, bool patch, double& texture,
                                 double& patches) {
    // Only a window without frame changes asks: its pictures are unrelated or one picture, and
    // the last one observed, whose samples are kept, stands for them.
    if (previous_frame_ < n || previous_frame_ > last_of(n)) return false;
    const PlaneView picture = previous_.view();
    texture = kurtosis_noise_level(picture);
    patches = patch ? engine.patch_noise(picture) : -1.0;
    return true;
}

NoiseLevel NoiseWindow::level_at(PlaneEngine& engine, int64_t n, int64_t& last, bool& still) {
    frames_.erase(frames_.begin(), frames_.lower_bound(n));
    std::vector<float> spatial, temporal, detail, spatial_brightness, temporal_brightness;
    int64_t unchanged = 0;
    last = n;
    for (auto it = frames_.begin(); it != frames_.end() && it->first <= last_of(n); ++it) {
        last = it->first;
        spatial.insert(spatial.end(), it->second.spatial.begin(), it->second.spatial.end());
        detail.insert(detail.end(), it->second.detail.begin(), it->second.detail.end());
        spatial_brightness.insert(spatial_brightness.end(), it->second.spatial_brightness.begin(),
                                  it->second.spatial_brightness.end());
        if (it->first > n) {
            temporal.insert(temporal.end(), it->second.temporal.begin(), it->second.temporal.end());
            temporal_brightness.insert(temporal_brightness.end(),
                                       it->second.temporal_brightness.begin(),
                                       it->second.temporal_brightness.end());
            unchanged += it->second.unchanged;
        }
    }
    std::vector<float> scratch(texture_as_noise_ ? 0 : spatial.size());
    const auto level_with = [&](double texture, double patches) {
        return noise_level(spatial.data(), static_cast<int64_t>(spatial.size()), temporal.data(),
                           static_cast<int64_t>(temporal.size()), texture,
                           texture_as_noise_ ? nullptr : detail.data(), scratch.data(), patches);
    };
    NoiseLevel level = level_with(-1.0, -1.0);
    still = temporal.empty() && unchanged >= kNoiseLevelBlocks;
    // Only a level from few weakly textured blocks takes the kurtosis level, and one from texture
    // nearly everywhere the patch level (noise_level.h): they are measured for such a window
    // alone (not a still one, whose level is 0), and the level found again with them.
    double texture = -1.0, patches = -1.0;
    if (!texture_as_noise_ && !still &&
        (level.certainty == NoiseCertainty::some_weak_texture ||
         level.certainty == NoiseCertainty::texture) &&
        texture_levels(engine, n, level.certainty == NoiseCertainty::texture, texture, patches))
        level = level_with(texture, patches);
    const int64_t spatial_count = static_cast<int64_t>(spatial.size());
    const int64_t temporal_count = static_cast<int64_t>(temporal.size());
    scratch.resize(static_cast<size_t>(3 * spatial_count + temporal_count));
    noise_curve(spatial.data(), texture_as_noise_ ? nullptr : detail.data(),
                spatial_brightness.data(), spatial_count, temporal.data(),
                temporal_brightness.data(), temporal_count,
                static_cast<float>(32.0 * working_units_per_8bit(previous_.format)), scratch.data(),
                curve_);
    // A camera's noise changes with brightness, and the least noisy blocks that the level is
    // measured on are those of one brightness: a sure level becomes the mean over the picture.
    const bool textured = level.certainty == NoiseCertainty::texture ||
                          (level.certainty == NoiseCertainty::some_weak_texture && texture >= 0.0 &&
                           texture < kTextureRatio * level.sigma);
    bands_ = !measure_bands_ || !level.found ? MeasuredBands{}
             : !temporal.empty()             ? measure_bands(n)
             : level.certainty == NoiseCertainty::weak_texture ||
                     level.certainty == NoiseCertainty::some_weak_texture
                 ? measure_still_bands(n, level.sigma)
                 : MeasuredBands{};
    level_from_curve_ = false;
    if (!texture_as_noise_ && level.found && !textured) {
        const float mean = noise_curve_mean(curve_);
        if (mean >= 0.0f) level.sigma = mean;
        level_from_curve_ = mean >= 0.0f;
    }
    if (still) {
        level.found = true;
        level.sigma = 0.0f;
        level.certainty = NoiseCertainty::frames;
    }
    return level;
}

}  // namespace velmora
