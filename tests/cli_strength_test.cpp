// How strong the filtering is: noise levels as threshold entries, and the noise estimate.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "lib/plane_engine.h"
#include "lib/strength.h"
#include "standin/frame_source.h"
#include "tests/cli_test_support.h"
#include "wavelet/masked_threshold.h"

namespace {

using namespace velmora;

using velmora::ThresholdRow;

// sigma 4, K 3: a threshold of 12 8-bit steps, 192 working units, at every level. One entry is
// a quarter of a unit at level 0, sqrt(2)/4 at level 1, ... (192 / 0.35355338 = 543.06,
// 192 / 0.70710677 = 271.53).
TEST(Strength, SigmaBecomesTheSameThresholdAtEveryLevel) {
    const ThresholdRow eight = velmora::row_for_sigma(4.0, 3.0, SampleFormat::u8);
    const ThresholdRow expected = {768, 768, 768, 543, 543, 543, 384, 384,
                                   384, 272, 272, 272, 192, 192, 192};
    EXPECT_EQ(eight, expected);
    EXPECT_EQ(velmora::row_for_sigma(4.0, 3.0, SampleFormat::u10), expected);
    EXPECT_EQ(velmora::row_for_sigma(4.0, 3.0, SampleFormat::u12), expected);
    // 16-bit samples: 256 working units per 8-bit step, entries 16 times finer.
    const ThresholdRow sixteen = velmora::row_for_sigma(4.0, 3.0, SampleFormat::u16);
    for (int l = 0; l < 5; ++l) {
        const double threshold = sixteen[3 * l] * double(velmora::track_unit(l));
        EXPECT_NEAR(threshold, 3.0 * 4.0 * 256.0, velmora::track_unit(l) / 2.0) << "level " << l;
        EXPECT_NEAR(sixteen[3 * l], 16.0 * expected[3 * l], 8.0) << "level " << l;
    }
    // Fractional levels and K keep their precision.
    const ThresholdRow fine = velmora::row_for_sigma(2.5, 2.2, SampleFormat::u8);
    for (int l = 0; l < 5; ++l)
        EXPECT_NEAR(fine[3 * l] * double(velmora::track_unit(l)), 2.5 * 2.2 * 16.0,
                    velmora::track_unit(l) / 2.0);
    EXPECT_EQ(velmora::row_for_sigma(0.0, 3.0, SampleFormat::u8), ThresholdRow{});
}

// Pure Gaussian noise of a known level: the estimate from the finest diagonal subband lands
// within a few percent, for any plane size (the padding is left out) and sample depth.
TEST(Strength, NoiseEstimateFindsTheNoiseLevel) {
    for (auto [w, h, format] : {std::tuple{320, 240, SampleFormat::u8},
                                {203, 117, SampleFormat::u16},
                                {1000, 70, SampleFormat::u10}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        const double sigma_8bit = 6.0;
        const double sigma_samples = sigma_8bit * (1 << (sample_bits(format) - 8));
        const double mid = (sample_maximum(format) + 1) / 2.0;
        SplitMix64 rng{31};
        std::vector<uint16_t> words(size_t(w) * h);
        std::vector<uint8_t> bytes(size_t(w) * h);
        for (size_t i = 0; i < words.size(); ++i) {
            const double u1 = (double(rng.next() >> 11) + 0.5) / 9007199254740992.0;
            const double u2 = double(rng.next() >> 11) / 9007199254740992.0;
            const double n = std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2);
            const double v = std::round(mid + sigma_samples * n);
            words[i] = static_cast<uint16_t>(v);
            bytes[i] = static_cast<uint8_t>(v);
        }
        void* base = format == SampleFormat::u8 ? static_cast<void*>(bytes.data()) : words.data();
        const PlaneView view = {base, 1, w, w, h, format};
        cli_test::ReferenceEngine engine(w, h, 2);
        engine.analyse(view);
        const double estimate = engine.estimate_noise() / velmora::working_units_per_8bit(format);
        EXPECT_NEAR(estimate, sigma_8bit, 0.05 * sigma_8bit);
    }
}

}  // namespace
