#include "frei0r/frame_filter.h"

#include <new>
#include <vector>

#include "frei0r/colour.h"
#include "frei0r/float_environment.h"
#include "frei0r/plane_strength.h"
#include "kernels/kernel_set.h"
#include "threads/thread_pool.h"

namespace velmora {

struct Workspace::Buffers {
    std::vector<uint16_t> samples;  // Y, then Cb, then Cr
    float* engine_memory = nullptr;

    ~Buffers() { ::operator delete[](engine_memory, std::align_val_t{16}); }
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

// The engine's masked thresholding of one plane. A plane whose thresholds are all zero is left
// as it was loaded: the engine is not run back over it.
void denoise_exact(Engine& e, const PlaneView& view, const Settings& s, int plane,
                   const Executor& ex) {
    if (plane_factor(s, plane) == 0.0) return;
    SubbandThresholds t = {};
    if (measures_noise(s)) {
        load(e, view, ex);
        forward(e, ex);
        t = plane_thresholds(s, plane, estimate_noise(e));
        if (all_zero(t)) return;
    } else {
        t = plane_thresholds(s, plane, 0.0f);
        if (all_zero(t)) return;
        load(e, view, ex);
        forward(e, ex);
    }
    threshold(e, t, ex);
    inverse(e, ex);
    store(e, view, ex);
}

void denoise_plane(Engine& e, const PlaneView& view, const Settings& s, int plane,
                   const Executor& ex) {
    switch (s.mode) {
    case Mode::exact:
        denoise_exact(e, view, s, plane, ex);
        return;
    }
}

}  // namespace

std::unique_ptr<Workspace> Workspace::make(int32_t width, int32_t height, int threads) {
    if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide) return nullptr;
    try {
        std::unique_ptr<Workspace> w(new Workspace);
        w->buffers_ = std::make_unique<Buffers>();
        w->buffers_->samples.resize(3 * static_cast<size_t>(width) * height);
        const int64_t floats = engine_memory_floats(width, height, threads);
        w->buffers_->engine_memory = static_cast<float*>(::operator new[](
            static_cast<size_t>(floats) * sizeof(float), std::align_val_t{16}, std::nothrow));
        if (w->buffers_->engine_memory == nullptr) return nullptr;
        // VELMORA_ISA may name a narrower kernel table, for checking that it gives the same bits.
        w->engine_ =
            make_engine(preferred_kernels(), w->buffers_->engine_memory, width, height, threads);
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
        denoise_plane(engine_, view, s, p, ex);
    }
    ex.run(ex.self, to_rgba_worker, &conversion);
}

}  // namespace velmora
