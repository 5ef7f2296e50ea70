// A frame through the filter against the command-line tool's engine on the same planes: the
// strength mapping, the chroma factor and auto are the tool's --sigma, --sigma-chroma and --auto
// (one frame measured) on 12-bit 4:4:4 planes, in best mode and in exact mode at K = 3, and the
// worker count changes no bit.
#include "frei0r/frame_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "engine/noise_blocks.h"
#include "engine/noise_level.h"
#include "frei0r/colour.h"
#include "frei0r/plane_strength.h"
#include "lib/strength.h"
#include "tools/velmora/sample/split_mix64.h"

namespace {

using namespace velmora;

Settings manual(double strength, double chroma, Mode mode = Mode::exact) {
    Settings s;
    s.automatic = false;
    s.strength = strength;
    s.chroma = chroma;
    s.mode = mode;
    return s;
}

Settings automatic(double chroma, Mode mode = Mode::exact) {
    Settings s;
    s.chroma = chroma;
    s.mode = mode;
    return s;
}

void expect_same(const SubbandThresholds& a, const SubbandThresholds& b) {
    for (int l = 0; l < kLevels; ++l)
        for (int o = 0; o < 3; ++o) EXPECT_EQ(a.value[l][o], b.value[l][o]) << l << " " << o;
}

TEST(PlaneStrength, IsTheToolsSigmaAtKThreeOnTwelveBitPlanes) {
    for (double s : {0.0, 0.01, 0.1, 0.2, 0.33, 0.4, 0.5, 0.77, 1.0}) {
        const double sigma = 25.0 * s * s;
        const ThresholdRow luma = row_for_sigma(sigma, 3.0, SampleFormat::u12);
        expect_same(plane_thresholds(manual(s, 0.5), 0, 0.0f),
                    thresholds_from_tracks(luma.data(), kLevels));
        // Chroma at factor 2 * chroma: as luma at 0.5, twice the level at 1, untouched at 0.
        expect_same(plane_thresholds(manual(s, 0.5), 1, 0.0f),
                    thresholds_from_tracks(luma.data(), kLevels));
        const ThresholdRow twice = row_for_sigma(2 * sigma, 3.0, SampleFormat::u12);
        expect_same(plane_thresholds(manual(s, 1.0), 2, 0.0f),
                    thresholds_from_tracks(twice.data(), kLevels));
        EXPECT_TRUE(all_zero(plane_thresholds(manual(s, 0.0), 1, 0.0f)));
    }
    EXPECT_TRUE(all_zero(plane_thresholds(manual(0.0, 1.0), 0, 0.0f)));
    // Strength 0.4 (the default) is a noise level of 4 steps: 3 * 4 * 16 working units.
    EXPECT_NEAR(plane_thresholds(manual(0.4, 0.5), 0, 0.0f).value[0][0], 192.0f, 0.125f);
}

TEST(PlaneStrength, AutoUsesThisFramesEstimateAsTheToolDoes) {
    for (float measured : {0.0f, 3.5f, 17.25f, 130.0f}) {
        const ThresholdRow row = row_for_threshold(3.0 * measured);
        expect_same(plane_thresholds(automatic(0.5), 0, measured),
                    thresholds_from_tracks(row.data(), kLevels));
        expect_same(plane_thresholds(automatic(0.5), 1, measured),
                    thresholds_from_tracks(row.data(), kLevels));
        EXPECT_TRUE(all_zero(plane_thresholds(automatic(0.0), 2, measured)));
    }
    // The strength does not count with auto on.
    Settings strong = automatic(0.5);
    strong.strength = 1.0;
    expect_same(plane_thresholds(strong, 0, 5.0f), plane_thresholds(automatic(0.5), 0, 5.0f));
}

// A picture with edges and flat areas, and noise of about `spread` 8-bit steps (the sum of three
// uniform draws from -spread..spread) on each channel.
std::vector<uint8_t> noisy_picture(int32_t w, int32_t h, int32_t spread, uint64_t seed) {
    SplitMix64 rng{seed};
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
            const int base[3] = {(x * 255) / w, ((x / 13 + y / 9) % 2) * 160 + 40,
                                 (y * 200) / h + 20};
            for (int c = 0; c < 3; ++c) {
                const int32_t v = base[c] + rng.uniform(-spread, spread) +
                                  rng.uniform(-spread, spread) + rng.uniform(-spread, spread);
                p[c] = static_cast<uint8_t>(std::min(255, std::max(0, v)));
            }
            p[3] = static_cast<uint8_t>(x ^ y);
        }
    return rgba;
}

// The level the tool measures on one frame of a plane, in working units (16 per 8-bit step); 0
// where it finds none or less than half a step.
double measured_level(PlaneEngine& engine, const PlaneView& view) {
    const int32_t columns = noise_blocks_along(view.width), rows = noise_blocks_along(view.height);
    std::vector<float> coefficients(static_cast<size_t>(columns) * rows * 16);
    std::vector<uint8_t> left_out(static_cast<size_t>(columns) * rows);
    NoiseBlocks blocks = {columns, rows, coefficients.data(), left_out.data()};
    engine.measure_noise(view, blocks);
    std::vector<float> values(left_out.size());
    const NoiseLevel level =
        noise_level(values.data(), spatial_noise_values(blocks, values.data()), nullptr, 0);
    return level.found && level.sigma >= 8.0f ? level.sigma : 0.0;
}

