// The element in GStreamer's test harness, against libvelmora itself: every format filtered as
// the library filters the same frames (field order included) and cleaner, the latency it
// reports, and its buffers across the end of the stream, a flush and new properties.
#include <gst/check/gstharness.h>
#include <gst/controller/gstdirectcontrolbinding.h>
#include <gst/controller/gstinterpolationcontrolsource.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "velmora/velmora.h"

namespace {

constexpr GstClockTime kFrame = GST_SECOND / 25;

struct Clip {
    GstVideoInfo info;
    velmora_layout layout;
    std::vector<GstBuffer*> clean, noisy;
    Clip(const std::string& caps, velmora_layout l, int count, int seed);
    ~Clip() {
        for (auto* list : {&clean, &noisy})
            for (GstBuffer* b : *list) gst_buffer_unref(b);
    }
};

// Smooth moving content, and the same with noise of 6 8-bit steps, in the caps' own layout
// (rows padded as GStreamer pads them); timestamps 1/25 s apart.
void make_frames(Clip& clip, int count, int seed) {
    std::mt19937 random(static_cast<unsigned>(seed));
    for (int i = 0; i < count; ++i) {
        GstBuffer* pair[2];
        for (int n = 0; n < 2; ++n) {
            pair[n] = gst_buffer_new_allocate(nullptr, clip.info.size, nullptr);
            gst_buffer_memset(pair[n], 0, 0, clip.info.size);
            GST_BUFFER_PTS(pair[n]) = kFrame * static_cast<GstClockTime>(i);
            GST_BUFFER_DURATION(pair[n]) = kFrame;
        }
        GstVideoFrame f[2];
        for (int n = 0; n < 2; ++n) gst_video_frame_map(&f[n], &clip.info, pair[n], GST_MAP_WRITE);
        const int depth = static_cast<int>(GST_VIDEO_FORMAT_INFO_DEPTH(clip.info.finfo, 0));
        const double top = std::ldexp(1.0, depth) - 1;
        std::normal_distribution<double> noise(0.0, 6.0 * std::ldexp(1.0, depth - 8));
        for (guint c = 0; c < GST_VIDEO_FRAME_N_COMPONENTS(&f[0]); ++c)
            for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(&f[0], c); ++y)
                for (int x = 0; x < GST_VIDEO_FRAME_COMP_WIDTH(&f[0], c); ++x) {
                    const double u = x + 2 * i,
                                 clean =
                                     (0.4 + 0.2 * std::sin(u * 0.2) * std::cos(y * 0.13 + c)) * top;
                    for (int n = 0; n < 2; ++n) {
                        const double v = std::clamp(clean + (n ? noise(random) : 0.0), 0.0, top);
                        auto* row = static_cast<uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&f[n], c)) +
                                    y * GST_VIDEO_FRAME_COMP_STRIDE(&f[n], c);
                        if (depth == 8)
                            row[x] = static_cast<uint8_t>(std::lround(v));
                        else
                            reinterpret_cast<uint16_t*>(row)[x] =
                                static_cast<uint16_t>(std::lround(v));
                    }
                }
        for (int n = 0; n < 2; ++n) gst_video_frame_unmap(&f[n]);
        clip.clean.push_back(pair[0]);
        clip.noisy.push_back(pair[1]);
    }
}

Clip::Clip(const std::string& caps, velmora_layout l, int count, int seed) : layout(l) {
    GstCaps* c = gst_caps_from_string(caps.c_str());
    gst_video_info_from_caps(&info, c);
    gst_caps_unref(c);
    make_frames(*this, count, seed);
}

bool same_bytes(GstBuffer* a, GstBuffer* b) {
    GstMapInfo m;
    gst_buffer_map(a, &m, GST_MAP_READ);
    const bool same =
        gst_buffer_get_size(b) == m.size && gst_buffer_memcmp(b, 0, m.data, m.size) == 0;
    gst_buffer_unmap(a, &m);
    return same;
}

// Mean squared difference over the buffers' samples (their rows' padding is zero in both).
double error(const GstVideoInfo& info, GstBuffer* a, GstBuffer* b) {
    const bool deep = GST_VIDEO_FORMAT_INFO_DEPTH(info.finfo, 0) > 8;
    GstMapInfo m[2];
    gst_buffer_map(a, &m[0], GST_MAP_READ);
    gst_buffer_map(b, &m[1], GST_MAP_READ);
    double sum = 0;
    const size_t n = m[0].size / (deep ? 2 : 1);
    for (size_t i = 0; i < n; ++i) {
        const auto sample = [&](int k) {
            return deep ? reinterpret_cast<const uint16_t*>(m[k].data)[i] : m[k].data[i];
        };
        sum += double(sample(0) - sample(1)) * (sample(0) - sample(1));
    }
    gst_buffer_unmap(a, &m[0]);
    gst_buffer_unmap(b, &m[1]);
    return sum / static_cast<double>(n);
}

