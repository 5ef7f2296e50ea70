// The command as a user meets it: mistakes found before the run, closed or unfit standard
// streams, foreign inputs and output names pointed at ffmpeg, the progress report, a segment of the
// stream, the frames before damage kept on request, and previews of a region with the difference
// picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "tests/cli_test_support.h"
#include "tools/velmora/preview/preview.h"

namespace {

using namespace cli_test;
using velmora::Subsampling;

class CliCommand : public ::testing::Test {
protected:
    TempDir dir;
    std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");
    Stream stream = make_stream(48, 30, Subsampling::s420, SampleFormat::u8, 6, 31);

    void SetUp() override { write_file(in, serialise(stream)); }

    // What a run with --sigma 4, each frame on its own, writes for `input`.
    std::string filtered(const std::string& input) {
        const std::string path = dir.file("reference.y4m");
        const RunResult r =
            run_velmora({"--quiet", "--sigma", "4", "--temporal", "0", input, path});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string bytes = read_file(path);
        ::unlink(path.c_str());
        return bytes;
    }
};

bool printable_lines(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7f); });
}

TEST_F(CliCommand, WithoutArgumentsItPointsAtHelpAndItHasAVersion) {
    const RunResult bare = run_velmora({});
    EXPECT_EQ(bare.status, 1);
    EXPECT_NE(bare.err.find("Usage: velmora [OPTIONS] INPUT OUTPUT"), std::string::npos);
    EXPECT_NE(bare.err.find("velmora --help"), std::string::npos);
    const RunResult version = run_velmora({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("velmora [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << version.out;
    EXPECT_NE(run_velmora({"--help"}).out.find("--keep-partial"), std::string::npos);
}

// Each mistake is one line naming the option, exit status 1, and nothing written.
TEST_F(CliCommand, MistakesInTheCommandAreNamedBeforeAnythingIsRead) {
    const std::string png = dir.file("p.png");
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--auto-every", "0", in, out}, "--auto-every: '0' is not a whole number of 1 or more"},
        {{"--preview-frame", "2", in, out}, "--preview-frame needs --preview"},
        {{"--preview-crop", "8x8+0+0", in, out}, "--preview-crop needs --preview"},
        {{"--preview-diff", in, out}, "--preview-diff needs --preview"},
        {{"--preview", png, "--preview-diff", "--view", "coefficients", in, out},
         "--preview-diff shows what the filter changed"},
        {{"--preview", png, "--preview-crop", "8x8+0", in, out}, "is not WIDTHxHEIGHT+X+Y"},
        {{"--preview", png, "--preview-crop", "0x8+0+0", in, out}, "'0' is not a whole number"},
        {{"--start", "3", "--preview", png, "--preview-frame", "2", in, out},
         "--preview-frame 2 is not one of the frames filtered (3 to the end)"},
        {{"--start", "1", "--frames", "2", "--preview", png, "--preview-frame", "3", in, out},
         "(1 to 2)"},
        {{"--frames", "0", in, out}, "--frames: '0' is not a whole number of 1 or more"},
        {{"--progress", "sometimes", in, out}, "expected auto, always, machine or never"},
        {{in, dir.file("out.mkv")}, "not Matroska; encode it with ffmpeg: velmora [OPTIONS] "},
        {{in, dir.file("OUT.MP4")}, "not MP4"},
        {{in, dir.file("a b.webm")}, "ffmpeg -f yuv4mpegpipe -i - '"},
        {{in, dir.file("out.yuv")}, "not raw video"},
        {{in}, "got only '" + in + "'"},
        {{"--preview", in, in, out}, "--preview '" + in + "' is the input; the picture would"},
        {{"--preview", out, in, out}, "--preview '" + out + "' is the output"},
    };
    for (const auto& c : cases) {
        const RunResult r = run_velmora(c.args);
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.find("9223372036854775807"), std::string::npos) << r.err;
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.y4m"});
    // Forced, the stream goes under such a name.
    ASSERT_EQ(run_velmora({"--quiet", "--sigma", "4", "--temporal", "0", "--force-y4m", in,
                           dir.file("y.mkv")})
                  .status,
              0);
    EXPECT_TRUE(read_file(dir.file("y.mkv")) == filtered(in));
}

// A closed standard stream is never taken for a file the run opens: with a file output the run
// writes it. Video is not read from a terminal, nor help written where it cannot go.
TEST_F(CliCommand, ClosedOrUnfitStandardStreamsAreNamed) {
    const std::vector<std::string> filter = {"--quiet", "--sigma", "4", "--temporal", "0"};
    const auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), filter.begin(), filter.end());
        return args;
    };
    const struct {
        const char* redirect;
        std::vector<std::string> args;
        const char* says;  // empty: the run succeeds
    } cases[] = {
        {">&-", with({"-", out}), ""},
        {"<&- >&-", with({in, out}), ""},
        {"<&-", with({"-", out}), "standard input is closed"},
        {">&-", with({in, "-"}), "standard output is closed"},
        {">&-", {"--help"}, "cannot write to standard output: it is closed"},
        {">/dev/full", {"--version"}, "cannot write to standard output: No space left"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.redirect + (" " + c.args.back()));
        std::vector<std::string> args = {"-c", std::string("exec \"$0\" \"$@\" ") + c.redirect,
                                         VELMORA_CLI};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run("/bin/sh", args, in);
        if (*c.says == '\0') {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(read_file(out) == filtered(in));
            ::unlink(out.c_str());
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        }
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.y4m"});
    }
    // Bounded: a run that waits for a terminal's input would wait for ever.
    const RunResult terminal =
        run("/usr/bin/timeout", {"10", VELMORA_CLI, "--sigma", "4", "-", out}, "/dev/ptmx");
    EXPECT_EQ(terminal.status, 1);
    EXPECT_NE(terminal.err.find("refusing to read video from a terminal"), std::string::npos);
}

