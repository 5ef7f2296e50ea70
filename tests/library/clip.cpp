#include "tests/library/clip.h"

#include <cmath>
#include <cstring>
#include <random>

namespace library_test {

namespace {

size_t plane_bytes(const velmora_format& f, int p) {
    velmora_plane_shape shape;
    velmora_plane_shape_of(&f, p, &shape);
    return static_cast<size_t>(shape.width) * shape.height * (f.bit_depth > 8 ? 2 : 1);
}

}  // namespace

velmora_picture Clip::picture(int i) {
    velmora_picture p = {};
    p.format = format;
    uint8_t* at = frames[static_cast<size_t>(i)].data();
    for (int plane = 0; plane < velmora_plane_count(&format); ++plane) {
        velmora_plane_shape shape;
        velmora_plane_shape_of(&format, plane, &shape);
        p.data[plane] = at;
        p.stride[plane] = shape.width * (format.bit_depth > 8 ? 2 : 1);
        at += plane_bytes(format, plane);
    }
    p.field_order = orders[static_cast<size_t>(i)];
    p.user = &frames[static_cast<size_t>(i)];
    return p;
}

Clip make_clip(velmora_format f, int count, double sigma, int interlaced_from) {
    Clip clip{f, {}, {}};
    const double top = std::ldexp(1.0, f.bit_depth) - 1, step = std::ldexp(1.0, f.bit_depth - 8);
    for (int i = 0; i < count; ++i) {
        std::mt19937 random(static_cast<unsigned>(100 + i));
        std::normal_distribution<double> noise(0.0, sigma * step);
        std::vector<uint8_t> frame;
        for (int p = 0; p < velmora_plane_count(&f); ++p) {
            velmora_plane_shape shape;
            velmora_plane_shape_of(&f, p, &shape);
            for (int y = 0; y < shape.height; ++y)
                for (int x = 0; x < shape.width; ++x) {
                    const double u = (x << shape.shift_x) + i, v = y << shape.shift_y;
                    const double clean =
                        (0.3 + 0.2 * std::sin(u * 0.11) * std::cos(v * 0.07) + 0.1 * p) * top;
                    const auto sample = static_cast<uint32_t>(
                        std::lround(std::fmin(std::fmax(clean + noise(random), 0.0), top)));
                    if (f.bit_depth == 8) {
                        frame.push_back(static_cast<uint8_t>(sample));
                    } else {
                        frame.push_back(static_cast<uint8_t>(sample & 255));
                        frame.push_back(static_cast<uint8_t>(sample >> 8));
                    }
                }
        }
        clip.frames.push_back(frame);
        clip.orders.push_back(i >= interlaced_from ? VELMORA_TOP_FIELD_FIRST : VELMORA_PROGRESSIVE);
    }
    return clip;
}

velmora_settings settings_with(velmora_mode mode, double noise, int temporal) {
    velmora_settings s;
    velmora_default_settings(&s);
    s.mode = mode;
    for (double& n : s.noise) n = noise;
    s.temporal_radius = temporal;
    s.threads = 2;
    return s;
}

std::vector<std::vector<uint8_t>> run_stream(const velmora_settings& s, Clip clip) {
    VelmoraDenoiser* d = nullptr;
    EXPECT_EQ(velmora_open(&d, &clip.format, &s), VELMORA_OK);
    if (!d) return {};
    const int latency = velmora_latency(d);
    size_t received = 0;
    const auto receive = [&](int64_t sent) {
        velmora_picture done;
        while (velmora_receive(d, &done) == VELMORA_OK)
            EXPECT_EQ(done.user, &clip.frames[received++]);
        EXPECT_GE(static_cast<int64_t>(received), sent - latency);
    };
    for (int i = 0; i < static_cast<int>(clip.frames.size()); ++i) {
        const velmora_picture p = clip.picture(i);
        EXPECT_EQ(velmora_send(d, &p), VELMORA_OK) << velmora_last_error(d);
        receive(i + 1);
    }
    EXPECT_EQ(velmora_drain(d), VELMORA_OK);
    receive(static_cast<int64_t>(clip.frames.size()) + latency);
    EXPECT_EQ(received, clip.frames.size());
    velmora_close(&d);
    return clip.frames;
}

}  // namespace library_test
