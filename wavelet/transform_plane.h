// A plane in the wavelet engine's working layout: W x H floats, row stride W, 16-byte aligned,
// with private scratch for each worker thread.
#pragma once

#include <cstdint>

struct TransformPlane {
    float* data;
    int32_t W;                   // multiple of 32
    int32_t H;                   // multiple of 32
    float* scratch;              // slice of thread t at scratch + t * scratch_per_thread
    int32_t scratch_per_thread;  // floats; at least max(3W, 2H)
};

// Levels of the decomposition; level 0 is the finest.
constexpr int kLevels = 5;

// Planes are padded to a multiple of 32 in both directions, so that five levels halve evenly.
inline int32_t padded_size(int32_t v) { return (v + 31) & ~31; }

// Items [t*N/T, (t+1)*N/T) of N: the share of thread t of T.
struct ItemRange {
    int32_t begin;
    int32_t end;
};

inline ItemRange thread_share(int32_t N, int32_t t, int32_t T) {
    return {static_cast<int32_t>(static_cast<int64_t>(t) * N / T),
            static_cast<int32_t>(static_cast<int64_t>(t + 1) * N / T)};
}

// Thread t of T's share of N items in proportion to `weights` (T of them, each at least 1; null
// for equal shares): every thread cuts at the same points, so the shares tile the N items.
inline ItemRange weighted_share(int32_t N, int32_t t, int32_t T, const uint16_t* weights) {
    if (!weights) return thread_share(N, t, T);
    int64_t before = 0, total = 0;
    for (int32_t i = 0; i < T; ++i) {
        if (i < t) before += weights[i];
        total += weights[i];
    }
    return {static_cast<int32_t>(N * before / total),
            static_cast<int32_t>(N * (before + weights[t]) / total)};
}

// Floats each worker thread needs: two lines of the longer side for the lifting passes, three
// rows of 32-bit mask entries for the thresholding.
inline int64_t scratch_floats_per_thread(int32_t W, int32_t H) {
    const int64_t rows = 3 * static_cast<int64_t>(W);
    const int64_t columns = 2 * static_cast<int64_t>(H);
    return rows > columns ? rows : columns;
}

// The column passes lift strips of adjacent columns with vertical vectors; a strip of S columns
// needs S * H / 2 floats of scratch lifted in place, S * H copied into scratch (which keeps
// power-of-two widths from thrashing the cache). The minimum slice above fits narrow strips in
// place only, so a thread gets a slice that holds copied strips of this many columns (whole
// cache lines per row) whenever the memory after the plane holds such a slice for every thread.
// It is the widest strip the vector kernels lift: a narrower one would leave the widest strips
// lifted in place, where a power-of-two width sends all their rows into a few cache sets.
constexpr int32_t kPreferredStripColumns = 64;

inline int64_t roomy_scratch_floats_per_thread(int32_t W, int32_t H) {
    const int64_t strips = static_cast<int64_t>(kPreferredStripColumns) * H;
    const int64_t minimum = scratch_floats_per_thread(W, H);
    return strips > minimum ? strips : minimum;
}

// The slice each of `threads` threads gets out of `available` floats that follow the plane:
// the roomy one when all of them fit, else the minimum (the caller has checked that fits).
inline int64_t scratch_slice_floats(int32_t W, int32_t H, int32_t threads, int64_t available) {
    const int64_t roomy = roomy_scratch_floats_per_thread(W, H);
    return roomy * threads <= available ? roomy : scratch_floats_per_thread(W, H);
}

// Floats of working memory for a W x H plane worked on by `threads` threads: the plane, then
// one roomy scratch slice per thread.
inline int64_t working_floats(int32_t W, int32_t H, int32_t threads) {
    return static_cast<int64_t>(W) * H + roomy_scratch_floats_per_thread(W, H) * threads;
}

// A W x H plane and its scratch slices laid out in `memory`, which is 16-byte aligned and holds
// working_floats(W, H, threads) floats.
inline TransformPlane lay_out_plane(float* memory, int32_t W, int32_t H) {
    return {memory, W, H, memory + static_cast<int64_t>(W) * H,
            static_cast<int32_t>(roomy_scratch_floats_per_thread(W, H))};
}
