// Helpers shared by the wavelet engine tests: 16-byte aligned float storage, planes in the
// engine's working layout with scratch for several threads, the passes run for every thread
// index in turn, and bit-level comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "engine/thread_speeds.h"
#include "engine/track_units.h"
#include "kernels/kernel_set.h"
#include "standin/frame_source.h"
#include "wavelet/lifting_passes.h"
#include "wavelet/masked_threshold.h"
#include "wavelet/transform_plane.h"

// Lopsided speeds for every pass, each level's forward and inverse pass with the `threads`
// weights turned by a different step, so that neighbouring passes cut their rows elsewhere.
inline velmora::PassSpeeds lopsided_pass_speeds(const uint16_t* weights, int threads) {
    velmora::PassSpeeds s = velmora::equal_pass_speeds();
    for (int l = 0; l < kLevels; ++l)
        for (int t = 0; t < threads; ++t) {
            s.forward[l].weight[t] = weights[(t + l) % threads];
            s.inverse[l].weight[t] = weights[(t + 2 * l + 1) % threads];
        }
    return s;
}

// Exactly `count` floats on a 16-byte boundary, zero-filled, so that the sanitizers see any
// access past the end.
class AlignedFloats {
public:
    explicit AlignedFloats(size_t count)
        : count_(count),
          data_(static_cast<float*>(
              ::operator new[]((count ? count : 1) * sizeof(float), std::align_val_t{16}))) {
        for (size_t i = 0; i < count_; ++i) data_[i] = 0.0f;
    }
    ~AlignedFloats() { ::operator delete[](data_, std::align_val_t{16}); }
    AlignedFloats(const AlignedFloats&) = delete;
    AlignedFloats& operator=(const AlignedFloats&) = delete;

    float* data() { return data_; }
    const float* data() const { return data_; }
    size_t size() const { return count_; }
    float& operator[](size_t i) { return data_[i]; }
    float operator[](size_t i) const { return data_[i]; }

private:
    size_t count_;
    float* data_;
};

inline uint32_t bits_of(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Index of the first float whose bit pattern differs, or -1 when all `count` agree.
inline long first_difference(const float* a, const float* b, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (bits_of(a[i]) != bits_of(b[i])) return static_cast<long>(i);
    return -1;
}

// Uniform in [0, 1).
inline float unit(SplitMix64& rng) {
    return static_cast<float>(rng.next() >> 40) * (1.0f / 16777216.0f);
}

// A mix of sample values, values at the edges of the 16-bit range, fractions and large
// coefficients.
inline float mixed_value(SplitMix64& rng) {
    switch (rng.uniform(0, 9)) {
    case 0:
        return rng.uniform(0, 1) ? 32767.0f : -32768.0f;
    case 1:
        return (unit(rng) * 2.0f - 1.0f) * 1.0e6f;
    case 2:
        return unit(rng) * 2.0f - 1.0f;
    case 3:
        return static_cast<float>(rng.uniform(-32768, 32767)) + 0.5f;
    default:
        return static_cast<float>(rng.uniform(-32768, 32767));
    }
}

// The kernel tables this processor can run.
inline std::vector<const KernelSet*> available_tables() {
    std::vector<const KernelSet*> tables;
    for (Isa isa : kEveryIsa)
        if (const KernelSet* set = kernels_for(isa)) tables.push_back(set);
    return tables;
}

// A W x H plane with scratch slices for up to `max_threads` threads, worked on with one kernel
// table. The passes of one stage are independent per thread index, so running t = 0 .. T-1 one
// after another is one of the schedules the thread pool may produce.
struct TestPlane {
    const KernelSet* kernels;
    int32_t W, H;
    int max_threads;
    int32_t per_thread;
    AlignedFloats data;
    AlignedFloats scratch;

    TestPlane(int32_t w, int32_t h, int threads = 9, const KernelSet& k = best_kernels())
        : kernels(&k),
          W(w),
          H(h),
          max_threads(threads),
          per_thread(static_cast<int32_t>(scratch_floats_per_thread(w, h))),
          data(static_cast<size_t>(w) * h),
          scratch(static_cast<size_t>(per_thread) * threads) {}

    TransformPlane view() { return {data.data(), W, H, scratch.data(), per_thread}; }
    float& at(int x, int y) { return data[static_cast<size_t>(y) * W + x]; }
    size_t size() const { return data.size(); }

    void forward_level(int l, int T) {
        for (int t = 0; t < T; ++t) forward_rows(*kernels, view(), l, t, T);
        for (int t = 0; t < T; ++t) forward_columns(*kernels, view(), l, t, T);
    }
    void inverse_level(int l, int T) {
        for (int t = 0; t < T; ++t) inverse_columns(*kernels, view(), l, t, T);
        for (int t = 0; t < T; ++t) inverse_rows(*kernels, view(), l, t, T);
    }
    void forward(int T = 1) {
        for (int l = 0; l < kLevels; ++l) forward_level(l, T);
    }
    void inverse(int T = 1) {
        for (int l = kLevels - 1; l >= 0; --l) inverse_level(l, T);
    }
    // `row`: fifteen entries in track units.
    void threshold(const int32_t* row, int T = 1) {
        const SubbandThresholds x = velmora::thresholds_from_tracks(row, kLevels);
        for (int t = 0; t < T; ++t) threshold_bands(*kernels, view(), x, kLevels, t, T);
    }
    void copy_from(const TestPlane& other) {
        std::memcpy(data.data(), other.data.data(), size() * sizeof(float));
    }
};