// The tool's way: the same planes through its PlaneEngine with its rows, then back to RGBA.
std::vector<uint8_t> filter_as_the_tool(const std::vector<uint8_t>& in, int32_t w, int32_t h,
                                        const Settings& s) {
    const size_t n = static_cast<size_t>(w) * h;
    std::vector<uint16_t> samples(3 * n);
    const YCbCrPlanes planes = {samples.data(), samples.data() + n, samples.data() + 2 * n, w, h};
    rgba_to_planes(in.data(), planes, 0, h);
    PlaneEngine engine(w, h, 2);
    for (int p = 0; p < 3; ++p) {
        const PlaneView view = {samples.data() + p * n, 1, w, w, h, SampleFormat::u12};
        const double factor = p == 0 ? 1.0 : 2.0 * s.chroma;
        if (factor == 0.0) continue;
        const double measured = s.automatic ? measured_level(engine, view) : 0.0;
        if (s.mode == Mode::best) {
            const double sigma = s.automatic ? measured : 25.0 * s.strength * s.strength * 16.0;
            engine.denoise_best(view, static_cast<float>(factor * sigma),
                                p == 0 ? PlaneKind::luma : PlaneKind::chroma);
            continue;
        }
        const ThresholdRow row =
            s.automatic
                ? row_for_threshold(3.0 * (factor * measured))
                : row_for_sigma(factor * 25.0 * s.strength * s.strength, 3.0, SampleFormat::u12);
        if (is_zero(row)) continue;
        engine.analyse(view);
        engine.threshold(row);
        engine.synthesise(view);
    }
    std::vector<uint8_t> out(in.size());
    planes_to_rgba(planes, in.data(), out.data(), 0, h);
    return out;
}

std::vector<uint8_t> filter_with(int threads, bool share, const std::vector<uint8_t>& in, int32_t w,
                                 int32_t h, const Settings& s) {
    std::unique_ptr<Workspace> workspace = Workspace::make(w, h, threads);
    EXPECT_TRUE(workspace);
    std::vector<uint8_t> out(in.size());
    if (workspace) workspace->filter(s, in.data(), out.data(), share);
    return out;
}

TEST(FrameFilter, GivesTheToolsPlanesForEverySettingAndWorkerCount) {
    const struct {
        int32_t w, h;
        Settings s;
    } cases[] = {{96, 64, automatic(0.5)},
                 {131, 77, automatic(0.2)},
                 {131, 77, manual(0.6, 0.5)},
                 {64, 250, manual(0.3, 1.0)},
                 {40, 33, manual(0.8, 0.0)},
                 {17, 5, manual(0.9, 0.9)},
                 {96, 64, automatic(0.5, Mode::best)},
                 {131, 77, automatic(1.0, Mode::best)},
                 {131, 77, manual(0.6, 0.5, Mode::best)},
                 {40, 33, manual(0.8, 0.0, Mode::best)},
                 {17, 5, manual(0.5, 0.5, Mode::best)}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> in = noisy_picture(c.w, c.h, 9, 77 + c.w);
        const std::vector<uint8_t> want = filter_as_the_tool(in, c.w, c.h, c.s);
        EXPECT_NE(want, in) << c.w << "x" << c.h << " mode " << mode_name(c.s.mode);
        for (int threads : {1, 2, 5}) {
            for (bool share : {true, false}) {
                EXPECT_EQ(filter_with(threads, share, in, c.w, c.h, c.s), want)
                    << c.w << "x" << c.h << " " << mode_name(c.s.mode) << " auto " << c.s.automatic
                    << " strength " << c.s.strength << " chroma " << c.s.chroma << ", " << threads
                    << " workers, shared " << share;
            }
        }
    }
}

TEST(FrameFilter, FilteringInPlaceGivesWhatASeparateOutputGets) {
    const int32_t w = 70, h = 45;
    const std::vector<uint8_t> in = noisy_picture(w, h, 6, 5);
    const std::vector<uint8_t> want = filter_with(2, true, in, w, h, manual(0.5, 0.5));
    std::vector<uint8_t> frame = in;
    std::unique_ptr<Workspace> workspace = Workspace::make(w, h, 2);
    ASSERT_TRUE(workspace);
    workspace->filter(manual(0.5, 0.5), frame.data(), frame.data(), true);
    EXPECT_EQ(frame, want);
}

// Auto measures each frame on its own blocks of least detail: a frame with no noise, or one too
// small to hold enough blocks, comes back as the colour conversion leaves it, in either mode.
TEST(FrameFilter, AutoLeavesCleanAndTooSmallFramesAsTheyAre) {
    for (Mode mode : {Mode::best, Mode::exact}) {
        for (const auto& [w, h, spread] : {std::tuple{96, 64, 0}, std::tuple{24, 24, 9}}) {
            const std::vector<uint8_t> in = noisy_picture(w, h, spread, 3);
            EXPECT_EQ(filter_with(2, true, in, w, h, automatic(0.5, mode)),
                      filter_with(2, true, in, w, h, manual(0.0, 0.5, mode)))
                << mode_name(mode) << " " << w << "x" << h;
        }
    }
}

TEST(FrameFilter, RefusesSizesOutsideItsRange) {
    EXPECT_FALSE(Workspace::make(0, 10, 1));
    EXPECT_FALSE(Workspace::make(10, 0, 1));
    EXPECT_FALSE(Workspace::make(kMaxFrameSide + 1, 1, 1));
    EXPECT_TRUE(Workspace::make(1, 1, 1));
}

}  // namespace