// The library's own output for copies of `frames`: one stream, drained at the end.
std::vector<GstBuffer*> library_output(const velmora_settings& s, const Clip& clip,
                                       const std::vector<GstBuffer*>& frames,
                                       velmora_field_order order) {
    const velmora_format format = {
        static_cast<int>(clip.info.width), static_cast<int>(clip.info.height), clip.layout,
        static_cast<int>(GST_VIDEO_FORMAT_INFO_DEPTH(clip.info.finfo, 0))};
    VelmoraDenoiser* d = nullptr;
    EXPECT_EQ(velmora_open(&d, &format, &s), VELMORA_OK);
    std::vector<GstVideoFrame> mapped(frames.size());
    std::vector<GstBuffer*> out;
    for (size_t i = 0; i < frames.size(); ++i) {
        GstBuffer* copy = gst_buffer_copy_deep(frames[i]);
        gst_video_frame_map(&mapped[i], &clip.info, copy, GST_MAP_READWRITE);
        velmora_picture p = {format, {}, {}, order, copy};
        for (int c = 0; c < velmora_plane_count(&format); ++c) {
            p.data[c] = GST_VIDEO_FRAME_COMP_DATA(&mapped[i], c);
            p.stride[c] = GST_VIDEO_FRAME_COMP_STRIDE(&mapped[i], c);
        }
        EXPECT_EQ(velmora_send(d, &p), VELMORA_OK);
    }
    velmora_drain(d);
    velmora_picture done;
    while (velmora_receive(d, &done) == VELMORA_OK) {
        gst_video_frame_unmap(&mapped[out.size()]);
        out.push_back(static_cast<GstBuffer*>(done.user));
    }
    velmora_close(&d);
    return out;
}

// The element in a harness, with the settings its properties give the library.
struct Element {
    GstHarness* h = gst_harness_new("velmora");
    velmora_settings s;
    Element(const std::string& caps, int mode, double noise) {
        velmora_default_settings(&s);
        s.mode = static_cast<velmora_mode>(mode);
        s.noise[0] = s.noise[1] = s.noise[2] = noise;
        s.threads = 2;
        g_object_set(h->element, "mode", mode, "noise-y", noise, "noise-u", noise, "noise-v", noise,
                     "threads", 2, nullptr);
        gst_harness_set_src_caps_str(h, caps.c_str());
    }
    ~Element() { gst_harness_teardown(h); }
    // Pushes frames [from, to) and returns what came out by then.
    std::vector<GstBuffer*> push(const std::vector<GstBuffer*>& frames, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            EXPECT_EQ(gst_harness_push(h, gst_buffer_ref(frames[i])), GST_FLOW_OK);
        return pulled();
    }
    std::vector<GstBuffer*> pulled() {
        std::vector<GstBuffer*> out;
        while (GstBuffer* b = gst_harness_try_pull(h)) out.push_back(b);
        return out;
    }
};

std::string caps_of(const char* format, int w, int h, const char* interlace = "progressive") {
    return std::string("video/x-raw,format=") + format + ",width=" + std::to_string(w) +
           ",height=" + std::to_string(h) + ",framerate=25/1,interlace-mode=" + interlace +
           (std::strcmp(interlace, "progressive") ? ",field-order=top-field-first" : "");
}

// The library's frames, in order, with the input's timestamps.
void expect_library_frames(const std::vector<GstBuffer*>& got, const std::vector<GstBuffer*>& want,
                           const std::vector<GstBuffer*>& input, size_t first, const char* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(GST_BUFFER_PTS(got[i]), GST_BUFFER_PTS(input[first + i])) << what << i;
        EXPECT_TRUE(same_bytes(got[i], want[i])) << what << ", frame " << i;
    }
}

void unref(std::vector<GstBuffer*>& list) {
    for (GstBuffer* b : list) gst_buffer_unref(b);
    list.clear();
}

