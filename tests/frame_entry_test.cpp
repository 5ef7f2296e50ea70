// The frame handler: geometry, the SelectionBox position, the capacity check and refusals.
#include "plugin/frame_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "plugin/parameter_store.h"
#include "tests/test_host.h"

namespace {

bool same_pixels(const std::vector<PIXEL_YC>& a, const std::vector<PIXEL_YC>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0;
}

TEST(FrameEntry, FullHdFrameGetsPaddedHeightAndSelectionRanges) {
    TestHost host;
    TestFrame frame(1920, 1080, 1920, 1080);
    frame.fill(1, FrameKind::noisy);
    ASSERT_EQ(host.process(frame), TRUE);
    EXPECT_EQ(frame_geometry.W, 1920);
    EXPECT_EQ(frame_geometry.H, 1088);
    EXPECT_EQ(host.fp->track_s[kTrackPosX], 33);
    EXPECT_EQ(host.fp->track_e[kTrackPosX], 1791);
    EXPECT_EQ(host.fp->track_s[kTrackPosY], 33);
    EXPECT_EQ(host.fp->track_e[kTrackPosY], 927);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(frame_geometry.WorkingPlane) % 16, 0u);
}

TEST(FrameEntry, SizesThatAreMultiplesOf32GetNoPadding) {
    TestHost host;
    TestFrame frame(640, 352, 640, 352);
    ASSERT_EQ(host.process(frame), TRUE);
    EXPECT_EQ(frame_geometry.W, 640);
    EXPECT_EQ(frame_geometry.H, 352);
}

TEST(FrameEntry, SelectionBoxSnapsIntoRangeWithOneWindowUpdatePerCorrection) {
    TestHost host;
    TestFrame frame(1920, 1080, 1920, 1080);
    struct Case {
        int x, y, expected_x, expected_y, updates;
    } cases[] = {
        {100, 200, 100, 200, 0}, {5000, 200, 1791, 200, 1}, {5000, 5000, 1791, 927, 2},
        {0, 0, 33, 33, 2},       {-7, 900, 33, 900, 1},     {1791, 927, 1791, 927, 0},
    };
    for (const Case& c : cases) {
        host.track(kTrackPosX) = c.x;
        host.track(kTrackPosY) = c.y;
        const int before = host_state.window_updates;
        ASSERT_EQ(host.process(frame), TRUE);
        EXPECT_EQ(host.track(kTrackPosX), c.expected_x) << c.x << "," << c.y;
        EXPECT_EQ(host.track(kTrackPosY), c.expected_y) << c.x << "," << c.y;
        EXPECT_EQ(host_state.window_updates - before, c.updates) << c.x << "," << c.y;
    }
}

TEST(FrameEntry, SmallFramesTakeTheMinimumAndThenTheNegativeMaximum) {
    // Below 192 pixels the maximum falls under the minimum: both corrections happen.
    TestHost host;
    TestFrame frame(64, 40, 200, 100);
    ASSERT_EQ(host.process(frame), TRUE);
    EXPECT_EQ(host.fp->track_e[kTrackPosX], 64 - 129);
    EXPECT_EQ(host.track(kTrackPosX), 64 - 129);
    EXPECT_EQ(host.track(kTrackPosY), 32 - 129);
    EXPECT_EQ(host_state.window_updates, 1 + 4);  // start-up, then four corrections
}

TEST(FrameEntry, LevelTracksReachTheTableOnlyWhenAFrameIsProcessed) {
    TestHost host;
    host.track(kTrackFirstLevel + 4) = 77;
    EXPECT_EQ(ThresholdTable[0][4], 0);
    TestFrame frame(32, 32, 32, 32);
    ASSERT_EQ(host.process(frame), TRUE);
    EXPECT_EQ(ThresholdTable[0][4], 77);
    EXPECT_EQ(ThresholdTable[1][4], 0);
}

TEST(FrameEntry, CapacityCountsEveryThreadsScratchSlice) {
    // 32 x 32: 6144 bytes of temporary buffer; the plane takes 4096 and each thread 384.
    for (int threads = 1; threads <= 8; ++threads) {
        TestHost host(threads);
        TestFrame frame(32, 32, 32, 32);
        frame.fill(3, FrameKind::random);
        const std::vector<PIXEL_YC> before = frame.edit;
        const int64_t needed = working_memory_bytes(
            reinterpret_cast<std::uintptr_t>(frame.temp.data()), 32, 32, threads);
        host.track(kTrackFirstLevel) = 500;
        const BOOL result = host.process(frame);
        EXPECT_EQ(result, needed <= 6144 ? TRUE : FALSE) << threads << " threads";
        if (!result) {
            EXPECT_TRUE(same_pixels(before, frame.edit)) << threads << " threads";
        }
    }
}

TEST(FrameEntry, EveryStageIsOneCallOfTheHostsMultiThreadService) {
    // One call learns the thread count; then a filtered plane takes 23 (load, rows and columns
    // of five levels each way, threshold, store) and a plane drawn as coefficients stops after
    // its threshold (12). A frame refused for its buffer has made only the first call.
    struct Case {
        int threads, size, view, sel;
        bool editing;
        int calls;
    } cases[] = {
        {2, 64, 0, 0, true, 1 + 3 * 23},  {3, 64, 1, 0, true, 1 + 12}, {1, 64, 1, 2, true, 1 + 12},
        {2, 64, 1, 1, false, 1 + 3 * 23}, {8, 32, 0, 0, true, 1},
    };
    for (const Case& c : cases) {
        TestHost host(c.threads);
        host.track(kTrackSel) = c.sel;
        host.check(kCheckCoefficientView) = c.view;
        host_state.editing = c.editing;
        TestFrame frame(c.size, c.size, c.size, c.size);
        frame.fill(8, FrameKind::noisy);
        const int before = host_state.exec_calls;
        host.process(frame);
        EXPECT_EQ(host_state.exec_calls - before, c.calls)
            << c.threads << " threads, view " << c.view << ", sel " << c.sel;
    }
}

