// The noise measurement: which blocks tell nothing, the block values from the finest diagonal
// details, the levels pooled from them over frames, the kurtosis level that corrects a single
// frame's, and the integer square root behind them.
#include "engine/noise_level.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "engine/best_mode.h"
#include "engine/channel_kurtosis.h"
#include "engine/noise_bands.h"
#include "engine/noise_blocks.h"
#include "engine/patch_noise.h"
#include "engine/plane_io.h"
#include "engine/square_root.h"
#include "tests/wavelet_test_support.h"
#include "threads/thread_pool.h"
#include "wavelet/band_shrink.h"

namespace {

using namespace velmora;

TEST(SquareRoot, IsTheCorrectlyRoundedRoot) {
    SplitMix64 rng{21};
    for (int i = 0; i < 300000; ++i) {
        // Every exponent, subnormals included.
        const uint32_t bits = static_cast<uint32_t>(rng.next()) % 0x7F800000u;
        const float v = __builtin_bit_cast(float, bits);
        ASSERT_EQ(bits_of(square_root(v)), bits_of(std::sqrt(v))) << std::hexfloat << v;
    }
    for (float v : {1.0f, 4.0f, 2.0f, 0.25f, 1.0e-45f, 3.4028235e38f, 1.0000001f, 0.99999994f})
        EXPECT_EQ(bits_of(square_root(v)), bits_of(std::sqrt(v))) << v;
    EXPECT_EQ(square_root(0.0f), 0.0f);
    EXPECT_EQ(square_root(-4.0f), 0.0f);
    EXPECT_EQ(square_root(INFINITY), INFINITY);
}

// w x h standard Gaussian values, row-major.
std::vector<double> gaussian_field(int w, int h, uint64_t seed) {
    SplitMix64 rng{seed};
    std::vector<double> n(static_cast<size_t>(w) * h);
    for (double& v : n) {
        const double u1 = (static_cast<double>(rng.next() >> 11) + 0.5) / 9007199254740992.0;
        const double u2 = static_cast<double>(rng.next() >> 11) / 9007199254740992.0;
        v = std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2);
    }
    return n;
}

// `sigma` times the noise `n` (w x h) around `level(x, y)`, rounded and clamped to the format.
template <class Level>
std::vector<uint16_t> picture_with(const std::vector<double>& n, int w, int h, SampleFormat f,
                                   double sigma, Level level) {
    std::vector<uint16_t> s(n.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t at = static_cast<size_t>(y) * w + x;
            const double v = std::round(level(x, y) + sigma * n[at]);
            s[at] = static_cast<uint16_t>(std::clamp(v, 0.0, double(sample_maximum(f))));
        }
    return s;
}

// Gaussian noise of standard deviation `sigma` (in samples) around `level(x, y)`, rounded and
// clamped to the format.
template <class Level>
std::vector<uint16_t> picture(int w, int h, SampleFormat f, double sigma, uint64_t seed,
                              Level level) {
    return picture_with(gaussian_field(w, h, seed), w, h, f, sigma, level);
}

// One frame's blocks with their own memory.
struct Frame {
    int w, h;
    SampleFormat format;
    std::vector<uint16_t> words;
    std::vector<uint8_t> bytes;
    std::vector<float> coefficients;
    std::vector<uint8_t> left_out;
    std::vector<float> detail;
    std::vector<float> bands;  // empty: not measured
    NoiseBlocks blocks;

    Frame(const std::vector<uint16_t>& s, int w_, int h_, SampleFormat f,
          const KernelSet& k = best_kernels(), int threads = 2, bool with_bands = true)
        : w(w_), h(h_), format(f), words(s), bytes(s.begin(), s.end()) {
        const int32_t columns = noise_blocks_along(w), rows = noise_blocks_along(h);
        coefficients.assign(static_cast<size_t>(columns) * rows * 16, -1.0f);
        left_out.assign(static_cast<size_t>(columns) * rows, 7);
        detail.assign(left_out.size(), -1.0f);
        if (with_bands)
            bands.assign(static_cast<size_t>(noise_band_coefficient_floats(columns, rows)), -1.0f);
        blocks = {columns,
                  rows,
                  coefficients.data(),
                  left_out.data(),
                  detail.data(),
                  nullptr,
                  with_bands ? bands.data() : nullptr};
        AlignedFloats memory(static_cast<size_t>(noise_blocks_memory_floats(w, h, threads)));
        ThreadPool pool(threads);
        measure_noise_blocks(k, memory.data(), threads, view(), own_light(view()), pool.executor(),
                             blocks);
    }
    PlaneView view() {
        void* base = format == SampleFormat::u8 ? static_cast<void*>(bytes.data()) : words.data();
        return {base, 1, w, w, h, format};
    }
    std::vector<float> spatial(std::vector<float>* details = nullptr) const {
        std::vector<float> v(left_out.size());
        if (details) details->resize(v.size());
        v.resize(static_cast<size_t>(
            spatial_noise_values(blocks, v.data(), details ? details->data() : nullptr)));
        if (details) details->resize(v.size());
        return v;
    }
};

std::vector<float> temporal(Frame& previous, Frame& current, int64_t* unchanged = nullptr) {
    std::vector<float> v(current.left_out.size());
    v.resize(static_cast<size_t>(temporal_noise_values(
        previous.blocks, previous.view(), current.blocks, current.view(), v.data(), unchanged)));
    return v;
}

// In 8-bit steps.
double level_of(const std::vector<float>& spatial, const std::vector<float>& temporal,
                SampleFormat f) {
    const NoiseLevel l = noise_level(spatial.data(), static_cast<int64_t>(spatial.size()),
                                     temporal.data(), static_cast<int64_t>(temporal.size()));
    EXPECT_TRUE(l.found);
    return l.sigma / (f == SampleFormat::u16 ? 256.0 : 16.0);
}