TEST(GstElement, EveryFormatIsFilteredAsTheLibraryFiltersItAndCleaner) {
    const struct {
        const char* name;
        velmora_layout layout;
    } formats[] = {{"I420", VELMORA_LAYOUT_420},      {"YV12", VELMORA_LAYOUT_420},
                   {"Y42B", VELMORA_LAYOUT_422},      {"Y444", VELMORA_LAYOUT_444},
                   {"Y41B", VELMORA_LAYOUT_411},      {"GRAY8", VELMORA_LAYOUT_MONO},
                   {"I420_10LE", VELMORA_LAYOUT_420}, {"I420_12LE", VELMORA_LAYOUT_420},
                   {"I422_10LE", VELMORA_LAYOUT_422}, {"I422_12LE", VELMORA_LAYOUT_422},
                   {"Y444_10LE", VELMORA_LAYOUT_444}, {"Y444_12LE", VELMORA_LAYOUT_444},
                   {"Y444_16LE", VELMORA_LAYOUT_444}, {"GRAY16_LE", VELMORA_LAYOUT_MONO}};
    int n = 0;
    for (const auto& [format, layout] : formats) {
        const bool interlaced = n % 3 == 2;
        const int mode = n++ % 2;
        const std::string caps =
            caps_of(format, 90, 52, interlaced ? "interleaved" : "progressive");
        Clip clip(caps, layout, 7, n);
        Element e(caps, mode, VELMORA_NOISE_MEASURED);
        if (mode == VELMORA_MODE_BEST && n % 4 == 1) {  // luma's noise given by brightness
            const double curve[VELMORA_CURVE_BINS] = {5, 6, 7, -1, 8, 8, 7, 6};
            GValue levels = G_VALUE_INIT;
            g_value_init(&levels, GST_TYPE_ARRAY);
            for (double level : curve) {
                GValue item = G_VALUE_INIT;
                g_value_init(&item, G_TYPE_DOUBLE);
                g_value_set_double(&item, level);
                gst_value_array_append_and_take_value(&levels, &item);
            }
            g_object_set_property(G_OBJECT(e.h->element), "noise-curve-y", &levels);
            g_value_unset(&levels);
            std::copy(std::begin(curve), std::end(curve), e.s.noise_curve[0]);
        }
        std::vector<GstBuffer*> got = e.push(clip.noisy, 0, clip.noisy.size());
        gst_harness_push_event(e.h, gst_event_new_eos());
        for (GstBuffer* b : e.pulled()) got.push_back(b);
        std::vector<GstBuffer*> want = library_output(
            e.s, clip, clip.noisy, interlaced ? VELMORA_TOP_FIELD_FIRST : VELMORA_PROGRESSIVE);
        expect_library_frames(got, want, clip.noisy, 0, format);
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_LT(error(clip.info, got[i], clip.clean[i]),
                      0.5 * error(clip.info, clip.noisy[i], clip.clean[i]))
                << format << ", frame " << i;
        unref(got);
        unref(want);
    }
}

// Frames held times the frame duration, for each setting that moves it and each rate; a
// property changed mid-stream moves it from then on.
TEST(GstElement, ReportsTheFramesItHoldsAsLatency) {
    const velmora_format format = {64, 48, VELMORA_LAYOUT_420, 8};
    const struct { int n, d; } rates[] = {{25, 1}, {30000, 1001}};
    for (const auto& [fps_n, fps_d] : rates) {
        const std::string rate = std::to_string(fps_n) + "/" + std::to_string(fps_d);
        Element e("video/x-raw,format=I420,width=64,height=48,framerate=" + rate, 0,
                  VELMORA_NOISE_MEASURED);
        const GstClockTime frame = gst_util_uint64_scale_int(GST_SECOND, fps_d, fps_n);
        Clip clip("video/x-raw,format=I420,width=64,height=48", VELMORA_LAYOUT_420, 4, 1);
        for (int step = 0; step < 4; ++step) {
            const char* names[] = {"threads", "temporal-radius", "measure-window", "mode"};
            const int values[] = {2, 1, 2, 1};
            velmora_settings& s = e.s;
            if (step == 1) s.temporal_radius = 1;
            if (step == 2) s.measure_window = 2;
            if (step == 3) s.mode = VELMORA_MODE_EXACT;
            g_object_set(e.h->element, names[step], values[step], nullptr);
            std::vector<GstBuffer*> out = e.push(clip.noisy, 0, 1);
            VelmoraDenoiser* d = nullptr;
            ASSERT_EQ(velmora_open(&d, &format, &s), VELMORA_OK);
            EXPECT_EQ(gst_harness_query_latency(e.h), frame * velmora_latency(d))
                << rate << ", step " << step;
            velmora_close(&d);
            unref(out);
        }
    }
}

