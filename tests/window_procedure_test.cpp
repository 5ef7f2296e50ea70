// The filter window's procedure against the USER32 stand-ins: the buttons it creates, the Pos
// ranges, the two commands and the forwarding of keys to the editor's main window.
#include "plugin/window_procedure.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "plugin/filter_table.h"
#include "plugin/parameter_store.h"
#include "plugin/user32.h"
#include "standin/thread_pool.h"
#include "standin/user32_standin.h"
#include "tests/test_host.h"

namespace {

class WindowProcedureTest : public ::testing::Test {
protected:
    TestHost host;
    HWND main_window = nullptr, filter_window = nullptr;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(std::intptr_t{0x4000});
    HFONT font = reinterpret_cast<HFONT>(std::intptr_t{0x77});

    void SetUp() override {
        clear_standin_windows();
        main_window = make_standin_window(nullptr);
        filter_window = make_standin_window(main_window);
        host.fp->hwnd = filter_window;
        host.fp->dll_hinst = instance;
        host_state.sys.hfont = font;
        host_state.sys.max_w = 1000;  // floor32: 992
        host_state.sys.max_h = 1079;  // floor32: 1056
    }
    void TearDown() override { clear_standin_windows(); }

    BOOL send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
        return host.fp->func_WndProc(filter_window, message, wparam, lparam, &host_state, host.fp);
    }
    void expect_pos_ranges(int min, int max_x, int max_y) {
        EXPECT_EQ(host.fp->track_s[kTrackPosX], min);
        EXPECT_EQ(host.fp->track_s[kTrackPosY], min);
        EXPECT_EQ(host.fp->track_e[kTrackPosX], max_x);
        EXPECT_EQ(host.fp->track_e[kTrackPosY], max_y);
    }
};

using Message = std::tuple<HWND, UINT, WPARAM, LPARAM>;

std::vector<Message> sent() {
    std::vector<Message> all;
    for (const SentMessage& m : standin_messages)
        all.emplace_back(m.window, m.message, m.wparam, m.lparam);
    return all;
}

TEST_F(WindowProcedureTest, InitCreatesBothButtonsAndSetsThePosRanges) {
    const int updates = host_state.window_updates;
    EXPECT_EQ(send(WM_FILTER_INIT), 1);
    ASSERT_EQ(standin_windows.size(), 4u);
    struct Expected {
        std::intptr_t id;
        const char* caption;
        int y;
    };
    const Expected buttons[] = {{40001, "\x90\xdd\x92\xe8", 488},
                                {40002, "\x83\x8a\x83\x5a\x83\x62\x83\x67", 528}};
    for (int i = 0; i < 2; ++i) {
        const StandinWindow& b = *standin_windows[2 + i];
        EXPECT_EQ(
            std::tie(b.class_name, b.caption, b.ex_style, b.style, b.parent, b.id, b.instance),
            std::make_tuple(std::string("BUTTON"), std::string(buttons[i].caption), 0ul,
                            0x50000C00ul, filter_window, buttons[i].id, instance));
        EXPECT_EQ(std::tie(b.x, b.y, b.width, b.height), std::make_tuple(8, buttons[i].y, 304, 32));
    }
    EXPECT_EQ(measure_button, standin_windows[2]);
    EXPECT_EQ(reset_button, standin_windows[3]);
    const auto font_word = reinterpret_cast<WPARAM>(font);
    EXPECT_EQ(sent(), (std::vector<Message>{{measure_button, WM_SETFONT, font_word, 0},
                                            {reset_button, WM_SETFONT, font_word, 0}}));
    expect_pos_ranges(33, 992 - 129, 1056 - 129);
    EXPECT_EQ(host_state.window_updates, updates + 1);
}

TEST_F(WindowProcedureTest, FileOpenSetsThePosRangesOnly) {
    const int updates = host_state.window_updates;
    EXPECT_EQ(send(WM_FILTER_FILE_OPEN), 1);
    EXPECT_EQ(standin_windows.size(), 2u);
    EXPECT_TRUE(standin_messages.empty());
    expect_pos_ranges(33, 863, 927);
    EXPECT_EQ(host_state.window_updates, updates + 1);
}

