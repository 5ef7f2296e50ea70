// A frame through the filter against libvelmora driven directly on the same planes with plain
// per-plane noise levels: the strength mapping and the chroma factor are --sigma and
// --sigma-chroma on 12-bit 4:4:4 planes, auto is each plane's level measured on the frame alone
// (without the texture correction) times the plane's factor, in best mode and in exact mode, and
// the worker count and the working set change no bit. Also the two settings the filter needs of
// the library: per-plane noise factors and the texture correction of one frame's level.
#include "frei0r/frame_filter.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "frei0r/colour.h"
#include "tools/velmora/preview/preview.h"
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

// A picture with edges and flat areas (or a flat one), and noise of about `spread` 8-bit steps (the
// sum of three uniform draws from -spread..spread) on each channel.
std::vector<uint8_t> noisy_picture(int32_t w, int32_t h, int32_t spread, uint64_t seed,
                                   bool edges = true) {
    SplitMix64 rng{seed};
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
            const int base[3] = {edges ? (x * 255) / w : 128,
                                 edges ? ((x / 13 + y / 9) % 2) * 160 + 40 : 96,
                                 edges ? (y * 200) / h + 20 : 160};
            for (int c = 0; c < 3; ++c) {
                const int32_t v = base[c] + rng.uniform(-spread, spread) +
                                  rng.uniform(-spread, spread) + rng.uniform(-spread, spread);
                p[c] = static_cast<uint8_t>(std::min(255, std::max(0, v)));
            }
            p[3] = static_cast<uint8_t>(x ^ y);
        }
    return rgba;
}

// The frame's planes, and a denoiser of their format with `settings` (threads 2 unless set).
struct Planes {
    int32_t w, h;
    std::vector<uint16_t> samples;
    VelmoraDenoiser* denoiser = nullptr;

    Planes(const std::vector<uint8_t>& rgba, int32_t width, int32_t height,
           const velmora_settings& settings)
        : w(width), h(height), samples(3 * static_cast<size_t>(width) * height) {
        rgba_to_planes(rgba.data(), view(), 0, h);
        const velmora_format f = planes_format(w, h);
        EXPECT_EQ(velmora_open(&denoiser, &f, &settings), VELMORA_OK);
    }
    ~Planes() { velmora_close(&denoiser); }

    YCbCrPlanes view() {
        const size_t n = static_cast<size_t>(w) * h;
        return {samples.data(), samples.data() + n, samples.data() + 2 * n, w, h};
    }
    velmora_picture picture() {
        velmora_picture p = {};
        p.format = planes_format(w, h);
        for (int i = 0; i < 3; ++i) {
            p.data[i] = samples.data() + i * static_cast<size_t>(w) * h;
            p.stride[i] = 2 * w;
        }
        return p;
    }
};

velmora_settings still_settings(velmora_mode mode) {
    velmora_settings s;
    velmora_default_settings(&s);
    s.mode = mode;
    s.temporal_radius = 0;
    s.threads = 2;
    return s;
}

// Each plane's level as the filter measures it on this frame alone, in 8-bit steps.
std::array<double, 3> measured(const std::vector<uint8_t>& in, int32_t w, int32_t h,
                               int texture_as_noise) {
    velmora_settings s = still_settings(VELMORA_MODE_EXACT);
    s.texture_as_noise = texture_as_noise;
    Planes planes(in, w, h, s);
    std::array<double, 3> sigma = {};
    const velmora_picture p = planes.picture();
    EXPECT_EQ(velmora_measure_noise(planes.denoiser, &p, sigma.data()), VELMORA_OK);
    return sigma;
}

// The library's way: the planes filtered as a still with the given levels (or measured and
// scaled by `factor`), then back to RGBA.
std::vector<uint8_t> filter_by_the_library(const std::vector<uint8_t>& in, int32_t w, int32_t h,
                                           velmora_mode mode, const std::array<double, 3>& noise,
                                           const std::array<double, 3>& factor = {1, 1, 1}) {
    velmora_settings s = still_settings(mode);
    for (int p = 0; p < 3; ++p) {
        s.noise[p] = noise[p];
        s.noise_factor[p] = factor[p];
    }
    Planes planes(in, w, h, s);
    const velmora_picture p = planes.picture();
    EXPECT_EQ(velmora_denoise_picture(planes.denoiser, &p), VELMORA_OK);
    std::vector<uint8_t> out(in.size());
    planes_to_rgba(planes.view(), in.data(), out.data(), 0, h);
    return out;
}

