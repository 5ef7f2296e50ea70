// velmora as a program: every colour space and depth through the stream, planes filtered at
// their own sizes, headers passed through, bad input refused with exit status 2 and one line,
// no partial output, a closed pipe, an interrupt, and the preview picture.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <thread>

#include "lib/plane_engine.h"
#include "lib/strength.h"
#include "tests/cli_test_support.h"
#include "tools/velmora/command/app.h"
#include "tools/velmora/preview/preview.h"

extern char** environ;

namespace {

using namespace velmora;

using namespace cli_test;
using velmora::Frame;
using velmora::StreamFormat;
using velmora::Subsampling;

struct Kind {
    Subsampling subsampling;
    SampleFormat format;
    const char* colour_space;  // as ffmpeg writes it
};

// Every colour space the tool accepts, written with the name ffmpeg gives it.
const Kind kKinds[] = {
    {Subsampling::s420, SampleFormat::u8, "420jpeg"},
    {Subsampling::s420, SampleFormat::u8, "420paldv"},
    {Subsampling::s420, SampleFormat::u8, "420mpeg2"},
    {Subsampling::s420, SampleFormat::u8, "420"},
    {Subsampling::s411, SampleFormat::u8, "411"},
    {Subsampling::s422, SampleFormat::u8, "422"},
    {Subsampling::s444, SampleFormat::u8, "444"},
    {Subsampling::mono, SampleFormat::u8, "mono"},
    {Subsampling::s420, SampleFormat::u10, "420p10"},
    {Subsampling::s422, SampleFormat::u10, "422p10"},
    {Subsampling::s444, SampleFormat::u10, "444p10"},
    {Subsampling::mono, SampleFormat::u10, "mono10"},
    {Subsampling::s420, SampleFormat::u12, "420p12"},
    {Subsampling::s422, SampleFormat::u12, "422p12"},
    {Subsampling::s444, SampleFormat::u12, "444p12"},
    {Subsampling::mono, SampleFormat::u12, "mono12"},
    {Subsampling::s420, SampleFormat::u16, "420p16"},
    {Subsampling::s422, SampleFormat::u16, "422p16"},
    {Subsampling::s444, SampleFormat::u16, "444p16"},
    {Subsampling::mono, SampleFormat::u16, "mono16"},
};

// A stream of `kind` whose headers carry extra parameters that must pass through.
Stream stream_of(const Kind& kind, int w, int h, int frames, uint64_t seed) {
    Stream s = make_stream(w, h, kind.subsampling, kind.format, frames, seed);
    s.format.header = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) +
                      " F30000:1001 It A128:117 C" + kind.colour_space +
                      " XCOLORRANGE=LIMITED XVELMORA=kept\n";
    for (size_t i = 0; i < s.frames.size(); ++i)
        s.frames[i].header = i % 2 ? "FRAME Ixyz XFRAME=" + std::to_string(i) + "\n" : "FRAME\n";
    return s;
}

class EveryKind : public ::testing::TestWithParam<Kind> {
protected:
    TempDir dir;
    std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");
};

