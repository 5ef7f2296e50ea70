// The two modes on the command line and the measured noise levels: which options choose which
// mode, levels per kind of plane, the same bytes for every thread count and instruction set,
// planes smaller than the best mode's moves, and what the measurement finds and says on flat,
// clean, textured and changing streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/plane_engine.h"
#include "tests/cli_test_support.h"
#include "tools/velmora/preview/curve_plot.h"
#include "tools/velmora/sample/split_mix64.h"

namespace {

using namespace cli_test;
using velmora::Frame;
using velmora::StreamFormat;
using velmora::Subsampling;

class CliModes : public ::testing::Test {
protected:
    TempDir dir;
    std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");

    // velmora's output for `args` on `in`, or empty with a failure.
    std::string output(std::vector<std::string> args) {
        args.insert(args.end(), {"--quiet", in, out});
        const RunResult r = run_velmora(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        return r.status == 0 ? read_file(out) : std::string();
    }
};

// A Gaussian value of standard deviation 1.
double gaussian(SplitMix64& rng) {
    const double u1 = (static_cast<double>(rng.next() >> 11) + 0.5) / 9007199254740992.0;
    const double u2 = static_cast<double>(rng.next() >> 11) / 9007199254740992.0;
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2);
}

// A 4:2:0 8-bit stream whose every sample of frame i is picture(p, x, y) plus Gaussian noise
// of sigma(i) steps, fresh in every frame.
template <class Picture, class Sigma>
Stream stream_of(int w, int h, int frames, Picture picture, Sigma sigma, uint64_t seed) {
    Stream s = make_stream(w, h, Subsampling::s420, SampleFormat::u8, frames, 1);
    SplitMix64 rng{seed};
    const StreamFormat& f = s.format;
    for (int i = 0; i < frames; ++i)
        for (int p = 0; p < f.planes(); ++p)
            for (int y = 0; y < f.plane_height(p); ++y)
                for (int x = 0; x < f.plane_width(p); ++x) {
                    const double v = std::round(picture(p, x, y) + sigma(i) * gaussian(rng));
                    s.frames[i].set_sample(f, p, x, y,
                                           static_cast<uint32_t>(std::clamp(v, 0.0, 255.0)));
                }
    return s;
}

double smooth(int p, int x, int y) { return p ? 120.0 + 0.2 * x : 60.0 + 0.5 * x + 0.3 * y; }

// The level printed for plane `name` ("Y", "Cb", "Cr"), or -1.
double printed(const std::string& err, const std::string& name) {
    const size_t line = err.find("noise sigma");
    if (line == err.npos) return -1;
    const size_t at = err.find(" " + name + " ", line);
    return at == err.npos || at > err.find('\n', line)
               ? -1
               : std::stod(err.substr(at + name.size() + 2));
}

// Best mode is the default; exact mode's own options choose exact mode and are refused with
// best mode; a mode that does not exist is refused.
TEST_F(CliModes, OptionsChooseTheMode) {
    write_file(in, serialise(stream_of(
                       64, 48, 2, smooth, [](int) { return 6.0; }, 3)));
    const std::string best = output({"--sigma", "6"});
    const std::string exact = output({"--mode", "exact", "--sigma", "6"});
    EXPECT_EQ(output({"--mode", "best", "--sigma", "6"}), best);
    EXPECT_NE(best, exact);
    EXPECT_EQ(output({"--sigma", "6", "--k", "3"}), exact);
    EXPECT_NE(output({"--sigma", "6", "--k", "2"}), exact);
    // --learn alone is the plug-in's learning; best mode learns levels from the box.
    EXPECT_NE(output({"--mode", "best", "--learn", "0,0,32"}), output({"--learn", "0,0,32"}));
    const struct {
        std::vector<std::string> args;
        const char* says;
    } refused[] = {
        {{"--mode", "best", "--k", "3", "--sigma", "6"}, "--k belongs to --mode exact"},
        {{"--mode", "best", "--tracks", "0:1,1,1,1,1,1,1,1,1,1,1,1,1,1,1"},
         "--tracks belongs to --mode exact"},
        {{"--view", "coefficients", "--mode", "best"}, "--view coefficients belongs to"},
        {{"--mode", "fast"}, "--mode 'fast': expected best or exact"},
        {{"--sigma", "auto", "--auto"}, "--auto and --sigma both set every plane's level"},
        {{"--sigma-luma", "loud"}, "--sigma-luma: 'loud' is not a number"},
        {{"--sigma-chroma", "2", "--auto-every", "4"}, "--auto-every goes with --auto"},
        {{"--sigma", "5", "--noise-curve"}, "--noise-curve goes with --auto"},
        {{"--sigma-luma", "1,2,3"}, "'1,2,3' is neither a level nor 8 levels by brightness"},
        {{"--sigma", "-,-,-,-,-,-,0,4"}, "gives fewer than two bins a level above 0"},
        {{"--mode", "exact", "--sigma-chroma", "2,2,2,2,2,2,2,2"},
         "levels by brightness belong to best mode"},
    };
    for (const auto& c : refused) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {in, out});
        const RunResult r = run_velmora(args);
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

// Each kind of plane takes a number, 0 or 'auto'; --auto measures the kinds not given a level;
// a kind without a level is left untouched.
TEST_F(CliModes, LevelsPerKindOfPlane) {
    const Stream noisy = stream_of(
        96, 64, 5, smooth, [](int) { return 5.0; }, 4);
    write_file(in, serialise(noisy));
    const StreamFormat& f = noisy.format;
    const auto planes_changed = [&](const std::string& bytes) {
        std::vector<bool> changed(3);
        const Stream s = read_stream(out);
        EXPECT_EQ(read_file(out), bytes);
        for (size_t i = 0; i < s.frames.size(); ++i)
            for (int p = 0; p < 3; ++p)
                for (int y = 0; y < f.plane_height(p); ++y)
                    for (int x = 0; x < f.plane_width(p); ++x)
                        if (s.frames[i].sample(f, p, x, y) != noisy.frames[i].sample(f, p, x, y))
                            changed[p] = true;
        return changed;
    };
    const std::string auto_luma = output({"--sigma-luma", "auto", "--sigma-chroma", "0"});
    EXPECT_EQ(planes_changed(auto_luma), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(output({"--auto", "--sigma-chroma", "0"}), auto_luma);
    EXPECT_EQ(planes_changed(output({"--sigma-chroma", "auto"})),
              (std::vector<bool>{false, true, true}));
    EXPECT_EQ(planes_changed(output({"--sigma-luma", "5"})),
              (std::vector<bool>{true, false, false}));
    EXPECT_EQ(planes_changed(output({"--sigma-chroma", "5,5,-,-,-,-,4,5"})),
              (std::vector<bool>{false, true, true}));
    EXPECT_EQ(output({"--sigma", "auto"}), output({}));
    // The measured level is printed for the measured kind only, close to the true one.
    const RunResult r = run_velmora({"--sigma-luma", "auto", "--sigma-chroma", "0", in, out});
    const double y = printed(r.err, "Y");
    EXPECT_NEAR(y, 5.0, 0.2) << r.err;
    EXPECT_EQ(printed(r.err, "Cb"), -1.0) << r.err;
}

// The same bytes for 1 to 4 threads and every instruction set, in both modes.
TEST_F(CliModes, SameBytesForEveryThreadCountAndInstructionSet) {
    write_file(in, serialise(stream_of(
                       150, 70, 2, smooth, [](int) { return 8.0; }, 5)));
    for (const char* mode : {"best", "exact"}) {
        const std::string reference = output({"--mode", mode, "--threads", "1", "--sigma", "8"});
        ASSERT_FALSE(reference.empty());
        for (const char* isa : {"scalar", "sse41", "avx2"}) {
            ::setenv("VELMORA_ISA", isa, 1);
            for (const char* threads : {"1", "2", "3", "4"})
                EXPECT_EQ(output({"--mode", mode, "--threads", threads, "--sigma", "8"}), reference)
                    << mode << " " << isa << " " << threads << " threads";
            EXPECT_EQ(output({"--mode", mode, "--threads", "3"}),
                      output({"--mode", mode, "--threads", "1"}))
                << "measured levels, " << mode << " " << isa;
        }
        ::unsetenv("VELMORA_ISA");
    }
}

// Pictures of a sample, a line or a column, and sizes below the largest move, in every
// subsampling: best mode gives the engine's planes.
TEST_F(CliModes, TinyPicturesInBestMode) {
    for (Subsampling s : {Subsampling::s420, Subsampling::s422, Subsampling::s444}) {
        for (auto [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 5}, {5, 3}, {4, 33}}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " subsampling " << int(s));
            const Stream stream = make_stream(w, h, s, SampleFormat::u8, 1, 40 + w * h);
            write_file(in, serialise(stream));
            const std::string bytes = output({"--sigma", "7"});
            const StreamFormat& f = stream.format;
            Frame expected = stream.frames[0];
            ReferenceEngine engine(w, h, 2);
            for (int p = 0; p < f.planes(); ++p)
                filter_plane_best(engine, f, expected, p, 7.0, false);
            EXPECT_TRUE(read_stream(out).frames[0].data == expected.data);
        }
    }
}

