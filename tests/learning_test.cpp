// Threshold learning: which coefficients each measurement window covers, how a maximum becomes
// track units, and when the frame handler learns and puts the result on the tracks.
#include "plugin/learning.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "plugin/parameter_store.h"
#include "plugin/user32.h"
#include "plugin/window_procedure.h"
#include "sdk/aviutl_filter.h"
#include "tests/test_host.h"

namespace {

// One track unit at level l is powf(√2, l) / 4 in magnitude; with correctly rounded powers these
// quarter scales are exactly the following floats, so learning multiplies by 4 / (4 * scale).
const float kTrackUnit[kLevelCount] = {0.25f, 0.35355338f, 0.49999997f, 0.70710677f, 0.99999994f};
float learn_scale(int l) { return 4.0f / (kTrackUnit[l] * 4.0f); }

using Table = std::array<std::array<int32_t, kLevelTrackCount>, kPlaneCount>;

Table table_now() {
    Table t;
    for (int p = 0; p < kPlaneCount; ++p)
        for (int k = 0; k < kLevelTrackCount; ++k) t[p][k] = ThresholdTable[p][k];
    return t;
}

std::array<int32_t, kLevelTrackCount> level_tracks(TestHost& host) {
    std::array<int32_t, kLevelTrackCount> t;
    for (int k = 0; k < kLevelTrackCount; ++k) t[k] = host.track(kTrackFirstLevel + k);
    return t;
}

void press(TestHost& host, int id) {
    host.fp->func_WndProc(nullptr, WM_COMMAND, static_cast<WPARAM>(id), 0, &host_state, host.fp);
}

// A WorkingPlane of zeros in memory of the test's own, laid out for direct LearnThresholds calls.
struct Coefficients {
    static constexpr int W = 256, H = 256;
    std::vector<float> storage = std::vector<float>(W * H + 4, 0.0f);
    float* plane;

