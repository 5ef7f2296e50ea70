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

#include "engine/executor.h"
#include "engine/plane_view.h"
#include "kernels/kernel_set.h"

namespace velmora {

enum class PlaneKind { luma, chroma };

// The working size of one side of a plane: room for the largest move (3 samples), rounded up
// to a multiple of 32 so that five levels halve evenly.
int32_t best_padded_size(int32_t v);

// Floats of working memory for planes up to max_width x max_height on `threads` threads: the
// working plane with the engine's scratch slices, two planes of box sums and the sum of the
// four results.
int64_t best_mode_memory_floats(int32_t max_width, int32_t max_height, int32_t threads);

struct BestMode {
    const KernelSet* kernels;
    float* memory;  // best_mode_memory_floats(...) floats, 16-byte aligned, the caller's
    int32_t max_width, max_height;
    int32_t threads;  // the most threads an executor may run the stages on
};

BestMode make_best_mode(const KernelSet& kernels, float* memory, int32_t max_width,
                        int32_t max_height, int32_t threads);

// Filters the plane of `view` in place. `noise` is the standard deviation of the noise in
// working units (the load's scale: 16 per 8-bit step for 8-, 10- and 12-bit samples, 256 for
// 16-bit ones). A noise level of 0, a negative, infinite or NaN one, or one so small that a
// block's noise energy rounds to 0 leaves the plane untouched. Every value is rounded to
// nearest on the way back (no truncating columns). `ex.threads` must not exceed b.threads, and
// the view must not be larger than the maximum size.
void denoise_best(const BestMode& b, const PlaneView& view, float noise, PlaneKind kind,
                  const Executor& ex);

}  // namespace velmora
