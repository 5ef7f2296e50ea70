// Neighbourhood-masked thresholding: the kernels against the rule "keep a coefficient when some
// coefficient of its 3x3 neighbourhood within the block reaches x", the threshold scale, the
// neighbourhoods kept inside a block and at its borders, and whole planes (forward, threshold,
// inverse) that come out the same for every thread count and kernel table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "tests/wavelet_test_support.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The rule, evaluated on the coefficients as they were before thresholding.
bool survives(const std::vector<float>& block, int stride, int n, int m, int i, int j, float x) {
    for (int di = -1; di <= 1; ++di)
        for (int dj = -1; dj <= 1; ++dj) {
            const int r = i + di, c = j + dj;
            if (r >= 0 && r < m && c >= 0 && c < n && std::fabs(block[r * stride + c]) >= x)
                return true;
        }
    return false;
}

// Coefficients well below x, never zero, of both signs.
float background(SplitMix64& rng, float x) {
    const float v = (0.05f + 0.9f * unit(rng)) * x;
    return rng.uniform(0, 1) ? v : -v;
}

struct Block {
    int x0, y0, n, m;  // top-left corner and size in the plane
};

Block detail_block(const TestPlane& plane, int level, int orientation) {
    const int w2 = plane.W >> (level + 1), h2 = plane.H >> (level + 1);
    return {orientation == 1 ? 0 : w2, orientation == 0 ? 0 : h2, w2, h2};
}

float threshold_of(int level, int32_t entry) {
    return static_cast<float>(entry) * velmora::track_unit(level);
}

TEST(ThresholdScale, IsAFixedFloatForEveryLevel) {
    const uint32_t want[] = {0x3E800000, 0x3EB504F3, 0x3EFFFFFF, 0x3F3504F3, 0x3F7FFFFF};
    for (int l = 0; l < 5; ++l)
        EXPECT_EQ(bits_of(velmora::track_unit(l)), want[l]) << "level " << l;
}

// Table value 8 is a threshold of about 4.0 at level 2 and about 8.0 at level 4; a coefficient
// of exactly that magnitude, of either sign, is kept (the test is >=), the next float below is
// not.
TEST(Threshold, TableValueEightAtLevelsTwoAndFour) {
    for (const auto& [level, scale_bits, about] :
         {std::tuple{2, 0x3EFFFFFFu, 4.0}, std::tuple{4, 0x3F7FFFFFu, 8.0}}) {
        const float x = 8.0f * __builtin_bit_cast(float, scale_bits);
        EXPECT_NEAR(x, about, 0.05);
        for (float strong : {x, -x, std::nextafter(x, 0.0f)}) {
            TestPlane plane(128, 128);
            const Block b = detail_block(plane, level, 2);
            plane.at(b.x0 + 1, b.y0 + 1) = strong;
            plane.at(b.x0 + 2, b.y0 + 2) = 0.5f;
            int32_t row[15] = {};
            row[3 * level + 2] = 8;
            plane.threshold(row, 2);
            const bool kept = std::fabs(strong) >= x;
            EXPECT_EQ(plane.at(b.x0 + 1, b.y0 + 1), kept ? strong : 0.0f) << strong;
            EXPECT_EQ(plane.at(b.x0 + 2, b.y0 + 2), kept ? 0.5f : 0.0f) << strong;
        }
    }
}