std::vector<uint8_t> filter_with(const WorkingSet& set, const std::vector<uint8_t>& in, int32_t w,
                                 int32_t h, const Settings& s) {
    std::unique_ptr<Workspace> workspace = Workspace::make(w, h, set);
    EXPECT_TRUE(workspace);
    std::vector<uint8_t> out(in.size());
    if (workspace) {
        EXPECT_EQ(workspace->filter(s, in.data(), out.data()), VELMORA_OK);
    }
    return out;
}

TEST(FrameFilter, GivesTheLibrarysPlanesForEverySettingWorkerCountAndWorkingSet) {
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
        const velmora_mode mode = c.s.mode == Mode::best ? VELMORA_MODE_BEST : VELMORA_MODE_EXACT;
        // Luma at the strength's level or measured on this frame as the library measures a
        // still, chroma at 2 * chroma times its own.
        std::array<double, 3> noise, factor;
        for (int p = 0; p < 3; ++p) {
            factor[p] = p == 0 ? 1.0 : 2.0 * c.s.chroma;
            noise[p] = c.s.automatic ? VELMORA_NOISE_MEASURED
                                     : factor[p] * 25.0 * c.s.strength * c.s.strength;
        }
        if (c.s.automatic) {
            const std::array<double, 3> sigma = measured(in, c.w, c.h, 0);
            for (int p = 0; p < 3; ++p)
                ASSERT_GT(sigma[p], 1.0) << "plane " << p << " is too clean";
        }
        const std::vector<uint8_t> want = filter_by_the_library(
            in, c.w, c.h, mode, noise, c.s.automatic ? factor : std::array{1.0, 1.0, 1.0});
        EXPECT_NE(want, in) << c.w << "x" << c.h << " mode " << mode_name(c.s.mode);
        Settings other_mode = c.s;
        other_mode.mode = Mode::exact;
        for (int threads : {1, 2, 5}) {
            const std::string what =
                std::to_string(c.w) + "x" + std::to_string(c.h) + " " + mode_name(c.s.mode) +
                " auto " + std::to_string(c.s.automatic) + " strength " +
                std::to_string(c.s.strength) + " chroma " + std::to_string(c.s.chroma) +
                ", threads " + std::to_string(threads);
            EXPECT_EQ(filter_with({threads, true}, in, c.w, c.h, c.s), want) << what;
            // Without best mode's memory every frame comes out as exact mode's.
            EXPECT_EQ(filter_with({threads, false}, in, c.w, c.h, c.s),
                      filter_with({threads, true}, in, c.w, c.h, other_mode))
                << what;
        }
    }
}

TEST(FrameFilter, FilteringInPlaceOrAfterOtherSettingsGivesWhatAFreshWorkspaceGives) {
    const int32_t w = 70, h = 45;
    const std::vector<uint8_t> in = noisy_picture(w, h, 6, 5);
    const Settings s = manual(0.5, 0.5);
    const std::vector<uint8_t> want = filter_with({2, true}, in, w, h, s);
    std::unique_ptr<Workspace> workspace = Workspace::make(w, h, {2, true});
    ASSERT_TRUE(workspace);
    std::vector<uint8_t> frame = in;
    ASSERT_EQ(workspace->filter(automatic(1.0, Mode::best), frame.data(), frame.data()),
              VELMORA_OK);
    frame = in;
    ASSERT_EQ(workspace->filter(s, frame.data(), frame.data()), VELMORA_OK);
    EXPECT_EQ(frame, want);
}

// Auto measures each frame on its own blocks of least detail: a frame with no noise, or one too
// small to hold enough blocks, comes back as the colour conversion leaves it, in either mode.
TEST(FrameFilter, AutoLeavesCleanAndTooSmallFramesAsTheyAre) {
    for (Mode mode : {Mode::best, Mode::exact}) {
        for (const auto& [w, h, spread] : {std::tuple{96, 64, 0}, std::tuple{24, 24, 9}}) {
            const std::vector<uint8_t> in = noisy_picture(w, h, spread, 3);
            EXPECT_EQ(filter_with({2, true}, in, w, h, automatic(0.5, mode)),
                      filter_with({2, true}, in, w, h, manual(0.0, 0.5, mode)))
                << mode_name(mode) << " " << w << "x" << h;
        }
    }
}

TEST(FrameFilter, RefusesSizesOutsideTheDenoisersRange) {
    for (const auto& [w, h] : {std::pair{0, 10}, {10, 0}, {16385, 1}, {1, 16385}}) {
        EXPECT_FALSE(Workspace::make(w, h, {1, true})) << w << "x" << h;
        EXPECT_EQ(workspace_bytes(w, h, {1, true}), 0) << w << "x" << h;
    }
    EXPECT_TRUE(Workspace::make(1, 1, {1, true}));
    // More workers and best mode take more memory.
    EXPECT_GT(workspace_bytes(48, 16000, {2, true}), workspace_bytes(48, 16000, {1, true}));
    EXPECT_GT(workspace_bytes(48, 16000, {1, true}), workspace_bytes(48, 16000, {1, false}));
}