// A block whose 64 samples are equal, and every block whose 12 x 12 area reaches a clipped
// sample, are left out; at 10 bits 255 is an ordinary value and 1023 the clipped one.
TEST(NoiseBlocks, FlatAndClippedBlocksAreLeftOut) {
    for (SampleFormat f : {SampleFormat::u8, SampleFormat::u10}) {
        const int top = sample_maximum(f), mid = (top + 1) / 2;
        std::vector<uint16_t> s =
            picture(64, 48, f, top / 40.0, 3, [&](int, int) { return double(mid); });
        for (int y = 8; y < 16; ++y)
            for (int x = 8; x < 16; ++x) s[static_cast<size_t>(y) * 64 + x] = 90;  // block (1, 1)
        s[9 * 64 + 40] = static_cast<uint16_t>(top);  // in the areas of blocks 4 and 5 of rows 0, 1
        s[40 * 64 + 2] = 255;  // clipped at 8 bits only: blocks (0, 4), (0, 5)
        const Frame frame(s, 64, 48, f);
        ASSERT_EQ(frame.blocks.columns, 8);
        ASSERT_EQ(frame.blocks.rows, 6);
        for (int by = 0; by < 6; ++by)
            for (int bx = 0; bx < 8; ++bx) {
                const bool flat = bx == 1 && by == 1;
                const bool clipped = ((bx == 4 || bx == 5) && by <= 1) ||
                                     (f == SampleFormat::u8 && bx == 0 && by >= 4);
                EXPECT_EQ(frame.left_out[static_cast<size_t>(by) * 8 + bx], flat || clipped ? 1 : 0)
                    << sample_bits(f) << " bits, block " << bx << "," << by;
            }
    }
}

// The finest diagonal details of the unmoved transform, as the engine's transform of the best
// mode's working plane gives them; the spatial value of a block is the mean of their squares,
// its detail value that of its finest H and V coefficients.
TEST(NoiseBlocks, ValuesAreMeanSquaresOfTheFinestDiagonalDetails) {
    const int w = 75, h = 41;  // 9 x 5 whole blocks, parts of blocks at the right and bottom
    const std::vector<uint16_t> s =
        picture(w, h, SampleFormat::u8, 6.0, 4, [](int x, int y) { return 40.0 + x + 2 * y; });
    Frame frame(s, w, h, SampleFormat::u8);
    TestPlane plane(best_padded_size(w), best_padded_size(h), 1, scalar_kernels);
    for (int y = 0; y < plane.H; ++y)
        for (int x = 0; x < plane.W; ++x)
            plane.at(x, y) = static_cast<float>(
                s[static_cast<size_t>(symmetric_index(y, h)) * w + symmetric_index(x, w)] * 16);
    plane.forward_level(0, 1);
    std::vector<double> expected, expected_detail;
    for (int by = 0; by < 5; ++by)
        for (int bx = 0; bx < 9; ++bx) {
            double sum = 0, across = 0;
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j) {
                    const float c = plane.at(plane.W / 2 + 4 * bx + j, plane.H / 2 + 4 * by + i);
                    ASSERT_EQ(bits_of(c),
                              bits_of(frame.coefficients[(4 * by + i) * 36 + 4 * bx + j]));
                    sum += double(c) * c;
                    const float hc = plane.at(plane.W / 2 + 4 * bx + j, 4 * by + i);
                    const float vc = plane.at(4 * bx + j, plane.H / 2 + 4 * by + i);
                    across += double(hc) * hc + double(vc) * vc;
                }
            expected.push_back(sum / 16);
            expected_detail.push_back(across / 32);
        }
    std::vector<float> details;
    const std::vector<float> values = frame.spatial(&details);
    ASSERT_EQ(values.size(), expected.size());
    ASSERT_EQ(details.size(), expected.size());
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_NEAR(values[i], expected[i], expected[i] * 1e-5) << "block " << i;
        EXPECT_NEAR(details[i], expected_detail[i], expected_detail[i] * 1e-5) << "block " << i;
    }
    // The bands of the first levels, from the same transform taken further: each band's whole
    // blocks of 4 x 4 coefficients.
    for (int l = 1; l < kNoiseBandLevels; ++l) plane.forward_level(l, 1);
    size_t coefficient = 0;
    for (int b = 0; b < kNoiseBands; ++b) {
        const int l = b / 3, o = b % 3, n = plane.W >> (l + 1), m = plane.H >> (l + 1);
        for (int i = 0; i < 4 * (5 >> l); ++i)
            for (int j = 0; j < 4 * (9 >> l); ++j)
                ASSERT_EQ(bits_of(frame.bands[coefficient++]),
                          bits_of(plane.at((o == 1 ? 0 : n) + j, (o == 0 ? 0 : m) + i)))
                    << "band " << b << " at " << j << "," << i;
    }
    EXPECT_EQ(coefficient, frame.bands.size());
    // Their change from that frame to the next, whose noise block (0, 0) did not change: half
    // the mean square of each block's changes, and none for the blocks holding (0, 0).
    std::vector<uint16_t> s2 =
        picture(w, h, SampleFormat::u8, 6.0, 5, [](int x, int y) { return 40.0 + x + 2 * y; });
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            s2[static_cast<size_t>(y) * w + x] = s[static_cast<size_t>(y) * w + x];
    Frame next(s2, w, h, SampleFormat::u8);
    std::vector<float> changes(static_cast<size_t>(noise_band_value_floats(9, 5)));
    std::vector<uint8_t> usable(45);
    temporal_band_values(frame.blocks, frame.view(), next.blocks, next.view(), usable.data(),
                         changes.data());
    size_t value = 0, base = 0;
    for (int b = 0; b < kNoiseBands; ++b) {
        const int columns = 9 >> (b / 3), rows = 5 >> (b / 3);
        for (int by = 0; by < rows; ++by)
            for (int bx = 0; bx < columns; ++bx) {
                double sum = 0;
                for (int i = 0; i < 4; ++i)
                    for (int j = 0; j < 4; ++j) {
                        const size_t at =
                            base + static_cast<size_t>(4 * by + i) * (4 * columns) + 4 * bx + j;
                        const double d = double(next.bands[at]) - frame.bands[at];
                        sum += d * d;
                    }
                if (bx == 0 && by == 0)
                    EXPECT_EQ(changes[value++], -1.0f) << "band " << b;
                else
                    EXPECT_NEAR(changes[value++], sum / 32, sum / 32 * 1e-5) << "band " << b;
            }
        base += static_cast<size_t>(16 * columns * rows);
    }
    EXPECT_EQ(value, changes.size());
}

