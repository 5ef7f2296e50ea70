// velmora against the plug-in's frame handler: a 4:4:4 stream whose samples, shifted into the
// working scale, are the plug-in's y, cb and cr gives the plug-in's planes, mapped back to the
// sample depth, bit for bit. Filtering, learning and the coefficient view.
#include <gtest/gtest.h>

#include <algorithm>

#include "lib/plane_engine.h"
#include "plugin/parameter_store.h"
#include "plugin/window_procedure.h"
#include "tests/cli_test_support.h"
#include "tests/test_host.h"

namespace {

using namespace velmora;

using namespace cli_test;
using velmora::Frame;
using velmora::StreamFormat;
using velmora::Subsampling;

constexpr int kRows[3][15] = {
    {160, 140, 220, 120, 100, 150, 90, 90, 110, 60, 60, 70, 40, 40, 50},
    {240, 200, 260, 150, 150, 180, 100, 100, 120, 70, 70, 80, 30, 30, 40},
    {100, 300, 180, 90, 160, 120, 60, 110, 80, 50, 60, 60, 20, 50, 30},
};

std::string tracks_argument(int p) {
    std::string text = std::to_string(p);
    for (int k = 0; k < 15; ++k) {
        text += k ? ',' : ':';
        text += std::to_string(kRows[p][k]);
    }
    return text;
}

// All three rows through the host's own protocol: the level tracks show the row of the plane
// chosen by "Sel", and switching "Sel" commits them.
void set_rows(TestHost& host) {
    for (int p = 0; p < 3; ++p) {
        if (p > 0) {
            host.track(kTrackSel) = p;
            host.fp->func_update(host.fp, 0);
        }
        for (int k = 0; k < 15; ++k) host.track(kTrackFirstLevel + k) = kRows[p][k];
    }
}

void select_plane(TestHost& host, int p) {
    host.track(kTrackSel) = p;
    host.fp->func_update(host.fp, 0);
}

// The plug-in's frame holding the stream frame's samples in the working scale.
void load_plugin_frame(const StreamFormat& f, const Frame& frame, TestFrame& out) {
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            short c[3];
            for (int p = 0; p < 3; ++p)
                c[p] =
                    static_cast<short>(frame.sample(f, p, x, y) << working_shift(sample_format(f)));
            out.at(x, y) = {c[0], c[1], c[2]};
        }
    }
}

// The plug-in's stored component as a sample: shifted back, rounding, and clamped.
uint32_t as_sample(int32_t component, SampleFormat format) {
    const int shift = working_shift(format);
    const int32_t v = (component + ((1 << shift) >> 1)) >> shift;
    return static_cast<uint32_t>(std::clamp(v, 0, sample_maximum(format)));
}

short component(const PIXEL_YC& px, int p) { return p == 0 ? px.y : p == 1 ? px.cb : px.cr; }

// Compares every sample of the tool's frame with the plug-in's frame through `map`.
template <class Map>
void expect_planes_match(const StreamFormat& f, const Frame& tool, TestFrame& plugin,
                         std::vector<int> planes, Map map) {
    for (int p : planes) {
        int mismatches = 0;
        for (int y = 0; y < f.height && mismatches < 5; ++y)
            for (int x = 0; x < f.width && mismatches < 5; ++x)
                if (tool.sample(f, p, x, y) != map(plugin.at(x, y), p)) {
                    ADD_FAILURE() << "plane " << p << " at (" << x << ", " << y << "): tool "
                                  << tool.sample(f, p, x, y) << ", plug-in "
                                  << map(plugin.at(x, y), p);
                    ++mismatches;
                }
    }
}

class SameBitsAsPlugin : public ::testing::TestWithParam<SampleFormat> {
protected:
    TempDir dir;
    std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");
};

