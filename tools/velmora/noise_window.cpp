#include "tools/velmora/noise_window.h"

#include <cstring>

namespace velmora {

PlaneView NoiseWindow::Blocks::view() { return {samples.data(), 1, width, width, height, format}; }

NoiseWindow::NoiseWindow(int64_t window, int64_t every)
    : window_(window < 1 ? 1 : window), every_(every < 1 ? 1 : every) {}

bool NoiseWindow::wants(int64_t n) const { return n >= 0 && n % every_ < window_; }

void NoiseWindow::observe(PlaneEngine& engine, const PlaneView& picture, int64_t n) {
    Blocks& b = current_;
    b.width = picture.width;
    b.height = picture.height;
    b.format = picture.format;
    const int32_t columns = noise_blocks_along(b.width), rows = noise_blocks_along(b.height);
    b.coefficients.resize(static_cast<size_t>(columns) * rows * kNoiseBlockCoefficients *
                          kNoiseBlockCoefficients);
    b.left_out.resize(static_cast<size_t>(columns) * rows);
    NoiseBlocks blocks = b.blocks();
    engine.measure_noise(picture, blocks);
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
    m.spatial.resize(static_cast<size_t>(spatial_noise_values(blocks, m.spatial.data())));
    const bool pair = previous_frame_ == n - 1 && previous_.width == b.width &&
                      previous_.height == b.height && previous_.format == b.format;
    if (pair) {
        m.temporal.resize(b.left_out.size());
        NoiseBlocks before = previous_.blocks();
        m.temporal.resize(static_cast<size_t>(temporal_noise_values(
            before, previous_.view(), blocks, b.view(), m.temporal.data(), &m.unchanged)));
    }
    frames_[n] = std::move(m);
    std::swap(previous_, current_);
    previous_frame_ = n;
}

NoiseLevel NoiseWindow::level_at(int64_t n, int64_t& last, bool& still) {
    frames_.erase(frames_.begin(), frames_.lower_bound(n));
    std::vector<float> spatial, temporal;
    int64_t unchanged = 0;
    last = n;
    for (auto it = frames_.begin(); it != frames_.end() && it->first <= last_of(n); ++it) {
        last = it->first;
        spatial.insert(spatial.end(), it->second.spatial.begin(), it->second.spatial.end());
        if (it->first > n) {
            temporal.insert(temporal.end(), it->second.temporal.begin(), it->second.temporal.end());
            unchanged += it->second.unchanged;
        }
    }
    NoiseLevel level = noise_level(spatial.data(), static_cast<int64_t>(spatial.size()),
                                   temporal.data(), static_cast<int64_t>(temporal.size()));
    still = temporal.empty() && unchanged >= kNoiseLevelBlocks;
    if (still) {
        level.found = true;
        level.sigma = 0.0f;
    }
    return level;
}

}  // namespace velmora
