#include "engine/patch_noise.h"

#include <cmath>

#include "engine/order_statistic.h"

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

int32_t positions(int32_t n, int32_t step) {
    return n < kPatchSide ? 0 : (n - kPatchSide) / step + 1;
}

// The working values of the patch at (x0, y0), row-major.
void load_patch(const PlaneView& view, int32_t x0, int32_t y0, double* p) {
    const int shift = working_shift(view.format);
    for (int y = 0; y < kPatchSide; ++y)
        for (int x = 0; x < kPatchSide; ++x)
            p[y * kPatchSide + x] = static_cast<double>(sample_at(view, x0 + x, y0 + y) << shift);
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

struct Grid {
    int32_t step, columns, rows;
    int64_t count() const { return static_cast<int64_t>(columns) * rows; }
};

// The smallest eigenvalue of the covariance of the patches whose gradient energy is at most
// `limit`, and how many there were.
struct Smallest {
    double value;
    int64_t patches;
};

Smallest smallest_eigenvalue(const PlaneView& view, const Grid& grid, const float* energy,
                             double limit) {
    double sum[kPatchSamples] = {}, products[kPatchSamples * kPatchSamples] = {};
    double p[kPatchSamples];
    int64_t n = 0;
    for (int32_t j = 0; j < grid.rows; ++j)
        for (int32_t i = 0; i < grid.columns; ++i) {
            if (static_cast<double>(energy[static_cast<int64_t>(j) * grid.columns + i]) > limit)
                continue;
            load_patch(view, i * grid.step, j * grid.step, p);
            for (int r = 0; r < kPatchSamples; ++r) {
                sum[r] += p[r];
                double* row = products + r * kPatchSamples;
                for (int c = r; c < kPatchSamples; ++c) row[c] += p[r] * p[c];
            }
            ++n;
        }
    if (n == 0) return {0.0, 0};
    const double count = static_cast<double>(n);
    for (int r = 0; r < kPatchSamples; ++r)
        for (int c = r; c < kPatchSamples; ++c) {
            const double v =
                products[r * kPatchSamples + c] / count - (sum[r] / count) * (sum[c] / count);
            products[r * kPatchSamples + c] = v;
            products[c * kPatchSamples + r] = v;
        }
    double values[kPatchSamples];
    symmetric_eigenvalues(products, kPatchSamples, values);
    return {values[0] > 0.0 ? values[0] : 0.0, n};
}

}  // namespace

void symmetric_eigenvalues(double* a, int n, double* values) {
    for (int sweep = 0; sweep < kJacobiSweeps; ++sweep)
        for (int p = 0; p < n; ++p)
            for (int q = p + 1; q < n; ++q) {
                const double apq = a[p * n + q];
                if (apq == 0.0) continue;
                const double theta = (a[q * n + q] - a[p * n + p]) / (2.0 * apq);
                const double magnitude = theta < 0.0 ? -theta : theta;
                // The smaller root of t^2 + 2 theta t - 1 = 0.
                double t = magnitude > 1.0e150 ? 0.5 / magnitude
                                               : 1.0 / (magnitude + std::sqrt(theta * theta + 1.0));
                if (theta < 0.0) t = -t;
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (int k = 0; k < n; ++k) {  // the columns p and q
                    const double kp = a[k * n + p], kq = a[k * n + q];
                    a[k * n + p] = c * kp - s * kq;
                    a[k * n + q] = s * kp + c * kq;
                }
                for (int k = 0; k < n; ++k) {  // then the rows
                    const double pk = a[p * n + k], qk = a[q * n + k];
                    a[p * n + k] = c * pk - s * qk;
                    a[q * n + k] = s * pk + c * qk;
                }
                a[p * n + q] = 0.0;
                a[q * n + p] = 0.0;
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

double patch_noise_level(const PlaneView& view, float* memory) {
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
            memory[static_cast<int64_t>(j) * grid.columns + i] =
                static_cast<float>(gradient_energy(p));
        }
    // At least a tenth of the patches, and 4 kPatchSamples of them.
    int64_t rank = static_cast<int64_t>(kLeastPatchShare * static_cast<double>(total - 1));
    if (rank < 4 * kPatchSamples - 1) rank = 4 * kPatchSamples - 1;
    const double least = static_cast<double>(
        kth_smallest_magnitude(memory, 0, static_cast<int32_t>(total), 1, rank));
    Smallest s = smallest_eigenvalue(view, grid, memory, INFINITY);
    for (int round = 0; round < kPatchRounds; ++round) {
        double limit = s.value * kWeakGradient;
        if (limit < least) limit = least;
        // The selections are nested: as many patches as before are the same patches.
        int64_t selected = 0;
        for (int64_t i = 0; i < total; ++i) selected += static_cast<double>(memory[i]) <= limit;
        if (selected == s.patches) break;
        s = smallest_eigenvalue(view, grid, memory, limit);
    }
    // The smallest eigenvalue of n samples of noise alone lies below its variance by about
    // (1 - sqrt(49 / n))^2 (the lower edge of the Marchenko-Pastur law).
    return std::sqrt(s.value) /
           (1.0 - std::sqrt(static_cast<double>(kPatchSamples) / static_cast<double>(s.patches)));
}

}  // namespace velmora
