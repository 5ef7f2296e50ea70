// The CDF 9/7 lifting: the kernels against the arithmetic written out on the interleaved line,
// the known responses of the forward and inverse transforms (two-sample lines, impulses, a ramp,
// constants), levels that stay inside their active block, and reconstruction of every 16-bit
// value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "tests/wavelet_test_support.h"

namespace {

// The lifting constants, from their single-precision bit patterns.
const float kAlpha = __builtin_bit_cast(float, 0xBFCB0673u);
const float kBeta = __builtin_bit_cast(float, 0xBD5901AEu);
const float kGamma = __builtin_bit_cast(float, 0x3F620676u);
const float kDelta = __builtin_bit_cast(float, 0x3EE31355u);
const float kK = __builtin_bit_cast(float, 0x3F93263Du);
const float kInvK = __builtin_bit_cast(float, 0x3F5EAF6Fu);

// One lifting step on the interleaved line: every sample of the given parity gets
// c * (left + right), with the whole-sample mirror x[-1] = x[1], x[N] = x[N-2] supplying the
// missing neighbour at the ends.
void lift(std::vector<float>& x, int parity, float c) {
    const int N = static_cast<int>(x.size());
    for (int i = parity; i < N; i += 2) {
        const float left = x[i > 0 ? i - 1 : 1];
        const float right = x[i + 1 < N ? i + 1 : N - 2];
        const float s = left + right;
        const float p = s * c;
        x[i] = x[i] + p;
    }
}

std::vector<float> reference_forward(std::vector<float> x) {
    lift(x, 1, kAlpha);
    lift(x, 0, kBeta);
    lift(x, 1, kGamma);
    lift(x, 0, kDelta);
    const size_t n = x.size() / 2;
    std::vector<float> out(x.size());
    for (size_t k = 0; k < n; ++k) {
        out[k] = x[2 * k] * kK;
        out[n + k] = x[2 * k + 1] * kInvK;
    }
    return out;
}

std::vector<float> reference_inverse(const std::vector<float>& halves) {
    const size_t n = halves.size() / 2;
    std::vector<float> x(halves.size());
    for (size_t k = 0; k < n; ++k) {
        x[2 * k] = halves[k] * kInvK;
        x[2 * k + 1] = halves[n + k] * kK;
    }
    lift(x, 0, -kDelta);
    lift(x, 1, -kGamma);
    lift(x, 0, -kBeta);
    lift(x, 1, -kAlpha);
    return x;
}

// A line of 2n samples through one table's row kernel.
std::vector<float> row_through(const KernelSet& k, const std::vector<float>& line, bool inverse) {
    const int n = static_cast<int>(line.size() / 2);
    AlignedFloats row(line.size()), e(n), o(n);
    for (size_t i = 0; i < line.size(); ++i) row[i] = line[i];
    (inverse ? k.inverse_row : k.forward_row)(row.data(), row.data(), n, e.data(), o.data());
    return std::vector<float>(row.data(), row.data() + line.size());
}

std::vector<float> impulse(int length, int at) {
    std::vector<float> line(length, 0.0f);
    line[at] = 1.0f;
    return line;
}

// The given values at positions first, first + 1, ... to six decimals; every position not
// listed is exactly zero when `rest_zero` is set.
void expect_six_decimals(const std::vector<float>& got, int first, std::vector<double> want,
                         bool rest_zero) {
    for (int i = 0; i < static_cast<int>(got.size()); ++i) {
        const int j = i - first;
        if (j >= 0 && j < static_cast<int>(want.size())) {
            EXPECT_NEAR(got[i], want[j], 0.5e-6) << "position " << i;
        } else if (rest_zero) {
            EXPECT_EQ(got[i], 0.0f) << "position " << i;
        }
    }
}

TEST(Lifting, KernelsFollowTheInterleavedArithmetic) {
    SplitMix64 rng{21};
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        for (int n = 1; n <= 64; ++n) {
            std::vector<float> line(2 * n);
            for (float& v : line) v = mixed_value(rng);
            const std::vector<float> want_forward = reference_forward(line);
            const std::vector<float> want_inverse = reference_inverse(line);
            ASSERT_EQ(first_difference(row_through(*table, line, false).data(), want_forward.data(),
                                       line.size()),
                      -1)
                << "n " << n;
            ASSERT_EQ(first_difference(row_through(*table, line, true).data(), want_inverse.data(),
                                       line.size()),
                      -1)
                << "n " << n;
            // The same line as column 2 of five adjacent columns.
            for (int inverse = 0; inverse < 2; ++inverse) {
                std::vector<float> block(5 * line.size(), 3.0f);
                for (size_t i = 0; i < line.size(); ++i) block[5 * i + 2] = line[i];
                AlignedFloats scratch(4 * n);
                (inverse ? table->inverse_columns : table->forward_columns)(block.data(), 5, 5, n,
                                                                            scratch.data(), 4 * n);
                const std::vector<float>& want = inverse ? want_inverse : want_forward;
                for (size_t i = 0; i < line.size(); ++i)
                    ASSERT_EQ(bits_of(block[5 * i + 2]), bits_of(want[i]))
                        << "n " << n << " inverse " << inverse << " sample " << i;
            }
        }
    }
}