// Short of memory, the run fails with a message that names the frames and what needs less, and
// that does work under the same limit.
TEST_F(CliCommand, OutOfMemoryNamesTheWayOut) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtimes need more memory than the limit";
#endif
    write_file(in, serialise(make_stream(1024, 1024, Subsampling::s444, SampleFormat::u8, 8, 3)));
    const auto limited = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--data=150000000", VELMORA_CLI, "--quiet", "--sigma", "4"});
        args.insert(args.end(), {in, out});
        return run("/usr/bin/prlimit", args);
    };
    const RunResult short_of_memory = limited({});
    EXPECT_EQ(short_of_memory.status, 1);
    EXPECT_NE(short_of_memory.err.find(" for 1024x1024 frames (3 MiB each) with --temporal 3 on"),
              std::string::npos)
        << short_of_memory.err;
    EXPECT_NE(short_of_memory.err.find("a smaller --temporal radius (0: none), fewer --threads"),
              std::string::npos);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.y4m"});
    EXPECT_EQ(limited({"--temporal", "0", "--threads", "1"}).status, 0);
}

// What can be known from the stream's header, and from a file's length, is checked before any
// frame is filtered: no output appears. From a pipe the frame count is known only at the end.
TEST_F(CliCommand, PreviewMistakesAreFoundBeforeTheRun) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--preview", dir.file("missing/p.png"), in, out}, "--preview: cannot create"},
        {{"--preview", dir.file("p.png"), "--preview-frame", "6", in, out},
         "--preview-frame 6: the stream has only 6 frames"},
        {{"--preview", dir.file("p.png"), "--preview-crop", "40x10+9+0", in, out},
         "--preview-crop 40x10+9+0 does not fit into the 48x30 picture"},
        {{"--start", "6", in, out}, "--start 6: the stream has only 6 frames"},
    };
    for (const auto& c : cases) {
        const RunResult r = run_velmora(c.args);
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.y4m"});
    }
    const RunResult piped = run_velmora_piped(
        {"--sigma", "4", "--preview", dir.file("p.png"), "--preview-frame", "6", "-", out},
        read_file(in));
    EXPECT_EQ(piped.status, 1);
    EXPECT_NE(piped.err.find("--preview-frame 6: the stream has only 6 frames; no preview"),
              std::string::npos)
        << piped.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "out.y4m"}));
}

