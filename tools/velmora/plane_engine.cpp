#include "tools/velmora/plane_engine.h"

#include <algorithm>
#include <new>
#include <vector>

#include "host/parameter_store.h"
#include "kernels/kernel_set.h"
#include "pipeline/frame_geometry.h"
#include "pipeline/learning.h"
#include "pipeline/plane_stages.h"
#include "pipeline/views.h"
#include "standin/thread_pool.h"
#include "wavelet/lifting_passes.h"

namespace velmora {

namespace {

int32_t padded(int32_t v) { return (v + 31) & ~31; }

}  // namespace

bool is_zero(const ThresholdRow& row) {
    return std::all_of(row.begin(), row.end(), [](int32_t v) { return v == 0; });
}

struct PlaneEngine::Memory {
    float* floats;
    explicit Memory(int64_t count)
        : floats(static_cast<float*>(::operator new[](static_cast<size_t>(count) * sizeof(float),
                                                      std::align_val_t{16}))) {}
    ~Memory() { ::operator delete[](floats, std::align_val_t{16}); }
};

PlaneEngine::PlaneEngine(int max_width, int max_height, int threads) {
    set_pool_threads(threads);
    kernels();  // chosen before any worker asks for it
    const int32_t W = padded(max_width), H = padded(max_height);
    memory_ = std::make_unique<Memory>(working_floats(W, H, threads < 1 ? 1 : threads));
}

PlaneEngine::~PlaneEngine() = default;

void PlaneEngine::use_plane(int32_t W, int32_t H, int plane) {
    plane_ = lay_out_plane(memory_->floats, W, H);
    current_ = plane < 0 ? 0 : plane > 2 ? 2 : plane;
    frame_geometry.W = W;
    frame_geometry.H = H;
    frame_geometry.WorkingPlane = plane_.data;
    frame_geometry.ScratchArea = plane_.scratch;
    frame_geometry.scratch_per_thread = plane_.scratch_per_thread;
    frame_geometry.current_plane = current_;
}

void PlaneEngine::analyse(const PlaneView& view, int plane) {
    width_ = view.width;
    height_ = view.height;
    use_plane(padded(view.width), padded(view.height), plane);
    WorkerParams params = {nullptr, nullptr, view};
    run_load(pool_exec, &params);
    run_forward(pool_exec, &params, kLevels);
}

float PlaneEngine::estimate_noise() const {
    const int32_t w2 = plane_.W >> 1, h2 = plane_.H >> 1;
    const int32_t cols = std::max(1, width_ / 2), rows = std::max(1, height_ / 2);
    std::vector<float> magnitudes;
    magnitudes.reserve(static_cast<size_t>(cols) * rows);
    for (int32_t y = 0; y < rows; ++y) {
        const float* row = plane_.data + static_cast<int64_t>(h2 + y) * plane_.W + w2;
        for (int32_t x = 0; x < cols; ++x) magnitudes.push_back(row[x] < 0 ? -row[x] : row[x]);
    }
    auto middle = magnitudes.begin() + static_cast<ptrdiff_t>(magnitudes.size() / 2);
    std::nth_element(magnitudes.begin(), middle, magnitudes.end());
    return *middle / 0.6745f;
}

ThresholdRow PlaneEngine::learn(int x, int y) {
    int track[kTrackCount] = {};
    track[kTrackPosX] = x;
    track[kTrackPosY] = y;
    FILTER filter = {};
    filter.track = track;
    LearnThresholds(&filter, kLevels);
    ThresholdRow row;
    std::copy(std::begin(ThresholdTable[current_]), std::end(ThresholdTable[current_]),
              row.begin());
    return row;
}

void PlaneEngine::threshold(const ThresholdRow& row) {
    std::copy(row.begin(), row.end(), ThresholdTable[current_]);
    WorkerParams params = {};
    run_threshold(pool_exec, &params, kLevels);
}

void PlaneEngine::synthesise(const PlaneView& view) {
    WorkerParams params = {nullptr, nullptr, view};
    run_inverse(pool_exec, &params, kLevels);
    run_store(pool_exec, &params);
}

uint32_t coefficient_view_sample(int16_t y, SampleFormat format) {
    const uint32_t level = std::min<uint32_t>(static_cast<uint16_t>(y), 4095);
    const uint32_t maximum = static_cast<uint32_t>(sample_maximum(format));
    return (level * maximum + 2047) / 4095;
}

void PlaneEngine::draw_coefficients(const PlaneView& view) {
    // A 16-bit plane works at 16 times the plug-in's scale: bring its coefficients back
    // (exactly, a power of two) so that the picture matches the other depths.
    if (threshold_factor(view.format) != 1) {
        const float scale = 1.0f / static_cast<float>(threshold_factor(view.format));
        const int64_t count = static_cast<int64_t>(plane_.W) * plane_.H;
        for (int64_t i = 0; i < count; ++i) plane_.data[i] *= scale;
    }
    std::vector<PIXEL_YC> pixels(static_cast<size_t>(view.width) * view.height);
    FILTER_PROC_INFO info = {};
    info.ycp_edit = pixels.data();
    info.w = info.max_w = view.width;
    info.h = info.max_h = view.height;
    DrawCoefficientView(&info, kLevels);
    for (int32_t y = 0; y < view.height; ++y) {
        for (int32_t x = 0; x < view.width; ++x) {
            const uint32_t v = coefficient_view_sample(
                pixels[static_cast<size_t>(y) * view.width + x].y, view.format);
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
