// Measurement alone and the working memory asked before it is allocated.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "tests/library/clip.h"

namespace library_test {
namespace {

TEST(LibraryMeasure, APicturesNoiseIsItsLevelAndAFlatOneHasNone) {
    for (int depth : {8, 10, 16}) {
        const velmora_format f = {128, 96, VELMORA_LAYOUT_422, depth};
        const velmora_settings s = settings_with(VELMORA_MODE_BEST, VELMORA_NOISE_MEASURED, 0);
        VelmoraDenoiser* d = nullptr;
        ASSERT_EQ(velmora_open(&d, &f, &s), VELMORA_OK);
        for (double sigma : {2.0, 5.0, 10.0}) {
            Clip clip = make_clip(f, 1, sigma);
            velmora_picture p = clip.picture(0);
            double measured[3] = {};
            ASSERT_EQ(velmora_measure_noise(d, &p, measured), VELMORA_OK);
            for (int plane = 0; plane < 3; ++plane)
                EXPECT_NEAR(measured[plane], sigma, 0.15 * sigma)
                    << depth << " bits, plane " << plane;
            EXPECT_EQ(clip.frames, make_clip(f, 1, sigma).frames);  // only read
        }
        Clip flat = make_clip(f, 1, 0.0);
        std::fill(flat.frames[0].begin(), flat.frames[0].end(), uint8_t{0x40});
        velmora_picture p = flat.picture(0);
        double measured[3] = {};
        ASSERT_EQ(velmora_measure_noise(d, &p, measured), VELMORA_OK);
        for (double m : measured) EXPECT_EQ(m, -1.0) << depth << " bits";
        velmora_close(&d);
    }
}

// A 4:2:0 picture dark on the left with noise of 3 steps and bright on the right with noise of
// 8, in luma and, as a camera makes it, in chroma of one colour (128) all over.
Clip two_noise_picture(const velmora_format& f) {
    Clip clip = make_clip(f, 1, 0.0);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    uint8_t* sample = clip.frames[0].data();
    for (int p = 0; p < 3; ++p) {
        const int w = p ? f.width / 2 : f.width, h = p ? f.height / 2 : f.height;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool dark = x < w / 2;
                const double v = (p      ? 128.0
                                  : dark ? 40.0
                                         : 180.0) +
                                 (dark ? 3.0 : 8.0) * noise(random);
                *sample++ = static_cast<uint8_t>(std::clamp(std::lround(v), 1L, 254L));
            }
    }
    return clip;
}

// The two halves' mean squared error of plane p against their flat values after filtering.
std::array<double, 2> halves_error(const velmora_format& f, const Clip& clip, int p) {
    const int w = p ? f.width / 2 : f.width, h = p ? f.height / 2 : f.height;
    const uint8_t* plane = clip.frames[0].data() + (p ? f.width * f.height + (p - 1) * w * h : 0);
    std::array<double, 2> error = {};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool dark = x < w / 2;
            error[dark ? 0 : 1] += std::pow(plane[y * w + x] - (p      ? 128.0
                                                                : dark ? 40.0
                                                                       : 180.0),
                                            2);
        }
    for (double& e : error) e /= w / 2 * h;
    return error;
}

// A still filtered on its own with `s`, and the levels that filtered its planes.
Clip filtered_still(const Clip& still, const velmora_settings& s, std::array<double, 3>& levels) {
    VelmoraDenoiser* d = nullptr;
    EXPECT_EQ(velmora_open(&d, &still.format, &s), VELMORA_OK);
    Clip copy = still;
    velmora_picture p = copy.picture(0);
    EXPECT_EQ(velmora_denoise_picture(d, &p), VELMORA_OK);
    for (int plane = 0; plane < 3; ++plane)
        EXPECT_EQ(velmora_levels_in_use(d, plane, &levels[plane], nullptr), VELMORA_OK);
    velmora_close(&d);
    return copy;
}