// Other formats are named from their first bytes, with the command that decodes them; the
// message holds printable characters only, whatever the input.
TEST_F(CliCommand, AForeignInputGetsAHintInsteadOfBinaryNoise) {
    std::string ts;
    for (int i = 0; i < 4; ++i) ts += "\x47" + std::string(187, '\xff');
    std::string m2ts;
    for (int i = 0; i < 4; ++i) m2ts += std::string(4, '\x01') + "\x47" + std::string(187, '\0');
    const struct {
        std::string bytes;
        const char* says;
    } cases[] = {
        {std::string("\x1a\x45\xdf\xa3\x9f\x42\x86\x81\x01", 9) + std::string(300, '\x80'),
         "but a Matroska or WebM file"},
        {std::string("\0\0\0\x20"
                     "ftypisom\0\0\x02\0",
                     16) +
             std::string(100, '\xee'),
         "but an MP4 or QuickTime file"},
        {std::string("RIFF\x24\xf0\0\0"
                     "AVI LIST",
                     16),
         "but an AVI file"},
        {ts, "but an MPEG transport stream"},
        {m2ts, "but an MPEG transport stream"},
        {std::string("\0\0\x01\xba\x44", 5), "but an MPEG program stream"},
        {"\x89PNG\r\n\x1a\n", "but a PNG picture"},
        {std::string("\x01\xfe\0\n\x7f\\'abc", 10),
         "(it begins with '\\x01\\xfe\\x00\\x0a\\x7f\\x5c\\x27abc')"},
    };
    for (const auto& c : cases) {
        write_file(in, c.bytes);
        for (bool piped : {false, true}) {
            const RunResult r =
                piped ? run_velmora_piped({"-", out}, c.bytes) : run_velmora({in, out});
            EXPECT_EQ(r.status, 2) << c.says;
            EXPECT_NE(r.err.find("not a YUV4MPEG2 stream"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("decode it with ffmpeg first: ffmpeg -i " +
                                 (piped ? std::string("-") : in) + " -f yuv4mpegpipe - | velmora"),
                      std::string::npos)
                << r.err;
            EXPECT_TRUE(printable_lines(r.err)) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.y4m"});
}

// The progress report for programs: one line each update and always one at the end, with the
// total when the input is a file; the terminal line on request; none when not asked for.
TEST_F(CliCommand, ProgressCanBeForcedAndReadByPrograms) {
    const std::regex machine_line(
        "progress frame=[0-9]+( total=[0-9]+)? fps=[0-9.]+ elapsed=[0-9.]+( eta=[0-9.]+)?");
    const auto progress_lines = [](const std::string& err) {
        std::vector<std::string> lines;
        for (size_t at = 0; (at = err.find("progress ", at)) != err.npos;) {
            const size_t end = err.find('\n', at);
            lines.push_back(err.substr(at, end - at));
            at = end;
        }
        return lines;
    };
    const RunResult file = run_velmora({"--quiet", "--auto", "--progress", "machine", in, out});
    ASSERT_EQ(file.status, 0) << file.err;
    std::vector<std::string> lines = progress_lines(file.err);
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, machine_line)) << line;
    EXPECT_TRUE(lines.back().starts_with("progress frame=6 total=6 ")) << lines.back();
    EXPECT_EQ(file.err.find("velmora:"), std::string::npos) << "--quiet still rules messages";

    const RunResult piped =
        run_velmora_piped({"--sigma", "4", "--progress=machine", "-", out}, read_file(in));
    lines = progress_lines(piped.err);
    ASSERT_FALSE(lines.empty()) << piped.err;
    EXPECT_TRUE(lines.back().starts_with("progress frame=6 fps=")) << lines.back();

    const RunResult line = run_velmora({"--sigma", "4", "--progress", "always", in, out});
    EXPECT_NE(line.err.find("\rframe 6/6  "), std::string::npos) << line.err;
    for (const char* mode : {"auto", "never"}) {
        const RunResult quiet = run_velmora({"--sigma", "4", "--progress", mode, in, out});
        EXPECT_EQ(quiet.err, "") << mode;
    }
}

// --start and --frames: only those frames, filtered as in a whole run, from a file (seeked
// over) and from a pipe (read and dropped); measurements start at the first of them.
TEST_F(CliCommand, ASegmentIsFilteredAlone) {
    const Stream whole = [&] {
        write_file(out, filtered(in));
        return read_stream(out);
    }();
    for (bool piped : {false, true}) {
        SCOPED_TRACE(piped ? "pipe" : "file");
        const std::vector<std::string> args = {"--quiet", "--sigma",        "4", "--temporal",
                                               "0",       "--start",        "2", "--frames",
                                               "3",       piped ? "-" : in, out};
        const RunResult r = piped ? run_velmora_piped(args, read_file(in)) : run_velmora(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Stream segment = read_stream(out);
        EXPECT_EQ(segment.format.header, stream.format.header);
        ASSERT_EQ(segment.frames.size(), 3u);
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(segment.frames[i].data == whole.frames[2 + i].data);
    }
    // To the end when fewer frames are left; the noise measured from the first frame filtered.
    const RunResult tail = run_velmora({"--auto", "--start", "4", "--frames", "10", in, out});
    ASSERT_EQ(tail.status, 0) << tail.err;
    EXPECT_EQ(read_stream(out).frames.size(), 2u);
    EXPECT_NE(tail.err.find("frames 4-5"), std::string::npos) << tail.err;
    EXPECT_EQ(tail.err.find("frame 0:"), std::string::npos) << tail.err;
    // Damage among the frames skipped is still damage; a pipe too short for the start is said.
    const std::string bytes = read_file(in);
    const size_t frame = (bytes.size() - stream.format.header.size()) / 6;
    write_file(in, bytes.substr(0, stream.format.header.size() + frame + 100));
    const RunResult cut = run_velmora({"--sigma", "4", "--start", "3", in, out});
    EXPECT_EQ(cut.status, 2);
    EXPECT_NE(cut.err.find("frame 1: the stream ends inside the picture data"), std::string::npos)
        << cut.err;
    ::unlink(out.c_str());
    const RunResult short_pipe =
        run_velmora_piped({"--sigma", "4", "--start", "9", "-", out}, bytes);
    EXPECT_EQ(short_pipe.status, 1);
    EXPECT_NE(short_pipe.err.find("--start 9: the stream has only 6 frames"), std::string::npos);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.y4m"});
}

// A damaged input: by default no output; with --keep-partial the frames before the damage,
// filtered as in a whole run, and the preview when its frame came before; exit status 2 and the
// error either way.
TEST_F(CliCommand, KeepPartialKeepsTheFramesBeforeTheDamage) {
    const std::string good = read_file(in);
    const Stream whole = [&] {
        write_file(out, filtered(in));
        return read_stream(out);
    }();
    ::unlink(out.c_str());
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } damaged[] = {
        {"cut inside a frame", good + "FRAME\n" + std::string(100, 'x'),
         "frame 6: the stream ends inside the picture data (100 of 2160 bytes)"},
        {"garbage instead of a frame", good + "GARBAGE\n", "frame 6: expected a FRAME header"},
        {"header without data", good + "FRAME\n", "frame 6: FRAME header without picture data"},
    };
    const std::string png = dir.file("p.png");
    for (const auto& c : damaged) {
        SCOPED_TRACE(c.name);
        write_file(in, c.bytes);
        const RunResult refused = run_velmora({"--sigma", "4", "--preview", png, in, out});
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.y4m"});
        for (bool piped : {false, true}) {
            const std::vector<std::string> args = {
                "--sigma",   "4", "--temporal",      "0", "--keep-partial", "--start", "1",
                "--preview", png, "--preview-frame", "3", piped ? "-" : in, out};
            const RunResult kept = piped ? run_velmora_piped(args, c.bytes) : run_velmora(args);
            EXPECT_EQ(kept.status, 2);
            EXPECT_NE(kept.err.find(c.says), std::string::npos) << kept.err;
            EXPECT_NE(kept.err.find("; the 5 frames before it are kept in '" + out + "'\n"),
                      std::string::npos)
                << kept.err;
            const Stream partial = read_stream(out);
            ASSERT_EQ(partial.frames.size(), 5u);
            for (int i = 0; i < 5; ++i)
                EXPECT_TRUE(partial.frames[i].data == whole.frames[1 + i].data) << i;
            EXPECT_EQ(velmora::read_png(png).width, 2 * 48 + 8);
            EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "out.y4m", "p.png"}));
            ::unlink(out.c_str());
            ::unlink(png.c_str());
        }
    }
}