// Thresholds 0 leave every plane untouched: the stream comes back byte for byte, headers
// included. 35 x 19 gives odd chroma sizes (18 x 10 for 4:2:0, 9 x 19 for 4:1:1).
TEST_P(EveryKind, ThresholdsZeroGiveTheStreamBack) {
    const std::string bytes = serialise(stream_of(GetParam(), 35, 19, 3, 1));
    write_file(in, bytes);
    for (const std::vector<std::string>& strength :
         {std::vector<std::string>{"--sigma", "0"},
          std::vector<std::string>{"--tracks", "0:0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"}}) {
        std::vector<std::string> args = strength;
        args.insert(args.end(), {"--quiet", in, out});
        const RunResult r = run_velmora(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(read_file(out) == bytes) << strength[0];
    }
}

// Each plane is filtered at its own size by the engine: without --temporal the same as the
// engine run on that plane alone, each field on its own (the stream is interlaced), in either
// mode; and any thread count gives the same bytes, with frames averaged (--temporal 3) too.
TEST_P(EveryKind, EachPlaneIsFilteredAtItsOwnSize) {
    const Stream stream = stream_of(GetParam(), 77, 45, 2, 2);
    write_file(in, serialise(stream));
    for (const char* mode : {"exact", "best"}) {
        SCOPED_TRACE(mode);
        const bool exact = mode[0] == 'e';
        for (const char* temporal : {"3", "0"}) {
            std::string previous;
            for (const char* threads : {"1", "2", "3"}) {
                const RunResult r =
                    run_velmora({"--quiet", "--mode", mode, "--sigma-luma", "6", "--sigma-chroma",
                                 "9", "--temporal", temporal, "--threads", threads, in, out});
                ASSERT_EQ(r.status, 0) << r.err;
                const std::string bytes = read_file(out);
                if (!previous.empty()) {
                    EXPECT_TRUE(bytes == previous)
                        << threads << " threads, --temporal " << temporal;
                }
                previous = bytes;
            }
        }
        const Stream result = read_stream(out);
        const StreamFormat& f = stream.format;
        ASSERT_EQ(result.format.header, f.header);
        ASSERT_EQ(result.frames.size(), stream.frames.size());
        ReferenceEngine engine(77, 45, 2);
        for (size_t i = 0; i < stream.frames.size(); ++i) {
            EXPECT_EQ(result.frames[i].header, stream.frames[i].header);
            Frame expected = stream.frames[i];
            for (int p = 0; p < f.planes(); ++p) {
                if (exact)
                    filter_plane(engine, f, expected, p,
                                 velmora::row_for_sigma(p ? 9.0 : 6.0, 3.0, sample_format(f)),
                                 true);
                else
                    filter_plane_best(engine, f, expected, p, p ? 9.0 : 6.0, true);
            }
            ASSERT_TRUE(result.frames[i].data == expected.data) << "frame " << i;
            ASSERT_FALSE(result.frames[i].data == stream.frames[i].data) << "nothing was filtered";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ColourSpaces, EveryKind, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.colour_space); });

class Cli : public ::testing::Test {
protected:
    TempDir dir;
    std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");
};

const std::string kHeader = "YUV4MPEG2 W32 H16 F25:1 Ip A1:1 C420jpeg\n";
const size_t kFrameBytes = 32 * 16 * 3 / 2;  // 768

std::string frame_of(size_t bytes, char value = 100) {
    return "FRAME\n" + std::string(bytes, value);
}

struct BadInput {
    const char* name;
    std::string bytes;
    const char* says;  // part of the one-line message
};

std::vector<BadInput> bad_inputs() {
    const std::string good = kHeader + frame_of(kFrameBytes) + frame_of(kFrameBytes);
    return {
        {"empty", "", "not a YUV4MPEG2 stream"},
        {"not y4m", "\x1a\x45\xdf\xa3 matroska\n" + std::string(100, '\x01'),
         "not a YUV4MPEG2 stream"},
        {"magic without space", "YUV4MPEG2W32 H16\n", "not a YUV4MPEG2 stream"},
        {"truncated header", "YUV4MPEG2 W32 H1", "stream header: truncated"},
        {"header without line end", "YUV4MPEG2 W32 H16 " + std::string(5000, 'X'), "no line end"},
        {"malformed width", "YUV4MPEG2 W3x2 H16 C420jpeg\n", "malformed width '3x2'"},
        {"no height", "YUV4MPEG2 W32 C420jpeg\n", "no height"},
        {"width twice", "YUV4MPEG2 W32 H16 W16 C420jpeg\n", "parameter W is given twice"},
        {"tabs", "YUV4MPEG2\tW32\tH16\n", "separated by tabs"},
        {"width 0", "YUV4MPEG2 W0 H16 C420jpeg\n", "width 0 outside 1..16384"},
        {"height above limit", "YUV4MPEG2 W32 H16385 C420jpeg\n", "height 16385 outside"},
        {"unknown colour space", "YUV4MPEG2 W32 H16 C420xyz\n",
         "unsupported colour space 'C420xyz'"},
        {"alpha", "YUV4MPEG2 W32 H16 C444alpha\n", "unsupported colour space 'C444alpha'"},
        {"9-bit", "YUV4MPEG2 W32 H16 C420p9\n", "unsupported sample depth 9 bits"},
        {"14-bit mono", "YUV4MPEG2 W32 H16 Cmono14\n", "unsupported sample depth 14 bits"},
        {"frame header without data", good + "FRAME\n",
         "frame 2: FRAME header without picture data"},
        {"cut inside a frame", good + frame_of(500),
         "frame 2: the stream ends inside the picture data (500 of 768 bytes)"},
        {"garbage instead of FRAME", kHeader + frame_of(kFrameBytes) + "FRAMX\n",
         "frame 1: expected a FRAME header"},
        {"truncated FRAME header", good + "FRA", "frame 2: truncated FRAME header"},
    };
}

TEST_F(Cli, BadInputIsRefusedWithOneLineAndStatus2AndNoOutput) {
    for (const BadInput& c : bad_inputs()) {
        SCOPED_TRACE(c.name);
        write_file(in, c.bytes);
        for (bool through_pipe : {false, true}) {
            const RunResult r = through_pipe ? run_velmora({"--sigma", "3", "-", out}, in)
                                             : run_velmora({"--sigma", "3", in, out});
            EXPECT_EQ(r.status, 2);
            EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.y4m"});
        }
    }
}

// Frames of several MiB: the first one's buffer grows with the data, later ones are made whole
// at once; a frame cut short after whole ones is still reported with what came of it.
TEST_F(Cli, LargeFramesAfterAWholeOneAreStillCheckedForTheirSize) {
    const std::string header = "YUV4MPEG2 W1536 H1024 F25:1 Ip A1:1 C444\n";
    const size_t bytes = size_t{1536} * 1024 * 3;
    const std::string whole = header + frame_of(bytes, 90) + frame_of(bytes, 110);
    write_file(in, whole + frame_of(bytes - 1000, 120));
    for (bool through_pipe : {false, true}) {
        SCOPED_TRACE(through_pipe ? "pipe" : "file");
        const RunResult r = through_pipe
                                ? run_velmora({"--mode", "exact", "--sigma", "3", "-", out}, in)
                                : run_velmora({"--mode", "exact", "--sigma", "3", in, out});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(
            r.err.find("frame 2: the stream ends inside the picture data (" +
                       std::to_string(bytes - 1000) + " of " + std::to_string(bytes) + " bytes)"),
            std::string::npos)
            << r.err;
    }
    write_file(in, whole);
    ASSERT_EQ(run_velmora({"--mode", "exact", "--sigma", "0", in, out}).status, 0);
    EXPECT_EQ(read_file(out), whole);
}

TEST_F(Cli, AnExistingOutputSurvivesAFailedRun) {
    write_file(out, "precious");
    write_file(in, kHeader + frame_of(kFrameBytes) + frame_of(10));
    EXPECT_EQ(run_velmora({"--sigma", "3", in, out}).status, 2);
    EXPECT_EQ(read_file(out), "precious");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "out.y4m"}));
}