TEST(DenoiserSettings, NoiseFactorsScaleEachPlanesMeasuredLevel) {
    const int32_t w = 120, h = 90;
    const std::vector<uint8_t> in = noisy_picture(w, h, 7, 21);
    // Measured as the filter measures (texture taken as noise): one level per plane, which
    // best mode then follows everywhere, as a level given.
    const std::array<double, 3> sigma = measured(in, w, h, 1);
    for (velmora_mode mode : {VELMORA_MODE_BEST, VELMORA_MODE_EXACT}) {
        for (const std::array<double, 3>& factor :
             {std::array{1.0, 0.0, 2.0}, std::array{0.25, 1.5, 0.0}}) {
            velmora_settings s = still_settings(mode);
            s.texture_as_noise = 1;
            std::array<double, 3> given = {};
            for (int p = 0; p < 3; ++p) {
                s.noise_factor[p] = factor[p];
                given[p] = factor[p] * sigma[p];
            }
            Planes planes(in, w, h, s);
            const velmora_picture p = planes.picture();
            ASSERT_EQ(velmora_denoise_picture(planes.denoiser, &p), VELMORA_OK);
            for (int plane = 0; plane < 3; ++plane) {
                double used = -1.0;
                ASSERT_EQ(velmora_levels_in_use(planes.denoiser, plane, &used, nullptr),
                          VELMORA_OK);
                // Best mode keeps the level in single precision.
                EXPECT_NEAR(used, given[plane], 1e-6 * given[plane])
                    << "mode " << mode << " plane " << plane;
            }
            std::vector<uint8_t> out(in.size());
            planes_to_rgba(planes.view(), in.data(), out.data(), 0, h);
            EXPECT_EQ(out, filter_by_the_library(in, w, h, mode, given)) << "mode " << mode;
        }
    }
    velmora_settings s = still_settings(VELMORA_MODE_BEST);
    VelmoraDenoiser* d = nullptr;
    const velmora_format f = planes_format(w, h);
    for (double wrong : {-0.5, 16.5, std::nan("")}) {
        s.noise_factor[1] = wrong;
        EXPECT_EQ(velmora_open(&d, &f, &s), VELMORA_ERROR_ARGUMENT) << wrong;
        EXPECT_EQ(d, nullptr);
    }
}

// grass.png from scikit-image (Debian package python3-skimage) as RGBA, with noise of about
// `spread` steps as noisy_picture gives.
std::vector<uint8_t> grass(int32_t spread, int32_t& w, int32_t& h) {
    const std::string path = "/usr/lib/python3/dist-packages/skimage/data/grass.png";
    if (!std::filesystem::exists(path)) {
        ADD_FAILURE() << path << " is missing: scripts/setup.sh installs python3-skimage";
        return {};
    }
    const RgbImage image = read_png(path);
    w = image.width;
    h = image.height;
    SplitMix64 rng{4};
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4, 255);
    for (size_t i = 0; i < rgba.size() / 4; ++i)
        for (int c = 0; c < 3; ++c) {
            const int32_t v = image.pixels[3 * i + c] + rng.uniform(-spread, spread) +
                              rng.uniform(-spread, spread) + rng.uniform(-spread, spread);
            rgba[4 * i + c] = static_cast<uint8_t>(std::min(255, std::max(0, v)));
        }
    return rgba;
}

TEST(DenoiserSettings, TextureAsNoiseKeepsAFramesUncorrectedLevel) {
    // Fine texture raises one frame's level; the correction brings it down, the option keeps it.
    for (int32_t spread : {0, 8}) {
        int32_t w = 0, h = 0;
        const std::vector<uint8_t> textured = grass(spread, w, h);
        ASSERT_FALSE(textured.empty());
        const double corrected = measured(textured, w, h, 0)[0],
                     kept = measured(textured, w, h, 1)[0];
        EXPECT_GT(kept, 1.5 * corrected + 1.0) << "noise " << spread;
        EXPECT_GE(corrected, spread == 0 ? 0.0 : 3.0) << "noise " << spread;
    }
    // Noise on a flat picture is not texture: both agree.
    const std::vector<uint8_t> flat = noisy_picture(160, 120, 6, 9, false);
    EXPECT_EQ(measured(flat, 160, 120, 0), measured(flat, 160, 120, 1));
}

}  // namespace