TEST(NoiseBlocks, SameForEveryThreadCountAndKernelTable) {
    const std::vector<uint16_t> s = picture(130, 97, SampleFormat::u16, 900.0, 5, [](int x, int y) {
        return 300.0 * ((x / 9 + y / 7) % 5);
    });
    // Without the bands the transform stops at the finest level, which is the same either way.
    const Frame reference(s, 130, 97, SampleFormat::u16, scalar_kernels, 1, false);
    const Frame banded(s, 130, 97, SampleFormat::u16, scalar_kernels, 1);
    for (const KernelSet* table : available_tables())
        for (int threads = 1; threads <= 4; ++threads) {
            const Frame other(s, 130, 97, SampleFormat::u16, *table, threads);
            ASSERT_EQ(
                first_difference(other.bands.data(), banded.bands.data(), banded.bands.size()), -1)
                << table->name << ", " << threads << " threads";
            ASSERT_EQ(first_difference(other.coefficients.data(), reference.coefficients.data(),
                                       reference.coefficients.size()),
                      -1)
                << table->name << ", " << threads << " threads";
            ASSERT_EQ(other.left_out, reference.left_out);
            ASSERT_EQ(first_difference(other.detail.data(), reference.detail.data(),
                                       reference.detail.size()),
                      -1)
                << table->name << ", " << threads << " threads";
        }
}

// Noise as demosaicing leaves it: half kept, half blurred by [1 2 1] x [1 2 1] / 16 (mirrored
// at the edges); with `box`, every value the mean of its 4 x 4 neighbourhood instead.
std::vector<double> correlated(const std::vector<double>& n, int w, int h, bool box = false) {
    std::vector<double> out(n.size());
    const double k[3] = {0.25, 0.5, 0.25};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double sum = 0;
            for (int i = -1; i <= (box ? 2 : 1); ++i)
                for (int j = -1; j <= (box ? 2 : 1); ++j) {
                    const double v = n[static_cast<size_t>(symmetric_index(y + i, h)) * w +
                                       symmetric_index(x + j, w)];
                    sum += box ? v / 16 : k[i + 1] * k[j + 1] * v;
                }
            const size_t at = static_cast<size_t>(y) * w + x;
            out[at] = box ? sum : 0.5 * n[at] + 0.5 * sum;
        }
    return out;
}

// What each band holds of a noise field relative to white noise, from the whole bands of its
// transform (every coefficient of the whole blocks, no quantiles): each band's root mean square
// over its gain, over that of the finest diagonal band.
std::array<std::array<double, 3>, kNoiseBandLevels> band_noise(const std::vector<double>& n, int w,
                                                               int h) {
    TestPlane plane(best_padded_size(w), best_padded_size(h), 1, scalar_kernels);
    for (int y = 0; y < plane.H; ++y)
        for (int x = 0; x < plane.W; ++x)
            plane.at(x, y) = static_cast<float>(
                256.0 * n[static_cast<size_t>(symmetric_index(y, h)) * w + symmetric_index(x, w)]);
    std::array<std::array<double, 3>, kNoiseBandLevels> rms = {};
    for (int l = 0; l < kNoiseBandLevels; ++l) {
        plane.forward_level(l, 1);
        const int n_ = plane.W >> (l + 1), m = plane.H >> (l + 1);
        const int columns = 4 * (w / 8 >> l), rows = 4 * (h / 8 >> l);
        for (int o = 0; o < 3; ++o) {
            double sum = 0;
            for (int i = 0; i < rows; ++i)
                for (int j = 0; j < columns; ++j) {
                    const double c = plane.at((o == 1 ? 0 : n_) + j, (o == 0 ? 0 : m) + i);
                    sum += c * c;
                }
            rms[l][o] = std::sqrt(sum / (rows * columns)) / noise_gain(l, o);
        }
    }
    const double finest = rms[0][2];
    for (auto& level : rms)
        for (double& v : level) v /= finest;
    return rms;
}

// The factors of the changes between consecutive frames with fresh noise, as a window has them.
MeasuredBands measured(std::vector<Frame>& frames) {
    std::vector<std::vector<float>> values;
    std::vector<BandEvidence> changes;
    for (size_t i = 1; i < frames.size(); ++i) {
        Frame &before = frames[i - 1], &f = frames[i];
        values.emplace_back(
            static_cast<size_t>(noise_band_value_floats(f.blocks.columns, f.blocks.rows)));
        std::vector<uint8_t> usable(f.left_out.size());
        temporal_band_values(before.blocks, before.view(), f.blocks, f.view(), usable.data(),
                             values.back().data());
    }
    for (size_t i = 0; i < values.size(); ++i)
        changes.push_back({frames[i].blocks.columns, frames[i].blocks.rows, values[i].data()});
    const int count = static_cast<int>(changes.size());
    std::vector<float> scratch(
        static_cast<size_t>(band_factor_scratch_floats(changes.data(), count)));
    return measure_band_factors(changes.data(), count, scratch.data());
}