TEST(ForwardTransform, TwoSampleLines) {
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        const std::vector<float> flat = row_through(*table, {100.0f, 100.0f}, false);
        EXPECT_NEAR(flat[0], 141.42136, 0.5e-5);
        EXPECT_EQ(flat[1], 0.0f);
        for (const auto& [a, b] : {std::pair{10.0f, 20.0f}, {-300.0f, 4000.0f}, {7.5f, -7.5f}}) {
            const std::vector<float> r = row_through(*table, {a, b}, false);
            const double tolerance = 1e-6 * (std::fabs(a) + std::fabs(b));
            EXPECT_NEAR(r[0], (a + b) / std::sqrt(2.0), tolerance);
            EXPECT_NEAR(r[1], (b - a) / std::sqrt(2.0), tolerance);
        }
    }
}

// Level 4 of a 32 x 32 plane is the 2 x 2 block; nothing else of the plane is read or written.
TEST(ForwardTransform, TwoByTwoBlock) {
    TestPlane plane(32, 32);
    const float fence = __builtin_bit_cast(float, 0x7FC0BEEFu);
    for (size_t i = 0; i < plane.size(); ++i) plane.data[i] = fence;
    plane.at(0, 0) = 10.0f;
    plane.at(1, 0) = 20.0f;
    plane.at(0, 1) = 30.0f;
    plane.at(1, 1) = 40.0f;
    forward_rows(*plane.kernels, plane.view(), 4, 0, 1);
    EXPECT_NEAR(plane.at(0, 0), 21.213205, 0.5e-6);
    EXPECT_NEAR(plane.at(1, 0), 7.071068, 0.5e-6);
    EXPECT_NEAR(plane.at(0, 1), 49.497475, 0.5e-6);
    EXPECT_NEAR(plane.at(1, 1), 7.071066, 0.5e-6);
    forward_columns(*plane.kernels, plane.view(), 4, 0, 1);
    EXPECT_NEAR(plane.at(0, 0), 50.000015, 0.5e-6);
    EXPECT_NEAR(plane.at(1, 0), 10.000001, 0.5e-6);  // "H": change along x
    EXPECT_NEAR(plane.at(0, 1), 20.000002, 0.5e-6);  // "V": change along y
    // "D" is 0: the two high coefficients it comes from agree to about 2e-6.
    EXPECT_NEAR(plane.at(1, 1), 0.0, 2.5e-6);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (x > 1 || y > 1) {
                ASSERT_EQ(bits_of(plane.at(x, y)), bits_of(fence));
            }
}

TEST(ForwardTransform, ImpulseResponses) {
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        const std::vector<float> at16 = row_through(*table, impulse(32, 16), false);
        expect_six_decimals(std::vector<float>(at16.begin(), at16.begin() + 16), 6,
                            {0.037828, -0.110624, 0.852699, -0.110624, 0.037828}, true);
        expect_six_decimals(std::vector<float>(at16.begin() + 16, at16.end()), 6,
                            {0.064539, -0.418092, -0.418092, 0.064539}, true);
        const std::vector<float> at17 = row_through(*table, impulse(32, 17), false);
        expect_six_decimals(std::vector<float>(at17.begin(), at17.begin() + 16), 7,
                            {-0.023849, 0.377403, 0.377403, -0.023849}, true);
        expect_six_decimals(std::vector<float>(at17.begin() + 16, at17.end()), 7,
                            {-0.040689, 0.788486, -0.040689}, true);
        // At the start the mirror folds the response back onto the line.
        const std::vector<float> at0 = row_through(*table, impulse(32, 0), false);
        expect_six_decimals(at0, 0, {0.852699, -0.110624, 0.037828}, false);
        expect_six_decimals(at0, 16, {-0.418092, 0.064539}, false);
        const std::vector<float> at1 = row_through(*table, impulse(32, 1), false);
        expect_six_decimals(at1, 0, {0.754806, 0.353553, -0.023849}, false);
        expect_six_decimals(at1, 16, {0.747796, -0.040689}, false);
    }
}

