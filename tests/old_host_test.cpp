// Hosts whose service table lacks entries: a frame that needs a missing service is refused and
// left as it was, and the window's actions skip a missing service but still take effect.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/parameter_store.h"
#include "plugin/window_procedure.h"
#include "standin/user32_standin.h"
#include "tests/test_host.h"

namespace {

bool same_pixels(const std::vector<PIXEL_YC>& a, const std::vector<PIXEL_YC>& b) {
    return std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0;
}

struct OldHost : ::testing::Test {
    TestHost host;
    HWND owner = nullptr, window = nullptr;

    void SetUp() override {
        clear_standin_windows();
        owner = make_standin_window(nullptr);
        window = make_standin_window(owner);
    }
    void TearDown() override { clear_standin_windows(); }

    BOOL send(UINT message, WPARAM wparam = 0) {
        return host.fp->func_WndProc(window, message, wparam, 0, &host_state, host.fp);
    }
};

TEST_F(OldHost, FramesAreRefusedUntouchedWithoutTheWorkerOrEditingService) {
    int threshold = 90;
    for (const char* missing : {"exec_multi_thread_func", "is_editing"}) {
        ++threshold;
        ASSERT_TRUE(set_service(host.filter, missing, false));
        TestFrame frame(200, 150, 200, 150);
        frame.fill(7, FrameKind::noisy);
        const std::vector<PIXEL_YC> before = frame.edit;
        host.track(kTrackPosX) = 5000;
        host.track(kTrackFirstLevel) = threshold;
        EXPECT_EQ(host.process(frame), FALSE) << missing;
        EXPECT_TRUE(same_pixels(frame.edit, before)) << missing;
        EXPECT_EQ(host.track(kTrackPosX), 5000) << missing << ": the Pos track was clamped";
        EXPECT_NE(ThresholdTable[0][0], threshold) << missing << ": the tracks were committed";
        ASSERT_TRUE(set_service(host.filter, missing, true));
        EXPECT_EQ(host.process(frame), TRUE) << missing;
        EXPECT_FALSE(same_pixels(frame.edit, before)) << missing;
    }
}

TEST_F(OldHost, WithoutWindowServicesFramesAndCommandsStillTakeEffect) {
    ASSERT_TRUE(set_service(host.filter, "filter_window_update", false));
    ASSERT_TRUE(set_service(host.filter, "is_filter_active", false));
    const int updates = host_state.window_updates;

    TestFrame frame(300, 200, 300, 200);
    frame.fill(3, FrameKind::noisy);
    host.track(kTrackPosX) = 5000;
    host.track(kTrackFirstLevel) = 40;
    EXPECT_EQ(host.process(frame), TRUE);
    EXPECT_EQ(host.track(kTrackPosX), 288 - 129);  // clamped, without asking for a redraw
    EXPECT_EQ(ThresholdTable[0][0], 40);

    EXPECT_EQ(send(WM_FILTER_INIT), TRUE);
    EXPECT_EQ(send(WM_COMMAND, kMeasureButtonId), FALSE);  // no redraw asked of an unknown state
    EXPECT_EQ(measure_requested, 1);
    EXPECT_EQ(send(WM_COMMAND, kResetButtonId), FALSE);
    EXPECT_EQ(ThresholdTable[0][0], 0);
    EXPECT_EQ(host.track(kTrackFirstLevel), 0);
    host.track(kTrackSel) = 2;
    EXPECT_EQ(host.fp->func_update(host.fp, FILTER_UPDATE_STATUS_ALL), TRUE);
    EXPECT_EQ(shown_plane, 2);
    EXPECT_EQ(host.fp->func_init(host.fp), TRUE);
    EXPECT_EQ(host_state.window_updates, updates);
}

TEST_F(OldHost, WithoutAnyServiceTableFramesAreRefusedAndTheWindowStillWorks) {
    host.fp->exfunc = nullptr;
    TestFrame frame(64, 64, 64, 64);
    frame.fill(5, FrameKind::noisy);
    const std::vector<PIXEL_YC> before = frame.edit;
    EXPECT_EQ(host.process(frame), FALSE);
    EXPECT_TRUE(same_pixels(frame.edit, before));
    EXPECT_EQ(send(WM_FILTER_INIT), TRUE);
    EXPECT_EQ(send(WM_COMMAND, kMeasureButtonId), FALSE);
    EXPECT_EQ(measure_requested, 1);
    EXPECT_EQ(host.fp->func_init(host.fp), TRUE);
}

}  // namespace