    Coefficients() {
        const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
        plane = storage.data() + ((16 - (address & 15)) & 15) / sizeof(float);
        frame_geometry = {};
        frame_geometry.W = W;
        frame_geometry.H = H;
        frame_geometry.WorkingPlane = plane;
        frame_geometry.current_plane = 0;
        frame_geometry.kernels = &best_kernels();
    }
    // Position (x, y) of the block of level l, orientation o.
    float& at(int l, int o, int x, int y) {
        const int w2 = W >> (l + 1), h2 = H >> (l + 1);
        return plane[(y + (o == 0 ? 0 : h2)) * W + x + (o == 1 ? 0 : w2)];
    }
};

struct Window {
    int x0, x1, y0, y1;  // block columns [x0, x1), rows [y0, y1)
};
struct WindowCase {
    int X, Y;
    std::array<Window, kLevelCount> windows;
};

// Ceiling of the box's left/top edge and floor of its right/bottom edge, per level.
const WindowCase kWindowCases[] = {
    {64, 64, {{{32, 96, 32, 96}, {16, 48, 16, 48}, {8, 24, 8, 24}, {4, 12, 4, 12}, {2, 6, 2, 6}}}},
    {33, 64, {{{17, 80, 32, 96}, {9, 40, 16, 48}, {5, 20, 8, 24}, {3, 10, 4, 12}, {2, 5, 2, 6}}}},
    {64, 33, {{{32, 96, 17, 80}, {16, 48, 9, 40}, {8, 24, 5, 20}, {4, 12, 3, 10}, {2, 6, 2, 5}}}},
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << "box at " << c.X << "," << c.Y; }

class LearningWindowTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(LearningWindowTest, CountsCoefficientsJustInsideAndNotJustOutside) {
    const WindowCase& c = GetParam();
    TestHost host;
    host.track(kTrackPosX) = c.X;
    host.track(kTrackPosY) = c.Y;
    Coefficients coefficients;
    for (int l = 0; l < kLevelCount; ++l) {
        const Window& w = c.windows[l];
        struct Probe {
            int x, y;
            bool inside;
        };
        const Probe probes[] = {{w.x0, w.y0, true},      {w.x1 - 1, w.y1 - 1, true},
                                {w.x0, w.y1 - 1, true},  {w.x1 - 1, w.y0, true},
                                {w.x0 - 1, w.y0, false}, {w.x1, w.y1 - 1, false},
                                {w.x0, w.y0 - 1, false}, {w.x1 - 1, w.y1, false}};
        for (int o = 0; o < kOrientationCount; ++o) {
            for (const Probe& probe : probes) {
                SCOPED_TRACE(testing::Message() << "level " << l << " orientation " << o << " at "
                                                << probe.x << "," << probe.y);
                float& a = coefficients.at(l, o, probe.x, probe.y);
                a = -100.0f;
                LearnThresholds(host.fp, kLevelCount);
                a = 0.0f;
                for (int k = 0; k < kLevelTrackCount; ++k) {
                    const bool hit = probe.inside && k == 3 * l + o;
                    EXPECT_EQ(ThresholdTable[0][k],
                              hit ? static_cast<int32_t>(100.0f * learn_scale(l)) : 0)
                        << "entry " << k;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Boxes, LearningWindowTest, ::testing::ValuesIn(kWindowCases));

TEST(Learning, WindowsOfZerosGiveZeroWhateverLiesOutside) {
    TestHost host;
    host.track(kTrackPosX) = host.track(kTrackPosY) = 64;
    Coefficients coefficients;
    for (int l = 0; l < kLevelCount; ++l)
        for (int o = 0; o < kOrientationCount; ++o) coefficients.at(l, o, 0, 0) = 500.0f;
    coefficients.plane[0] = 9000.0f;  // the final low-low block is never measured
    frame_geometry.current_plane = 2;
    for (auto& entry : ThresholdTable[2]) entry = 9;
    LearnThresholds(host.fp, kLevelCount);
    for (int k = 0; k < kLevelTrackCount; ++k) EXPECT_EQ(ThresholdTable[2][k], 0) << k;
    for (int k = 0; k < kLevelTrackCount; ++k) EXPECT_EQ(ThresholdTable[0][k], 0) << k;
}

struct Truncation {
    int level;
    float maximum;
    int32_t entry;
};

// q is 4 at level 0, 2.0000002 at level 2 and 1.0000001 at level 4, so the float just below 5
// (level 2) or 10 (level 4) still reaches 10 track units.
const Truncation kTruncations[] = {
    {0, 2.5f, 10},
    {0, std::nextafter(2.5f, 0.0f), 9},
    {0, 1100.0f, 4400},
    {2, 5.0f, 10},
    {2, 4.995f, 9},
    {2, std::nextafter(5.0f, 0.0f), 10},
    {4, 10.0f, 10},
    {4, 9.99f, 9},
    {4, std::nextafter(10.0f, 0.0f), 10},
    {1, 100.0f, 282},
    {3, 100.0f, 141},
};

TEST(Learning, TruncatesTrackUnitsTowardZeroWithoutClamping) {
    TestHost host;
    host.track(kTrackPosX) = host.track(kTrackPosY) = 64;
    for (const Truncation& t : kTruncations) {
        Coefficients coefficients;
        coefficients.at(t.level, 2, 40 >> t.level, 40 >> t.level) = t.maximum;
        LearnThresholds(host.fp, kLevelCount);
        EXPECT_EQ(ThresholdTable[0][3 * t.level + 2], t.entry)
            << "level " << t.level << " maximum " << t.maximum;
    }
}

// Frames through the frame handler with learning armed from the window procedure.
struct LearningFrame {
    TestHost host;
    TestFrame frame{320, 256, 320, 256};
    FrameKind kind;

    explicit LearningFrame(FrameKind picture = FrameKind::noisy) : kind(picture) {
        host.track(kTrackPosX) = host.track(kTrackPosY) = 64;
        host.check(kCheckSelection) = 1;
        press(host, kMeasureButtonId);
    }
    void select(int plane) {
        host.track(kTrackSel) = plane;
        host.fp->func_update(host.fp, FILTER_UPDATE_STATUS_TRACK + kTrackSel);
    }
    void process() {
        frame.fill(11, kind);
        ASSERT_EQ(host.process(frame), TRUE);
    }
};

// What every plane learns from the standard frame.
Table learned_reference() {
    LearningFrame f;
    f.process();
    return table_now();
}

TEST(LearningFrames, LearnedValuesGoOnTheTracksUnclamped) {
    LearningFrame f(FrameKind::random);
    const int updates = host_state.window_updates;
    f.process();
    EXPECT_GT(ThresholdTable[0][0], 4096);
    EXPECT_EQ(level_tracks(f.host), table_now()[0]);
    EXPECT_EQ(host_state.window_updates, updates + 1);
    EXPECT_EQ(measure_requested, 1);
}

TEST(LearningFrames, CoefficientViewRelearnsOnlyTheSelectedPlane) {
    const Table reference = learned_reference();
    LearningFrame f;
    f.select(2);
    for (int p = 0; p < kPlaneCount; ++p)
        for (int k = 0; k < kLevelTrackCount; ++k) ThresholdTable[p][k] = 5000 + k;
    show_row(f.host.fp, 2);
    f.host.check(kCheckCoefficientView) = 1;
    f.process();
    const Table t = table_now();
    for (int p : {0, 1})
        for (int k = 0; k < kLevelTrackCount; ++k) EXPECT_EQ(t[p][k], 5000 + k);
    EXPECT_EQ(t[2], reference[2]);
    EXPECT_EQ(level_tracks(f.host), reference[2]);
}

TEST(LearningFrames, ResetWhileArmedIsFollowedByRelearning) {
    LearningFrame f;
    f.process();
    const auto learned = level_tracks(f.host);
    ASSERT_NE(learned, (std::array<int32_t, kLevelTrackCount>{}));
    press(f.host, kResetButtonId);
    EXPECT_EQ(table_now(), Table{});
    EXPECT_EQ(level_tracks(f.host), (std::array<int32_t, kLevelTrackCount>{}));
    EXPECT_EQ(measure_requested, 1);
    f.process();
    EXPECT_EQ(level_tracks(f.host), learned);
}

TEST(LearningFrames, SelectionCheckOffKeepsTheFlagButNeitherLearnsNorShows) {
    const Table reference = learned_reference();
    LearningFrame f;
    f.host.check(kCheckSelection) = 0;
    for (int k = 0; k < kLevelTrackCount; ++k) f.host.track(kTrackFirstLevel + k) = 3 + k;
    const int updates = host_state.window_updates;
    f.process();
    EXPECT_EQ(measure_requested, 1);
    EXPECT_EQ(host_state.window_updates, updates);
    for (int k = 0; k < kLevelTrackCount; ++k) {
        EXPECT_EQ(f.host.track(kTrackFirstLevel + k), 3 + k);
        EXPECT_EQ(ThresholdTable[0][k], 3 + k);
        EXPECT_EQ(ThresholdTable[1][k], 0);
    }
    f.host.check(kCheckSelection) = 1;
    f.process();
    EXPECT_EQ(table_now(), reference);
    EXPECT_EQ(level_tracks(f.host), reference[0]);
}

TEST(LearningFrames, LearningDoesNotDependOnEditing) {
    const Table reference = learned_reference();
    for (int view : {0, 1}) {
        LearningFrame f;
        host_state.editing = false;
        f.host.check(kCheckCoefficientView) = view;
        f.process();
        EXPECT_EQ(table_now(), reference) << "coefficient view " << view;
        EXPECT_EQ(level_tracks(f.host), reference[0]);
    }
}

}  // namespace