TEST(ForwardTransform, Ramp) {
    std::vector<float> ramp(16);
    for (int i = 0; i < 16; ++i) ramp[i] = static_cast<float>(i);
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        const std::vector<float> r = row_through(*table, ramp, false);
        for (int k = 2; k <= 5; ++k) EXPECT_NEAR(r[k], 1.4142135 * 2 * k, 4e-6) << "low " << k;
        for (int k = 1; k <= 5; ++k) EXPECT_LT(std::fabs(r[8 + k]), 1e-6f) << "high " << k;
        EXPECT_NEAR(r[8 + 0], 0.176777, 0.5e-6);
        EXPECT_NEAR(r[8 + 6], -0.129076, 0.5e-6);
        EXPECT_NEAR(r[8 + 7], 0.611710, 0.5e-6);
    }
}

TEST(ForwardTransform, ConstantLines) {
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        for (int v = -4096; v <= 8191; ++v) {
            const std::vector<float> r =
                row_through(*table, std::vector<float>(32, static_cast<float>(v)), false);
            for (int k = 0; k < 16; ++k) {
                ASSERT_NEAR(r[k], v * 1.4142135, 1e-6 * std::abs(v) + 1e-6) << v << " low " << k;
                ASSERT_LT(std::fabs(r[16 + k]), 0.002f) << v << " high " << k;
            }
        }
    }
}

TEST(ForwardTransform, ConstantPlaneGathersIntoTheFinalLowLow) {
    TestPlane plane(64, 96);
    for (size_t i = 0; i < plane.size(); ++i) plane.data[i] = 1000.0f;
    plane.forward(3);
    for (int y = 0; y < 96 / 32; ++y)
        for (int x = 0; x < 64 / 32; ++x) EXPECT_NEAR(plane.at(x, y), 32000.012, 0.0005);
}

TEST(InverseTransform, InteriorImpulseResponses) {
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        expect_six_decimals(
            row_through(*table, impulse(32, 8), true), 13,
            {-0.064539, -0.040689, 0.418092, 0.788486, 0.418092, -0.040689, -0.064539}, true);
        expect_six_decimals(row_through(*table, impulse(32, 16 + 8), true), 13,
                            {0.037828, 0.023849, -0.110624, -0.377403, 0.852699, -0.377403,
                             -0.110624, 0.023849, 0.037828},
                            true);
    }
}

TEST(InverseTransform, ResponsesAtTheEnds) {
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        for (int n : {4, 5, 16}) {
            SCOPED_TRACE(testing::Message() << "n " << n);
            expect_six_decimals(row_through(*table, impulse(2 * n, n), true), 0,
                                {-0.754806, 0.742074, -0.353553, -0.072796, 0.023849, 0.037828},
                                false);
            expect_six_decimals(row_through(*table, impulse(2 * n, n - 1), true), 2 * n - 5,
                                {-0.064539, -0.040689, 0.353553, 0.747796, 0.836184}, false);
            expect_six_decimals(row_through(*table, impulse(2 * n, 0), true), 0,
                                {0.788486, 0.418092, -0.040689, -0.064539}, false);
        }
    }
}

TEST(InverseTransform, ConstantLowHalfRebuildsAConstantLine) {
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        for (int n : {1, 2, 3, 7, 16}) {
            for (float L : {1.0f, 1000.0f, -4242.5f}) {
                std::vector<float> halves(2 * n, 0.0f);
                for (int k = 0; k < n; ++k) halves[k] = L;
                for (float v : row_through(*table, halves, true))
                    EXPECT_NEAR(v, L * 0.70710678, 1e-6 * std::fabs(L)) << "n " << n;
            }
        }
    }
}