// White noise measures about 1 in every band, and noise blurred as demosaicing blurs it what its
// bands hold (less than white in the finest, nearly twice in the coarsest), on a still picture
// and on one that moves (the moved blocks left out by the low quantile).
TEST(NoiseBands, MeasureWhatEachBandHoldsOfWhiteAndOfBlurredNoise) {
    const int w = 640, h = 512;
    SplitMix64 rng{9};
    std::vector<double> texture(static_cast<size_t>(w + 8) * h);
    for (double& t : texture) t = 128 + rng.uniform(-30, 30);
    for (bool blurred : {false, true})
        for (bool moving : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << (blurred ? "blurred" : "white") << (moving ? ", moving" : ", still"));
            std::vector<Frame> frames;
            std::vector<double> first;
            for (int i = 0; i < 4; ++i) {
                std::vector<double> n = gaussian_field(w, h, 60 + i + (blurred ? 10 : 0));
                if (blurred) n = correlated(n, w, h);
                if (i == 0) first = n;
                // A smooth ramp, and where it moves, a texture moving two samples a frame over
                // the top quarter.
                const auto level = [&](int x, int y) {
                    if (moving && y < h / 4)
                        return texture[static_cast<size_t>(y) * (w + 8) + x + 2 * i];
                    return 90.0 + 0.05 * x + 0.03 * y;
                };
                frames.emplace_back(picture_with(n, w, h, SampleFormat::u8, 6.0, level), w, h,
                                    SampleFormat::u8);
            }
            const MeasuredBands got = measured(frames);
            const auto want = band_noise(first, w, h);
            for (int l = 0; l < kNoiseBandLevels; ++l)
                for (int o = 0; o < 3; ++o) {
                    SCOPED_TRACE(testing::Message() << "level " << l << ", orientation " << o);
                    if (l == 0 && o == 2) {
                        EXPECT_EQ(got.factors.f[l][o], 1.0f);
                        EXPECT_EQ(got.blocks[2], 0);
                        continue;
                    }
                    EXPECT_GE(got.blocks[3 * l + o], kLeastBandBlocks);
                    EXPECT_NEAR(got.factors.f[l][o], want[l][o], 0.03 + 0.03 * l);
                }
            if (blurred) {
                EXPECT_GT(want[3][2], 1.6);
            }
            for (int o = 0; o < 3; ++o) EXPECT_EQ(got.factors.f[4][o], got.factors.f[3][o]);
        }
}

// A band with too few blocks takes the finer level's factor (a picture of 8 x 8 blocks has
// enough at level 0 only), and factors stay within their bounds however the noise is spread (a
// 4 x 4 mean leaves the finest diagonal band nearly nothing).
TEST(NoiseBands, TooFewBlocksTakeTheFinerLevelsAndFactorsStayWithinBounds) {
    std::vector<Frame> small;
    for (int i = 0; i < 2; ++i)
        small.emplace_back(
            picture(64, 64, SampleFormat::u8, 5.0, 71 + i, [](int, int) { return 100.0; }), 64, 64,
            SampleFormat::u8);
    const MeasuredBands thin = measured(small);
    for (int l = 1; l < kLevels; ++l)
        for (int o = 0; o < 3; ++o) {
            EXPECT_EQ(thin.factors.f[l][o], thin.factors.f[0][o]) << l << ", " << o;
            if (l < kNoiseBandLevels) {
                EXPECT_EQ(thin.blocks[3 * l + o], 0);
            }
        }
    EXPECT_EQ(thin.factors.f[0][2], 1.0f);
    EXPECT_NEAR(thin.factors.f[0][0], 1.0, 0.15);

    const int w = 512, h = 512;
    std::vector<Frame> boxed;
    for (int i = 0; i < 3; ++i)
        boxed.emplace_back(picture_with(correlated(gaussian_field(w, h, 72 + i), w, h, true), w, h,
                                        SampleFormat::u8, 20.0, [](int, int) { return 128.0; }),
                           w, h, SampleFormat::u8);
    const MeasuredBands bounded = measured(boxed);
    for (int l = 0; l < kLevels; ++l)
        for (int o = 0; o < 3; ++o) {
            EXPECT_GE(bounded.factors.f[l][o], kLeastBandFactor) << l << ", " << o;
            EXPECT_LE(bounded.factors.f[l][o], kMostBandFactor) << l << ", " << o;
        }
    EXPECT_EQ(bounded.factors.f[3][2], kMostBandFactor);
}

// One picture: the band values of its blocks weakly textured at its level read what each band
// holds of white and of blurred noise, as frame changes do, and the textured right quarter of the
// picture gives no block.
TEST(NoiseBands, OnePictureIsMeasuredOnItsWeaklyTexturedBlocks) {
    const int w = 640, h = 512;
    SplitMix64 rng{19};
    for (bool blurred : {false, true}) {
        SCOPED_TRACE(blurred ? "blurred" : "white");
        std::vector<double> n = gaussian_field(w, h, 80 + (blurred ? 1 : 0));
        if (blurred) n = correlated(n, w, h);
        const double sigma = blurred ? 12.0 : 6.0;
        const auto level = [&](int x, int y) {
            return 90.0 + 0.05 * x + 0.03 * y + (x >= 3 * w / 4 ? rng.uniform(-30, 30) : 0.0);
        };
        Frame f(picture_with(n, w, h, SampleFormat::u8, sigma, level), w, h, SampleFormat::u8);
        std::vector<float> details;
        const std::vector<float> spatial = f.spatial(&details);
        std::vector<float> scratch(spatial.size());
        const NoiseLevel l = noise_level(spatial.data(), static_cast<int64_t>(spatial.size()),
                                         nullptr, 0, -1.0, details.data(), scratch.data());
        ASSERT_EQ(l.certainty, NoiseCertainty::weak_texture);
        std::vector<float> values(
            static_cast<size_t>(noise_band_value_floats(f.blocks.columns, f.blocks.rows)));
        spatial_band_values(f.blocks, values.data());
        std::vector<uint8_t> weak(f.detail.size());
        for (size_t i = 0; i < weak.size(); ++i)
            weak[i] = f.detail[i] <= weak_texture_limit(l.sigma);
        leave_out_band_blocks(f.blocks.columns, f.blocks.rows, weak.data(), values.data());
        const BandEvidence one = {f.blocks.columns, f.blocks.rows, values.data()};
        std::vector<float> work(static_cast<size_t>(band_factor_scratch_floats(&one, 1)));
        const MeasuredBands got = measure_band_factors(&one, 1, work.data());
        const auto want = band_noise(n, w, h);
        for (int l = 0; l < 3; ++l)
            for (int o = 0; o < (l == 0 ? 2 : 3); ++o) {
                SCOPED_TRACE(testing::Message() << "level " << l << ", orientation " << o);
                // The smooth part holds 3/4 of the blocks of each level.
                const int64_t smooth = (f.blocks.columns >> l) * (f.blocks.rows >> l) * 3 / 4;
                EXPECT_GE(got.blocks[3 * l + o], l < 2 ? smooth / 2 : kLeastBandBlocks);
                EXPECT_LE(got.blocks[3 * l + o], smooth);
                EXPECT_NEAR(got.factors.f[l][o], want[l][o], 0.05 + 0.04 * l);
            }
    }
}