// Measured, or given as a curve, best mode filters each part of every plane with its own noise
// (chroma's by the luma's brightness): the bright part, noisier than the plane's level, is
// smoothed more than with that level given, the dark part less.
TEST(LibraryMeasure, BestModeFollowsTheMeasuredOrGivenCurve) {
    const velmora_format f = {320, 240, VELMORA_LAYOUT_420, 8};
    const Clip noisy = two_noise_picture(f);
    std::array<double, 3> levels = {}, given = {};
    const Clip measured =
        filtered_still(noisy, settings_with(VELMORA_MODE_BEST, VELMORA_NOISE_MEASURED, 0), levels);
    velmora_settings one_level = settings_with(VELMORA_MODE_BEST, 0, 0);
    for (int p = 0; p < 3; ++p) {
        ASSERT_GT(levels[p], 3.5);
        ASSERT_LT(levels[p], 7.5);
        one_level.noise[p] = levels[p];
    }
    const Clip one = filtered_still(noisy, one_level, given);
    // The dark part (luma 40) in bin 1, the bright part (180) in bin 5.
    velmora_settings with_curve = settings_with(VELMORA_MODE_BEST, VELMORA_NOISE_MEASURED, 0);
    const double curve[VELMORA_CURVE_BINS] = {-1, 3, -1, -1, -1, 8, -1, 0};
    for (int p = 0; p < 3; ++p)
        std::copy(std::begin(curve), std::end(curve), with_curve.noise_curve[p]);
    const Clip from_curve = filtered_still(noisy, with_curve, given);
    for (int p = 0; p < 3; ++p) {
        SCOPED_TRACE(p);
        EXPECT_NEAR(given[p], std::sqrt((9.0 + 64.0) / 2.0), 1e-4);  // the bins' root mean energy
        const std::array<double, 2> alone = halves_error(f, one, p);
        for (const Clip* local : {&measured, &from_curve}) {
            const std::array<double, 2> e = halves_error(f, *local, p);
            EXPECT_LT(e[1], 0.8 * alone[1]) << "bright part";
            EXPECT_GT(e[0], 1.2 * alone[0]) << "dark part";
        }
    }
}

// Best mode learns each plane's noise from a box on a flat part of a picture whose other half
// is a fine texture, which no measurement of the whole picture tells from noise: white noise's
// level comes out as it is, and noise correlated as demosaicing leaves it is filtered better
// than with that level alone, its band factors learnt too.
TEST(LibraryMeasure, BestModeLearnsTheNoiseOfAFlatBox) {
    const velmora_format f = {256, 192, VELMORA_LAYOUT_444, 8};
    for (bool correlated : {false, true}) {
        SCOPED_TRACE(correlated ? "correlated noise" : "white noise");
        Clip clean = make_clip(f, 1, 0.0), noisy = clean;
        std::mt19937 random(5);
        std::normal_distribution<double> gauss(0.0, 6.0);
        std::vector<double> n(static_cast<size_t>(f.width + 2) * (f.height + 2));
        for (int p = 0; p < 3; ++p) {
            for (double& v : n) v = gauss(random);
            for (int y = 0; y < f.height; ++y)
                for (int x = 0; x < f.width; ++x) {
                    const double* c = &n[static_cast<size_t>(y + 1) * (f.width + 2) + x + 1];
                    double v = c[0];
                    if (correlated) {
                        double blur = 0.0;
                        for (int i = -1; i <= 1; ++i)
                            for (int j = -1; j <= 1; ++j)
                                blur += (2 - std::abs(i)) * (2 - std::abs(j)) *
                                        c[i * (f.width + 2) + j];
                        v = 0.5 * c[0] + blur / 32;
                    }
                    const double texture =
                        x < f.width / 2 ? 0.0 : 30.0 * std::sin(1.3 * x + 2.1 * y);
                    const size_t at = static_cast<size_t>(p) * f.width * f.height +
                                      static_cast<size_t>(y) * f.width + x;
                    clean.frames[0][at] = static_cast<uint8_t>(std::lround(120.0 + texture));
                    noisy.frames[0][at] = static_cast<uint8_t>(std::lround(120.0 + texture + v));
                }
        }
        std::array<double, 3> level = {}, given = {};
        const auto error = [&](const velmora_settings& s, std::array<double, 3>& sigma) {
            const Clip copy = filtered_still(noisy, s, sigma);
            double sum = 0.0;
            for (size_t i = 0; i < copy.frames[0].size(); ++i)
                sum += std::pow(copy.frames[0][i] - clean.frames[0][i], 2);
            return sum;
        };
        velmora_settings learn = settings_with(VELMORA_MODE_BEST, VELMORA_NOISE_MEASURED, 0);
        learn.strength = VELMORA_STRENGTH_LEARN;
        learn.learn_x = 16;
        learn.learn_y = 24;
        learn.learn_size = 96;
        const double learnt = error(learn, level);
        const double with_level = error(settings_with(VELMORA_MODE_BEST, level[0], 0), given);
        if (correlated) {
            EXPECT_LT(learnt, 0.9 * with_level);
        } else {
            EXPECT_NEAR(level[0], 6.0, 0.5);
            EXPECT_NEAR(learnt, with_level, 0.05 * with_level);
        }
    }
}

