// Noise removal through the real frame handler: a smooth picture with added noise of known
// standard deviation, thresholds of about three standard deviations in every detail block, and
// the result compared with the clean picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "plugin/parameter_store.h"
#include "tests/test_host.h"

namespace {

constexpr int kWidth = 312;  // not a multiple of 16: the last 8 columns of a row truncate
constexpr int kHeight = 200;
constexpr double kSigma[3] = {40.0, 24.0, 24.0};  // per plane, in sample units

// Smooth, in the editor's ranges: luma around mid-grey, chroma centred on 0.
int16_t clean_sample(int plane, int x, int y) {
    const double tau = 2 * std::numbers::pi;
    double v;
    if (plane == 0)
        v = 2048 + 900 * std::sin(tau * x / 97) * std::cos(tau * y / 71) + 2.0 * x - 1.5 * y;
    else if (plane == 1)
        v = 500 * std::sin(tau * (x + y) / 150);
    else
        v = 400 * std::cos(tau * (x - 2 * y) / 130);
    return static_cast<int16_t>(std::lround(v));
}

int16_t& component(PIXEL_YC& p, int plane) { return plane == 0 ? p.y : plane == 1 ? p.cb : p.cr; }

// The clean picture plus noise: a sum of twelve uniforms on [-1/2, 1/2) has mean 0, standard
// deviation 1 and a nearly Gaussian shape.
void fill(TestFrame& clean, TestFrame& noisy) {
    SplitMix64 rng{41};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int p = 0; p < 3; ++p) {
                double g = -6.0;
                for (int i = 0; i < 12; ++i) g += static_cast<double>(rng.next() >> 11) * 0x1p-53;
                component(clean.at(x, y), p) = clean_sample(p, x, y);
                component(noisy.at(x, y), p) =
                    static_cast<int16_t>(std::lround(clean_sample(p, x, y) + kSigma[p] * g));
            }
}

// A fresh frame with the same pixels.
TestFrame copy_of(const TestFrame& frame) {
    TestFrame copy(frame.info.w, frame.info.h, frame.info.max_w, frame.info.max_h);
    std::copy(frame.edit.begin(), frame.edit.end(), copy.edit.begin());
    return copy;
}

double mean_square_error(TestFrame& a, TestFrame& b, int plane) {
    double sum = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double d = component(a.at(x, y), plane) - component(b.at(x, y), plane);
            sum += d * d;
        }
    return sum / (kWidth * kHeight);
}

// Table entries for a threshold of three standard deviations: one unit at level l is
// sqrt(2)^l / 4 in coefficient magnitude, and the transform keeps white noise at about the same
// standard deviation in every detail block.
void set_three_sigma(int32_t* row, double sigma) {
    for (int l = 0; l < kLevelCount; ++l)
        for (int o = 0; o < kOrientationCount; ++o)
            row[3 * l + o] =
                static_cast<int32_t>(std::lround(3 * sigma * 4 / std::pow(std::sqrt(2.0), l)));
}

// Demands: with thresholds of three standard deviations the error against the clean picture
// drops by at least 6 dB in every plane (a transform that does not reconstruct, or a mask that
// keeps or drops the wrong coefficients, ends far from that); the result does not depend on the
// thread count; and with all thresholds 0 the frame comes back unchanged where the store rounds
// and within 1 in the truncating last columns.
TEST(Denoise, ThreeSigmaThresholdsGainAtLeastSixDecibels) {
    TestFrame clean(kWidth, kHeight, kWidth + 8, kHeight + 4);
    TestFrame noisy(kWidth, kHeight, kWidth + 8, kHeight + 4);
    fill(clean, noisy);

    TestHost host(2);
    host.check(kCheckCoefficientView) = 0;
    host.check(kCheckSelection) = 0;
    host.track(kTrackSel) = 0;
    int32_t luma[kLevelTrackCount];
    set_three_sigma(luma, kSigma[0]);
    for (int k = 0; k < kLevelTrackCount; ++k) host.track(kTrackFirstLevel + k) = luma[k];
    set_three_sigma(ThresholdTable[1], kSigma[1]);
    set_three_sigma(ThresholdTable[2], kSigma[2]);

    TestFrame filtered = copy_of(noisy);
    ASSERT_TRUE(host.process(filtered));
    for (int p = 0; p < 3; ++p) {
        const double before = mean_square_error(noisy, clean, p);
        const double after = mean_square_error(filtered, clean, p);
        EXPECT_GE(10 * std::log10(before / after), 6.0) << "plane " << p;
    }

    host.set_threads(3);
    TestFrame again = copy_of(noisy);
    ASSERT_TRUE(host.process(again));
    EXPECT_EQ(
        std::memcmp(again.edit.data(), filtered.edit.data(), again.edit.size() * sizeof(PIXEL_YC)),
        0);

    for (int k = 0; k < kLevelTrackCount; ++k) host.track(kTrackFirstLevel + k) = 0;
    for (int p = 1; p < 3; ++p)
        for (int32_t& entry : ThresholdTable[p]) entry = 0;
    TestFrame unfiltered = copy_of(noisy);
    ASSERT_TRUE(host.process(unfiltered));
    const int w16 = kWidth & ~15;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int p = 0; p < 3; ++p) {
                const int was = component(noisy.at(x, y), p);
                const int now = component(unfiltered.at(x, y), p);
                if (x < w16)
                    ASSERT_EQ(now, was) << x << ", " << y << " plane " << p;
                else
                    ASSERT_LE(std::abs(now - was), 1) << x << ", " << y << " plane " << p;
            }
}

}  // namespace