// One picture's factors stand only where the chroma planes' finest H and V bands read correlated
// noise, and in a plane whose level-1 bands were measured; frame changes' always stand.
TEST(NoiseBands, OnePicturesFactorsStandOnlyWhereTheChromaShowsCorrelatedNoise) {
    const auto measured = [](float finest, bool one_picture, bool level_one) {
        MeasuredBands b;
        b.one_picture = one_picture;
        for (int band = 0; band < kNoiseBands; ++band)
            b.blocks[band] = band < 3 || level_one ? 100 : 0;
        b.factors.f[0][0] = b.factors.f[0][1] = finest;
        b.factors.f[1][0] = 1.6f;
        return b;
    };
    const struct {
        float chroma_finest;
        bool luma_level_one, one_picture, kept;
    } cases[] = {
        {1.10f, true, true, true},    // correlated chroma: luma's factors stand
        {1.06f, true, true, false},   // below kCorrelatedChroma: white
        {1.10f, false, true, false},  // luma's level 1 not measured: white
        {1.00f, true, false, true},   // measured on frame changes: as it was
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.chroma_finest << " " << c.luma_level_one << " " << c.one_picture);
        MeasuredBands planes[3] = {measured(1.2f, c.one_picture, c.luma_level_one),
                                   measured(c.chroma_finest, c.one_picture, true),
                                   measured(c.chroma_finest, c.one_picture, true)};
        settle_one_picture_bands(planes, 3);
        EXPECT_EQ(planes[0].factors.f[1][0], c.kept ? 1.6f : 1.0f);
        EXPECT_EQ(planes[1].factors.f[0][0],
                  c.kept || c.chroma_finest >= kCorrelatedChroma ? c.chroma_finest : 1.0f);
    }
}

// Pure Gaussian noise on a smooth picture: one frame gives the level within a few percent, and
// so does the difference of two frames; 8 and 16 bits alike.
TEST(NoiseLevel, FindsGaussianNoise) {
    for (SampleFormat f : {SampleFormat::u8, SampleFormat::u16}) {
        const double scale = f == SampleFormat::u16 ? 256.0 : 1.0;
        for (double sigma : {2.0, 5.0, 10.0, 20.0}) {
            SCOPED_TRACE(testing::Message() << sample_bits(f) << " bits, sigma " << sigma);
            auto level = [&](int x, int y) { return scale * (100.0 + 0.1 * x + 0.05 * y); };
            Frame a(picture(256, 192, f, sigma * scale, 6, level), 256, 192, f);
            Frame b(picture(256, 192, f, sigma * scale, 7, level), 256, 192, f);
            EXPECT_NEAR(level_of(a.spatial(), {}, f), sigma, 0.04 * sigma);
            EXPECT_NEAR(level_of({}, temporal(a, b), f), sigma, 0.04 * sigma);
        }
    }
}

// A still, finely textured picture with fresh noise in each frame: the texture raises the
// spatial values of a single frame, the frame difference sees the noise alone, and the level
// is the smaller.
TEST(NoiseLevel, TextureThatDoesNotMoveIsMeasuredOnTheFrameDifference) {
    SplitMix64 rng{8};
    std::vector<double> texture(256 * 192);
    for (double& t : texture) t = 128 + rng.uniform(-30, 30);
    auto level = [&](int x, int y) { return texture[static_cast<size_t>(y) * 256 + x]; };
    std::vector<Frame> frames;
    for (int i = 0; i < 3; ++i)
        frames.emplace_back(picture(256, 192, SampleFormat::u8, 4.0, 20 + i, level), 256, 192,
                            SampleFormat::u8);
    std::vector<float> spatial, changes;
    for (int i = 0; i < 3; ++i) {
        const std::vector<float> s = frames[i].spatial();
        spatial.insert(spatial.end(), s.begin(), s.end());
        if (i == 0) continue;
        const std::vector<float> t = temporal(frames[i - 1], frames[i]);
        changes.insert(changes.end(), t.begin(), t.end());
    }
    EXPECT_GT(level_of(spatial, {}, SampleFormat::u8), 8.0);
    EXPECT_NEAR(level_of(spatial, changes, SampleFormat::u8), 4.0, 0.2);
}

// A dark picture whose noise is cut off at 0 over three quarters of it: the clipped blocks are
// left out and the rest gives the level; with them the level would be far too low.
TEST(NoiseLevel, ClippedAreasAreLeftOut) {
    auto level = [](int x, int) { return x < 192 ? 3.0 : 128.0; };
    const Frame frame(picture(256, 128, SampleFormat::u8, 10.0, 9, level), 256, 128,
                      SampleFormat::u8);
    const std::vector<float> values = frame.spatial();
    EXPECT_LE(values.size(), 8u * 16u);  // at most the 8 right block columns
    EXPECT_GE(values.size(), 7u * 16u);
    EXPECT_NEAR(level_of(values, {}, SampleFormat::u8), 10.0, 0.6);
}

// A repeated frame, or the part of a frame a codec left as it was, says nothing about the
// noise: blocks whose samples did not change give no temporal value.
TEST(NoiseLevel, BlocksThatDidNotChangeGiveNoTemporalValue) {
    auto level = [](int x, int y) { return 60.0 + x / 4 + y / 3; };
    const std::vector<uint16_t> s = picture(128, 64, SampleFormat::u8, 5.0, 10, level);
    Frame a(s, 128, 64, SampleFormat::u8), again(s, 128, 64, SampleFormat::u8);
    int64_t unchanged = -1;
    EXPECT_TRUE(temporal(a, again, &unchanged).empty());
    EXPECT_EQ(unchanged, 16 * 8);
    std::vector<uint16_t> half = picture(128, 64, SampleFormat::u8, 5.0, 11, level);
    std::copy(s.begin() + 32 * 128, s.end(), half.begin() + 32 * 128);  // bottom half as before
    Frame b(half, 128, 64, SampleFormat::u8);
    EXPECT_EQ(temporal(a, b, &unchanged).size(), 16u * 4u);
    EXPECT_EQ(unchanged, 16 * 4);
}

