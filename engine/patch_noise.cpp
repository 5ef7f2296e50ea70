#include "engine/patch_noise.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velmora {

namespace {

constexpr int kJacobiSweeps = 12;
constexpr int kPatchRounds = 3;
// The 99th percentile of the gradient matrix's largest eigenvalue over sigma^2 for noise alone:
// the gamma distribution of shape 49 / 2 and scale 2 * 144 / 49 (144 = the trace of the
// difference operators' products over 6 x 6 differences each way).
constexpr double kWeakGradient = 220.1715163351195;
// The share of the patches, the weakest by gradient, always taken.
constexpr double kLeastPatchShare = 0.1;
// A patch's sums: its samples, then the products of sample r with samples r.. 48, row by row.
constexpr int kProducts = kPatchSamples * (kPatchSamples + 1) / 2;
constexpr int kPatchSums = kPatchSamples + kProducts;

int32_t positions(int32_t n, int32_t step) {
    return n < kPatchSide ? 0 : (n - kPatchSide) / step + 1;
}

template <typename T>
void load_samples(const T* at, int32_t sample_stride, ptrdiff_t row_stride, int shift, double* p) {
    for (int y = 0; y < kPatchSide; ++y, at += row_stride)
        for (int x = 0; x < kPatchSide; ++x)
            p[y * kPatchSide + x] =
                static_cast<double>(static_cast<int32_t>(at[x * sample_stride]) << shift);
}

// The working values of the patch at (x0, y0), row-major.
void load_patch(const PlaneView& view, int32_t x0, int32_t y0, double* p) {
    const int shift = working_shift(view.format);
    const ptrdiff_t at = static_cast<ptrdiff_t>(y0) * view.row_stride +
                         static_cast<ptrdiff_t>(x0) * view.sample_stride;
    switch (view.format) {
    case SampleFormat::s16:
        return load_samples(static_cast<const int16_t*>(view.base) + at, view.sample_stride,
                            view.row_stride, shift, p);
    case SampleFormat::u8:
        return load_samples(static_cast<const uint8_t*>(view.base) + at, view.sample_stride,
                            view.row_stride, shift, p);
    default:
        return load_samples(static_cast<const uint16_t*>(view.base) + at, view.sample_stride,
                            view.row_stride, shift, p);
    }
}

// The largest eigenvalue of the patch's gradient matrix, from its 6 x 6 forward differences.
double gradient_energy(const double* p) {
    double a = 0.0, b = 0.0, c = 0.0;
    for (int y = 0; y + 1 < kPatchSide; ++y)
        for (int x = 0; x + 1 < kPatchSide; ++x) {
            const double at = p[y * kPatchSide + x];
            const double dx = p[y * kPatchSide + x + 1] - at;
            const double dy = p[(y + 1) * kPatchSide + x] - at;
            a += dx * dx;
            b += dx * dy;
            c += dy * dy;
        }
    const double half = 0.5 * (a - c);
    return 0.5 * (a + c) + std::sqrt(half * half + b * b);
}

float energy_of(uint64_t key) {
    const uint32_t bits = static_cast<uint32_t>(key >> 32);
    float e;
    std::memcpy(&e, &bits, sizeof e);
    return e;
}

struct Grid {
    int32_t step, columns, rows;
    int64_t count() const { return static_cast<int64_t>(columns) * rows; }
};

// Adds the patch at sorted position k to `sums`.
void add_patch(const PlaneView& view, const Grid& grid, const uint64_t* order, int64_t k,
               double (&sums)[kPatchSums]) {
    double p[kPatchSamples];
    const int64_t i = static_cast<int64_t>(order[k] & 0xFFFFFFFFu);
    load_patch(view, static_cast<int32_t>(i % grid.columns) * grid.step,
               static_cast<int32_t>(i / grid.columns) * grid.step, p);
    double* products = sums + kPatchSamples;
    for (int r = 0; r < kPatchSamples; ++r) {
        sums[r] += p[r];
        for (int c = r; c < kPatchSamples; ++c) products[c] += p[r] * p[c];
        products += kPatchSamples - 1 - r;
    }
}

// The patches by gradient energy, and the sums of the first kPatchChunk * (m + 1) of them in
// that order at sums + m * kPatchSums. The sums are of whole numbers below 2^46 (samples below
// 2^16, at most 2^14 patches): exact, so the same in any order.
struct Patches {
    const PlaneView& view;
    Grid grid;
    const uint64_t* order;  // energy's bits above, raster index below; ascending
    const double* sums;
};

// The smallest eigenvalue of the covariance of the patches whose gradient energy is at most
// `limit`, and how many there were.
struct Smallest {
    double value;
    int64_t patches;
};

int64_t selected(const Patches& all, double limit) {
    return std::partition_point(
               all.order, all.order + all.grid.count(),
               [&](uint64_t key) { return static_cast<double>(energy_of(key)) <= limit; }) -
           all.order;
}

Smallest smallest_eigenvalue(const Patches& all, int64_t n) {
    if (n == 0) return {0.0, 0};
    const int64_t chunks = n / kPatchChunk;
    double sums[kPatchSums] = {};
    if (chunks > 0) std::memcpy(sums, all.sums + (chunks - 1) * kPatchSums, sizeof sums);
    for (int64_t k = chunks * kPatchChunk; k < n; ++k)
        add_patch(all.view, all.grid, all.order, k, sums);
    double covariance[kPatchSamples * kPatchSamples];
    const double count = static_cast<double>(n);
    const double* products = sums + kPatchSamples;
    for (int r = 0; r < kPatchSamples; ++r)
        for (int c = r; c < kPatchSamples; ++c) {
            const double v = *products++ / count - (sums[r] / count) * (sums[c] / count);
            covariance[r * kPatchSamples + c] = v;
            covariance[c * kPatchSamples + r] = v;
        }
    double values[kPatchSamples];
    symmetric_eigenvalues(covariance, kPatchSamples, values);
    return {values[0] > 0.0 ? values[0] : 0.0, n};
}

}  // namespace

