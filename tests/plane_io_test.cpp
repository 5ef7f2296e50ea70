// Loading a plane into the padded working plane and storing it back.
#include "engine/plane_io.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kernels/kernel_set.h"
#include "tests/test_host.h"

namespace {

using namespace velmora;

// The kernel table of the test in progress.
const KernelSet* table = &best_kernels();

// A working plane with its own aligned storage and per-thread scratch.
struct WorkingPlaneBuffer {
    std::vector<float> storage;
    TransformPlane plane;
    WorkingPlaneBuffer(int w, int h, int threads) {
        const int32_t W = padded_size(w), H = padded_size(h);
        const int64_t per_thread = scratch_floats_per_thread(W, H);
        storage.assign(static_cast<size_t>(W) * H + per_thread * threads + 4, -1.0f);
        float* base = storage.data();
        while (reinterpret_cast<std::uintptr_t>(base) % 16) ++base;
        plane = {base, W, H, base + static_cast<int64_t>(W) * H, static_cast<int32_t>(per_thread)};
    }
    float at(int x, int y) const { return plane.data[static_cast<int64_t>(y) * plane.W + x]; }
    float& at(int x, int y) { return plane.data[static_cast<int64_t>(y) * plane.W + x]; }
};

void load(const PlaneView& view, const TransformPlane& plane, int threads) {
    for (int t = 0; t < threads; ++t) load_plane_band(*table, view, plane, t, threads);
}

void store(const PlaneView& view, const TransformPlane& plane, int threads) {
    for (int t = 0; t < threads; ++t) store_plane_band(*table, view, plane, t, threads);
}

PlaneView component(TestFrame& frame, int p) {
    return {reinterpret_cast<int16_t*>(frame.edit.data()) + p,
            3,
            3 * static_cast<ptrdiff_t>(frame.info.max_w),
            frame.info.w,
            frame.info.h,
            SampleFormat::s16};
}

// Whole-sample symmetric extension by walking: bounce off each end until inside.
int bounce(int i, int n) {
    if (n == 1) return 0;
    int pos = 0, dir = 1;
    for (int step = 0; step < i; ++step) {
        if (pos + dir < 0 || pos + dir >= n) dir = -dir;
        pos += dir;
    }
    return pos;
}

class EveryKernelSet : public ::testing::TestWithParam<Isa> {
protected:
    void SetUp() override {
        table = kernels_for(GetParam());
        if (!table) GTEST_SKIP() << "instruction set not available";
    }
    void TearDown() override { table = &best_kernels(); }
};

INSTANTIATE_TEST_SUITE_P(Isa, EveryKernelSet, ::testing::Values(Isa::scalar, Isa::sse41),
                         [](const auto& info) {
                             return std::string(info.param == Isa::scalar ? "scalar" : "sse41");
                         });

TEST_P(EveryKernelSet, LoadFillsPaddingBySymmetricExtensionForEverySize) {
    for (int w = 1; w <= 40; ++w) {
        for (int h = 1; h <= 40; h += (h < 20 ? 1 : 7)) {
            TestFrame frame(w, h, w + 3, h);
            frame.fill(static_cast<uint64_t>(w * 100 + h), FrameKind::random);
            for (int threads : {1, 3}) {
                WorkingPlaneBuffer wp(w, h, threads);
                load(component(frame, 1), wp.plane, threads);
                for (int y = 0; y < wp.plane.H; ++y)
                    for (int x = 0; x < wp.plane.W; ++x)
                        ASSERT_EQ(wp.at(x, y), frame.at(bounce(x, w), bounce(y, h)).cb)
                            << w << "x" << h << " at " << x << "," << y;
            }
        }
    }
}

TEST(MirrorIndex, MatchesTheOneReflectionRuleForFramesOfSeventeenAndMore) {
    // Column w takes w-2, w+1 takes w-3, ... (no repeat of the edge).
    for (int n = 17; n <= 64; ++n)
        for (int i = n; i < padded_size(n); ++i) EXPECT_EQ(mirror_index(i, n), 2 * n - 2 - i);
}

TEST_P(EveryKernelSet, LoadThenStoreReturnsEverySixteenBitValue) {
    TestFrame frame(256, 256, 259, 256);
    int v = -32768;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x, ++v)
            frame.at(x, y) = {int16_t(v), int16_t(~v), int16_t(v ^ 0x5555)};
    const std::vector<PIXEL_YC> before = frame.edit;
    WorkingPlaneBuffer wp(256, 256, 2);
    for (int p = 0; p < 3; ++p) {
        load(component(frame, p), wp.plane, 2);
        store(component(frame, p), wp.plane, 2);
    }
    EXPECT_EQ(std::memcmp(before.data(), frame.edit.data(), before.size() * sizeof(PIXEL_YC)), 0);
}

