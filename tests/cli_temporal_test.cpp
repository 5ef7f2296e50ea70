// --temporal in-process, in both modes: synthetic streams (a still scene, a scene moving several
// samples a frame, an object moving over a still background, a cut, interlaced fields) filtered
// frame by frame and with their neighbours, compared with the clean pictures; the stream's
// edges; the same bits for every thread count and kernel table; the options.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/settings.h"
#include "tests/cli_test_support.h"
#include "tools/velmora/command/options.h"
#include "tools/velmora/sample/sample_source.h"

namespace {

using namespace velmora;
using cli_test::denoise_stream;
using cli_test::given_noise;
using cli_test::luma_psnr;

StreamFormat format_of(int w, int h, const char* interlace = "") {
    const std::string line = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) +
                             " F25:1 C420jpeg" + interlace;
    StreamFormat f = parse_stream_header(line);
    f.header = line + "\n";
    return f;
}

// Frame i of a scene: the `picture` cut at (i * dy, i * dx) to the format's size.
Frame cut(const StreamFormat& f, const RgbImage& picture, int y0, int x0) {
    RgbImage part;
    part.width = f.width;
    part.height = f.height;
    part.pixels.resize(static_cast<size_t>(f.width) * f.height * 3);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
            for (int c = 0; c < 3; ++c)
                part.pixels[(static_cast<size_t>(y) * f.width + x) * 3 + c] =
                    picture.pixels[(static_cast<size_t>(y + y0) * picture.width + x + x0) * 3 + c];
    Frame frame = frame_from_rgb(f, part);
    frame.header = "FRAME\n";
    return frame;
}

struct Scene {
    StreamFormat f;
    std::vector<Frame> clean, noisy;
};

// `count` frames of a synthetic picture moving (dy, dx) samples a frame, noise sigma 10.
Scene moving_scene(const StreamFormat& f, int count, int dy, int dx, uint64_t seed = 5) {
    const RgbImage picture =
        synthetic_picture(f.width + count * std::abs(dx), f.height + count * std::abs(dy), seed);
    Scene s{f, {}, {}};
    for (int i = 0; i < count; ++i) {
        const int y0 = dy >= 0 ? i * dy : (count - 1 - i) * -dy;
        const int x0 = dx >= 0 ? i * dx : (count - 1 - i) * -dx;
        s.clean.push_back(cut(f, picture, y0, x0));
        s.noisy.push_back(s.clean.back());
        add_noise(f, s.noisy.back(), 10.0, 100 + i);
    }
    return s;
}

class CliTemporal : public ::testing::TestWithParam<velmora_mode> {};

// Every frame filtered on its own.
std::vector<Frame> spatial(const Scene& s) {
    return denoise_stream(s.f, given_noise(CliTemporal::GetParam(), 10.0, 0, 2), s.noisy);
}

// Every frame with its neighbours (denoise_stream checks that frames leave in order and in
// time).
std::vector<Frame> temporal(const Scene& s, int radius, int threads = 2) {
    return denoise_stream(s.f, given_noise(CliTemporal::GetParam(), 10.0, radius, threads),
                          s.noisy);
}

TEST_P(CliTemporal, StillSceneGainsClearlyOverEachFrameOnItsOwn) {
    const Scene s = moving_scene(format_of(128, 96), 7, 0, 0);
    const std::vector<Frame> one = spatial(s), many = temporal(s, 3);
    for (size_t i = 0; i < s.clean.size(); ++i) {
        const double gain =
            luma_psnr(s.f, s.clean[i], many[i]) - luma_psnr(s.f, s.clean[i], one[i]);
        // The middle frame has six neighbours, the first and last three.
        EXPECT_GT(gain, i == 3 ? 1.5 : 1.0) << "frame " << i;
        EXPECT_GT(psnr(s.f, s.clean[i], many[i]), psnr(s.f, s.clean[i], one[i]) + 1.0);
    }
}