TEST_F(WindowProcedureTest, WithoutSystemInformationButtonsKeepTheirFontAndRangesStay) {
    host_state.has_sys_info = false;
    build_filter(host.filter, GetFilterTable(), pool_exec);
    host.fp->hwnd = filter_window;
    host.fp->dll_hinst = instance;
    host.fp->track_s[kTrackPosX] = 5;
    host.fp->track_s[kTrackPosY] = 5;
    host.fp->track_e[kTrackPosX] = 700;
    host.fp->track_e[kTrackPosY] = 800;
    EXPECT_EQ(send(WM_FILTER_INIT), 1);
    EXPECT_EQ(standin_windows.size(), 4u);
    EXPECT_TRUE(standin_messages.empty());
    expect_pos_ranges(5, 700, 800);
}

TEST_F(WindowProcedureTest, MeasureButtonArmsLearningAndAsksForARedrawWhenActive) {
    send(WM_FILTER_INIT);
    for (bool active : {true, false}) {
        standin_messages.clear();
        measure_requested = 0;
        host_state.active = active;
        // The high word (the notification code) does not matter.
        EXPECT_EQ(send(WM_COMMAND, (1u << 16) | 40001u), active ? 1 : 0);
        EXPECT_EQ(measure_requested, 1);
        EXPECT_EQ(sent(), (std::vector<Message>{{measure_button, WM_KILLFOCUS, 0, 0}}));
    }
}

TEST_F(WindowProcedureTest, ResetButtonZeroesEveryPlaneAndLeavesTheFlag) {
    send(WM_FILTER_INIT);
    host.track(kTrackSel) = 1;
    host.fp->func_update(host.fp, FILTER_UPDATE_STATUS_TRACK);
    for (int flag : {0, 1}) {
        for (int p = 0; p < kPlaneCount; ++p)
            for (int k = 0; k < kLevelTrackCount; ++k) ThresholdTable[p][k] = 10 * p + k + 1;
        show_row(host.fp, 1);
        measure_requested = flag;
        standin_messages.clear();
        const int updates = host_state.window_updates;
        EXPECT_EQ(send(WM_COMMAND, 40002), 1);
        for (int p = 0; p < kPlaneCount; ++p)
            for (int k = 0; k < kLevelTrackCount; ++k) EXPECT_EQ(ThresholdTable[p][k], 0);
        for (int k = 0; k < kLevelTrackCount; ++k) EXPECT_EQ(host.track(kTrackFirstLevel + k), 0);
        EXPECT_EQ(measure_requested, flag);
        EXPECT_EQ(sent(), (std::vector<Message>{{reset_button, WM_KILLFOCUS, 0, 0}}));
        EXPECT_EQ(host_state.window_updates, updates + 1);
    }
}

TEST_F(WindowProcedureTest, AnyOtherCommandDisarmsLearning) {
    ThresholdTable[1][4] = 9;
    // 12004 is the host's own button id; the last one carries 40001 in its high word only.
    for (WPARAM wparam : {WPARAM{12004}, WPARAM{0}, WPARAM{40003}, (WPARAM{40001} << 16) | 5}) {
        measure_requested = 1;
        EXPECT_EQ(send(WM_COMMAND, wparam), 0);
        EXPECT_EQ(measure_requested, 0) << wparam;
    }
    EXPECT_EQ(ThresholdTable[1][4], 9);
    EXPECT_TRUE(standin_messages.empty());
}

TEST_F(WindowProcedureTest, KeysAndWheelGoToTheMainWindow) {
    for (UINT message : {WM_KEYDOWN, WM_KEYUP, WM_MOUSEWHEEL}) {
        standin_messages.clear();
        EXPECT_EQ(send(message, 0x25, 0x014B0001), 0);
        EXPECT_EQ(sent(), (std::vector<Message>{{main_window, message, 0x25, 0x014B0001}}));
    }
}

TEST_F(WindowProcedureTest, OtherMessagesDoNothing) {
    measure_requested = 1;
    for (UINT message : {WM_FILTER_EXIT, WM_FILTER_UPDATE, WM_SETFONT}) {
        EXPECT_EQ(send(message, 1, 2), 0);
    }
    EXPECT_EQ(measure_requested, 1);
    EXPECT_EQ(standin_windows.size(), 2u);
    EXPECT_TRUE(standin_messages.empty());
}

}  // namespace