TEST_P(EveryKernelSet, StoreRoundsFirstWholeGroupsAndTruncatesTheRest) {
    const int w = 1366;  // 1360 columns round, the last 6 truncate
    TestFrame frame(w, 2, w, 2);
    WorkingPlaneBuffer wp(w, 2, 1);
    const float values[] = {2.5f, 3.5f, -2.5f, -3.7f, 2.7f, -2.7f, 99.99999f, 0.5f};
    for (int x = 0; x < w; ++x) wp.at(x, 0) = wp.at(x, 1) = values[x % 8];
    wp.at(w - 1, 0) = 99.99999f;
    store(component(frame, 0), wp.plane, 1);
    for (int x = 0; x < w; ++x) {
        const float v = values[x % 8];
        const int expected = x < 1360 ? static_cast<int>(std::nearbyint(v)) : static_cast<int>(v);
        ASSERT_EQ(frame.at(x, 1).y, expected) << "column " << x << " value " << v;
    }
    EXPECT_EQ(frame.at(0, 0).y, 2);  // 2.5 -> 2, ties to even
    EXPECT_EQ(frame.at(1, 0).y, 4);  // 3.5 -> 4
    EXPECT_EQ(frame.at(2, 0).y, -2);
    EXPECT_EQ(frame.at(3, 0).y, -4);
    EXPECT_EQ(frame.at(6, 0).y, 100);     // a hair below an integer rounds up ...
    EXPECT_EQ(frame.at(w - 1, 0).y, 99);  // ... and truncates down in the last columns
}

TEST_P(EveryKernelSet, StoreWrapsToSixteenBitsAndMapsUnrepresentableValuesToZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inputs[] = {
        32768.0f, 40000.0f, -32769.0f,     65536.0f,       nan,
        3.0e9f,   -3.0e9f,  2147483520.0f, -2147483648.0f, std::numeric_limits<float>::infinity()};
    const int16_t expected[] = {-32768, -25536, 32767, 0, 0, 0, 0, -128, 0, 0};
    for (int w : {40, 13}) {  // rounding columns, and truncating ones only
        TestFrame frame(w, 1, w, 1);
        WorkingPlaneBuffer wp(w, 1, 1);
        for (int x = 0; x < w; ++x) wp.at(x, 0) = inputs[x % 10];
        store(component(frame, 2), wp.plane, 1);
        for (int x = 0; x < w; ++x) EXPECT_EQ(frame.at(x, 0).cr, expected[x % 10]) << x;
    }
}

TEST_P(EveryKernelSet, StoreChangesOnlyItsComponentOfVisiblePixels) {
    for (int w : {1, 7, 16, 17, 33, 100}) {
        TestFrame frame(w, 5, w + 9, 7);
        frame.fill(w, FrameKind::random);
        const std::vector<PIXEL_YC> before = frame.edit;
        WorkingPlaneBuffer wp(w, 5, 3);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < w; ++x) wp.at(x, y) = static_cast<float>(x * 10 + y);
        store(component(frame, 1), wp.plane, 3);
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < w + 9; ++x) {
                const PIXEL_YC& a = before[static_cast<size_t>(y) * (w + 9) + x];
                const PIXEL_YC& b = frame.at(x, y);
                EXPECT_EQ(a.y, b.y);
                EXPECT_EQ(a.cr, b.cr);
                EXPECT_EQ(b.cb, x < w && y < 5 ? x * 10 + y : a.cb) << x << "," << y;
            }
        }
    }
}

TEST_P(EveryKernelSet, MoreThreadsThanRowsStillFillTheBottomPadding) {
    TestFrame frame(50, 3, 50, 3);
    frame.fill(9, FrameKind::random);
    WorkingPlaneBuffer one(50, 3, 1), many(50, 3, 9);
    load(component(frame, 0), one.plane, 1);
    load(component(frame, 0), many.plane, 9);
    EXPECT_EQ(std::memcmp(one.plane.data, many.plane.data, 64 * 32 * sizeof(float)), 0);
    for (int y = 3; y < 32; ++y) EXPECT_EQ(many.at(10, y), frame.at(10, bounce(y, 3)).y);
}

}  // namespace
