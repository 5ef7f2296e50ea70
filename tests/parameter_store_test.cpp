// The level tracks as a window onto one plane's row of thresholds.
#include "plugin/parameter_store.h"

#include <gtest/gtest.h>

#include "tests/test_host.h"

namespace {

void set_level_tracks(TestHost& host, int base) {
    for (int k = 0; k < kLevelTrackCount; ++k) host.track(kTrackFirstLevel + k) = base + k;
}

void expect_level_tracks(TestHost& host, int base) {
    for (int k = 0; k < kLevelTrackCount; ++k)
        EXPECT_EQ(host.track(kTrackFirstLevel + k), base == 0 ? 0 : base + k) << k;
}

void select_plane(TestHost& host, int plane) {
    host.track(kTrackSel) = plane;
    host.fp->func_update(host.fp, FILTER_UPDATE_STATUS_TRACK + kTrackSel);
}

TEST(ParameterStore, EachPlaneKeepsItsValuesAcrossSelection) {
    TestHost host;
    set_level_tracks(host, 100);
    select_plane(host, 2);
    expect_level_tracks(host, 0);
    set_level_tracks(host, 300);
    select_plane(host, 0);
    expect_level_tracks(host, 100);
    for (int k = 0; k < kLevelTrackCount; ++k) {
        EXPECT_EQ(ThresholdTable[2][k], 300 + k);
        EXPECT_EQ(ThresholdTable[1][k], 0);
    }
    select_plane(host, 2);
    expect_level_tracks(host, 300);
}

TEST(ParameterStore, LevelTracksReachTheTableWithTheNextFrame) {
    TestHost host;
    set_level_tracks(host, 40);
    const int updates = host_state.window_updates;
    host.fp->func_update(host.fp, FILTER_UPDATE_STATUS_TRACK + 1);
    EXPECT_EQ(host_state.window_updates, updates);
    for (int k = 0; k < kLevelTrackCount; ++k) EXPECT_EQ(ThresholdTable[0][k], 0);
    TestFrame frame(64, 64, 64, 64);
    frame.fill(1, FrameKind::noisy);
    ASSERT_EQ(host.process(frame), TRUE);
    for (int k = 0; k < kLevelTrackCount; ++k) EXPECT_EQ(ThresholdTable[0][k], 40 + k);
}

TEST(ParameterStore, StartUpShowsTheRowOfTheShownPlane) {
    TestHost host;
    expect_level_tracks(host, 0);
    EXPECT_EQ(host_state.window_updates, 1);
    for (int p = 0; p < kPlaneCount; ++p)
        for (int k = 0; k < kLevelTrackCount; ++k) ThresholdTable[p][k] = 1000 * (p + 1) + k;
    shown_plane = 1;
    set_level_tracks(host, 7);
    host.fp->func_init(host.fp);
    expect_level_tracks(host, 2000);
    EXPECT_EQ(host_state.window_updates, 2);
}

}  // namespace