TEST_P(CliTemporal, ASceneMovingSeveralSamplesAFrameIsNeverWorse) {
    for (const auto& [dy, dx] : {std::pair{3, 5}, std::pair{-4, 2}, std::pair{6, -6}}) {
        const Scene s = moving_scene(format_of(128, 96), 6, dy, dx);
        const std::vector<Frame> one = spatial(s), many = temporal(s, 2);
        for (size_t i = 0; i < s.clean.size(); ++i) {
            EXPECT_GT(luma_psnr(s.f, s.clean[i], many[i]), luma_psnr(s.f, s.clean[i], one[i]) + 0.5)
                << dy << "," << dx << " frame " << i;
            EXPECT_GT(psnr(s.f, s.clean[i], many[i]), psnr(s.f, s.clean[i], one[i]));
        }
    }
}

// A bright square crossing a still background, 6 samples a frame: where it was a frame before
// or will be a frame after, the background must come back as clean as without neighbours.
TEST_P(CliTemporal, AMovingObjectLeavesNoTrail) {
    const StreamFormat f = format_of(128, 96);
    Scene s = moving_scene(f, 7, 0, 0, 9);
    const auto square_x = [](size_t i) { return 20 + 6 * static_cast<int>(i); };
    for (size_t i = 0; i < s.clean.size(); ++i) {
        for (int y = 40; y < 56; ++y)
            for (int x = square_x(i); x < square_x(i) + 16; ++x)
                s.clean[i].set_sample(f, 0, x, y, 235);
        s.noisy[i] = s.clean[i];
        add_noise(f, s.noisy[i], 10.0, 300 + i);
    }
    const std::vector<Frame> one = spatial(s), many = temporal(s, 3);
    for (size_t i = 1; i + 1 < s.clean.size(); ++i) {
        double trail_one = 0, trail_many = 0;
        int samples = 0;
        for (int y = 40; y < 56; ++y)
            for (int x = square_x(i - 1); x < square_x(i + 1) + 16; ++x) {
                if (x >= square_x(i) && x < square_x(i) + 16) continue;  // the square itself
                const double c = s.clean[i].sample(f, 0, x, y);
                trail_one += std::pow(one[i].sample(f, 0, x, y) - c, 2);
                trail_many += std::pow(many[i].sample(f, 0, x, y) - c, 2);
                ++samples;
            }
        EXPECT_LE(trail_many / samples, trail_one / samples * 1.1 + 1.0) << "frame " << i;
        EXPECT_GT(luma_psnr(f, s.clean[i], many[i]), luma_psnr(f, s.clean[i], one[i]) + 1.0);
    }
}

TEST_P(CliTemporal, FramesBesideACutAreNotMixed) {
    const StreamFormat f = format_of(128, 96);
    Scene a = moving_scene(f, 4, 0, 0, 11), b = moving_scene(f, 4, 0, 0, 12);
    Scene s{f, a.clean, a.noisy};
    s.clean.insert(s.clean.end(), b.clean.begin(), b.clean.end());
    s.noisy.insert(s.noisy.end(), b.noisy.begin(), b.noisy.end());
    const std::vector<Frame> one = spatial(s), many = temporal(s, 3);
    for (size_t i = 0; i < s.clean.size(); ++i)
        EXPECT_GT(luma_psnr(f, s.clean[i], many[i]), luma_psnr(f, s.clean[i], one[i]) + 0.5)
            << "frame " << i;
}

TEST_P(CliTemporal, StreamEdgesOneFrameTwoFramesAndARadiusLongerThanTheStream) {
    const Scene s = moving_scene(format_of(64, 48), 3, 0, 0);
    // One frame: no neighbour, the frame on its own exactly.
    const Scene first{s.f, {s.clean[0]}, {s.noisy[0]}};
    EXPECT_EQ(temporal(first, 3)[0].data, spatial(first)[0].data);
    // Two frames and three with the largest radius: each frame gains from the others.
    for (size_t count : {2u, 3u}) {
        const Scene part{s.f,
                         {s.clean.begin(), s.clean.begin() + count},
                         {s.noisy.begin(), s.noisy.begin() + count}};
        const std::vector<Frame> one = spatial(part),
                                 many = temporal(part, VELMORA_MAX_TEMPORAL_RADIUS);
        for (size_t i = 0; i < count; ++i)
            EXPECT_GT(luma_psnr(s.f, s.clean[i], many[i]),
                      luma_psnr(s.f, s.clean[i], one[i]) + 0.5);
    }
}