// The arithmetic of the level: the floor(0.1 (n - 1))-th smallest value, over the constant,
// its root over the finest diagonal gain; the smaller kind wins; fewer than 16 values of a kind
// do not count.
TEST(NoiseLevel, IsTheTenthPercentileOverTheCalibration) {
    std::vector<float> spatial, temporal;
    for (int i = 99; i >= 0; --i) spatial.push_back(1000.0f + 10.0f * static_cast<float>(i));
    for (int i = 0; i < 31; ++i) temporal.push_back(5000.0f - static_cast<float>(i));
    const float gain = noise_gain(0, 2);
    const float s = square_root(1090.0f / 0.5802f) / gain;  // rank 9 of 100
    const float t = square_root(4973.0f / 0.5786f) / gain;  // rank 3 of 31
    ASSERT_LT(s, t);
    const NoiseLevel both = noise_level(spatial.data(), 100, temporal.data(), 31);
    ASSERT_TRUE(both.found);
    EXPECT_EQ(bits_of(both.sigma), bits_of(s));
    EXPECT_EQ(both.spatial_values, 100);
    EXPECT_EQ(both.temporal_values, 31);
    // Smaller temporal values win.
    for (float& v : temporal) v = v / 10.0f;
    const NoiseLevel moved = noise_level(spatial.data(), 100, temporal.data(), 31);
    EXPECT_EQ(bits_of(moved.sigma), bits_of(square_root((4973.0f / 10.0f) / 0.5786f) / gain));
    EXPECT_LT(moved.sigma, s);
    EXPECT_FALSE(noise_level(spatial.data(), 15, temporal.data(), 15).found);
    const NoiseLevel one_kind = noise_level(spatial.data(), 15, temporal.data(), 16);
    ASSERT_TRUE(one_kind.found);
    EXPECT_FALSE(noise_level(nullptr, 0, nullptr, 0).found);
}

// Without temporal values a kurtosis level below 0.85 times the spatial one makes the spatial
// level their geometric mean; at or above it, or with temporal values, nothing changes.
TEST(NoiseLevel, AKurtosisLevelCorrectsOnlyASingleFramesSpatialLevel) {
    std::vector<float> spatial, temporal;
    for (int i = 0; i < 100; ++i) spatial.push_back(1000.0f + 10.0f * static_cast<float>(i));
    for (int i = 0; i < 31; ++i) temporal.push_back(5000.0f - static_cast<float>(i));
    const float s = noise_level(spatial.data(), 100, nullptr, 0).sigma;
    const double low = 0.5 * s;
    const NoiseLevel corrected = noise_level(spatial.data(), 100, nullptr, 0, low);
    ASSERT_TRUE(corrected.found);
    EXPECT_EQ(bits_of(corrected.sigma), bits_of(static_cast<float>(std::sqrt(s * low))));
    EXPECT_EQ(bits_of(noise_level(spatial.data(), 100, nullptr, 0, kTextureRatio * s).sigma),
              bits_of(s));
    EXPECT_EQ(bits_of(noise_level(spatial.data(), 100, nullptr, 0, -1.0).sigma), bits_of(s));
    EXPECT_EQ(bits_of(noise_level(spatial.data(), 100, temporal.data(), 31, low).sigma),
              bits_of(noise_level(spatial.data(), 100, temporal.data(), 31).sigma));
    // A level of 0 from the kurtosis (no noise in a textured picture) takes the level to 0.
    EXPECT_EQ(noise_level(spatial.data(), 100, nullptr, 0, 0.0).sigma, 0.0f);
}

// One picture of fine texture, strong along rows and columns and weaker across, with flat
// parts, and noise of 5 steps: without flat parts the spatial level reads the texture; measured on
// the weakly textured blocks it finds the noise, as sure as the flat share allows. Below the sure
// share a kurtosis level lowers it by at most a quarter; below the least share the spatial level
// and its kurtosis correction stay as they were.
TEST(NoiseLevel, OnePictureIsMeasuredOnItsWeaklyTexturedBlocks) {
    const int w = 320, h = 240;
    struct Case {
        int flat_columns;  // of the 40 block columns, the first ones are flat
        NoiseCertainty certainty;
    };
    const auto sign = [](uint64_t v) {
        v = (v ^ (v >> 29)) * 0xBF58476D1CE4E5B9ull;
        return (v >> 40) & 1 ? 1.0 : -1.0;
    };
    for (const Case c :
         {Case{20, NoiseCertainty::weak_texture}, Case{6, NoiseCertainty::some_weak_texture},
          Case{0, NoiseCertainty::texture}}) {
        SCOPED_TRACE(testing::Message() << c.flat_columns << " flat block columns");
        const auto level = [&](int x, int y) {
            if (x < 8 * c.flat_columns) return 120.0;
            const auto ux = static_cast<uint64_t>(x), uy = static_cast<uint64_t>(y);
            return 120.0 + 25.0 * sign(ux + 1000) + 25.0 * sign(uy + 5000) +
                   10.0 * sign(ux * 4096 + uy + 90000);
        };
        Frame frame(picture(w, h, SampleFormat::u8, 5.0, 31, level), w, h, SampleFormat::u8);
        std::vector<float> details;
        const std::vector<float> spatial = frame.spatial(&details);
        const int64_t n = static_cast<int64_t>(spatial.size());
        std::vector<float> scratch(spatial.size());
        const NoiseLevel plain = noise_level(spatial.data(), n, nullptr, 0);
        const NoiseLevel weak =
            noise_level(spatial.data(), n, nullptr, 0, -1.0, details.data(), scratch.data());
        if (c.flat_columns == 0) {
            EXPECT_GT(plain.sigma / 16.0, 6.0);  // the texture read as noise
        }
        ASSERT_TRUE(weak.found);
        EXPECT_EQ(weak.certainty, c.certainty);
        // A level of 0 from the kurtosis (texture taken for all there is).
        const NoiseLevel lowered =
            noise_level(spatial.data(), n, nullptr, 0, 0.0, details.data(), scratch.data());
        if (c.certainty == NoiseCertainty::texture) {
            EXPECT_EQ(weak.weak_values, 0);
            EXPECT_EQ(bits_of(weak.sigma), bits_of(plain.sigma));
            EXPECT_EQ(lowered.sigma, 0.0f);
            continue;
        }
        EXPECT_NEAR(weak.sigma / 16.0, 5.0, 0.3);
        // The selected blocks are the flat ones (and a few of the texture's at most).
        const int64_t flat = static_cast<int64_t>(c.flat_columns) * (h / 8);
        EXPECT_GE(weak.weak_values, flat * 3 / 4);  // (blocks next to the texture see it)
        EXPECT_LE(weak.weak_values, flat + n / 50);
        EXPECT_EQ(bits_of(lowered.sigma), bits_of(c.certainty == NoiseCertainty::weak_texture
                                                      ? weak.sigma
                                                      : kLeastTextureShare * weak.sigma));
        // With frame changes the one-picture evidence is not used.
        const std::vector<float> temporal(spatial.begin(), spatial.begin() + 40);
        const NoiseLevel both = noise_level(spatial.data(), n, temporal.data(), 40, -1.0,
                                            details.data(), scratch.data());
        EXPECT_EQ(both.certainty, NoiseCertainty::frames);
        EXPECT_EQ(bits_of(both.sigma),
                  bits_of(noise_level(spatial.data(), n, temporal.data(), 40).sigma));
    }
}