// Frames held when the stream ends, when it is flushed (a seek) and when a controller changes a
// property come out as the library gives them, or not at all after a flush, with their
// timestamps.
TEST(GstElement, HeldFramesSurviveTheEndAFlushAndNewProperties) {
    const std::string caps = caps_of("I420", 80, 48);
    Clip clip(caps, VELMORA_LAYOUT_420, 12, 3);
    Element e(caps, 0, VELMORA_NOISE_MEASURED);
    const std::vector<GstBuffer*>& in = clip.noisy;
    // The end of the stream in the middle of the window: the three frames, then the EOS.
    std::vector<GstBuffer*> got = e.push(in, 0, 3);
    EXPECT_TRUE(got.empty());
    gst_harness_push_event(e.h, gst_event_new_eos());
    got = e.pulled();
    std::vector<GstBuffer*> want =
        library_output(e.s, clip, {in.begin(), in.begin() + 3}, VELMORA_PROGRESSIVE);
    expect_library_frames(got, want, in, 0, "ended after 3 frames");
    unref(got);
    unref(want);
    // A flushing seek with frames held: they are dropped, the next start afresh.
    gst_harness_push_event(e.h, gst_event_new_flush_start());
    gst_harness_push_event(e.h, gst_event_new_flush_stop(TRUE));
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    gst_harness_push_event(e.h, gst_event_new_segment(&segment));
    got = e.push(in, 3, 6);
    gst_harness_push_event(e.h, gst_event_new_flush_start());
    gst_harness_push_event(e.h, gst_event_new_flush_stop(TRUE));
    gst_harness_push_event(e.h, gst_event_new_segment(&segment));
    EXPECT_TRUE(got.empty() && e.pulled().empty()) << "frames held before the flush came out";
    // A keyframe at frame 10 (a controller's step from measured to 3): the frames before it
    // finish with the old properties.
    GstControlSource* keys = gst_interpolation_control_source_new();
    g_object_set(keys, "mode", GST_INTERPOLATION_MODE_NONE, nullptr);
    gst_timed_value_control_source_set(GST_TIMED_VALUE_CONTROL_SOURCE(keys), 0, -1.0);
    gst_timed_value_control_source_set(GST_TIMED_VALUE_CONTROL_SOURCE(keys), 10 * kFrame, 3.0);
    gst_object_add_control_binding(
        GST_OBJECT(e.h->element),
        gst_direct_control_binding_new_absolute(GST_OBJECT(e.h->element), "noise-y", keys));
    gst_object_unref(keys);
    got = e.push(in, 6, 12);
    gst_harness_push_event(e.h, gst_event_new_eos());
    for (GstBuffer* b : e.pulled()) got.push_back(b);
    want = library_output(e.s, clip, {in.begin() + 6, in.begin() + 10}, VELMORA_PROGRESSIVE);
    e.s.noise[0] = 3.0;
    for (GstBuffer* b : library_output(e.s, clip, {in.begin() + 10, in.end()}, VELMORA_PROGRESSIVE))
        want.push_back(b);
    expect_library_frames(got, want, in, 6, "after the flush, a keyframe at frame 10");
    unref(got);
    unref(want);
    // A QoS event goes upstream unchanged.
    gst_harness_push_upstream_event(
        e.h, gst_event_new_qos(GST_QOS_TYPE_UNDERFLOW, 0.9, 20 * GST_MSECOND, kFrame));
    GstEvent* qos;  // after the events of the harness' own
    while ((qos = gst_harness_try_pull_upstream_event(e.h)) && GST_EVENT_TYPE(qos) != GST_EVENT_QOS)
        gst_event_unref(qos);
    ASSERT_NE(qos, nullptr);
    GstClockTimeDiff diff;
    gst_event_parse_qos(qos, nullptr, nullptr, &diff, nullptr);
    EXPECT_EQ(diff, 20 * GST_MSECOND);
    gst_event_unref(qos);
}

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    GError* error = nullptr;
    GstPlugin* plugin = gst_plugin_load_file(VELMORA_GST_MODULE, &error);
    if (plugin == nullptr) {
        std::fprintf(stderr, "%s: %s\n", VELMORA_GST_MODULE, error->message);
        return 1;
    }
    gst_object_unref(plugin);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    gst_deinit();
    return result;
}