TEST_P(CliTemporal, SameBitsForEveryThreadCountAndKernelTable) {
    const Scene s = moving_scene(format_of(96, 72), 5, 2, -3);
    const std::vector<Frame> reference = temporal(s, 2, 1);
    for (int threads = 2; threads <= 4; ++threads) {
        const std::vector<Frame> again = temporal(s, 2, threads);
        for (size_t i = 0; i < again.size(); ++i)
            EXPECT_EQ(again[i].data, reference[i].data) << threads << " threads, frame " << i;
    }
    for (const char* isa : {"scalar", "sse41", "avx2"}) {
        ::setenv("VELMORA_ISA", isa, 1);
        const std::vector<Frame> again = temporal(s, 2, 3);
        ::unsetenv("VELMORA_ISA");
        for (size_t i = 0; i < again.size(); ++i)
            EXPECT_EQ(again[i].data, reference[i].data) << isa << ", frame " << i;
    }
}

// Interlaced frames whose two fields show different pictures (a field is a picture of its own
// instant): each field is averaged with the same field of its neighbours only.
TEST_P(CliTemporal, InterlacedFieldsAreAveragedWithTheSameFieldOnly) {
    const StreamFormat f = format_of(96, 64, " It");
    const Scene top = moving_scene(f, 5, 0, 0, 21), bottom = moving_scene(f, 5, 0, 0, 22);
    Scene s{f, top.clean, top.noisy};
    for (size_t i = 0; i < s.clean.size(); ++i)
        for (int p = 0; p < 3; ++p)
            for (int y = 1; y < f.plane_height(p); y += 2)
                for (int x = 0; x < f.plane_width(p); ++x) {
                    s.clean[i].set_sample(f, p, x, y, bottom.clean[i].sample(f, p, x, y));
                    s.noisy[i].set_sample(f, p, x, y, bottom.noisy[i].sample(f, p, x, y));
                }
    const std::vector<Frame> one = spatial(s), many = temporal(s, 2);
    for (size_t i = 0; i < s.clean.size(); ++i)
        EXPECT_GT(luma_psnr(f, s.clean[i], many[i]), luma_psnr(f, s.clean[i], one[i]) + 1.0)
            << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Modes, CliTemporal,
                         ::testing::Values(VELMORA_MODE_BEST, VELMORA_MODE_EXACT),
                         [](const auto& info) {
                             return std::string(info.param == VELMORA_MODE_BEST ? "best" : "exact");
                         });

// Best mode averages three frames each side by default, exact mode none; exact mode averages when
// told to; what has no noise level to average with is refused.
TEST(CliTemporalOptions, OptionsTurnItOffAndRefuseWhatCannotBeAveraged) {
    const std::vector<std::string> files = {"in.y4m", "out.y4m"};
    const auto parse = [&](std::vector<std::string> args) {
        args.insert(args.end(), files.begin(), files.end());
        return settings_of(parse_options(args));
    };
    EXPECT_EQ(temporal_radius(parse({"--sigma", "4"})), 3);
    EXPECT_EQ(temporal_radius(parse({})), 3);  // --auto
    EXPECT_EQ(temporal_radius(parse({"--mode", "exact", "--sigma", "4"})), 0);
    EXPECT_EQ(temporal_radius(parse({"--sigma", "4", "--k", "2.5"})), 0);  // exact mode
    EXPECT_EQ(temporal_radius(parse({"--mode", "exact", "--temporal", "2"})), 2);
    EXPECT_EQ(temporal_radius(parse({"--sigma", "4", "--temporal", "0"})), 0);
    EXPECT_EQ(temporal_radius(parse({"--temporal", "8"})), 8);
    EXPECT_EQ(temporal_radius(parse({"--tracks", "0:1,1,1,1,1,1,1,1,1,1,1,1,1,1,1"})), 0);
    EXPECT_EQ(temporal_radius(parse({"--view", "coefficients"})), 0);
    EXPECT_THROW(parse({"--temporal", "9"}), UsageError);
    EXPECT_THROW(parse({"--temporal", "-1"}), UsageError);
    EXPECT_THROW(parse({"--learn", "0,0", "--temporal", "2"}), UsageError);
    EXPECT_THROW(parse({"--view", "coefficients", "--temporal", "1"}), UsageError);
    EXPECT_NO_THROW(parse({"--learn", "0,0", "--temporal", "0"}));
}

}  // namespace
