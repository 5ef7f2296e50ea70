#include "tools/velmora/sample/sample_source.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/velmora/sample/split_mix64.h"

namespace velmora {

namespace {

double unit_interval(SplitMix64& rng) {  // (0, 1)
    return (static_cast<double>(rng.next() >> 11) + 0.5) * (1.0 / 9007199254740992.0);
}

uint32_t clamp_sample(double v, uint32_t maximum) {
    const double r = std::floor(v + 0.5);
    return static_cast<uint32_t>(r < 0 ? 0 : r > maximum ? maximum : r);
}

}  // namespace

RgbImage resize(const RgbImage& image, int width, int height) {
    RgbImage out{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        const double sy =
            std::clamp((y + 0.5) * image.height / height - 0.5, 0.0, double(image.height - 1));
        const int y0 = static_cast<int>(sy), y1 = std::min(y0 + 1, image.height - 1);
        const double fy = sy - y0;
        for (int x = 0; x < width; ++x) {
            const double sx =
                std::clamp((x + 0.5) * image.width / width - 0.5, 0.0, double(image.width - 1));
            const int x0 = static_cast<int>(sx), x1 = std::min(x0 + 1, image.width - 1);
            const double fx = sx - x0;
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int xx, int yy) {
                    return double(image.pixels[(size_t(yy) * image.width + xx) * 3 + c]);
                };
                const double v = (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) +
                                 (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
                out.pixels[(size_t(y) * width + x) * 3 + c] =
                    static_cast<uint8_t>(clamp_sample(v, 255));
            }
        }
    }
    return out;
}

RgbImage synthetic_picture(int width, int height, uint64_t seed) {
    SplitMix64 rng{seed};
    struct Disc {
        double x, y, r;
        uint8_t colour[3];
    };
    std::vector<Disc> discs(12);
    for (Disc& d : discs) {
        d.x = rng.uniform(0, width);
        d.y = rng.uniform(0, height);
        d.r = rng.uniform(8, std::max(9, std::min(width, height) / 5));
        for (uint8_t& c : d.colour) c = static_cast<uint8_t>(rng.uniform(20, 235));
    }
    RgbImage image{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* px = &image.pixels[(size_t(y) * width + x) * 3];
            px[0] = static_cast<uint8_t>(40 + 160 * x / std::max(1, width - 1));
            px[1] = static_cast<uint8_t>(40 + 160 * y / std::max(1, height - 1));
            px[2] = static_cast<uint8_t>(120 + 60 * std::sin(x * 0.02) * std::cos(y * 0.03));
            for (const Disc& d : discs)
                if ((x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) < d.r * d.r)
                    std::copy(d.colour, d.colour + 3, px);
        }
    }
    return image;
}

Frame frame_from_rgb(const StreamFormat& f, const RgbImage& source) {
    const RgbImage image = source.width == f.width && source.height == f.height
                               ? source
                               : resize(source, f.width, f.height);
    Frame frame;
    frame.header = "FRAME\n";
    frame.data.assign(f.frame_bytes(), 0);
    const bool hd = f.height > 576;
    const double kr = hd ? 0.2126 : 0.299, kb = hd ? 0.0722 : 0.114, kg = 1.0 - kr - kb;
    const double scale = double(1 << (f.bits - 8));
    const uint32_t maximum = f.sample_maximum();
    std::vector<double> luma(size_t(f.width) * f.height), cb(luma.size()), cr(luma.size());
    for (size_t i = 0; i < luma.size(); ++i) {
        const double r = image.pixels[3 * i], g = image.pixels[3 * i + 1],
                     b = image.pixels[3 * i + 2];
        const double yv = kr * r + kg * g + kb * b;
        luma[i] = 16.0 + yv * 219.0 / 255.0;
        cb[i] = 128.0 + (b - yv) / (2.0 * (1.0 - kb)) * 224.0 / 255.0;
        cr[i] = 128.0 + (r - yv) / (2.0 * (1.0 - kr)) * 224.0 / 255.0;
    }
    for (int p = 0; p < f.planes(); ++p) {
        const std::vector<double>& src = p == 0 ? luma : p == 1 ? cb : cr;
        const int sx = f.shift_x(p), sy = f.shift_y(p);
        for (int y = 0; y < f.plane_height(p); ++y) {
            for (int x = 0; x < f.plane_width(p); ++x) {
                double sum = 0;
                int n = 0;
                for (int yy = y << sy; yy < std::min(f.height, (y + 1) << sy); ++yy)
                    for (int xx = x << sx; xx < std::min(f.width, (x + 1) << sx); ++xx, ++n)
                        sum += src[size_t(yy) * f.width + xx];
                frame.set_sample(f, p, x, y, clamp_sample(sum / n * scale, maximum));
            }
        }
    }
    return frame;
}

void add_noise(const StreamFormat& f, Frame& frame, double sigma, uint64_t seed) {
    SplitMix64 rng{seed};
    const double scale = sigma * double(1 << (f.bits - 8));
    const uint32_t maximum = f.sample_maximum();
    for (int p = 0; p < f.planes(); ++p) {
        for (int y = 0; y < f.plane_height(p); ++y) {
            for (int x = 0; x < f.plane_width(p); ++x) {
                // Box-Muller: one normal value per pair of uniform values.
                const double u1 = unit_interval(rng), u2 = unit_interval(rng);
                const double n = std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
                frame.set_sample(f, p, x, y,
                                 clamp_sample(frame.sample(f, p, x, y) + n * scale, maximum));
            }
        }
    }
}

ErrorSum error_sum(const StreamFormat& f, const Frame& a, const Frame& b) {
    ErrorSum e;
    for (int p = 0; p < f.planes(); ++p) {
        for (int y = 0; y < f.plane_height(p); ++y) {
            for (int x = 0; x < f.plane_width(p); ++x) {
                const double d = double(a.sample(f, p, x, y)) - double(b.sample(f, p, x, y));
                e.squared += d * d;
                e.samples += 1;
            }
        }
    }
    return e;
}

double psnr(const StreamFormat& f, const ErrorSum& e) {
    if (e.squared == 0) return std::numeric_limits<double>::infinity();
    const double peak = f.sample_maximum();
    return 10.0 * std::log10(peak * peak / (e.squared / e.samples));
}

}  // namespace velmora