// Level 1 of a 64 x 64 plane: a constant low-low block and zero details give a constant active
// block of half the value; level 0's detail blocks are neither read nor written.
TEST(InverseTransform, ConstantLowLowRebuildsHalfTheValue) {
    TestPlane plane(64, 64);
    const float fence = __builtin_bit_cast(float, 0x7FC0CAFEu);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            plane.at(x, y) = x >= 32 || y >= 32 ? fence : x < 16 && y < 16 ? 300.0f : 0.0f;
    plane.inverse_level(1, 2);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            if (x >= 32 || y >= 32)
                ASSERT_EQ(bits_of(plane.at(x, y)), bits_of(fence));
            else
                ASSERT_NEAR(plane.at(x, y), 150.0, 1e-4) << x << ", " << y;
        }
}

TEST(InverseTransform, ConstantFinalLowLowRebuildsTheWholePlane) {
    TestPlane plane(64, 96);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) plane.at(x, y) = 3200.0f;
    plane.inverse(4);
    for (size_t i = 0; i < plane.size(); ++i) ASSERT_NEAR(plane.data[i], 100.0, 1e-3) << i;
}

// Each level reads and writes only its active block, forward and inverse.
TEST(Transform, LevelsStayInsideTheirActiveBlock) {
    const float fence = __builtin_bit_cast(float, 0x7FC0F00Du);
    SplitMix64 rng{22};
    for (int level = 0; level < kLevels; ++level) {
        TestPlane plane(96, 64);
        const int w_l = 96 >> level, h_l = 64 >> level;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 96; ++x)
                plane.at(x, y) = x < w_l && y < h_l ? mixed_value(rng) : fence;
        for (int inverse = 0; inverse < 2; ++inverse) {
            if (inverse)
                plane.inverse_level(level, 3);
            else
                plane.forward_level(level, 3);
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 96; ++x) {
                    if (x < w_l && y < h_l)
                        ASSERT_TRUE(std::isfinite(plane.at(x, y))) << "level " << level;
                    else
                        ASSERT_EQ(bits_of(plane.at(x, y)), bits_of(fence)) << "level " << level;
                }
        }
    }
}

// Values of the frame's range come back within a few thousandths.
TEST(Transform, RoundTripStaysWithinAFewThousandths) {
    SplitMix64 rng{23};
    TestPlane plane(96, 64);
    std::vector<float> original(plane.size());
    for (float& v : original) v = static_cast<float>(rng.uniform(-2048, 4096));
    for (size_t i = 0; i < plane.size(); ++i) plane.data[i] = original[i];
    plane.forward(2);
    plane.inverse(2);
    for (size_t i = 0; i < plane.size(); ++i) ASSERT_NEAR(plane.data[i], original[i], 0.005) << i;
}

// Every 16-bit value, laid out in a 256 x 256 plane in several orders, survives load, forward,
// inverse and store unchanged where the store rounds, and within 1 where it truncates.
TEST(Transform, EverySixteenBitValueSurvivesTheRoundTrip) {
    constexpr int kSide = 256;
    struct Order {
        uint32_t multiplier, shift;
    };
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        for (const Order order : {Order{1, 0}, Order{1, 40000}, Order{65535, 0}, Order{40503, 7}}) {
            SCOPED_TRACE(testing::Message() << "order " << order.multiplier << ", " << order.shift);
            std::vector<int16_t> samples(kSide * kSide);
            for (uint32_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<int16_t>(
                    static_cast<int32_t>((order.multiplier * i + order.shift) & 0xFFFF) - 32768);
            TestPlane plane(kSide, kSide, 9, *table);
            for (int y = 0; y < kSide; ++y)
                table->load_s16(&samples[y * kSide], 1, &plane.at(0, y), kSide);
            plane.forward(2);
            plane.inverse(2);
            std::vector<int16_t> rounded(samples.size()), truncated(samples.size());
            for (int y = 0; y < kSide; ++y) {
                table->store_s16(&plane.at(0, y), &rounded[y * kSide], 1, kSide, kSide);
                table->store_s16(&plane.at(0, y), &truncated[y * kSide], 1, kSide, 0);
            }
            for (size_t i = 0; i < samples.size(); ++i) {
                ASSERT_EQ(rounded[i], samples[i]) << "at " << i;
                ASSERT_LE(std::abs(truncated[i] - samples[i]), 1) << "at " << i;
            }
        }
    }
}

}  // namespace