TEST_F(Cli, CommandLineMistakesGiveStatus1) {
    write_file(in, kHeader + frame_of(kFrameBytes));
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus", in, out},
        {in},
        {"--sigma", "3", "--auto", in, out},
        {"--sigma", "-1", in, out},
        {"--tracks", "0:1,2,3", in, out},
        {"--tracks", "3:0,0,0,0,0,0,0,0,0,0,0,0,0,0,0", in, out},
        {"--learn-every-frame", in, out},
        {"--learn", "0,0", in, out},  // a 128x128 box does not fit into 32x16
        {"--learn", "0,0,17", in, out},
        {"--learn", "0,0,1", in, out},
        {"--learn", "0,0,8,8", in, out},
        {"--threads", "0", in, out},
        {"--sigma", "2", dir.file("missing.y4m"), out},
    };
    for (const auto& args : cases) {
        const RunResult r = run_velmora(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_NE(r.err.find("velmora: "), std::string::npos) << args[0];
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.y4m"});
    const RunResult help = run_velmora({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--sigma"), std::string::npos);
}

// --learn with a box of its own size learns from that box on the first frame, as the engine does.
TEST_F(Cli, LearningTakesABoxOfAnySize) {
    const Stream stream = make_stream(96, 64, Subsampling::s444, SampleFormat::u8, 2, 5);
    write_file(in, serialise(stream));
    const RunResult r = run_velmora({"--quiet", "--learn", "24,8,40", in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const Stream result = read_stream(out);
    const StreamFormat& f = stream.format;
    ReferenceEngine engine(96, 64, 1);
    std::array<velmora::ThresholdRow, 3> rows;
    for (size_t i = 0; i < stream.frames.size(); ++i) {
        Frame expected = stream.frames[i];
        for (int p = 0; p < f.planes(); ++p) {
            const PlaneView view = plane_view(f, expected, p);
            engine.analyse(view);
            if (i == 0) rows[p] = engine.learn(24, 8, 40);
            engine.threshold(rows[p]);
            engine.synthesise(view);
        }
        EXPECT_TRUE(result.frames[i].data == expected.data) << "frame " << i;
    }
    EXPECT_NE(engine.learn(24, 8, 40), engine.learn(24, 8, 128)) << "the size made no difference";
}

// Standard input to standard output, and a device as the output.
TEST_F(Cli, PipesAndDevices) {
    const Stream stream = make_stream(40, 24, Subsampling::s420, SampleFormat::u8, 2, 3);
    write_file(in, serialise(stream));
    const RunResult piped = run_velmora({"--sigma", "4", "--quiet", "-", "-"}, in);
    ASSERT_EQ(piped.status, 0) << piped.err;
    const RunResult file = run_velmora({"--sigma", "4", "--quiet", in, out});
    ASSERT_EQ(file.status, 0);
    EXPECT_TRUE(piped.out == read_file(out));
    EXPECT_EQ(run_velmora({"--sigma", "4", in, "/dev/null"}).status, 0);
}

// The reader of the output goes away: the tool ends quietly, with status 0.
TEST_F(Cli, AClosedOutputPipeEndsQuietly) {
    const Stream stream = make_stream(320, 240, Subsampling::s420, SampleFormat::u8, 20, 4);
    write_file(in, serialise(stream));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);  // nobody will read
    const std::string err_path = dir.file("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0644);
    const char* argv[] = {VELMORA_CLI, "--sigma", "4", "-", "-", nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, VELMORA_CLI, &actions, nullptr, const_cast<char**>(argv), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(err_path), "");
}

// The reader of the output goes away while the input stays open and quiet: reading the next
// frame is given up, and the tool ends quietly instead of waiting for input that never comes.
TEST_F(Cli, AClosedOutputPipeEndsTheRunWhileTheInputWaits) {
    const Stream stream = make_stream(64, 48, Subsampling::s420, SampleFormat::u8, 3, 4);
    int input[2], output[2];
    ASSERT_EQ(::pipe(input), 0);
    ASSERT_EQ(::pipe(output), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    const char* argv[] = {VELMORA_CLI, "--quiet", "--sigma", "4",    "--temporal",
                          "0",         "-",       "-",       nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, VELMORA_CLI, &actions, nullptr, const_cast<char**>(argv), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    const std::string bytes = serialise(stream);
    ASSERT_EQ(::write(input[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    char first[16];
    ASSERT_GT(::read(output[0], first, sizeof first), 0);
    ::close(output[0]);  // gone: the next write fails, while the input stays open
    int status = 0;
    pid_t done = 0;
    for (int wait = 0; wait < 400 && done == 0; ++wait) {
        done = ::waitpid(pid, &status, WNOHANG);
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(input[1]);
    ASSERT_EQ(done, pid) << "still waiting for input after its output was closed";
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Interrupted while writing: the temporary file beside the target goes too.
TEST_F(Cli, AnInterruptLeavesNoPartialFile) {
    const Stream stream = make_stream(64, 48, Subsampling::s420, SampleFormat::u8, 1, 5);
    // One frame, then the stream stays open: the tool waits for more with its file in place.
    WaitingRun interrupted({"--sigma", "4", "-", out}, serialise(stream));
    const std::string temporary = wait_for_entry(dir, ".out.y4m.");
    ASSERT_FALSE(temporary.empty());
    EXPECT_EQ(dir.entries(), std::vector<std::string>{temporary});
    const int status = interrupted.stop(SIGTERM);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(dir.entries().empty());
}

// The picture holds frame N before (left) and after (right), as frame_to_rgb draws them.
TEST_F(Cli, PreviewShowsTheChosenFrameBeforeAndAfter) {
    const Stream stream = make_stream(48, 30, Subsampling::s420, SampleFormat::u10, 4, 6);
    write_file(in, serialise(stream));
    const std::string png = dir.file("look.png");
    const RunResult r =
        run_velmora({"--sigma", "5", "--preview", png, "--preview-frame", "2", in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const Stream result = read_stream(out);
    const velmora::RgbImage picture = velmora::read_png(png);
    const velmora::RgbImage expected =
        velmora::side_by_side(velmora::frame_to_rgb(stream.format, stream.frames[2]),
                              velmora::frame_to_rgb(stream.format, result.frames[2]));
    ASSERT_EQ(picture.width, 2 * 48 + 8);
    ASSERT_EQ(picture.height, 30);
    EXPECT_TRUE(picture.pixels == expected.pixels);
    EXPECT_FALSE(velmora::frame_to_rgb(stream.format, stream.frames[2]).pixels ==
                 velmora::frame_to_rgb(stream.format, result.frames[2]).pixels);

    const RunResult late = run_velmora(
        {"--sigma", "5", "--preview", dir.file("late.png"), "--preview-frame", "4", in, out});
    EXPECT_EQ(late.status, 1);
    EXPECT_NE(late.err.find("only 4 frames"), std::string::npos) << late.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "look.png", "out.y4m"}));
}

// What the tool says: the estimated noise with --auto, thresholds in the plug-in's track units
// with --verbose (16-bit planes too, where the entries are 16 times the tracks), nothing with
// --quiet.
TEST_F(Cli, MessagesOnStandardError) {
    const Stream stream = make_stream(64, 40, Subsampling::s420, SampleFormat::u16, 3, 7);
    write_file(in, serialise(stream));
    // Measured over windows of up to 5 frames, from frame 0 and every 2 frames: each
    // measurement with --verbose, the first one without it.
    const RunResult automatic = run_velmora({"--verbose", "--auto-every", "2", in, out});
    ASSERT_EQ(automatic.status, 0) << automatic.err;
    EXPECT_NE(automatic.err.find("frames 0-2: noise sigma Y "), std::string::npos) << automatic.err;
    EXPECT_NE(automatic.err.find("frame 2: noise sigma Y "), std::string::npos) << automatic.err;
    EXPECT_NE(automatic.err.find("frame 2: noise levels in use Y "), std::string::npos)
        << automatic.err;
    EXPECT_EQ(automatic.err.find("frame 1:"), std::string::npos) << automatic.err;
    const RunResult first = run_velmora({"--auto-every", "2", in, out});
    EXPECT_NE(first.err.find("frames 0-2: noise sigma Y "), std::string::npos) << first.err;
    EXPECT_EQ(first.err.find("frame 2:"), std::string::npos) << first.err;

    const RunResult verbose = run_velmora(
        {"--verbose", "--tracks", "0:7,8,9,10,11,12,13,14,15,16,17,18,19,20,4096", in, out});
    ASSERT_EQ(verbose.status, 0) << verbose.err;
    EXPECT_NE(verbose.err.find("Y: 7 8 9 10 11 12 13 14 15 16 17 18 19 20 4096\n"),
              std::string::npos)
        << verbose.err;
    EXPECT_NE(verbose.err.find("Cb: 0 0 0"), std::string::npos) << verbose.err;

    EXPECT_EQ(run_velmora({"--quiet", "--auto", in, out}).err, "");
}

}  // namespace

namespace {

// Plane sizes round up (a 35-sample row has 18 chroma samples in 4:2:0), and 10- to 16-bit
// samples take two bytes.
TEST(StreamHeader, PlaneSizesOfEachColourSpace) {
    struct Case {
        const char* header;
        int planes, chroma_w, chroma_h;
        size_t frame_bytes;
    } cases[] = {
        {"YUV4MPEG2 W35 H19 C420jpeg", 3, 18, 10, 35 * 19 + 2 * 18 * 10},
        {"YUV4MPEG2 W35 H19 C420paldv", 3, 18, 10, 35 * 19 + 2 * 18 * 10},
        {"YUV4MPEG2 W35 H19", 3, 18, 10, 35 * 19 + 2 * 18 * 10},  // 4:2:0 when not said
        {"YUV4MPEG2 W35 H19 C411", 3, 9, 19, 35 * 19 + 2 * 9 * 19},
        {"YUV4MPEG2 W35 H19 C422p10", 3, 18, 19, 2 * (35 * 19 + 2 * 18 * 19)},
        {"YUV4MPEG2 W35 H19 C444p16", 3, 35, 19, 2 * 3 * 35 * 19},
        {"YUV4MPEG2 W35 H19 Cmono12", 1, 0, 0, 2 * 35 * 19},
        {"YUV4MPEG2 H19 W35 Ip F24:1 A0:0 C420p12 XYSCSS=420P12", 3, 18, 10,
         2 * (35 * 19 + 2 * 18 * 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        const velmora::StreamFormat f = velmora::parse_stream_header(c.header);
        EXPECT_EQ(f.width, 35);
        EXPECT_EQ(f.height, 19);
        ASSERT_EQ(f.planes(), c.planes);
        if (c.planes == 3) {
            EXPECT_EQ(f.plane_width(1), c.chroma_w);
            EXPECT_EQ(f.plane_height(2), c.chroma_h);
        }
        EXPECT_EQ(f.frame_bytes(), c.frame_bytes);
    }
}

// The command can run many times in one process (as the fuzz target runs it): each run closes
// every file it opened, whether it succeeds or refuses the stream.
TEST_F(Cli, ARunClosesTheFilesItOpened) {
    const auto open_files = [] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::directory_iterator("/proc/self/fd"))
            ++n;
        return n;
    };
    const auto velmora_in_process = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "velmora");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        return velmora::velmora_main(static_cast<int>(argv.size()), argv.data());
    };
    const size_t before = open_files();
    write_file(in, kHeader + frame_of(kFrameBytes));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(velmora_in_process({"--quiet", "--sigma", "3", in, out}), 0);
    write_file(in, kHeader + frame_of(10));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(velmora_in_process({"--quiet", "--sigma", "3", in, out}), 2);
    EXPECT_EQ(open_files(), before);
}

// Frames of several megabytes arrive whole; a header announcing a huge picture over a short
// stream is refused having held no more than the stream brought.
TEST(StreamReader, TheFrameBufferGrowsWithTheData) {
    const auto reader_over = [](const std::string& bytes) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        std::thread writer([fd = fds[1], bytes] {
            for (size_t done = 0; done < bytes.size();) {
                const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            close(fd);
        });
        writer.detach();
        return fds[0];
    };
    std::string picture(1920 * 1080 * 3, 0);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 7 + i / 4093);
    const int whole = reader_over("YUV4MPEG2 W1920 H1080 C444\n" + frame_of(0) + picture);
    velmora::Y4mReader reader(whole);
    const StreamFormat format = reader.read_header();
    Frame frame;
    ASSERT_TRUE(reader.read_frame(format, frame));
    EXPECT_TRUE(std::equal(picture.begin(), picture.end(),
                           reinterpret_cast<const char*>(frame.data.data())));
    EXPECT_EQ(frame.data.size(), picture.size());
    EXPECT_FALSE(reader.read_frame(format, frame));
    close(whole);

    const int short_stream = reader_over("YUV4MPEG2 W16384 H16384 C444p16\n" + frame_of(3000000));
    velmora::Y4mReader huge(short_stream);
    const StreamFormat huge_format = huge.read_header();
    Frame partial;
    EXPECT_THROW(huge.read_frame(huge_format, partial), velmora::InputError);
    EXPECT_LE(partial.data.capacity(), size_t{8} << 20);
    close(short_stream);
}

}  // namespace