// Sparse structure (a few bright rectangles on grey) gives heavy-tailed channels, from which
// the kurtosis level reads the noise added; noise alone or a picture smaller than a block says
// nothing; a flat one has none, nor has a clean ramp (its rounding steps are no noise).
TEST(ChannelKurtosis, ReadsNoiseBesideStructureAndNothingWithoutIt) {
    const int w = 320, h = 240;
    const auto rectangles = [](int x, int y) {
        return ((x / 40 + y / 30) % 5 == 0 && x % 40 < 12 && y % 30 < 9) ? 200.0 : 60.0;
    };
    for (double sigma : {3.0, 6.0, 12.0}) {
        std::vector<uint16_t> s = picture(w, h, SampleFormat::u8, sigma, 11, rectangles);
        std::vector<uint8_t> bytes(s.begin(), s.end());
        const double level =
            kurtosis_noise_level({bytes.data(), 1, w, w, h, SampleFormat::u8}) / 16.0;
        EXPECT_NEAR(level, sigma, 0.15 * sigma) << sigma;
    }
    const auto flat = [](int, int) { return 100.0; };
    std::vector<uint16_t> noise = picture(w, h, SampleFormat::u8, 5.0, 12, flat);
    std::vector<uint8_t> noise_bytes(noise.begin(), noise.end());
    EXPECT_EQ(kurtosis_noise_level({noise_bytes.data(), 1, w, w, h, SampleFormat::u8}), -1.0);
    const auto smooth = [](int x, int y) { return 40.0 + 0.3 * x + 0.2 * y; };
    std::vector<uint16_t> ramp = picture(w, h, SampleFormat::u8, 0.0, 13, smooth);
    std::vector<uint8_t> ramp_bytes(ramp.begin(), ramp.end());
    EXPECT_LT(kurtosis_noise_level({ramp_bytes.data(), 1, w, w, h, SampleFormat::u8}), 0.5 * 16.0);
    std::vector<uint8_t> grey(static_cast<size_t>(w) * h, 90);
    EXPECT_EQ(kurtosis_noise_level({grey.data(), 1, w, w, h, SampleFormat::u8}), 0.0);
    EXPECT_EQ(kurtosis_noise_level({grey.data(), 1, 7, 7, 100, SampleFormat::u8}), -1.0);
    EXPECT_EQ(kurtosis_noise_level({grey.data(), 1, 100, 100, 7, SampleFormat::u8}), -1.0);
}

// The level is in working units: the same picture as 8-bit samples, as 16-bit ones 256 times
// larger, and as every third sample of an interleaved row gives the same bits, scaled by the
// formats' working scales (16 and 1: a power of two, exact in every step). Large pictures are
// sampled more sparsely, not slower.
TEST(ChannelKurtosis, IsTheSameInEveryFormatAndLayout) {
    const int w = 1000, h = 700;  // more blocks 4 apart than the limit
    const auto rectangles = [](int x, int y) {
        return ((x / 50 + y / 35) % 4 == 0 && x % 50 < 15) ? 180.0 : 70.0;
    };
    const std::vector<uint16_t> s = picture(w, h, SampleFormat::u8, 7.0, 14, rectangles);
    std::vector<uint8_t> bytes(s.begin(), s.end());
    std::vector<uint16_t> words(s.size()), interleaved(3 * s.size(), 0);
    for (size_t i = 0; i < s.size(); ++i) words[i] = static_cast<uint16_t>(s[i] * 256);
    for (size_t i = 0; i < s.size(); ++i) interleaved[3 * i + 1] = words[i];
    const double u8 = kurtosis_noise_level({bytes.data(), 1, w, w, h, SampleFormat::u8});
    ASSERT_GT(u8, 0.0);
    EXPECT_NEAR(u8 / 16.0, 7.0, 1.0);
    EXPECT_EQ(kurtosis_noise_level({words.data(), 1, w, w, h, SampleFormat::u16}), 16.0 * u8);
    EXPECT_EQ(kurtosis_noise_level({interleaved.data() + 1, 3, 3 * w, w, h, SampleFormat::u16}),
              16.0 * u8);
}

