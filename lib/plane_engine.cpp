#include "lib/plane_engine.h"

#include <algorithm>
#include <vector>

#include "engine/patch_noise.h"
#include "kernels/kernel_set.h"
#include "lib/large_buffer.h"

namespace velmora {

bool is_zero(const ThresholdRow& row) {
    return std::all_of(row.begin(), row.end(), [](int32_t v) { return v == 0; });
}

struct PlaneEngine::Memory {
    float* floats;
    explicit Memory(int64_t count)
        : floats(static_cast<float*>(allocate_large(static_cast<size_t>(count) * sizeof(float)))) {}
    ~Memory() { free_large(floats); }
};

PlaneEngine::PlaneEngine(int max_width, int max_height, const KernelSet& kernels, Workers& workers)
    : max_width_(max_width),
      max_height_(max_height),
      kernels_(kernels),
      workers_(workers),
      engine_() {}

int64_t PlaneEngine::memory_bytes(int width, int height, int threads, bool exact, bool best,
                                  bool measure) {
    int64_t floats = 0;
    if (exact) floats = std::max(floats, engine_memory_floats(width, height, threads));
    if (best) floats = std::max(floats, best_mode_memory_floats(width, height, threads));
    if (measure)
        floats = std::max({floats, noise_blocks_memory_floats(width, height, threads),
                           (patch_noise_order_words() + patch_noise_sum_doubles()) * 2});
    return static_cast<int64_t>(
        large_allocation_bytes(static_cast<size_t>(floats) * sizeof(float)));
}

PlaneEngine::~PlaneEngine() = default;

float* PlaneEngine::memory(int64_t floats) {
    if (floats > memory_floats_) {
        // The old memory goes first; without the new, none is held.
        memory_.reset();
        memory_floats_ = 0;
        memory_ = std::make_unique<Memory>(floats);
        memory_floats_ = floats;
    }
    return memory_->floats;
}

void PlaneEngine::analyse(const PlaneView& view) {
    const int threads = workers_.threads();
    engine_ = make_engine(kernels_, memory(engine_memory_floats(max_width_, max_height_, threads)),
                          max_width_, max_height_, threads);
    thresholds_ = {};
    velmora::analyse(engine_, view, workers_.executor(view.width, view.height));
}

void PlaneEngine::denoise_best(const PlaneView& view, float sigma, PlaneKind kind,
                               const BestModeExtras& extras) {
    const int threads = workers_.threads();
    const BestMode b =
        make_best_mode(kernels_, memory(best_mode_memory_floats(max_width_, max_height_, threads)),
                       max_width_, max_height_, threads);
    velmora::denoise_best(b, view, sigma, kind, workers_.executor(view.width, view.height), extras);
}

void PlaneEngine::measure_noise(const PlaneView& view, const Light& light, NoiseBlocks& out) {
    const int threads = workers_.threads();
    measure_noise_blocks(kernels_,
                         memory(noise_blocks_memory_floats(max_width_, max_height_, threads)),
                         threads, view, light, workers_.executor(view.width, view.height), out);
}

double PlaneEngine::patch_noise(const PlaneView& view) {
    // The patches' order (8-byte words), then their sums (doubles), in the working memory.
    constexpr int64_t kOrderFloats = patch_noise_order_words() * 2;
    float* floats = memory(kOrderFloats + patch_noise_sum_doubles() * 2);
    return patch_noise_level(view, reinterpret_cast<uint64_t*>(floats),
                             reinterpret_cast<double*>(floats + kOrderFloats));
}

float PlaneEngine::estimate_noise() const { return velmora::estimate_noise(engine_); }

ThresholdRow PlaneEngine::learn(int x, int y, int size) {
    const SubbandThresholds maxima = box_maxima(engine_, {x, y, size, size});
    ThresholdRow row = {};
    tracks_from_maxima(maxima, engine_.levels, row.data());
    return row;
}

void PlaneEngine::threshold(const ThresholdRow& row) {
    thresholds_ = thresholds_from_tracks(row.data(), engine_.levels);
}

void PlaneEngine::synthesise(const PlaneView& view) {
    velmora::synthesise(engine_, thresholds_, view, workers_.executor(view.width, view.height));
}

void PlaneEngine::error_map(float sigma, const ErrorMapLayout& layout, float* map) {
    // The map counts the coefficients the thresholds keep: the plane takes them in place first.
    const Executor ex = workers_.executor(engine_.width, engine_.height);
    velmora::threshold(engine_, thresholds_, ex);
    thresholds_ = {};
    thresholded_error_map(engine_, sigma, layout, map, ex);
}

uint32_t coefficient_view_sample(int16_t y, SampleFormat format) {
    const uint32_t level = std::min<uint32_t>(static_cast<uint16_t>(y), 4095);
    const uint32_t maximum = static_cast<uint32_t>(sample_maximum(format));
    return (level * maximum + 2047) / 4095;
}

void PlaneEngine::draw_coefficients(const PlaneView& view) {
    // The view shows the thresholded coefficients: the plane takes its thresholds in place.
    velmora::threshold(engine_, thresholds_, workers_.executor(engine_.width, engine_.height));
    thresholds_ = {};
    std::vector<int16_t> picture(static_cast<size_t>(view.width) * view.height);
    draw_coefficient_view(
        engine_, {picture.data(), 1, view.width, view.width, view.height, SampleFormat::s16});
    for (int32_t y = 0; y < view.height; ++y) {
        for (int32_t x = 0; x < view.width; ++x) {
            const uint32_t v = coefficient_view_sample(
                picture[static_cast<size_t>(y) * view.width + x], view.format);
            char* at = static_cast<char*>(view.base) +
                       (y * view.row_stride + x) * sample_bytes(view.format);
            if (view.format == SampleFormat::u8)
                *reinterpret_cast<uint8_t*>(at) = static_cast<uint8_t>(v);
            else
                *reinterpret_cast<uint16_t*>(at) = static_cast<uint16_t>(v);
        }
    }
}

}  // namespace velmora