// One coefficient at or above x keeps exactly its neighbourhood within the block: 9 inside, 6 on
// an edge, 4 in a corner; the rest of the block becomes +0.0 and nothing outside the block
// changes.
TEST(Threshold, OneStrongCoefficientKeepsItsNeighbourhood) {
    SplitMix64 rng{31};
    for (int level = 0; level < kLevels; ++level) {
        for (int orientation = 0; orientation < 3; ++orientation) {
            TestPlane probe(128, 128);
            const Block b = detail_block(probe, level, orientation);
            const int mi = b.m / 2, mj = b.n / 2, li = b.m - 1, lj = b.n - 1;
            struct Spot {
                int i, j, kept;
            };
            const Spot spots[] = {{mi, mj, 9}, {0, mj, 6}, {li, mj, 6}, {mi, 0, 6}, {mi, lj, 6},
                                  {0, 0, 4},   {0, lj, 4}, {li, 0, 4},  {li, lj, 4}};
            for (const Spot& spot : spots) {
                for (int threads : {1, 3, 7}) {
                    SCOPED_TRACE(testing::Message()
                                 << "level " << level << " orientation " << orientation << " at "
                                 << spot.i << ", " << spot.j << " threads " << threads);
                    // Thresholds below 1 as well as above.
                    const int32_t entry = (level + orientation) % 2 ? 40 : 3;
                    const float x = threshold_of(level, entry);
                    TestPlane plane(128, 128);
                    for (size_t i = 0; i < plane.size(); ++i) plane.data[i] = background(rng, x);
                    const float strong = threads == 3 ? -x : threads == 7 ? x : 1.0e6f;
                    plane.at(b.x0 + spot.j, b.y0 + spot.i) = strong;
                    std::vector<float> before(plane.data.data(), plane.data.data() + plane.size());
                    int32_t row[15] = {};
                    row[3 * level + orientation] = entry;
                    plane.threshold(row, threads);
                    int kept = 0;
                    for (int py = 0; py < plane.H; ++py) {
                        for (int px = 0; px < plane.W; ++px) {
                            const float now = plane.at(px, py), was = before[py * plane.W + px];
                            const int i = py - b.y0, j = px - b.x0;
                            const bool inside = i >= 0 && i < b.m && j >= 0 && j < b.n;
                            if (!inside ||
                                (std::abs(i - spot.i) <= 1 && std::abs(j - spot.j) <= 1)) {
                                ASSERT_EQ(bits_of(now), bits_of(was)) << px << ", " << py;
                                kept += inside;
                            } else {
                                ASSERT_EQ(bits_of(now), 0u) << px << ", " << py;
                            }
                        }
                    }
                    EXPECT_EQ(kept, spot.kept);
                }
            }
        }
    }
}

// Neighbourhoods stop at the block's border: a strong coefficient in the last column of "V" does
// not protect the first column of "D" to its right, nor one in the last row of "H" the first row
// of "D" below it.
TEST(Threshold, NoProtectionAcrossBlockBorders) {
    SplitMix64 rng{32};
    const int32_t entry = 40;
    const float x = threshold_of(0, entry);
    TestPlane plane(64, 64);
    for (size_t i = 0; i < plane.size(); ++i) plane.data[i] = background(rng, x);
    plane.at(31, 32 + 10) = 2 * x;  // "V", last column
    plane.at(40, 31) = -2 * x;      // "H", last row
    int32_t row[15] = {entry, entry, entry};
    const std::vector<float> before(plane.data.data(), plane.data.data() + plane.size());
    plane.threshold(row, 2);
    for (int dy = -1; dy <= 1; ++dy) {
        EXPECT_EQ(plane.at(30, 42 + dy), before[(42 + dy) * 64 + 30]);
        EXPECT_EQ(bits_of(plane.at(32, 42 + dy)), 0u) << "first column of D";
    }
    for (int dx = -1; dx <= 1; ++dx) {
        EXPECT_EQ(plane.at(40 + dx, 30), before[30 * 64 + 40 + dx]);
        EXPECT_EQ(bits_of(plane.at(40 + dx, 32)), 0u) << "first row of D";
    }
}

// Level 4 of a plane 32 wide has blocks one column wide; of a plane 32 high, one row high; of a
// 32 x 32 plane, single coefficients. The neighbourhood is clipped to what exists.
TEST(Threshold, BlocksOneColumnOrOneRowWide) {
    SplitMix64 rng{33};
    const int32_t entry = 12;
    const float x = threshold_of(4, entry);
    for (const auto& [W, H] : {std::pair{32, 160}, std::pair{160, 32}, std::pair{32, 32}}) {
        for (int orientation = 0; orientation < 3; ++orientation) {
            for (int threads : {1, 3}) {
                TestPlane plane(W, H);
                const Block b = detail_block(plane, 4, orientation);
                for (size_t i = 0; i < plane.size(); ++i) plane.data[i] = background(rng, x);
                const int si = b.m / 2, sj = b.n / 2;  // the middle of the long side
                plane.at(b.x0 + sj, b.y0 + si) = -3 * x;
                const std::vector<float> before(plane.data.data(),
                                                plane.data.data() + plane.size());
                int32_t row[15] = {};
                row[12 + orientation] = entry;
                plane.threshold(row, threads);
                for (int i = 0; i < b.m; ++i)
                    for (int j = 0; j < b.n; ++j) {
                        const size_t at = static_cast<size_t>(b.y0 + i) * W + b.x0 + j;
                        const bool near = std::abs(i - si) <= 1 && std::abs(j - sj) <= 1;
                        EXPECT_EQ(bits_of(plane.data[at]), near ? bits_of(before[at]) : 0u)
                            << W << " x " << H << " orientation " << orientation << " at " << i
                            << ", " << j;
                    }
            }
        }
    }
}