TEST(FrameEntry, WorkingMemoryIncludesAlignmentSlack) {
    EXPECT_EQ(working_memory_bytes(0x1000, 1920, 1088, 2), 1920 * 1088 * 4 + 2 * 12 * 1920);
    EXPECT_EQ(working_memory_bytes(0x1004, 32, 1088, 1), 12 + 32 * 1088 * 4 + 8 * 1088);
}

TEST(FrameEntry, RecordsNoHostShouldSendAreRefusedUntouched) {
    struct Case {
        int w, h, max_w, max_h;
    } cases[] = {
        {0, 10, 10, 10}, {10, 0, 10, 10}, {-5, 10, 10, 10}, {11, 10, 10, 10}, {10, 11, 10, 10}};
    for (const Case& c : cases) {
        TestHost host;
        TestFrame frame(c.w, c.h, c.max_w, c.max_h);
        frame.fill(4, FrameKind::random);
        const std::vector<PIXEL_YC> before = frame.edit;
        host.track(kTrackPosX) = 9999;
        host.track(kTrackFirstLevel) = 5;
        const int updates = host_state.window_updates;
        EXPECT_EQ(host.process(frame), FALSE);
        EXPECT_TRUE(same_pixels(before, frame.edit));
        EXPECT_EQ(host.track(kTrackPosX), 9999);
        EXPECT_EQ(ThresholdTable[0][0], 0);
        EXPECT_EQ(host_state.window_updates, updates);
    }
}

TEST(FrameEntry, EveryTinyFrameIsFilteredInsideItsBuffersAndIndependentOfThreads) {
    for (int w = 1; w <= 40; ++w) {
        for (int h = 1; h <= 40; h += (w % 3 == 0 ? 1 : 5)) {
            std::vector<PIXEL_YC> results[2];
            for (int run = 0; run < 2; ++run) {
                TestHost host(run == 0 ? 1 : 3);
                for (int k = 0; k < kLevelTrackCount; ++k) host.track(kTrackFirstLevel + k) = 40;
                // The host's buffers are sized for its largest frame, not for this one.
                TestFrame frame(w, h, 70, 60);
                frame.fill(static_cast<uint64_t>(w * 41 + h), FrameKind::noisy);
                const std::vector<PIXEL_YC> before = frame.edit;
                ASSERT_EQ(host.process(frame), TRUE) << w << "x" << h;
                for (int y = 0; y < 60; ++y)
                    for (int x = 0; x < 70; ++x)
                        if (x >= w || y >= h) {
                            ASSERT_EQ(std::memcmp(&frame.at(x, y),
                                                  &before[static_cast<size_t>(y) * 70 + x], 6),
                                      0)
                                << "outside the frame at " << x << "," << y;
                        }
                results[run] = frame.edit;
            }
            EXPECT_TRUE(same_pixels(results[0], results[1])) << w << "x" << h;
        }
    }
}

TEST(FrameEntry, AllThresholdsZeroGivesTheFrameBackUpToTheStoreRule) {
    TestHost host(2);
    const int w = 1366, h = 96;  // the last 6 columns truncate
    TestFrame frame(w, h, w, h);
    frame.fill(5, FrameKind::noisy);
    const std::vector<PIXEL_YC> before = frame.edit;
    ASSERT_EQ(host.process(frame), TRUE);
    int changed_rounded = 0, worst_truncated = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const PIXEL_YC& a = before[static_cast<size_t>(y) * w + x];
            const PIXEL_YC& b = frame.at(x, y);
            const int d =
                std::max({std::abs(a.y - b.y), std::abs(a.cb - b.cb), std::abs(a.cr - b.cr)});
            if (x < 1360)
                changed_rounded += d != 0;
            else
                worst_truncated = std::max(worst_truncated, d);
        }
    }
    EXPECT_EQ(changed_rounded, 0);
    EXPECT_LE(worst_truncated, 1);
}

TEST(FrameEntry, PlanesAreFilteredInOrderYCbCrEachFromItsOwnRow) {
    // Thresholds only on plane 1: luma and cr come back unchanged, cb is smoothed.
    TestHost host(2);
    ThresholdTable[1][0] = ThresholdTable[1][1] = ThresholdTable[1][2] = 400;
    TestFrame frame(128, 64, 128, 64);
    frame.fill(6, FrameKind::noisy);
    const std::vector<PIXEL_YC> before = frame.edit;
    ASSERT_EQ(host.process(frame), TRUE);
    int cb_changed = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        ASSERT_EQ(before[i].y, frame.edit[i].y);
        ASSERT_EQ(before[i].cr, frame.edit[i].cr);
        cb_changed += before[i].cb != frame.edit[i].cb;
    }
    EXPECT_GT(cb_changed, 128 * 64 / 2);
}

}  // namespace
