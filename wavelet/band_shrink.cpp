#include "wavelet/band_shrink.h"

#include "kernels/lifting_constants.h"

namespace {

// noise_gain(level, H or V) and noise_gain(level, D), levels 0..4.
constexpr uint32_t kGainHV[kLevels] = {0x3F8171D6, 0x3F86F5E0, 0x3F80E2CA, 0x3F7BBAAF, 0x3F79BBC0};
constexpr uint32_t kGainD[kLevels] = {0x3F7BA2D7, 0x3F8F2FA8, 0x3F85AC35, 0x3F80794E, 0x3F7D7408};

constexpr float kInv25 = float_from_bits(0x3D23D70A);       // 1/25
constexpr float kInv49 = float_from_bits(0x3CA72F05);       // 1/49
constexpr float kInv9 = float_from_bits(0x3DE38E39);        // 1/9
constexpr float kLumaFactor = float_from_bits(0x3F4CCCCD);  // 0.8
constexpr float kChromaFactor = 1.0f;

// One detail block: n x m coefficients at `offset` floats from the plane's start.
struct Block {
    int level, orientation;
    int32_t n, m;
    int64_t offset;
};

Block block(const TransformPlane& plane, int index) {
    const int l = index / 3, o = index % 3;
    const int32_t n = plane.W >> (l + 1), m = plane.H >> (l + 1);
    const int64_t below = static_cast<int64_t>(m) * plane.W;
    return {l, o, n, m, o == 0 ? n : o == 1 ? below : below + n};
}

float* slice(const TransformPlane& plane, int t) {
    return plane.scratch + static_cast<int64_t>(t) * plane.scratch_per_thread;
}

int32_t clamp_row(int32_t i, int32_t m) { return i < 0 ? 0 : i >= m ? m - 1 : i; }

// Row pointers of the box rows i - r .. i + r of a block, clamped to the block.
void box_rows(const float* top, int64_t stride, int32_t i, int32_t m, int r, const float** rows) {
    for (int k = -r; k <= r; ++k) rows[k + r] = top + clamp_row(i + k, m) * stride;
}

constexpr int kBlocks = 3 * kLevels;

}  // namespace

float noise_gain(int level, int orientation) {
    return float_from_bits(orientation == 2 ? kGainD[level] : kGainHV[level]);
}

ShrinkSettings shrink_settings(float noise, bool chroma, const BandFactors* factors) {
    ShrinkSettings s;
    s.radius = chroma ? 3 : 2;
    s.inv_window = chroma ? kInv49 : kInv25;
    const float factor = chroma ? kChromaFactor : kLumaFactor;
    for (int l = 0; l < kLevels; ++l) {
        for (int o = 0; o < 3; ++o) {
            float sb = noise * noise_gain(l, o);
            if (factors) sb = sb * factors->f[l][o];
            s.noise[l][o] = sb * sb;
            s.scaled_noise[l][o] = factor * s.noise[l][o];
        }
    }
    return s;
}

bool shrink_is_defined(const ShrinkSettings& s) {
    constexpr float kLargest = 3.4028235e38f;
    for (int l = 0; l < kLevels; ++l)
        for (int o = 0; o < 3; ++o)
            if (!(s.noise[l][o] > 0.0f && s.noise[l][o] <= kLargest &&
                  s.scaled_noise[l][o] > 0.0f && s.scaled_noise[l][o] <= kLargest))
                return false;
    return true;
}

void shrink_pilot(const KernelSet& k, const TransformPlane& plane, float* pilot_sums,
                  const ShrinkSettings& s, const ShrinkMaps& maps, int t, int T,
                  const uint16_t* weights) {
    const int r = s.radius, count = 2 * r + 1;
    const int64_t half = plane.W >> 1;  // the widest block row
    // Row j of a block's row energies lives in ring[j % count] while rows j - 2r .. j need it.
    float* ring[7];
    for (int q = 0; q < count; ++q) ring[q] = slice(plane, t) + q * half;
    float* squares = ring[0] + count * half;
    float* sums = squares + half;
    float* energy = sums + half;
    const float* rows[7];
    for (int b = 0; b < kBlocks; ++b) {
        const Block B = block(plane, b);
        const ItemRange share = weighted_share(B.m, t, T, weights);
        if (share.begin >= share.end) continue;
        const auto row_energy = [&](int32_t j) {
            k.square_row(plane.data + B.offset + j * plane.W, squares, B.n);
            k.box_sum_row(squares, ring[j % count], B.n, r);
        };
        for (int32_t j = share.begin - r < 0 ? 0 : share.begin - r; j < share.begin + r && j < B.m;
             ++j)
            row_energy(j);
        for (int32_t i = share.begin; i < share.end; ++i) {
            if (i + r < B.m) row_energy(i + r);
            for (int q = -r; q <= r; ++q) rows[q + r] = ring[clamp_row(i + q, B.m) % count];
            k.box_sum_rows(rows, count, sums, B.n);
            const int64_t at = B.offset + static_cast<int64_t>(i) * plane.W;
            const float noise = s.noise[B.level][B.orientation];
            if (const float* ratio = maps.ratio[B.level])
                k.pilot_energy_ratio_row(sums, plane.data + at,
                                         ratio + static_cast<int64_t>(i) * B.n, energy, B.n,
                                         s.inv_window, noise);
            else
                k.pilot_energy_row(sums, plane.data + at, energy, B.n, s.inv_window, noise);
            k.box_sum_row(energy, pilot_sums + at, B.n, 1);
        }
    }
}

void shrink_apply(const KernelSet& k, const TransformPlane& plane, const float* pilot_sums,
                  const ShrinkSettings& s, const ShrinkMaps& maps, int t, int T,
                  const uint16_t* weights) {
    float* sums = slice(plane, t);
    // Kept gains without a ratio map take a ratio of 1, which leaves the noise as it is.
    float* ones = sums + (plane.W >> 1);
    const bool mapped = maps.gains != nullptr || maps.ratio[0] != nullptr;
    if (mapped && maps.ratio[0] == nullptr)
        for (int32_t j = 0; j < (plane.W >> 1); ++j) ones[j] = 1.0f;
    float* gains_scratch = ones + (plane.W >> 1);
    const float* rows[3];
    for (int b = 0; b < kBlocks; ++b) {
        const Block B = block(plane, b);
        const ItemRange share = weighted_share(B.m, t, T, weights);
        for (int32_t i = share.begin; i < share.end; ++i) {
            const int64_t at = B.offset + static_cast<int64_t>(i) * plane.W;
            box_rows(pilot_sums + B.offset, plane.W, i, B.m, 1, rows);
            k.box_sum_rows(rows, 3, sums, B.n);
            const float noise = s.scaled_noise[B.level][B.orientation];
            if (!mapped) {
                k.wiener_row(sums, plane.data + at, B.n, kInv9, noise);
                continue;
            }
            const float* ratio =
                maps.ratio[B.level] ? maps.ratio[B.level] + static_cast<int64_t>(i) * B.n : ones;
            k.wiener_gain_row(sums, plane.data + at, ratio,
                              maps.gains ? maps.gains + at : gains_scratch, B.n, kInv9, noise);
        }
    }
}
