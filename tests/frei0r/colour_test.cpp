// The RGBA <-> 12-bit Y'CbCr conversion: every 8-bit colour there and back, exactly, through the
// row functions (four pixels at a time) and the single-pixel form alike.
#include "frei0r/colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using namespace velmora;

// Every colour once: row r of a 4096-wide picture holds the colours (r * 4096 + x), with alpha
// a function of the position.
constexpr int32_t kWidth = 4096, kRowsPerBand = 256;

uint8_t alpha_at(int64_t i) { return static_cast<uint8_t>((i * 193) >> 3); }

TEST(Colour, EveryColourComesBackExactlyThroughTheRowsAndThePixelForm) {
    std::vector<uint8_t> rgba(static_cast<size_t>(kWidth) * kRowsPerBand * 4), back(rgba.size());
    std::vector<uint16_t> samples(3 * static_cast<size_t>(kWidth) * kRowsPerBand);
    const size_t n = static_cast<size_t>(kWidth) * kRowsPerBand;
    const YCbCrPlanes planes = {samples.data(), samples.data() + n, samples.data() + 2 * n, kWidth,
                                kRowsPerBand};
    int64_t wrong = 0, planes_differ = 0, alpha_wrong = 0;
    int32_t y_min = 4096, y_max = -1, c_min = 4096, c_max = -1;
    for (int64_t band = 0; band < (int64_t{1} << 24) / static_cast<int64_t>(n); ++band) {
        for (size_t i = 0; i < n; ++i) {
            const int64_t colour = band * static_cast<int64_t>(n) + static_cast<int64_t>(i);
            rgba[4 * i] = static_cast<uint8_t>(colour >> 16);
            rgba[4 * i + 1] = static_cast<uint8_t>(colour >> 8);
            rgba[4 * i + 2] = static_cast<uint8_t>(colour);
            rgba[4 * i + 3] = alpha_at(colour);
        }
        // Two calls, so that a band boundary falls inside the picture.
        rgba_to_planes(rgba.data(), planes, 0, 100);
        rgba_to_planes(rgba.data(), planes, 100, kRowsPerBand);
        planes_to_rgba(planes, rgba.data(), back.data(), 0, kRowsPerBand);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = &rgba[4 * i];
            const YCbCr12 c = ycbcr_from_rgb(p[0], p[1], p[2]);
            planes_differ += c.y != planes.y[i] || c.cb != planes.cb[i] || c.cr != planes.cr[i];
            uint8_t rgb[3];
            rgb_from_ycbcr(c, rgb);
            wrong += rgb[0] != p[0] || rgb[1] != p[1] || rgb[2] != p[2];
            wrong += back[4 * i] != p[0] || back[4 * i + 1] != p[1] || back[4 * i + 2] != p[2];
            alpha_wrong += back[4 * i + 3] != p[3];
            y_min = std::min(y_min, c.y);
            y_max = std::max(y_max, c.y);
            c_min = std::min({c_min, c.cb, c.cr});
            c_max = std::max({c_max, c.cb, c.cr});
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(planes_differ, 0) << "the row functions and the pixel form disagree";
    EXPECT_EQ(alpha_wrong, 0);
    // Full range at 16 steps per 8-bit step, inside the engine's 0..4095.
    EXPECT_EQ(y_min, 0);
    EXPECT_EQ(y_max, 16 * 255);
    EXPECT_EQ(c_min, 2048 - 16 * 127 - 8);
    EXPECT_EQ(c_max, 2048 + 16 * 127 + 8);
}

TEST(Colour, GreysHaveNoChromaAndWeightsAreBt709) {
    for (int v = 0; v < 256; ++v) {
        const uint8_t g = static_cast<uint8_t>(v);
        const YCbCr12 c = ycbcr_from_rgb(g, g, g);
        EXPECT_EQ(c.y, 16 * v);
        EXPECT_EQ(c.cb, 2048);
        EXPECT_EQ(c.cr, 2048);
    }
    // Pure primaries: Y = 16 * 255 * weight, and the colour difference at its full swing.
    const YCbCr12 red = ycbcr_from_rgb(255, 0, 0), green = ycbcr_from_rgb(0, 255, 0),
                  blue = ycbcr_from_rgb(0, 0, 255);
    EXPECT_EQ(red.y, std::lround(16 * 255 * 0.2126));
    EXPECT_EQ(green.y, std::lround(16 * 255 * 0.7152));
    EXPECT_EQ(blue.y, std::lround(16 * 255 * 0.0722));
    EXPECT_EQ(red.cr, 2048 + 16 * 255 / 2);
    EXPECT_EQ(blue.cb, 2048 + 16 * 255 / 2);
}

// What the engine hands back need not be a colour the forward conversion makes: any 12-bit
// triple comes out as the nearest 8-bit value of the exact inverse, clamped to 0..255.
TEST(Colour, AnyTwelveBitTripleComesOutRoundedAndClamped) {
    const int32_t steps[] = {0, 1, 7, 8, 100, 2047, 2048, 2049, 3000, 4080, 4088, 4095};
    std::vector<uint16_t> y, cb, cr;
    for (int32_t a : steps)
        for (int32_t b : steps)
            for (int32_t c : steps) {
                y.push_back(static_cast<uint16_t>(a));
                cb.push_back(static_cast<uint16_t>(b));
                cr.push_back(static_cast<uint16_t>(c));
            }
    const int32_t n = static_cast<int32_t>(y.size());
    std::vector<uint8_t> rgba(4 * y.size(), 0x5A);
    planes_to_rgba({y.data(), cb.data(), cr.data(), n, 1}, rgba.data(), rgba.data(), 0, 1);
    const double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
    for (int32_t i = 0; i < n; ++i) {
        const double Y = y[i] / 16.0, Cb = (cb[i] - 2048) / 16.0, Cr = (cr[i] - 2048) / 16.0;
        const double exact[3] = {Y + 2 * (1 - kr) * Cr,
                                 Y - (2 * kb * (1 - kb) * Cb + 2 * kr * (1 - kr) * Cr) / kg,
                                 Y + 2 * (1 - kb) * Cb};
        for (int ch = 0; ch < 3; ++ch) {
            const double want = std::min(255.0, std::max(0.0, exact[ch]));
            EXPECT_NEAR(rgba[4 * i + ch], want, 0.5 + 1e-3)
                << "Y " << y[i] << " Cb " << cb[i] << " Cr " << cr[i] << " channel " << ch;
        }
        EXPECT_EQ(rgba[4 * i + 3], 0x5A);
    }
}

}  // namespace