void symmetric_eigenvalues(double* a, int n, double* values) {
    // A rotation of rows and columns p and q keeps the matrix exactly symmetric, so each pair of
    // mirrored entries is computed once; p and q's own 2 x 2 block as columns, then rows.
    for (int sweep = 0; sweep < kJacobiSweeps; ++sweep)
        for (int p = 0; p < n; ++p)
            for (int q = p + 1; q < n; ++q) {
                double* row_p = a + p * n;
                double* row_q = a + q * n;
                const double apq = row_p[q];
                if (apq == 0.0) continue;
                const double app = row_p[p], aqq = row_q[q];
                const double theta = (aqq - app) / (2.0 * apq);
                const double magnitude = theta < 0.0 ? -theta : theta;
                // The smaller root of t^2 + 2 theta t - 1 = 0.
                double t = magnitude > 1.0e150 ? 0.5 / magnitude
                                               : 1.0 / (magnitude + std::sqrt(theta * theta + 1.0));
                if (theta < 0.0) t = -t;
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                // Rows p and q, then their copies in columns p and q; p and q's own block after.
                for (int k = 0; k < n; ++k) {
                    const double kp = row_p[k], kq = row_q[k];
                    row_p[k] = c * kp - s * kq;
                    row_q[k] = s * kp + c * kq;
                }
                for (int k = 0; k < n; ++k) {
                    a[k * n + p] = row_p[k];
                    a[k * n + q] = row_q[k];
                }
                const double pp = c * app - s * apq, pq = s * app + c * apq;
                const double qp = c * apq - s * aqq, qq = s * apq + c * aqq;
                row_p[p] = c * pp - s * qp;
                row_q[q] = s * pq + c * qq;
                row_p[q] = 0.0;
                row_q[p] = 0.0;
            }
    for (int i = 0; i < n; ++i) values[i] = a[i * n + i];
    // Insertion sort: ascending.
    for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && values[j] < values[j - 1]; --j) {
            const double v = values[j];
            values[j] = values[j - 1];
            values[j - 1] = v;
        }
}

double patch_noise_level(const PlaneView& view, uint64_t* order, double* sums) {
    Grid grid = {3, 0, 0};
    while (static_cast<int64_t>(positions(view.width, grid.step)) *
               positions(view.height, grid.step) >
           kNoisePatches)
        ++grid.step;
    grid.columns = positions(view.width, grid.step);
    grid.rows = positions(view.height, grid.step);
    const int64_t total = grid.count();
    if (total < 4 * kPatchSamples) return -1.0;
    double p[kPatchSamples];
    for (int32_t j = 0; j < grid.rows; ++j)
        for (int32_t i = 0; i < grid.columns; ++i) {
            load_patch(view, i * grid.step, j * grid.step, p);
            const float e = static_cast<float>(gradient_energy(p));
            uint32_t bits;
            std::memcpy(&bits, &e, sizeof bits);  // a float >= 0: the bits sort as the values
            const int64_t index = static_cast<int64_t>(j) * grid.columns + i;
            order[index] = static_cast<uint64_t>(bits) << 32 | static_cast<uint64_t>(index);
        }
    std::sort(order, order + total);
    // The sums after each whole chunk, in that order.
    double running[kPatchSums] = {};
    for (int64_t k = 0; k < total / kPatchChunk * kPatchChunk; ++k) {
        add_patch(view, grid, order, k, running);
        if ((k + 1) % kPatchChunk == 0)
            std::memcpy(sums + (k / kPatchChunk) * kPatchSums, running, sizeof running);
    }
    const Patches all = {view, grid, order, sums};
    // At least a tenth of the patches, and 4 kPatchSamples of them.
    int64_t rank = static_cast<int64_t>(kLeastPatchShare * static_cast<double>(total - 1));
    if (rank < 4 * kPatchSamples - 1) rank = 4 * kPatchSamples - 1;
    const double least = static_cast<double>(energy_of(order[rank]));
    Smallest s = smallest_eigenvalue(all, total);
    for (int r = 0; r < kPatchRounds; ++r) {
        double limit = s.value * kWeakGradient;
        if (limit < least) limit = least;
        // The selections are nested: as many patches as before are the same patches.
        const int64_t n = selected(all, limit);
        if (n == s.patches) break;
        s = smallest_eigenvalue(all, n);
    }
    // The smallest eigenvalue of n samples of noise alone lies below its variance by about
    // (1 - sqrt(49 / n))^2 (the lower edge of the Marchenko-Pastur law).
    return std::sqrt(s.value) /
           (1.0 - std::sqrt(static_cast<double>(kPatchSamples) / static_cast<double>(s.patches)));
}

}  // namespace velmora
