#include "frei0r/frame_filter.h"

#include <algorithm>
#include <new>
#include <vector>

#include "engine/noise_blocks.h"
#include "engine/noise_level.h"
#include "frei0r/colour.h"
#include "frei0r/float_environment.h"
#include "frei0r/plane_strength.h"
#include "kernels/kernel_set.h"
#include "threads/thread_pool.h"

namespace velmora {

struct Workspace::Buffers {
    std::vector<uint16_t> samples;  // Y, then Cb, then Cr
    // One frame's noise blocks of a plane and their values, for auto.
    std::vector<float> block_coefficients, block_values;
    std::vector<uint8_t> left_out;
    float* memory = nullptr;  // the modes' and the measurement's, one at a time

    ~Buffers() { ::operator delete[](memory, std::align_val_t{16}); }
};

namespace {

struct Conversion {
    const uint8_t* in;
    uint8_t* out;
    YCbCrPlanes planes;
};

void to_planes_worker(int t, int T, void* c) {
    const Conversion& k = *static_cast<Conversion*>(c);
    const ItemRange rows = thread_share(k.planes.height, t, T);
    rgba_to_planes(k.in, k.planes, rows.begin, rows.end);
}

void to_rgba_worker(int t, int T, void* c) {
    const Conversion& k = *static_cast<Conversion*>(c);
    const ItemRange rows = thread_share(k.planes.height, t, T);
    planes_to_rgba(k.planes, k.in, k.out, rows.begin, rows.end);
}

// The exact mode's masked thresholding of one plane, in the engine's fused passes. A plane whose
// thresholds are all zero is left as it was loaded: the engine is not run over it.
void denoise_exact(Engine& e, const PlaneView& view, double noise, const Executor& ex) {
    const SubbandThresholds t = thresholds_for(kThresholdFactor * noise);
    if (!all_zero(t)) denoise(e, view, t, ex);
}

// What a workspace's buffers hold: samples of the three planes, noise blocks of a plane, and
// the floats the modes and the measurement take in turn.
struct BufferSizes {
    size_t samples, blocks, block_coefficients, floats;
};

BufferSizes buffer_sizes(int32_t width, int32_t height, int threads, Modes modes) {
    const size_t blocks =
        static_cast<size_t>(noise_blocks_along(width)) * noise_blocks_along(height);
    int64_t floats = std::max(engine_memory_floats(width, height, threads),
                              noise_blocks_memory_floats(width, height, threads));
    if (modes == Modes::both)
        floats = std::max(floats, best_mode_memory_floats(width, height, threads));
    return {3 * static_cast<size_t>(width) * height, blocks,
            blocks * kNoiseBlockCoefficients * kNoiseBlockCoefficients,
            static_cast<size_t>(floats)};
}

}  // namespace

int64_t workspace_bytes(int32_t width, int32_t height, int threads, Modes modes) {
    const BufferSizes sizes = buffer_sizes(width, height, threads, modes);
    return static_cast<int64_t>(sizes.samples * sizeof(uint16_t) +
                                (sizes.block_coefficients + sizes.blocks) * sizeof(float) +
                                sizes.blocks * sizeof(uint8_t) + sizes.floats * sizeof(float));
}

std::unique_ptr<Workspace> Workspace::make(int32_t width, int32_t height, int threads,
                                           Modes modes) {
    if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide) return nullptr;
    try {
        std::unique_ptr<Workspace> w(new Workspace);
        w->buffers_ = std::make_unique<Buffers>();
        w->modes_ = modes;
        Buffers& b = *w->buffers_;
        const BufferSizes sizes = buffer_sizes(width, height, threads, modes);
        b.samples.resize(sizes.samples);
        b.block_coefficients.resize(sizes.block_coefficients);
        b.block_values.resize(sizes.blocks);
        b.left_out.resize(sizes.blocks);
        b.memory = static_cast<float*>(
            ::operator new[](sizes.floats * sizeof(float), std::align_val_t{16}, std::nothrow));
        if (b.memory == nullptr) return nullptr;
        // VELMORA_ISA may name a narrower kernel table, for checking that it gives the same bits.
        const KernelSet& k = preferred_kernels();
        w->engine_ = make_engine(k, b.memory, width, height, threads);
        if (modes == Modes::both) w->best_ = make_best_mode(k, b.memory, width, height, threads);
        return w;
    } catch (...) {
        return nullptr;
    }
}

Workspace::~Workspace() = default;

Executor Workspace::executor(bool share) {
    if (share && engine_.threads > 1 && !pool_) {
        try {
            pool_ = std::make_unique<ThreadPool>(engine_.threads);
        } catch (...) {  // no threads to be had: the calling thread does it all
        }
    }
    return share && pool_ ? pool_->executor() : serial_executor();
}

float Workspace::measured_noise(const PlaneView& view, const Executor& ex) {
    Buffers& b = *buffers_;
    NoiseBlocks blocks = {noise_blocks_along(view.width), noise_blocks_along(view.height),
                          b.block_coefficients.data(), b.left_out.data()};
    measure_noise_blocks(*engine_.kernels, b.memory, engine_.threads, view, ex, blocks);
    const int64_t count = spatial_noise_values(blocks, b.block_values.data());
    const NoiseLevel level = noise_level(b.block_values.data(), count, nullptr, 0);
    if (!level.found || level.sigma < kLeastNoise * kWorkingUnitsPer8Bit) return 0.0f;
    return level.sigma;
}

void Workspace::denoise_plane(const Settings& s, const PlaneView& view, int plane,
                              const Executor& ex) {
    if (plane_factor(s, plane) == 0.0) return;
    const float measured = measures_noise(s) ? measured_noise(view, ex) : 0.0f;
    const double noise = plane_noise(s, plane, measured);
    switch (modes_ == Modes::both ? s.mode : Mode::exact) {
    case Mode::best:
        denoise_best(best_, view, static_cast<float>(noise),
                     plane == 0 ? PlaneKind::luma : PlaneKind::chroma, ex);
        return;
    case Mode::exact:
        denoise_exact(engine_, view, noise, ex);
        return;
    }
}

void Workspace::filter(const Settings& s, const uint8_t* in, uint8_t* out, bool share) {
    const int32_t width = engine_.max_width, height = engine_.max_height;
    const size_t plane_samples = static_cast<size_t>(width) * height;
    uint16_t* samples = buffers_->samples.data();
    const YCbCrPlanes planes = {samples, samples + plane_samples, samples + 2 * plane_samples,
                                width, height};

    EnvironmentExecutor inner = {executor(share)};
    const Executor ex = with_default_environment(inner);
    Conversion conversion = {in, out, planes};
    ex.run(ex.self, to_planes_worker, &conversion);
    uint16_t* plane_base[3] = {planes.y, planes.cb, planes.cr};
    for (int p = 0; p < 3; ++p) {
        const PlaneView view = {plane_base[p], 1, width, width, height, SampleFormat::u12};
        denoise_plane(s, view, p, ex);
    }
    ex.run(ex.self, to_rgba_worker, &conversion);
}

}  // namespace velmora