// 203 columns: the last 11 of every row take the store's truncating path.
TEST_P(SameBitsAsPlugin, FilteringWithTracks) {
    const Stream stream = make_stream(203, 117, Subsampling::s444, GetParam(), 2, 41);
    write_file(in, serialise(stream));
    const RunResult r =
        run_velmora({"--quiet", "--threads", "2", "--tracks", tracks_argument(0), "--tracks",
                     tracks_argument(1), "--tracks", tracks_argument(2), in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const Stream result = read_stream(out);
    ASSERT_EQ(result.frames.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(testing::Message() << "frame " << i);
        TestHost host(3);
        set_rows(host);
        TestFrame frame(203, 117, 203, 117);
        load_plugin_frame(stream.format, stream.frames[i], frame);
        ASSERT_EQ(host.process(frame), TRUE);
        expect_planes_match(
            stream.format, result.frames[i], frame, {0, 1, 2},
            [&](const PIXEL_YC& px, int p) { return as_sample(component(px, p), GetParam()); });
    }
}

// The plug-in relearns on every frame while learning is armed and check box 1 is on (editing
// off, so that no selection outline is drawn into the picture): --learn-every-frame. Without it
// the first frame's thresholds stay: the plug-in with learning disarmed after the first frame.
TEST_P(SameBitsAsPlugin, LearningFromTheSelectionBox) {
    const Stream stream = make_stream(256, 200, Subsampling::s444, GetParam(), 2, 42);
    write_file(in, serialise(stream));
    for (bool every_frame : {true, false}) {
        SCOPED_TRACE(every_frame ? "every frame" : "first frame");
        std::vector<std::string> args = {"--quiet", "--learn", every_frame ? "40,56" : "64,33", in,
                                         out};
        if (every_frame) args.insert(args.begin(), "--learn-every-frame");
        const RunResult r = run_velmora(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Stream result = read_stream(out);
        ASSERT_EQ(result.frames.size(), 2u);
        TestHost host(2);
        host_state.editing = false;
        host.check(kCheckSelection) = 1;
        host.track(kTrackPosX) = every_frame ? 40 : 64;
        host.track(kTrackPosY) = every_frame ? 56 : 33;
        for (size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(testing::Message() << "frame " << i);
            measure_requested = every_frame || i == 0;
            TestFrame frame(256, 200, 256, 200);
            load_plugin_frame(stream.format, stream.frames[i], frame);
            ASSERT_EQ(host.process(frame), TRUE);
            expect_planes_match(
                stream.format, result.frames[i], frame, {0, 1, 2},
                [&](const PIXEL_YC& px, int p) { return as_sample(component(px, p), GetParam()); });
        }
    }
}

// The plug-in draws the plane chosen by "Sel" into y; the tool draws every plane into itself.
TEST_P(SameBitsAsPlugin, CoefficientView) {
    const Stream stream = make_stream(203, 117, Subsampling::s444, GetParam(), 1, 44);
    write_file(in, serialise(stream));
    const RunResult r =
        run_velmora({"--quiet", "--view", "coefficients", "--tracks", tracks_argument(0),
                     "--tracks", tracks_argument(1), "--tracks", tracks_argument(2), in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const Stream result = read_stream(out);
    ASSERT_EQ(result.frames.size(), 1u);
    for (int p = 0; p < 3; ++p) {
        TestHost host(2);
        set_rows(host);
        select_plane(host, p);
        host.check(kCheckCoefficientView) = 1;
        TestFrame frame(203, 117, 203, 117);
        load_plugin_frame(stream.format, stream.frames[0], frame);
        ASSERT_EQ(host.process(frame), TRUE);
        expect_planes_match(stream.format, result.frames[0], frame, {p},
                            [&](const PIXEL_YC& px, int) {
                                return velmora::coefficient_view_sample(px.y, GetParam());
                            });
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, SameBitsAsPlugin,
                         ::testing::Values(SampleFormat::u8, SampleFormat::u10, SampleFormat::u12),
                         [](const auto& info) {
                             return "bits" + std::to_string(sample_bits(info.param));
                         });

}  // namespace