// One frame's measured level says how sure it is, and --noise-curve adds each plane's noise by
// brightness: a picture of one brightness has its level in that bin and nothing in the others.
TEST_F(CliModes, OneFramesLevelSaysHowSureAndTheCurveComesOnRequest) {
    const auto flat_grey = [](int p, int, int) { return p ? 128.0 : 100.0; };
    write_file(in, serialise(stream_of(
                       96, 64, 1, flat_grey, [](int) { return 6.0; }, 12)));
    const std::string png = dir.file("look.png");
    const RunResult r = run_velmora({"--noise-curve", "--preview", png, in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("plane Y: sure: measured on the "), std::string::npos) << r.err;
    const std::string curve =
        "frame 0: noise curve Y by brightness 0-31, 32-63, ..., 224-255 (8-bit steps): -,-,-,";
    const size_t at = r.err.find(curve);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_NEAR(std::atof(r.err.c_str() + at + curve.size()), 6.0, 0.6) << r.err;
    EXPECT_EQ(r.err.compare(r.err.find(',', at + curve.size()), 9, ",-,-,-,-\n"), 0) << r.err;
    // Best mode's band factors: one frame whose chroma shows no correlated noise keeps white
    // noise's in every band (the finest diagonal one being the level's own).
    EXPECT_NE(r.err.find("noise bands Y by level 0-3, H V D (times white noise's; *: not "
                         "measured): 1.00* 1.00* 1.00 | 1.00* 1.00* 1.00* | 1.00* 1.00* 1.00* | "
                         "1.00* 1.00* 1.00*\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(run_velmora({in, out}).err.find("noise curve"), std::string::npos);
    // The preview draws the curves below the frame: the planes' points in the middle of the
    // luma's bin (3 of 8: 96-127; chroma's noise is binned by the luma's brightness too), at no
    // other bin's middle; without --noise-curve, the frame alone.
    const velmora::RgbImage with_plot = velmora::read_png(png);
    ASSERT_EQ(run_velmora({"--preview", png, in, out}).status, 0);
    const velmora::RgbImage frame = velmora::read_png(png);
    ASSERT_EQ(with_plot.height, frame.height + 8 + velmora::kCurvePlotHeight);
    EXPECT_TRUE(std::equal(frame.pixels.begin(), frame.pixels.end(), with_plot.pixels.begin()));
    for (int bin = 0; bin < 8; ++bin) {
        int lit = 0;
        const int x = 8 + (2 * bin + 1) * (with_plot.width - 17) / 16;
        for (int y = frame.height + 8; y < with_plot.height; ++y) {
            const uint8_t* pixel = &with_plot.pixels[(size_t(y) * with_plot.width + x) * 3];
            for (const auto& colour : velmora::kCurveColours)
                lit += std::equal(pixel, pixel + 3, colour.begin());
        }
        EXPECT_EQ(lit > 0, bin == 3) << "bin " << bin;
    }
}

// A picture without noise is said to have none and comes back as it was; a still picture
// repeated, even a textured one, has no noise that changes in time; a flat one has nothing to
// measure.
TEST_F(CliModes, CleanStillAndFlatStreamsAreLeftAsTheyAre) {
    SplitMix64 rng{6};
    std::vector<double> texture(96 * 64);
    for (double& t : texture) t = 128 + rng.uniform(-40, 40);
    const auto textured = [&](int p, int x, int y) { return p ? 128.0 : texture[y * 96 + x]; };
    const struct {
        Stream stream;
        const char* says;
    } cases[] = {
        {stream_of(
             96, 64, 1, smooth, [](int) { return 0.0; }, 7),
         "plane Y: no noise found (estimate "},
        {stream_of(
             96, 64, 3, textured, [](int) { return 0.0; }, 8),
         "plane Y: no noise found (the picture does not change in frames 0-2)"},
        {stream_of(
             96, 64, 3, [](int, int, int) { return 16.0; }, [](int) { return 0.0; }, 9),
         "plane Y: nothing measurable yet in frames 0-2 (flat or clipped); left unfiltered"},
    };
    for (const auto& c : cases) {
        const std::string bytes = serialise(c.stream);
        write_file(in, bytes);
        const RunResult r = run_velmora({in, out});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(read_file(out) == bytes) << c.says;
    }
}

// The first window is measured before its first frame is filtered: a still texture with fresh
// noise is measured right over five frames, where its first frame alone reads the texture as
// noise. A black first frame is measured with the noisy frames after it.
TEST_F(CliModes, TheFirstWindowIsReadAhead) {
    SplitMix64 rng{10};
    std::vector<double> texture(128 * 96);
    for (double& t : texture) t = 128 + rng.uniform(-25, 25);
    const auto textured = [&](int p, int x, int y) { return p ? 128.0 : texture[y * 128 + x]; };
    write_file(in, serialise(stream_of(
                       128, 96, 6, textured, [](int) { return 4.0; }, 11)));
    const RunResult five = run_velmora({"--auto", "--sigma-chroma", "0", in, out});
    EXPECT_NEAR(printed(five.err, "Y"), 4.0, 0.25) << five.err;
    EXPECT_NE(five.err.find("frames 0-4: "), std::string::npos) << five.err;
    const RunResult one = run_velmora({"--auto", "--sigma-chroma", "0", "--frames", "1", in, out});
    EXPECT_GT(printed(one.err, "Y"), 6.0) << one.err;

    write_file(in, serialise(stream_of(
                       128, 96, 5, smooth, [](int i) { return i ? 6.0 : 0.0; }, 12)));
    Stream black = read_stream(in);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x) black.frames[0].set_sample(black.format, 0, x, y, 16);
    write_file(in, serialise(black));
    const RunResult after = run_velmora({"--auto", "--sigma-chroma", "0", in, out});
    EXPECT_NEAR(printed(after.err, "Y"), 6.0, 0.3) << after.err;
}

// Windows start again every --auto-every frames: the level changes with the noise, each frame
// filtered with its window's level, the same as a run that starts there (each frame on its own:
// averaged with its neighbours, the frames beside the start would differ).
TEST_F(CliModes, WindowsRefreshTheLevelAlongTheStream) {
    write_file(in, serialise(stream_of(
                       96, 64, 10, smooth, [](int i) { return i < 5 ? 2.0 : 9.0; }, 13)));
    const RunResult r = run_velmora({"--verbose", "--temporal", "0", "--auto-every", "5",
                                     "--sigma-luma", "auto", "--sigma-chroma", "0", in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(printed(r.err, "Y"), 2.0, 0.2) << r.err;
    const size_t second = r.err.find("frames 5-9: noise sigma Y ");
    ASSERT_NE(second, std::string::npos) << r.err;
    EXPECT_NEAR(std::stod(r.err.substr(second + 26)), 9.0, 0.4) << r.err;
    const Stream whole = read_stream(out);
    ASSERT_EQ(run_velmora({"--quiet", "--temporal", "0", "--auto", "--sigma-chroma", "0", "--start",
                           "5", in, out})
                  .status,
              0);
    const Stream tail = read_stream(out);
    ASSERT_EQ(tail.frames.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(tail.frames[i].data == whole.frames[5 + i].data) << i;
}

// A picture frozen after noisy frames keeps the level found before (the frozen noise is still
// noise); frozen from the start, it would be taken for a clean still.
TEST_F(CliModes, AFrozenPictureKeepsTheLevelFoundBefore) {
    Stream stream = stream_of(
        96, 64, 10, smooth, [](int) { return 6.0; }, 14);
    for (int i = 6; i < 10; ++i) stream.frames[i] = stream.frames[5];
    write_file(in, serialise(stream));
    const RunResult r = run_velmora(
        {"--verbose", "--auto-every", "5", "--sigma-chroma", "0", "--sigma-luma", "auto", in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("plane Y: the picture does not change in frames 5-9; the level found "
                         "before stays"),
              std::string::npos)
        << r.err;
    const Stream result = read_stream(out);
    for (int i = 5; i < 10; ++i)
        EXPECT_FALSE(result.frames[i].data == stream.frames[i].data) << "frame " << i;
}

}  // namespace
