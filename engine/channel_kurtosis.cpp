#include "engine/channel_kurtosis.h"

#include <array>
#include <cmath>

namespace velmora {

namespace {

constexpr int kSide = 8;
constexpr int kChannels = kSide * kSide - 1;
constexpr int kFitSteps = 800;
// sqrt(kurtosis - 3) that some channel must reach for the picture to say anything.
constexpr double kLeastExcess = 1.0;

// cos(m pi / 16), m = 0 .. 8.
constexpr double kCos[9] = {1.0,
                            0.98078528040323044913,
                            0.92387953251128675613,
                            0.83146961230254523708,
                            0.70710678118654752440,
                            0.55557023301960222474,
                            0.38268343236508977173,
                            0.19509032201612826785,
                            0.0};

constexpr double cos_sixteenths(int m) {
    m %= 32;
    if (m <= 8) return kCos[m];
    if (m <= 16) return -kCos[16 - m];
    if (m <= 24) return -kCos[m - 16];
    return kCos[32 - m];
}

// The orthonormal DCT-II: basis[u][x] = alpha(u) cos((2x + 1) u pi / 16).
constexpr std::array<std::array<double, kSide>, kSide> make_basis() {
    std::array<std::array<double, kSide>, kSide> b = {};
    for (int u = 0; u < kSide; ++u)
        for (int x = 0; x < kSide; ++x)
            b[u][x] = (u == 0 ? 0.35355339059327376220 : 0.5) * cos_sixteenths((2 * x + 1) * u);
    return b;
}
constexpr auto kBasis = make_basis();

// The working value of sample (x, y): shifted up into the working scale (s16 as it is).
double working_sample(const PlaneView& view, int32_t x, int32_t y) {
    return static_cast<double>(sample_at(view, x, y) << working_shift(view.format));
}

// Block positions along a side of n samples: every `step` from 0 while a block fits.
int32_t positions(int32_t n, int32_t step) { return n < kSide ? 0 : (n - kSide) / step + 1; }

// Sums of the first to fourth powers of each AC channel over the blocks.
struct Moments {
    double sum[4][kChannels] = {};
    int64_t blocks = 0;
};

void add_block(const PlaneView& view, int32_t x0, int32_t y0, Moments& m) {
    double block[kSide][kSide], rows[kSide][kSide];  // the samples, then the rows transformed
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) block[y][x] = working_sample(view, x0 + x, y0 + y);
    for (int y = 0; y < kSide; ++y)
        for (int u = 0; u < kSide; ++u) {
            double s = 0.0;
            for (int x = 0; x < kSide; ++x) s += kBasis[u][x] * block[y][x];
            rows[y][u] = s;
        }
    for (int v = 0; v < kSide; ++v)
        for (int u = 0; u < kSide; ++u) {
            if (u == 0 && v == 0) continue;
            double d = 0.0;
            for (int y = 0; y < kSide; ++y) d += kBasis[v][y] * rows[y][u];
            const int c = v * kSide + u - 1;
            const double d2 = d * d;
            m.sum[0][c] += d;
            m.sum[1][c] += d2;
            m.sum[2][c] += d2 * d;
            m.sum[3][c] += d2 * d2;
        }
    ++m.blocks;
}

}  // namespace

double kurtosis_noise_level(const PlaneView& view) {
    if (view.width < kSide || view.height < kSide) return -1.0;
    int32_t step = 4;
    while (static_cast<int64_t>(positions(view.width, step)) * positions(view.height, step) >
           kKurtosisBlocks)
        ++step;
    Moments m;
    for (int32_t j = 0; j < positions(view.height, step); ++j)
        for (int32_t i = 0; i < positions(view.width, step); ++i)
            add_block(view, i * step, j * step, m);
    // Each channel's variance and sqrt(kurtosis - 3), from the central moments.
    const double n = static_cast<double>(m.blocks);
    double variance[kChannels], excess[kChannels], least = 0.0, most_excess = 0.0;
    for (int c = 0; c < kChannels; ++c) {
        const double mean = m.sum[0][c] / n, e2 = m.sum[1][c] / n, e3 = m.sum[2][c] / n,
                     e4 = m.sum[3][c] / n;
        const double v = e2 - mean * mean;
        const double m4 =
            e4 - 4.0 * mean * e3 + 6.0 * mean * mean * e2 - 3.0 * mean * mean * mean * mean;
        if (!(v > 0.0)) return 0.0;
        variance[c] = v;
        const double k = m4 / (v * v) - 3.0;
        excess[c] = k > 0.0 ? std::sqrt(k) : 0.0;
        if (c == 0 || v < least) least = v;
        if (excess[c] > most_excess) most_excess = excess[c];
    }
    // Channels all about as Gaussian as noise (a smooth picture, or noise alone) leave the fit
    // without anything to go by.
    if (most_excess < kLeastExcess) return -1.0;
    // The s^2 on a grid below the smallest variance that fits best (the first, when equal).
    double best_error = 0.0, best = 0.0;
    for (int i = 0; i < kFitSteps; ++i) {
        const double s2 = least * 0.999 * i / (kFitSteps - 1);
        double wy = 0.0, ww = 0.0;
        for (int c = 0; c < kChannels; ++c) {
            const double w = 1.0 - s2 / variance[c];
            wy += w * excess[c];
            ww += w * w;
        }
        const double a = wy / ww;
        double error = 0.0;
        for (int c = 0; c < kChannels; ++c) {
            const double r = excess[c] - a * (1.0 - s2 / variance[c]);
            error += r * r;
        }
        if (i == 0 || error < best_error) best_error = error, best = s2;
    }
    return std::sqrt(best);
}

}  // namespace velmora