// A region of the frame at full size, before, after and the difference (mid-grey plus four
// times what the filter took away, per channel), computed here from the whole pictures.
TEST_F(CliCommand, APreviewCanShowARegionAndTheDifference) {
    const std::string png = dir.file("p.png");
    const RunResult r =
        run_velmora({"--quiet", "--sigma", "6", "--preview", png, "--preview-frame", "1",
                     "--preview-crop", "20x10+8+6", "--preview-diff", in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const velmora::RgbImage before = velmora::frame_to_rgb(stream.format, stream.frames[1]);
    const velmora::RgbImage after =
        velmora::frame_to_rgb(stream.format, read_stream(out).frames[1]);
    const velmora::RgbImage picture = velmora::read_png(png);
    ASSERT_EQ(picture.width, 3 * 20 + 2 * 8);
    ASSERT_EQ(picture.height, 10);
    int changed = 0, mismatches = 0;
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x) {
            for (int c = 0; c < 3; ++c) {
                const size_t source = (size_t(y + 6) * 48 + x + 8) * 3 + c;
                const auto at = [&](int panel) {
                    return picture.pixels[(size_t(y) * picture.width + panel * 28 + x) * 3 + c];
                };
                const int diff =
                    std::clamp(128 + 4 * (before.pixels[source] - after.pixels[source]), 0, 255);
                mismatches += at(0) != before.pixels[source] || at(1) != after.pixels[source] ||
                              at(2) != diff;
                changed += diff != 128;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(changed, 100) << "the filter changed nothing in the region";
    // The preview of the first frame filtered by default.
    ASSERT_EQ(
        run_velmora({"--quiet", "--sigma", "6", "--start", "4", "--preview", png, in, out}).status,
        0);
    const velmora::RgbImage fourth = velmora::read_png(png);
    const velmora::RgbImage expected = velmora::frame_to_rgb(stream.format, stream.frames[4]);
    for (int y = 0; y < 30; ++y)
        ASSERT_TRUE(std::equal(&expected.pixels[size_t(y) * 48 * 3],
                               &expected.pixels[size_t(y + 1) * 48 * 3],
                               &fourth.pixels[size_t(y) * fourth.width * 3]))
            << "row " << y;
}

}  // namespace