// A measurement asked of a new denoiser is not known yet; one of a plane past the last, or with
// nowhere to put it, is refused.
template <class Result>
void expect_nothing_yet(VelmoraDenoiser* d,
                        velmora_status (*ask)(const VelmoraDenoiser*, int, Result*)) {
    Result r;
    EXPECT_EQ(ask(d, 0, &r), VELMORA_AGAIN);
    EXPECT_EQ(ask(d, 3, &r), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(ask(d, 0, nullptr), VELMORA_ERROR_ARGUMENT);
}

// The picture above: each plane's curve has the one level in the dark bin, the other in the
// bright bin (chroma's by the luma's brightness) and none elsewhere, and the plane's level is
// their mean over the picture; nothing is known before the first window, nor for a level given.
TEST(LibraryMeasure, TheNoiseCurveTellsTheDarkPartsNoiseFromTheBrightParts) {
    const velmora_format f = {320, 240, VELMORA_LAYOUT_420, 8};
    const Clip clip = two_noise_picture(f);
    for (double given : {VELMORA_NOISE_MEASURED, 5.0}) {
        SCOPED_TRACE(given);
        const velmora_settings s = settings_with(VELMORA_MODE_BEST, given, 0);
        VelmoraDenoiser* d = nullptr;
        ASSERT_EQ(velmora_open(&d, &f, &s), VELMORA_OK);
        velmora_noise_curve c;
        expect_nothing_yet(d, velmora_measured_curve);
        Clip copy = clip;
        velmora_picture p = copy.picture(0);
        ASSERT_EQ(velmora_send(d, &p), VELMORA_OK);
        ASSERT_EQ(velmora_drain(d), VELMORA_OK);
        ASSERT_EQ(velmora_receive(d, &p), VELMORA_OK);
        if (given != VELMORA_NOISE_MEASURED) {
            EXPECT_EQ(velmora_measured_curve(d, 0, &c), VELMORA_AGAIN);
            velmora_close(&d);
            continue;
        }
        for (int plane = 0; plane < 3; ++plane) {
            SCOPED_TRACE(plane);
            ASSERT_EQ(velmora_measured_curve(d, plane, &c), VELMORA_OK);
            EXPECT_EQ(c.first_frame, 0);
            EXPECT_EQ(c.last_frame, 0);
            // The plane's level is the curve's mean noise over the picture, not the dark part's.
            double sigma = 0.0;
            ASSERT_EQ(velmora_levels_in_use(d, plane, &sigma, nullptr), VELMORA_OK);
            const double n1 = static_cast<double>(c.blocks[1]),
                         n5 = static_cast<double>(c.blocks[5]);
            EXPECT_NEAR(sigma,
                        std::sqrt((n1 * c.sigma[1] * c.sigma[1] + n5 * c.sigma[5] * c.sigma[5]) /
                                  (n1 + n5)),
                        1e-4);
            for (int b = 0; b < VELMORA_CURVE_BINS; ++b) {
                SCOPED_TRACE(b);
                if (b == 1 || b == 5) {
                    EXPECT_NEAR(c.sigma[b], b == 1 ? 3.0 : 8.0, b == 1 ? 0.3 : 0.8);
                    EXPECT_GT(c.blocks[b], plane ? 100 : 500);
                } else {
                    EXPECT_EQ(c.sigma[b], -1.0);
                    EXPECT_LT(c.blocks[b], 16);
                }
            }
        }
        velmora_close(&d);
    }
}

// The band factors of a window: known once the window is measured and only in best mode with a
// measured level; white noise gives about 1 in the bands of every plane, with the same bits for
// one thread and two.
TEST(LibraryMeasure, BandFactorsOfWhiteNoiseAreAboutOne) {
    const velmora_format f = {320, 240, VELMORA_LAYOUT_420, 8};
    const Clip clip = make_clip(f, 5, 6.0);
    velmora_noise_bands first[3] = {};
    for (int threads : {2, 1})
        for (velmora_mode mode : {VELMORA_MODE_BEST, VELMORA_MODE_EXACT})
            for (double given : {VELMORA_NOISE_MEASURED, 6.0}) {
                SCOPED_TRACE(testing::Message()
                             << threads << " threads, mode " << mode << ", level " << given);
                velmora_settings s = settings_with(mode, given, 0);
                s.threads = threads;
                VelmoraDenoiser* d = nullptr;
                ASSERT_EQ(velmora_open(&d, &f, &s), VELMORA_OK);
                velmora_noise_bands b;
                expect_nothing_yet(d, velmora_measured_bands);
                Clip copy = clip;
                for (int i = 0; i < 5; ++i) {
                    velmora_picture p = copy.picture(i);
                    ASSERT_EQ(velmora_send(d, &p), VELMORA_OK);
                }
                ASSERT_EQ(velmora_drain(d), VELMORA_OK);
                velmora_picture p;
                while (velmora_receive(d, &p) == VELMORA_OK) {
                }
                const bool known = mode == VELMORA_MODE_BEST && given == VELMORA_NOISE_MEASURED;
                for (int plane = 0; plane < 3; ++plane) {
                    const velmora_status got = velmora_measured_bands(d, plane, &b);
                    ASSERT_EQ(got, known ? VELMORA_OK : VELMORA_AGAIN) << "plane " << plane;
                    if (!known) continue;
                    EXPECT_EQ(b.first_frame, 0);
                    EXPECT_EQ(b.last_frame, 4);
                    // (The clip's smooth waves, tens of samples long, fill the coarser bands.)
                    for (int l = 0; l < VELMORA_BAND_LEVELS; ++l)
                        for (int o = 0; o < 3; ++o) {
                            SCOPED_TRACE(testing::Message() << "plane " << plane << ", level " << l
                                                            << ", orientation " << o);
                            if (l < 2) {
                                EXPECT_NEAR(b.factor[l][o], 1.0, 0.06);
                                EXPECT_EQ(b.blocks[l][o] > 0, l == 1 || o < 2);
                            }
                            EXPECT_GE(b.factor[l][o], 0.5);
                            EXPECT_LE(b.factor[l][o], 2.5);
                            if (threads == 2) {
                                first[plane].factor[l][o] = b.factor[l][o];
                            } else {
                                EXPECT_EQ(b.factor[l][o], first[plane].factor[l][o]);
                            }
                        }
                }
                velmora_close(&d);
            }
}

// A single picture's bands are measured on its weakly textured blocks and used where its chroma
// shows the noise correlated: noise correlated along rows and columns in every plane reads above
// 1 from level 1 on in luma; in luma alone (as a fine texture would read) or nowhere, every band
// stays white.
TEST(LibraryMeasure, OnePicturesBandsStandWhereItsChromaShowsCorrelatedNoise) {
    const velmora_format f = {320, 240, VELMORA_LAYOUT_420, 8};
    for (int correlated_planes : {3, 1, 0}) {
        SCOPED_TRACE(testing::Message() << correlated_planes << " planes correlated");
        Clip clip = make_clip(f, 1, 0.0);
        std::mt19937 random(11);
        std::normal_distribution<double> gauss(0.0, 8.0);
        uint8_t* at = clip.frames[0].data();
        for (int p = 0; p < 3; ++p) {
            const int w = p ? f.width / 2 : f.width, h = p ? f.height / 2 : f.height;
            // Correlated as demosaicing leaves it: half kept, half blurred by [1 2 1] x [1 2 1].
            std::vector<double> n(static_cast<size_t>(w + 2) * (h + 2));
            for (double& v : n) v = gauss(random);
            for (int y = 1; y <= h; ++y)
                for (int x = 1; x <= w; ++x) {
                    const double* c = &n[static_cast<size_t>(y) * (w + 2) + x];
                    double v = c[0];
                    if (p < correlated_planes) {
                        double blur = 0.0;
                        for (int i = -1; i <= 1; ++i)
                            for (int j = -1; j <= 1; ++j)
                                blur += (2 - std::abs(i)) * (2 - std::abs(j)) * c[i * (w + 2) + j];
                        v = 0.5 * c[0] + blur / 32;
                    }
                    *at++ = static_cast<uint8_t>(std::lround(128.0 + v));
                }
        }
        velmora_settings s = settings_with(VELMORA_MODE_BEST, VELMORA_NOISE_MEASURED, 0);
        VelmoraDenoiser* d = nullptr;
        ASSERT_EQ(velmora_open(&d, &f, &s), VELMORA_OK);
        velmora_picture p = clip.picture(0);
        ASSERT_EQ(velmora_send(d, &p), VELMORA_OK);
        ASSERT_EQ(velmora_drain(d), VELMORA_OK);
        while (velmora_receive(d, &p) == VELMORA_OK) {
        }
        for (int plane = 0; plane < 3; ++plane) {
            velmora_noise_bands b;
            ASSERT_EQ(velmora_measured_bands(d, plane, &b), VELMORA_OK);
            for (int l = 0; l < VELMORA_BAND_LEVELS; ++l)
                for (int o = 0; o < 3; ++o) {
                    SCOPED_TRACE(testing::Message() << plane << ", " << l << ", " << o);
                    if (correlated_planes < 3) {
                        EXPECT_EQ(b.factor[l][o], 1.0);
                        EXPECT_EQ(b.blocks[l][o], 0);
                    } else if (plane == 0 && l >= 1) {
                        EXPECT_GT(b.factor[l][o], 1.2);
                    }
                }
        }
        velmora_close(&d);
    }
}

// Bytes the process has taken from the allocator and not given back.
size_t in_use() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

TEST(LibraryMemory, TheFigureAskedBeforeBoundsWhatAStreamTakes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator keeps no malloc statistics";
#endif
    for (int temporal : {0, 1, 3})
        for (velmora_mode mode : {VELMORA_MODE_BEST, VELMORA_MODE_EXACT})
            for (velmora_layout layout : {VELMORA_LAYOUT_420, VELMORA_LAYOUT_444}) {
                const velmora_format f = {320, 240, layout, 8};
                velmora_settings s = settings_with(mode, VELMORA_NOISE_MEASURED, temporal);
                s.threads = 1;  // the pool's workers allocate nothing, but not in this arena
                size_t needed = 0;
                ASSERT_EQ(velmora_memory_needed(&f, &s, &needed), VELMORA_OK);
                // Long enough that frames and fields alike are averaged with every neighbour
                // the radius reaches, whose weights the averaging keeps at once.
                Clip clip = make_clip(f, 14, 5.0, 7);
                const size_t before = in_use();
                size_t most = 0;
                VelmoraDenoiser* d = nullptr;
                ASSERT_EQ(velmora_open(&d, &f, &s), VELMORA_OK);
                velmora_picture p;
                for (int i = 0; i < 14; ++i) {
                    p = clip.picture(i);
                    ASSERT_EQ(velmora_send(d, &p), VELMORA_OK);
                    while (velmora_receive(d, &p) == VELMORA_OK) {
                    }
                    most = std::max(most, in_use() - before);
                }
                velmora_close(&d);
                const std::string where = "temporal " + std::to_string(temporal) + ", mode " +
                                          std::to_string(mode) + ", layout " +
                                          std::to_string(layout);
                // Within the figure (and some small bookkeeping), and not far above it.
                EXPECT_LE(most, needed + needed / 20 + (64 << 10)) << where;
                EXPECT_GE(most, needed / 10 * 7) << where;
            }
}

// The process's address space in bytes.
size_t address_space() {
    unsigned long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Out of memory in the middle of a denoiser's life: the call that needed more fails, and the
// denoiser goes on with what it can have.
bool short_of_memory_and_on() {
    const velmora_format f = {2048, 2048, VELMORA_LAYOUT_MONO, 8};
    velmora_settings exact = settings_with(VELMORA_MODE_EXACT, 4.0, 0), best = exact;
    exact.threads = best.threads = 1;
    best.mode = VELMORA_MODE_BEST;
    size_t exact_bytes = 0, best_bytes = 0;
    velmora_memory_needed(&f, &exact, &exact_bytes);
    velmora_memory_needed(&f, &best, &best_bytes);
    Clip clip = make_clip(f, 1, 4.0);
    velmora_picture p = clip.picture(0);
    VelmoraDenoiser* d = nullptr;
    if (velmora_open(&d, &f, &exact) != VELMORA_OK || velmora_denoise_picture(d, &p) != VELMORA_OK)
        return false;
    // Room for exact mode's memory again, not for best mode's.
    const rlimit limit = {address_space() + (best_bytes - exact_bytes) / 2, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    const bool refused = velmora_change_settings(d, &best) == VELMORA_OK &&
                         velmora_denoise_picture(d, &p) == VELMORA_ERROR_MEMORY;
    const bool again = velmora_change_settings(d, &exact) == VELMORA_OK &&
                       velmora_denoise_picture(d, &p) == VELMORA_OK;
    velmora_close(&d);
    return refused && again;
}

TEST(LibraryMemory, ACallShortOfMemoryFailsAndTheDenoiserGoesOn) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer reserves address space of its own";
#endif
    EXPECT_EXIT(std::exit(short_of_memory_and_on() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace library_test