// Entries of 0 or less keep every coefficient: the plane is unchanged bit for bit, NaNs included.
TEST(Threshold, TableRowWithoutPositiveEntriesChangesNothing) {
    SplitMix64 rng{34};
    for (int32_t entry : {0, -5}) {
        TestPlane plane(96, 64);
        for (size_t i = 0; i < plane.size(); ++i)
            plane.data[i] = rng.uniform(0, 20) ? mixed_value(rng) * 1e-3f : kNaN;
        const std::vector<float> before(plane.data.data(), plane.data.data() + plane.size());
        int32_t row[15];
        for (int32_t& e : row) e = entry;
        plane.threshold(row, 4);
        EXPECT_EQ(first_difference(plane.data.data(), before.data(), before.size()), -1);
    }
}

// A NaN coefficient never reaches x: it protects neither itself nor its neighbours, but is kept
// when a real neighbour reaches x.
TEST(Threshold, NaNNeverProtects) {
    SplitMix64 rng{35};
    const int32_t entry = 20;
    const float x = threshold_of(1, entry);
    TestPlane plane(64, 64);
    const Block b = detail_block(plane, 1, 2);
    for (int i = 0; i < b.m; ++i)
        for (int j = 0; j < b.n; ++j)
            plane.at(b.x0 + j, b.y0 + i) = (i + j) % 5 == 0 ? kNaN : background(rng, x);
    plane.at(b.x0 + 10, b.y0 + 9) = x;  // next to the NaN at (10, 10)
    int32_t row[15] = {};
    row[3 + 2] = entry;
    plane.threshold(row, 3);
    for (int i = 0; i < b.m; ++i)
        for (int j = 0; j < b.n; ++j) {
            const float v = plane.at(b.x0 + j, b.y0 + i);
            if (std::abs(i - 9) <= 1 && std::abs(j - 10) <= 1)
                EXPECT_NE(bits_of(v), 0u) << i << ", " << j;
            else
                EXPECT_EQ(bits_of(v), 0u) << i << ", " << j;
        }
    EXPECT_TRUE(std::isnan(plane.at(b.x0 + 10, b.y0 + 10)));
}

// The strip kernels against the rule, with a block cut into bands of every kind and the bands
// run top-down and bottom-up (a band's neighbour rows may already be thresholded or not).
TEST(Threshold, StripsFollowTheRuleForAnyBands) {
    SplitMix64 rng{36};
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        for (int n : {1, 2, 3, 5, 8, 11, 16, 29}) {
            for (int m : {1, 2, 3, 4, 7, 12}) {
                const int stride = n + 5;
                const float x = 2.0f;
                std::vector<float> original(static_cast<size_t>(m) * stride, 77.0f);
                for (int i = 0; i < m; ++i)
                    for (int j = 0; j < n; ++j) {
                        const int kind = rng.uniform(0, 30);
                        original[i * stride + j] = kind == 0   ? kNaN
                                                   : kind == 1 ? -x
                                                   : kind == 2 ? x
                                                   : kind == 3 ? 50.0f
                                                               : background(rng, x);
                    }
                for (int bands = 1; bands <= m + 1; ++bands) {
                    for (int bottom_up = 0; bottom_up < 2; ++bottom_up) {
                        std::vector<float> block = original;
                        std::vector<int32_t> mask(3 * (n + 1), -1);
                        for (int k = 0; k < bands; ++k) {
                            const int t = bottom_up ? bands - 1 - k : k;
                            table->threshold_strip(block.data(), stride, mask.data(), n + 1,
                                                   t * m / bands, (t + 1) * m / bands, x, n, m);
                        }
                        for (int i = 0; i < m; ++i)
                            for (int j = 0; j < stride; ++j) {
                                const float was = original[i * stride + j];
                                const bool keep =
                                    j >= n || survives(original, stride, n, m, i, j, x);
                                ASSERT_EQ(bits_of(block[i * stride + j]), keep ? bits_of(was) : 0u)
                                    << "n " << n << " m " << m << " bands " << bands << " at " << i
                                    << ", " << j;
                            }
                    }
                }
            }
        }
    }
}

