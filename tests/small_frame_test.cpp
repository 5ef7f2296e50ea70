// Frames of every size up to 200 x 200, most of them too small for the SelectionBox, with the
// overlay, the coefficient view and learning all switched on. The buffers are allocated to their
// exact size, so the sanitizer build sees any access past them; besides that, nothing outside
// the frame may change unless the coefficient picture covers it, and nothing outside the frame
// may be read: two frames that differ only there must give the same result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "plugin/parameter_store.h"
#include "plugin/window_procedure.h"
#include "tests/test_host.h"

namespace {

const int kSizes[] = {1,  2,   15,  16,  17,  31,  32,  33,  63, 64,
                      65, 127, 128, 129, 160, 191, 192, 193, 200};
constexpr int kThreads = 3;

int padded(int v) { return (v + 31) & ~31; }

// Bytes of temporary buffer the frame needs: the padded plane, alignment slack, and per thread
// the largest scratch slice (12 bytes per padded column or row at most).
int64_t needed_bytes(int w, int h) {
    const int64_t W = padded(w), H = padded(h);
    return W * H * 4 + 16 + kThreads * 12 * std::max(W, H);
}

struct Outcome {
    std::vector<PIXEL_YC> edit;
    std::vector<int> tracks;
};

Outcome filter(const TestFrame& input, int view) {
    TestHost host(kThreads);
    host.check(kCheckCoefficientView) = view;
    host.check(kCheckSelection) = 1;
    measure_requested = 1;
    TestFrame frame(input.info.w, input.info.h, input.info.max_w, input.info.max_h);
    frame.edit = input.edit;
    EXPECT_EQ(host.process(frame), TRUE);
    return {frame.edit, host.filter.track};
}

bool same(const PIXEL_YC& a, const PIXEL_YC& b) {
    return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

void check_frame(int w, int h, int max_w, int max_h, int view) {
    SCOPED_TRACE(testing::Message()
                 << w << "x" << h << " in " << max_w << "x" << max_h << " view " << view);
    TestFrame a(w, h, max_w, max_h), b(w, h, max_w, max_h);
    a.fill(1, FrameKind::random);
    b.fill(2, FrameKind::random);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.at(x, y) = a.at(x, y);
    const Outcome from_a = filter(a, view), from_b = filter(b, view);
    EXPECT_EQ(from_a.tracks, from_b.tracks);

    // The coefficient picture covers the padded plane as far as the buffer reaches.
    const int view_w = view ? std::min(max_w, padded(w)) : w;
    const int view_h = view ? std::min(max_h, padded(h)) : h;
    int stray = 0, dependent = 0;
    for (int y = 0; y < max_h; ++y)
        for (int x = 0; x < max_w; ++x) {
            const size_t i = static_cast<size_t>(y) * max_w + x;
            const bool covered = (x < w && y < h) || (x < view_w && y < view_h);
            if (!covered) {
                stray += !same(from_a.edit[i], a.edit[i]) || !same(from_b.edit[i], b.edit[i]);
            } else {
                dependent += !same(from_a.edit[i], from_b.edit[i]);
            }
        }
    EXPECT_EQ(stray, 0) << "pixels changed outside the frame";
    EXPECT_EQ(dependent, 0) << "pixels depending on what lies outside the frame";
}

class SmallFrameTest : public ::testing::TestWithParam<int> {};

TEST_P(SmallFrameTest, NothingOutsideTheFrameIsReadOrWritten) {
    const int w = GetParam();
    for (int h : kSizes) {
        const int64_t need = needed_bytes(w, h);
        // A buffer exactly as wide as the frame with spare rows, and one exactly as tall with
        // spare columns; only one when the frame fills its buffer.
        const int tall_h = std::max<int64_t>(h, (need + 6 * w - 1) / (6 * w));
        const int wide_w = std::max<int64_t>(w, (need + 6 * h - 1) / (6 * h));
        for (int view : {0, 1}) {
            check_frame(w, h, w, tall_h, view);
            if (wide_w != w || tall_h != h) check_frame(w, h, wide_w, h, view);
        }
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, SmallFrameTest, ::testing::ValuesIn(kSizes));

}  // namespace