// The eigenvalues of Q D Q^T for a random rotation Q (products of plane rotations) are D's.
TEST(PatchNoise, EigenvaluesAreFoundByRotations) {
    SplitMix64 rng{41};
    const auto uniform = [&] { return static_cast<double>(rng.next() >> 11) / 9007199254740992.0; };
    for (const int n : {2, 7, kPatchSamples}) {
        SCOPED_TRACE(n);
        std::vector<double> d(n), q(static_cast<size_t>(n) * n, 0.0), a(q.size(), 0.0), found(n);
        for (int i = 0; i < n; ++i) d[i] = (i % 3 == 0 ? 0.001 : 1.0) + 100.0 * uniform();
        for (int i = 0; i < n; ++i) q[static_cast<size_t>(i) * n + i] = 1.0;
        for (int r = 0; r < 4 * n * n; ++r) {
            const int i = static_cast<int>(rng.next() % n), j = static_cast<int>(rng.next() % n);
            if (i == j) continue;
            const double c = 2.0 * uniform() - 1.0, s = std::sqrt(1.0 - c * c);
            for (int k = 0; k < n; ++k) {
                const double x = q[static_cast<size_t>(k) * n + i],
                             y = q[static_cast<size_t>(k) * n + j];
                q[static_cast<size_t>(k) * n + i] = c * x - s * y;
                q[static_cast<size_t>(k) * n + j] = s * x + c * y;
            }
        }
        for (int i = 0; i < n; ++i)
            for (int j = i; j < n; ++j) {
                for (int k = 0; k < n; ++k)
                    a[static_cast<size_t>(i) * n + j] += q[static_cast<size_t>(i) * n + k] * d[k] *
                                                         q[static_cast<size_t>(j) * n + k];
                a[static_cast<size_t>(j) * n + i] = a[static_cast<size_t>(i) * n + j];
            }
        symmetric_eigenvalues(a.data(), n, found.data());
        std::sort(d.begin(), d.end());
        for (int i = 0; i < n; ++i) EXPECT_NEAR(found[i], d[i], 1.0e-9 * d[n - 1]) << i;
    }
}

// Noise alone reads its level at any size; under fine texture everywhere, which the block
// measure reads as noise, the patch level still finds the noise; too small a picture says
// nothing, and the same picture gives the same bits in 16-bit samples, scaled.
TEST(PatchNoise, ReadsTheNoiseThroughFineTexture) {
    const auto sign = [](uint64_t v) {
        v = (v ^ (v >> 29)) * 0xBF58476D1CE4E5B9ull;
        return (v >> 40) & 1 ? 1.0 : -1.0;
    };
    const auto flat = [](int, int) { return 120.0; };
    const auto texture = [&](int x, int y) {
        const auto ux = static_cast<uint64_t>(x), uy = static_cast<uint64_t>(y);
        return 120.0 + 25.0 * sign(ux + 1000) + 25.0 * sign(uy + 5000) +
               10.0 * sign(ux * 4096 + uy + 90000);
    };
    std::vector<uint64_t> order(static_cast<size_t>(patch_noise_order_words()));
    std::vector<double> sums(static_cast<size_t>(patch_noise_sum_doubles()));
    struct Case {
        int w, h;
        double sigma;
        bool textured;
    };
    uint64_t seed = 50;
    for (const Case c :
         {Case{320, 240, 2.0, false}, Case{512, 512, 5.0, false}, Case{1000, 700, 10.0, false},
          Case{320, 240, 5.0, true}, Case{512, 512, 10.0, true}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " sigma " << c.sigma
                                        << (c.textured ? " textured" : ""));
        const std::vector<uint16_t> s =
            c.textured ? picture(c.w, c.h, SampleFormat::u8, c.sigma, ++seed, texture)
                       : picture(c.w, c.h, SampleFormat::u8, c.sigma, ++seed, flat);
        std::vector<uint8_t> bytes(s.begin(), s.end());
        const double level = patch_noise_level({bytes.data(), 1, c.w, c.w, c.h, SampleFormat::u8},
                                               order.data(), sums.data());
        EXPECT_NEAR(level / 16.0, c.sigma, (c.textured ? 0.15 : 0.03) * c.sigma);
        if (c.textured) {  // the block measure is further off
            Frame frame(s, c.w, c.h, SampleFormat::u8);
            const std::vector<float> spatial = frame.spatial();
            const double blocks =
                noise_level(spatial.data(), static_cast<int64_t>(spatial.size()), nullptr, 0)
                    .sigma /
                16.0;
            EXPECT_GT(std::abs(blocks - c.sigma), std::abs(level / 16.0 - c.sigma));
        }
        std::vector<uint16_t> words(s.size());
        for (size_t i = 0; i < s.size(); ++i) words[i] = static_cast<uint16_t>(s[i] * 256);
        EXPECT_EQ(patch_noise_level({words.data(), 1, c.w, c.w, c.h, SampleFormat::u16},
                                    order.data(), sums.data()),
                  16.0 * level);
    }
    std::vector<uint8_t> grey(100 * 60, 90);
    EXPECT_EQ(patch_noise_level({grey.data(), 1, 40, 40, 40, SampleFormat::u8}, order.data(),
                                sums.data()),
              -1.0);
    EXPECT_EQ(patch_noise_level({grey.data(), 1, 60, 60, 60, SampleFormat::u8}, order.data(),
                                sums.data()),
              0.0);
}

// With texture nearly everywhere, a patch level below the spatial one takes its place; a
// kurtosis level below 0.85 times it lowers it to their geometric mean but by at most a quarter,
// and one of 0 takes it to 0. A patch level above the spatial one changes nothing.
TEST(NoiseLevel, APatchLevelReplacesATexturedSpatialLevel) {
    std::vector<float> spatial;
    for (int i = 0; i < 100; ++i) spatial.push_back(1000.0f + 10.0f * static_cast<float>(i));
    const float s = noise_level(spatial.data(), 100, nullptr, 0).sigma;
    struct Case {
        double patches, texture, expected;
    };
    const double p = 0.6 * s;
    for (const Case c :
         {Case{p, -1.0, p}, Case{p, 0.9 * p, p},
          Case{p, 0.7 * p, std::sqrt(static_cast<double>(static_cast<float>(p)) * 0.7 * p)},
          Case{p, 0.2 * p, static_cast<double>(kLeastTextureShare * static_cast<float>(p))},
          Case{p, 0.0, 0.0}, Case{2.0 * s, -1.0, s}}) {
        SCOPED_TRACE(testing::Message() << c.patches << " " << c.texture);
        const NoiseLevel level =
            noise_level(spatial.data(), 100, nullptr, 0, c.texture, nullptr, nullptr, c.patches);
        ASSERT_TRUE(level.found);
        EXPECT_EQ(level.certainty, NoiseCertainty::texture);
        EXPECT_NEAR(level.sigma, c.expected, 1.0e-4 * s);
    }
}

}  // namespace
