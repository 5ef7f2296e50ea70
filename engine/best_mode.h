// The best mode: each plane filtered as the mean of four transforms of the picture moved by
// (0, 0), (1, 1), (2, 3) and (3, 2) samples, each with its detail blocks shrunk in two steps
// (wavelet/band_shrink.h) and rebuilt. The noise level of the plane is the only parameter.
//
// Like the engine's stages it allocates, throws and keeps nothing: the caller passes the
// working memory, the kernel table and an executor, and the result is the same bits for every
// thread count and kernel table.
//
//     std::vector<float> memory(best_mode_memory_floats(1920, 1080, 2) + 4);  // + alignment
//     const BestMode b = make_best_mode(best_kernels(), aligned(memory), 1920, 1080, 2);
//     denoise_best(b, view, 10.0f * 16.0f, PlaneKind::luma, pool.executor());
#pragma once

#include <cstdint>

#include "engine/error_map.h"
#include "engine/executor.h"
#include "engine/plane_view.h"
#include "engine/thread_speeds.h"
#include "kernels/kernel_set.h"
#include "wavelet/band_shrink.h"

namespace velmora {

enum class PlaneKind { luma, chroma };

// The working size of one side of a plane: room for the largest move (3 samples), rounded up
// to a multiple of 32 so that five levels halve evenly.
int32_t best_padded_size(int32_t v);

// Floats of working memory for planes up to max_width x max_height on `threads` threads: the
// working plane with the engine's scratch slices, a plane of gains and one of box sums, the sum
// of the four results and the levels of a noise ratio map.
int64_t best_mode_memory_floats(int32_t max_width, int32_t max_height, int32_t threads);

struct BestMode {
    const KernelSet* kernels;
    float* memory;  // best_mode_memory_floats(...) floats, 16-byte aligned, the caller's
    int32_t max_width, max_height;
    int32_t threads;  // the most threads an executor may run the stages on

    // The threads' recent speeds, by which the passes share their rows (each transform's pass
    // learns from its own timing, the shrink phases share as the finest forward pass; a
    // scheduling record, not a result, so even a const one keeps it).
    mutable PassSpeeds speeds;
};

BestMode make_best_mode(const KernelSet& kernels, float* memory, int32_t max_width,
                        int32_t max_height, int32_t threads);

// What one call of denoise_best reads and writes besides the view; each part optional.
struct BestModeExtras {
    // The picture to filter, read from here instead of the view (the result still goes into
    // the view): of the view's size, in any format the engine loads (s16: working values).
    const PlaneView* source = nullptr;
    // m, the noise variance of each sample relative to noise^2: width x height values, row
    // stride the width. The noise energy of a coefficient of level l is multiplied by m_l, the
    // mean of m over the 2^(l+1) x 2^(l+1) samples of the moved, padded plane it stands for (a
    // padded position takes the m of the sample whose value it takes), as a pyramid:
    // m_0 from m, m_(l+1) from m_l, each value ((a + b) + (c + d)) * 0.25 of the 2 x 2 below it,
    // a and b the upper pair.
    const float* noise_ratio = nullptr;
    // The noise of each detail block relative to white noise's (wavelet/band_shrink.h); null:
    // white. It scales the noise of every coefficient of the block, before the ratio map, and
    // the block's noise in the error map.
    const BandFactors* band_factors = nullptr;
    // The error map of the result (error_map.h) in 8-bit steps squared: g the gain of the
    // empirical Wiener step of the first move's transform (the picture not moved), sigma =
    // noise / error_unit (working units per 8-bit step). The other moves' errors differ from
    // it by little: a map from all four cost more than all the rest of the temporal weights.
    // With `noise_ratio`, each block's error is scaled by its ratio (gain_error_map_rows).
    float* error_map = nullptr;
    ErrorMapLayout error_layout = {};
    float error_unit = 16.0f;
    // How many of the moves are made and averaged: all four, or 2, the first two (about half
    // the work for a little more noise left).
    int moves = 4;
};

// Filters the plane of `view` in place. `noise` is the standard deviation of the noise in
// working units (the load's scale: 16 per 8-bit step for 8-, 10- and 12-bit samples, 256 for
// 16-bit ones). A noise level of 0, a negative, infinite or NaN one, or one so small that a
// block's noise energy rounds to 0 leaves the view untouched (and writes no error map). Every
// value is rounded to nearest on the way back (no truncating columns). `ex.threads` must not
// exceed b.threads, and the view must not be larger than the maximum size.
void denoise_best(const BestMode& b, const PlaneView& view, float noise, PlaneKind kind,
                  const Executor& ex, const BestModeExtras& extras = {});

}  // namespace velmora
