// The two-step shrink of the detail blocks: a locally adaptive Wiener estimate (the pilot) from
// the local energy of the noisy coefficients, then an empirical Wiener gain from the local
// energy of the pilot, applied to the noisy coefficients. Both steps stay in the one transform
// domain; the coarsest approximation block is kept.
//
// Two phases, each over one thread's share of the rows of every detail block; the second reads
// rows that other threads wrote in the first, so the first must be complete on every thread
// before the second starts:
//   1. along rows, sums of c^2 over the pilot's box, then down columns: the pilot p and its
//      energy p^2, summed along rows over 3                       (coefficients -> pilot_sums)
//   2. sum down columns over 3, the gain applied                   (pilot_sums -> coefficients)
// Box windows are clamped at the block's edges; every sum runs left to right or top to bottom.
// The first phase keeps the row sums of the box's rows in its scratch slice as it goes down,
// working out again those of the 2 radius rows above its share.
//
// A noise ratio map multiplies the noise energy of each coefficient (both phases) by its own
// value; the second phase can keep the gain of every coefficient.
#pragma once

#include "kernels/kernel_set.h"
#include "wavelet/transform_plane.h"

// Standard deviation of a coefficient of detail block (level, orientation) for white noise of
// standard deviation 1 at the input: the root of the sum of the squares of its analysis
// weights. Orientation 0 = H, 1 = V (the same), 2 = D.
float noise_gain(int level, int orientation);

// The noise of each detail block relative to what white noise of the same level gives it, as
// factors of its standard deviation, [level][orientation]: correlated noise (demosaicing,
// compression, scaling) holds less in the finest blocks and more in coarser ones. All 1 by
// default: white noise.
struct BandFactors {
    float f[kLevels][3] = {{1.0f, 1.0f, 1.0f},
                           {1.0f, 1.0f, 1.0f},
                           {1.0f, 1.0f, 1.0f},
                           {1.0f, 1.0f, 1.0f},
                           {1.0f, 1.0f, 1.0f}};
};

struct ShrinkSettings {
    int radius;        // the pilot's box is (2 radius + 1)^2 coefficients
    float inv_window;  // 1 / (2 radius + 1)^2, rounded
    // Noise energy of each detail block, [level][orientation]: (noise * gain)^2, and that
    // times the second step's factor.
    float noise[kLevels][3];
    float scaled_noise[kLevels][3];
};

// Per-coefficient inputs and outputs besides the coefficients, each optional.
struct ShrinkMaps {
    // ratio[l]: (W >> (l+1)) x (H >> (l+1)) values, row stride W >> (l+1), by which the noise
    // energy of the coefficient at the same place in each of level l's three blocks is
    // multiplied; all null: none.
    const float* ratio[kLevels] = {};
    // Where the second phase writes the gain m / (m + noise) of each coefficient: a W x H plane
    // laid out like the coefficients; null: not kept.
    float* gains = nullptr;
};

// Noise of standard deviation `noise` in working units at the input. Luma: a 5 x 5 pilot box
// and the noise energy x 0.8 in the second step; chroma: 7 x 7 and x 1. With `factors`, each
// block's noise is (noise * gain) * factor before it is squared (a factor of 1 changes no bit).
ShrinkSettings shrink_settings(float noise, bool chroma, const BandFactors* factors = nullptr);

// True when every block's noise energy is a positive number, so that no gain divides by zero.
bool shrink_is_defined(const ShrinkSettings& s);

// The phases for thread t of T, each block's rows shared by `weights` (weighted_share; null for
// equal shares). `pilot_sums` is a W x H plane laid out like the coefficients (each block at its
// own place). The thread's scratch slice holds 2 radius + 4 rows of the widest block (W / 2).
void shrink_pilot(const KernelSet& k, const TransformPlane& plane, float* pilot_sums,
                  const ShrinkSettings& s, const ShrinkMaps& maps, int t, int T,
                  const uint16_t* weights = nullptr);
void shrink_apply(const KernelSet& k, const TransformPlane& plane, const float* pilot_sums,
                  const ShrinkSettings& s, const ShrinkMaps& maps, int t, int T,
                  const uint16_t* weights = nullptr);
