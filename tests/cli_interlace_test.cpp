// Interlaced streams: each field filtered as a picture of its own, as the stream header and
// each frame's tag say; measurements on the first field in time; the coefficient view of each
// field in its own half of the plane.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "lib/plane_engine.h"
#include "lib/strength.h"
#include "tests/cli_test_support.h"
#include "tools/velmora/sample/sample_source.h"

namespace {

using namespace cli_test;
using velmora::Frame;
using velmora::StreamFormat;
using velmora::Subsampling;

// `stream` with its header's I parameter set to `tag` ("Ip", "It", "Ib", "Im").
Stream with_fields(Stream stream, const std::string& tag) {
    std::string h = stream.format.header;
    h.replace(h.find(" Ip "), 4, " " + tag + " ");
    stream.format = velmora::parse_stream_header(h.substr(0, h.size() - 1));
    stream.format.header = h;
    return stream;
}

// The Y noise level velmora printed for the first frame.
double printed_luma_sigma(const std::string& err) {
    const size_t at = err.find("noise sigma Y ");
    if (at == err.npos) return -1;
    return std::stod(err.substr(at + 14));
}

class CliInterlaced : public ::testing::Test {
protected:
    TempDir dir;
    std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");

    // Runs velmora in both modes on `stream` and checks each frame against the engine run on
    // the whole planes or, where `fields[i]`, on each field of frame i.
    void expect_filtered(const Stream& stream, const std::vector<bool>& fields) {
        for (const char* mode : {"exact", "best"}) {
            SCOPED_TRACE(mode);
            expect_filtered(stream, fields, mode[0] == 'e');
        }
    }
    void expect_filtered(const Stream& stream, const std::vector<bool>& fields, bool exact) {
        write_file(in, serialise(stream));
        // Exact mode filters each frame on its own by default; best mode is told to.
        std::vector<std::string> args = {"--quiet", "--mode", exact ? "exact" : "best", "--sigma",
                                         "5"};
        if (!exact) args.insert(args.end(), {"--temporal", "0"});
        args.insert(args.end(), {in, out});
        const RunResult r = run_velmora(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Stream result = read_stream(out);
        const StreamFormat& f = stream.format;
        ASSERT_EQ(result.frames.size(), fields.size());
        ReferenceEngine engine(f.width, f.height, 1);
        for (size_t i = 0; i < fields.size(); ++i) {
            SCOPED_TRACE(stream.frames[i].header);
            EXPECT_EQ(result.frames[i].header, stream.frames[i].header);
            Frame expected = stream.frames[i];
            for (int p = 0; p < f.planes(); ++p) {
                if (exact)
                    filter_plane(engine, f, expected, p,
                                 velmora::row_for_sigma(5, 3, sample_format(f)), fields[i]);
                else
                    filter_plane_best(engine, f, expected, p, 5.0, fields[i]);
            }
            EXPECT_TRUE(result.frames[i].data == expected.data) << "frame " << i;
        }
    }
};

// Both field orders, odd heights (fields of 19 and 18 lines, 4:2:0 chroma fields of 10 and 9),
// every kind of plane; the same frames marked progressive are filtered whole, and differ.
TEST_F(CliInterlaced, EachFieldIsFilteredAsAPictureOfItsOwn) {
    struct Kind {
        Subsampling s;
        SampleFormat f;
    };
    for (const Kind kind :
         {Kind{Subsampling::s420, SampleFormat::u8}, Kind{Subsampling::s422, SampleFormat::u10},
          Kind{Subsampling::mono, SampleFormat::u16}}) {
        const Stream progressive = make_stream(50, 37, kind.s, kind.f, 2, 11);
        for (const char* tag : {"It", "Ib"}) {
            SCOPED_TRACE(tag);
            expect_filtered(with_fields(progressive, tag), {true, true});
        }
        const std::string interlaced_result = read_file(out);
        expect_filtered(progressive, {false, false});
        EXPECT_FALSE(read_file(out) == interlaced_result);
    }
}

// A frame's own tag wins over the stream's; in a mixed stream a frame without one is taken as
// interlaced; tags velmora does not know leave it to the stream.
TEST_F(CliInterlaced, EachFrameCanSayForItself) {
    struct Case {
        const char* stream_tag;
        std::vector<std::pair<std::string, bool>> frames;  // FRAME header, filtered as fields
    };
    const Case cases[] = {
        {"Im",
         {{"FRAME\n", true},
          {"FRAME Itip\n", true},
          {"FRAME XKEEP=1 Ibi?\n", true},
          {"FRAME IBii\n", true},
          {"FRAME I1pp\n", false},
          {"FRAME Itp?\n", false},
          {"FRAME Ip\n", false},
          {"FRAME Ix\n", true}}},
        {"It", {{"FRAME\n", true}, {"FRAME I2pp\n", false}, {"FRAME Ix\n", true}}},
        {"Ip", {{"FRAME\n", false}, {"FRAME Ib\n", true}, {"FRAME IT\n", true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stream_tag);
        Stream stream = with_fields(
            make_stream(40, 22, Subsampling::s420, SampleFormat::u8, int(c.frames.size()), 12),
            c.stream_tag);
        std::vector<bool> fields;
        for (size_t i = 0; i < c.frames.size(); ++i) {
            stream.frames[i].header = c.frames[i].first;
            fields.push_back(c.frames[i].second);
        }
        expect_filtered(stream, fields);
    }
}

// A frame of a fine texture panning between the fields (every line differs from its
// neighbours in the other field) with different noise in each: top field sigma 2, bottom
// field sigma 6.
Stream moving_noisy_stream(const std::string& tag) {
    Stream s = with_fields(make_stream(256, 192, Subsampling::s420, SampleFormat::u8, 1, 0), tag);
    const StreamFormat& f = s.format;
    Frame fields[2] = {s.frames[0], s.frames[0]};
    for (int parity : {0, 1}) {
        for (int p = 0; p < f.planes(); ++p)
            for (int y = 0; y < f.plane_height(p); ++y)
                for (int x = 0; x < f.plane_width(p); ++x)
                    fields[parity].set_sample(
                        f, p, x, y,
                        static_cast<uint32_t>(128 + 50 * std::sin(0.9 * (x + 3 * parity))));
        velmora::add_noise(f, fields[parity], parity ? 6.0 : 2.0, 3 + parity);
    }
    for (int p = 0; p < f.planes(); ++p)
        put_field(f, fields[0], p, 1, copy_field(f, fields[1], p, 1));
    s.frames = {fields[0], fields[0]};
    return s;
}

// The noise estimate reads the first field in time, so neither the motion between the fields
// nor the other field's noise counts; the whole frame, its combing read as texture, gives
// neither field's level.
TEST_F(CliInterlaced, TheNoiseIsMeasuredOnTheFirstField) {
    struct Case {
        const char* tag;
        const char* says;
        double lo, hi;
    };
    for (const Case& c : {Case{"It", "frame 0 (top field): noise sigma", 1.7, 2.6},
                          Case{"Ib", "frame 0 (bottom field): noise sigma", 5.4, 6.8}}) {
        write_file(in, serialise(moving_noisy_stream(c.tag)));
        const RunResult r = run_velmora({"--auto", "--frames", "1", in, out});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        const double sigma = printed_luma_sigma(r.err);
        EXPECT_GT(sigma, c.lo) << c.tag;
        EXPECT_LT(sigma, c.hi) << c.tag;
    }
    write_file(in, serialise(moving_noisy_stream("Ip")));
    const RunResult whole = run_velmora({"--auto", "--frames", "1", in, out});
    const double mixed = printed_luma_sigma(whole.err);
    EXPECT_TRUE(mixed > 2.6 && (mixed < 5.4 || mixed > 6.8)) << whole.err;
}

// Learning takes the box from the first field in time, its row halved; both fields are
// filtered with what it learnt.
TEST_F(CliInterlaced, LearningTakesTheBoxFromTheFirstField) {
    std::vector<std::string> results;
    for (const char* tag : {"It", "Ib"}) {
        const Stream stream = moving_noisy_stream(tag);
        const StreamFormat& f = stream.format;
        write_file(in, serialise(stream));
        const RunResult r = run_velmora({"--quiet", "--learn", "40,60,48", in, out});
        ASSERT_EQ(r.status, 0) << r.err;
        const int first = tag[1] == 't' ? 0 : 1;
        ReferenceEngine engine(f.width, f.height, 1);
        Frame expected = stream.frames[0];
        for (int p = 0; p < f.planes(); ++p) {
            FieldCopy field = copy_field(f, expected, p, first);
            engine.analyse(field.view());
            // Moved inside a field smaller than the box, as in a plane.
            const velmora::ThresholdRow row = engine.learn(
                40 >> f.shift_x(p), std::min((60 >> f.shift_y(p)) / 2, field.height - 48), 48);
            filter_plane(engine, f, expected, p, row, true);
        }
        EXPECT_TRUE(read_stream(out).frames[1].data == expected.data) << tag;
        results.push_back(read_file(out));
    }
    EXPECT_FALSE(results[0] == results[1]) << "the field order made no difference";
}

// The coefficient view draws each field's coefficients as a picture of its own, the top field's
// in the upper half of the plane (its first (height + 1) / 2 rows) and the bottom field's below.
TEST_F(CliInterlaced, TheCoefficientViewShowsEachFieldInItsOwnHalf) {
    const Stream stream =
        with_fields(make_stream(64, 37, Subsampling::s420, SampleFormat::u10, 1, 13), "Ib");
    const StreamFormat& f = stream.format;
    write_file(in, serialise(stream));
    const RunResult r = run_velmora({"--quiet", "--sigma", "3", "--view", "coefficients", in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const Frame result = read_stream(out).frames[0];
    ReferenceEngine engine(f.width, f.height, 1);
    Frame source = stream.frames[0], expected = stream.frames[0];
    for (int p = 0; p < f.planes(); ++p) {
        const size_t line = size_t(f.plane_width(p)) * 2;
        const int top_rows = (f.plane_height(p) + 1) / 2;
        for (int parity : {0, 1}) {
            FieldCopy field = copy_field(f, source, p, parity);
            engine.analyse(field.view());
            engine.threshold(velmora::row_for_sigma(3, 3, sample_format(f)));
            engine.draw_coefficients(field.view());
            std::copy(field.samples.begin(), field.samples.end(),
                      expected.plane_data(f, p) + parity * top_rows * line);
        }
    }
    EXPECT_TRUE(result.data == expected.data);
    EXPECT_FALSE(result.data == source.data);
}

}  // namespace
