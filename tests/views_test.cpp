// The diagnostic views: the coefficient picture and the SelectionBox outlines.
#include "plugin/views.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "plugin/parameter_store.h"
#include "tests/test_host.h"

namespace {

int16_t wrap16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

bool same(const PIXEL_YC& a, const PIXEL_YC& b) {
    return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

// (4095 - y, -cb, -cr), each kept to 16 bits.
PIXEL_YC inverted(const PIXEL_YC& p) { return {wrap16(4095 - p.y), wrap16(-p.cb), wrap16(-p.cr)}; }

struct ViewRun {
    int w, h, max_w, max_h;
    int X = 64, Y = 64;
    int view = 0, selection = 0, sel = 0;
    bool editing = true;
    int threshold = 0;  // every entry of every plane
    FrameKind kind = FrameKind::noisy;
};

std::vector<PIXEL_YC> filtered(const ViewRun& s) {
    TestHost host;
    host_state.editing = s.editing;
    host.track(kTrackSel) = s.sel;
    host.fp->func_update(host.fp, FILTER_UPDATE_STATUS_TRACK);
    for (auto& row : ThresholdTable)
        for (auto& entry : row) entry = s.threshold;
    show_row(host.fp, s.sel);
    host.track(kTrackPosX) = s.X;
    host.track(kTrackPosY) = s.Y;
    host.check(kCheckCoefficientView) = s.view;
    host.check(kCheckSelection) = s.selection;
    TestFrame frame(s.w, s.h, s.max_w, s.max_h);
    frame.fill(5, s.kind);
    EXPECT_EQ(host.process(frame), TRUE);
    EXPECT_EQ(host.track(kTrackPosX), s.X);
    EXPECT_EQ(host.track(kTrackPosY), s.Y);
    return frame.edit;
}

using PixelSet = std::set<std::pair<int, int>>;

void add_border(PixelSet& set, int x, int y, int n, int max_w, int max_h) {
    for (int j = y; j < y + n; ++j)
        for (int i = x; i < x + n; ++i) {
            const bool border = i == x || i == x + n - 1 || j == y || j == y + n - 1;
            if (border && i >= 0 && j >= 0 && i < max_w && j < max_h) set.insert({i, j});
        }
}

// The pixels that differ between two frames; those that differ must be inverted.
PixelSet inverted_pixels(const std::vector<PIXEL_YC>& plain, const std::vector<PIXEL_YC>& drawn,
                         int max_w) {
    PixelSet set;
    for (size_t i = 0; i < plain.size(); ++i) {
        if (same(plain[i], drawn[i])) continue;
        const int x = static_cast<int>(i % max_w), y = static_cast<int>(i / max_w);
        EXPECT_TRUE(same(drawn[i], inverted(plain[i]))) << x << "," << y;
        set.insert({x, y});
    }
    return set;
}

TEST(SelectionOverlay, InvertsOnlyTheBorderOfTheBox) {
    ViewRun s{640, 360, 640, 360};
    const auto plain = filtered(s);
    s.selection = 1;
    const auto drawn = filtered(s);
    const PixelSet changed = inverted_pixels(plain, drawn, s.max_w);
    PixelSet expected;
    add_border(expected, 64, 64, 128, s.max_w, s.max_h);
    EXPECT_EQ(expected.size(), 508u);
    EXPECT_EQ(changed, expected);
    const auto at = [&](const std::vector<PIXEL_YC>& f, int x, int y) {
        return f[y * s.max_w + x];
    };
    const PIXEL_YC p = at(plain, 64, 64), q = at(drawn, 64, 64);
    EXPECT_EQ(q.y, 4095 - p.y);
    EXPECT_EQ(q.cb, -p.cb);
    EXPECT_EQ(q.cr, -p.cr);
    EXPECT_FALSE(same(at(plain, 191, 191), at(drawn, 191, 191)));
    EXPECT_TRUE(same(at(plain, 65, 65), at(drawn, 65, 65)));
}

struct OutlineCase {
    ViewRun setup;
    std::vector<std::pair<int, std::pair<int, int>>> squares;  // size, top-left corner
};

// Images of the box in the H, V, D blocks of levels s = 1..5, then in the final low-low block.
const OutlineCase kOutlineCases[] = {
    // 1920 x 1080 (W = 1920, H = 1088), box at 64, 64.
    {{1920, 1080, 1920, 1080, 64, 64, 1, 0},
     {{64, {992, 32}},
      {64, {32, 576}},
      {64, {992, 576}},
      {32, {496, 16}},
      {32, {16, 288}},
      {32, {496, 288}},
      {16, {248, 8}},
      {16, {8, 144}},
      {16, {248, 144}},
      {8, {124, 4}},
      {8, {4, 72}},
      {8, {124, 72}},
      {4, {62, 2}},
      {4, {2, 36}},
      {4, {62, 36}},
      {4, {2, 2}}}},
    // 1000 x 1000 in a buffer of that size (W = H = 1024), box at its limit 863, 863: the level 1
    // images reach columns and rows 1000..1006, past the buffer, and are cut there.
    {{1000, 1000, 1000, 1000, 863, 863, 1, 0},
     {{64, {943, 431}},
      {64, {431, 943}},
      {64, {943, 943}},
      {32, {471, 215}},
      {32, {215, 471}},
      {32, {471, 471}},
      {16, {235, 107}},
      {16, {107, 235}},
      {16, {235, 235}},
      {8, {117, 53}},
      {8, {53, 117}},
      {8, {117, 117}},
      {4, {58, 26}},
      {4, {26, 58}},
      {4, {58, 58}},
      {4, {26, 26}}}},
};

void PrintTo(const OutlineCase& c, std::ostream* os) {
    *os << c.setup.w << "x" << c.setup.h << ", box at " << c.setup.X << "," << c.setup.Y;
}

class CoefficientOutlineTest : public ::testing::TestWithParam<OutlineCase> {};

TEST_P(CoefficientOutlineTest, DrawsEveryImageOfTheBoxInsideTheBuffer) {
    ViewRun s = GetParam().setup;
    const auto plain = filtered(s);
    s.selection = 1;
    const auto drawn = filtered(s);
    PixelSet expected;
    for (const auto& [n, corner] : GetParam().squares)
        add_border(expected, corner.first, corner.second, n, s.max_w, s.max_h);
    EXPECT_EQ(inverted_pixels(plain, drawn, s.max_w), expected);
}

INSTANTIATE_TEST_SUITE_P(Frames, CoefficientOutlineTest, ::testing::ValuesIn(kOutlineCases));

TEST(InvertPixel, WrapsToSixteenBitsAndUndoesItself) {
    const PIXEL_YC cases[][2] = {
        {{0, 0, 0}, {4095, 0, 0}},
        {{4095, 100, -100}, {0, -100, 100}},
        {{-32768, -32768, 32767}, {-28673, -32768, -32767}},  // 36863 and 32768 wrap
        {{32767, 1, -1}, {-28672, -1, 1}},
    };
    for (const auto& c : cases) {
        PIXEL_YC p = c[0];
        invert_pixel(p);
        EXPECT_TRUE(same(p, c[1])) << p.y << " " << p.cb << " " << p.cr;
    }
    const int16_t values[] = {-32768, -32767, -1, 0, 2048, 4095, 4096, 32767};
    for (int16_t y : values)
        for (int16_t c : values) {
            PIXEL_YC p{y, c, static_cast<int16_t>(~c)};
            invert_pixel(p);
            invert_pixel(p);
            EXPECT_TRUE(same(p, PIXEL_YC{y, c, static_cast<int16_t>(~c)})) << y << " " << c;
        }
}

// DrawCoefficientView straight from a WorkingPlane of the test's own: W = H = 64, so the level
// blocks are 32, 16, 8, 4 and 2 wide and the final low-low block is 2 x 2.
class CoefficientPictureTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(CoefficientPictureTest, ShowsMagnitudesScaledPerLevel) {
    constexpr int W = 64, H = 64;
    const auto [max_w, max_h] = GetParam();
    std::vector<float> storage(W * H + 4);
    const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
    float* plane = storage.data() + ((16 - (address & 15)) & 15) / sizeof(float);
    // Level of each position: the finest level whose detail blocks hold it, 5 for low-low.
    const auto level_of = [](int x, int y) {
        for (int g = 0; g < 5; ++g)
            if (x >= (W >> (g + 1)) || y >= (H >> (g + 1))) return g;
        return 5;
    };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int g = level_of(x, y);
            plane[y * W + x] = g == 5 ? 1000.0f : ((x + y) % 2 ? -1.0f : 1.0f) * (9.5f - g);
        }
    plane[5 * W + 40] = 200.0f;
    plane[40 * W + 3] = -200.0f;
    frame_geometry = {};
    frame_geometry.W = W;
    frame_geometry.H = H;
    frame_geometry.WorkingPlane = plane;

    TestFrame frame(std::min(max_w, W), std::min(max_h, H), max_w, max_h);
    frame.fill(3, FrameKind::random);
    const std::vector<PIXEL_YC> before = frame.edit;
    DrawCoefficientView(&frame.info, 5);
    const int scale[] = {256, 128, 64, 32, 16};
    for (int y = 0; y < max_h; ++y)
        for (int x = 0; x < max_w; ++x) {
            const PIXEL_YC& p = frame.at(x, y);
            if (x >= W || y >= H) {
                EXPECT_TRUE(same(p, before[y * max_w + x])) << x << "," << y;
                continue;
            }
            const int g = level_of(x, y);
            int expected = g == 5 ? 31 : static_cast<int>((9.5f - g) * scale[g]);
            if ((x == 40 && y == 5) || (x == 3 && y == 40)) expected = -14336;  // 51200 wrapped
            EXPECT_EQ(p.y, expected) << x << "," << y;
            EXPECT_EQ(p.cb, 0);
            EXPECT_EQ(p.cr, 0);
        }
}

// Buffers wider and taller than W x H, and smaller than it.
INSTANTIATE_TEST_SUITE_P(Buffers, CoefficientPictureTest,
                         ::testing::Values(std::pair{80, 72}, std::pair{60, 50}));

// The plane chosen by "Sel" is flat, the other two are noisy: the picture shows the flat plane,
// (nearly) zero detail coefficients and about 32 |v| in the final low-low block, scaled by 1/32.
TEST(CoefficientView, ShowsTheSelectedPlaneOnly) {
    const int16_t flat[] = {1000, -700, 3000};
    for (int sel = 0; sel < kPlaneCount; ++sel) {
        TestHost host;
        host.track(kTrackSel) = sel;
        host.fp->func_update(host.fp, FILTER_UPDATE_STATUS_TRACK);
        host.check(kCheckCoefficientView) = 1;
        TestFrame frame(256, 256, 256, 256);
        frame.fill(9, FrameKind::noisy);
        for (auto& p : frame.edit) (sel == 0 ? p.y : sel == 1 ? p.cb : p.cr) = flat[sel];
        ASSERT_EQ(host.process(frame), TRUE);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const PIXEL_YC& p = frame.at(x, y);
                const int expected = x < 8 && y < 8 ? std::abs(flat[sel]) : 0;
                EXPECT_NEAR(p.y, expected, 1) << "plane " << sel << " at " << x << "," << y;
                EXPECT_TRUE(p.cb == 0 && p.cr == 0);
            }
    }
}

TEST(CoefficientView, WithoutEditingThereIsNoViewAndEveryPlaneIsFiltered) {
    ViewRun plain{320, 240, 320, 240};
    plain.threshold = 60;
    ViewRun idle = plain;
    idle.view = idle.selection = 1;
    idle.editing = false;
    const auto expected = filtered(plain);
    const auto got = filtered(idle);
    TestFrame input(320, 240, 320, 240);
    input.fill(5, FrameKind::noisy);
    bool changed[3] = {};
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_TRUE(same(got[i], expected[i])) << i;
        changed[0] |= got[i].y != input.edit[i].y;
        changed[1] |= got[i].cb != input.edit[i].cb;
        changed[2] |= got[i].cr != input.edit[i].cr;
    }
    EXPECT_TRUE(changed[0] && changed[1] && changed[2]);
}

}  // namespace