// A whole plane through forward, threshold and inverse, with strong coefficients planted on the
// last row of one thread's band and the first row of the next.
std::vector<float> denoise_plane(int W, int H, int threads, std::vector<float>* coefficients,
                                 const KernelSet& k = best_kernels()) {
    SplitMix64 rng{37};
    TestPlane plane(W, H, 9, k);
    for (size_t i = 0; i < plane.size(); ++i)
        plane.data[i] = rng.uniform(0, 50) ? static_cast<float>(rng.uniform(0, 4096)) : 3.0e4f;
    plane.forward(threads);
    int32_t row[15];
    for (int l = 0; l < kLevels; ++l) {
        for (int o = 0; o < 3; ++o) {
            const Block b = detail_block(plane, l, o);
            double energy = 0;
            for (int i = 0; i < b.m; ++i)
                for (int j = 0; j < b.n; ++j) energy += std::pow(plane.at(b.x0 + j, b.y0 + i), 2);
            const double rms = std::sqrt(energy / (b.n * b.m));
            row[3 * l + o] = static_cast<int32_t>(2.5 * rms / velmora::track_unit(l)) + 1;
            for (int T : {2, 3, 7})
                for (int t = 1; t < T; ++t) {
                    const int edge = t * b.m / T;
                    if (edge == 0) continue;
                    plane.at(b.x0 + (edge * 7 + o) % b.n, b.y0 + edge - 1) = 1.0e5f;
                    plane.at(b.x0 + (edge * 5 + 2 * o + 1) % b.n, b.y0 + edge) = -1.0e5f;
                }
        }
    }
    plane.threshold(row, threads);
    if (coefficients) coefficients->assign(plane.data.data(), plane.data.data() + plane.size());
    plane.inverse(threads);
    return std::vector<float>(plane.data.data(), plane.data.data() + plane.size());
}

TEST(WholePlane, SameBitsForEveryThreadCount) {
    for (const auto& [W, H] : {std::pair{96, 64}, std::pair{32, 160}, std::pair{160, 32}}) {
        SCOPED_TRACE(testing::Message() << W << " x " << H);
        std::vector<float> coefficients, reference_coefficients;
        const std::vector<float> reference = denoise_plane(W, H, 1, &reference_coefficients);
        // The thresholds drop coefficients and keep others, so the comparison means something.
        int zeros = 0, kept = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (x >= W / 32 || y >= H / 32)
                    ++(reference_coefficients[y * W + x] == 0 ? zeros : kept);
        EXPECT_GT(zeros, W * H / 4);
        EXPECT_GT(kept, W * H / 50);
        for (int threads = 2; threads <= 9; ++threads) {
            const std::vector<float> result = denoise_plane(W, H, threads, &coefficients);
            ASSERT_EQ(first_difference(coefficients.data(), reference_coefficients.data(),
                                       coefficients.size()),
                      -1)
                << threads << " threads";
            ASSERT_EQ(first_difference(result.data(), reference.data(), result.size()), -1)
                << threads << " threads";
        }
    }
}

TEST(WholePlane, SameBitsForEveryKernelTable) {
    if (available_tables().size() < 2) GTEST_SKIP() << "only the scalar table";
    const std::vector<float> reference = denoise_plane(160, 96, 3, nullptr, scalar_kernels);
    for (const KernelSet* table : available_tables()) {
        const std::vector<float> result = denoise_plane(160, 96, 3, nullptr, *table);
        EXPECT_EQ(first_difference(result.data(), reference.data(), result.size()), -1)
            << table->name;
    }
}

}  // namespace
