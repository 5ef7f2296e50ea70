#include "tools/velmora/preview/preview.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace velmora {

namespace {

uint8_t to_byte(double v) {
    const double r = std::floor(v + 0.5);
    return static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
}

struct Matrix {
    double cr_to_r, cb_to_g, cr_to_g, cb_to_b;
};

Matrix matrix_for(const StreamFormat& f) {
    const bool hd = f.height > 576;
    const double kr = hd ? 0.2126 : 0.299, kb = hd ? 0.0722 : 0.114, kg = 1.0 - kr - kb;
    return {2.0 * (1.0 - kr), 2.0 * (1.0 - kb) * kb / kg, 2.0 * (1.0 - kr) * kr / kg,
            2.0 * (1.0 - kb)};
}

[[noreturn]] void png_failure(const std::string& what, const std::string& path) {
    throw IoError(what + " '" + path + "'");
}

extern "C" void png_error_jump(png_structp png, png_const_charp) {
    std::longjmp(png_jmpbuf(png), 1);
}

extern "C" void png_warning_ignore(png_structp, png_const_charp) {}

}  // namespace

RgbImage frame_to_rgb(const StreamFormat& f, const Frame& frame) {
    RgbImage image{f.width, f.height, std::vector<uint8_t>(size_t(f.width) * f.height * 3)};
    const double scale = 1.0 / double(1 << (f.bits - 8));  // to 8-bit steps
    const double y_gain = f.full_range ? 1.0 : 255.0 / 219.0, y_base = f.full_range ? 0.0 : 16.0;
    const double c_gain = f.full_range ? 1.0 : 255.0 / 224.0;
    const Matrix m = matrix_for(f);
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            const double luma = (frame.sample(f, 0, x, y) * scale - y_base) * y_gain;
            double cb = 0, cr = 0;
            if (f.planes() == 3) {
                cb = (frame.sample(f, 1, x >> f.shift_x(1), y >> f.shift_y(1)) * scale - 128.0) *
                     c_gain;
                cr = (frame.sample(f, 2, x >> f.shift_x(2), y >> f.shift_y(2)) * scale - 128.0) *
                     c_gain;
            }
            uint8_t* px = &image.pixels[(size_t(y) * f.width + x) * 3];
            px[0] = to_byte(luma + m.cr_to_r * cr);
            px[1] = to_byte(luma - m.cb_to_g * cb - m.cr_to_g * cr);
            px[2] = to_byte(luma + m.cb_to_b * cb);
        }
    }
    return image;
}

RgbImage plane_to_grey(const StreamFormat& f, const Frame& frame, int p) {
    const int w = f.plane_width(p), h = f.plane_height(p);
    RgbImage image{w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
    const double scale = 255.0 / f.sample_maximum();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t v = to_byte(frame.sample(f, p, x, y) * scale);
            std::fill_n(&image.pixels[(size_t(y) * w + x) * 3], 3, v);
        }
    return image;
}

RgbImage side_by_side(const RgbImage& left, const RgbImage& right, int gap) {
    RgbImage out;
    out.width = left.width + gap + right.width;
    out.height = std::max(left.height, right.height);
    out.pixels.assign(size_t(out.width) * out.height * 3, 96);
    auto paste = [&](const RgbImage& part, int x0) {
        for (int y = 0; y < part.height; ++y)
            std::memcpy(&out.pixels[(size_t(y) * out.width + x0) * 3],
                        &part.pixels[size_t(y) * part.width * 3], size_t(part.width) * 3);
    };
    paste(left, 0);
    paste(right, left.width + gap);
    return out;
}

RgbImage above(const RgbImage& top, const RgbImage& bottom, int gap) {
    RgbImage out;
    out.width = std::max(top.width, bottom.width);
    out.height = top.height + gap + bottom.height;
    out.pixels.assign(size_t(out.width) * out.height * 3, 96);
    auto paste = [&](const RgbImage& part, int y0) {
        for (int y = 0; y < part.height; ++y)
            std::memcpy(&out.pixels[size_t(y0 + y) * out.width * 3],
                        &part.pixels[size_t(y) * part.width * 3], size_t(part.width) * 3);
    };
    paste(top, 0);
    paste(bottom, top.height + gap);
    return out;
}

RgbImage crop(const RgbImage& image, int x, int y, int width, int height) {
    RgbImage out{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (int row = 0; row < height; ++row)
        std::memcpy(&out.pixels[size_t(row) * width * 3],
                    &image.pixels[(size_t(y + row) * image.width + x) * 3], size_t(width) * 3);
    return out;
}

RgbImage difference(const RgbImage& before, const RgbImage& after) {
    RgbImage out{before.width, before.height, std::vector<uint8_t>(before.pixels.size())};
    for (size_t i = 0; i < out.pixels.size(); ++i) {
        const int v = 128 + kDifferenceGain * (before.pixels[i] - after.pixels[i]);
        out.pixels[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
    return out;
}

void write_png(OutputFile& file, const std::string& path, const RgbImage& image) {
    FILE* stream = ::fdopen(::dup(file.fd()), "wb");
    if (!stream) png_failure("cannot write", path);
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_jump, png_warning_ignore);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(stream);
        png_failure("cannot write the picture", path);
    }
    png_init_io(png, stream);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, &image.pixels[size_t(y) * image.width * 3]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(stream) != 0) png_failure("cannot write", path);
    file.commit();
}

RgbImage read_png(const std::string& path) {
    FILE* stream = std::fopen(path.c_str(), "rb");
    if (!stream) throw IoError("cannot open '" + path + "': " + strerror(errno));
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_jump, png_warning_ignore);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    RgbImage image;
    std::vector<png_bytep> rows;  // before setjmp: a longjmp must not skip a destructor
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(stream);
        png_failure("cannot read the PNG picture", path);
    }
    png_init_io(png, stream);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    image.width = static_cast<int>(png_get_image_width(png, info));
    image.height = static_cast<int>(png_get_image_height(png, info));
    image.pixels.resize(size_t(image.width) * image.height * 3);
    rows.resize(image.height);
    for (int y = 0; y < image.height; ++y) rows[y] = &image.pixels[size_t(y) * image.width * 3];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(stream);
    return image;
}

}  // namespace velmora
