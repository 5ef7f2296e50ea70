// The parameter store behind the level track bars: fifteen thresholds per colour plane, of
// which the tracks show one plane's row at a time.
#pragma once

#include <cstdint>

#include "sdk/aviutl_filter.h"
#include "wavelet/transform_plane.h"

constexpr int kPlaneCount = 3;
constexpr int kLevelCount = kLevels;
constexpr int kOrientationCount = 3;
constexpr int kLevelTrackCount = kLevelCount * kOrientationCount;

// Track and check box indices, in host order.
constexpr int kTrackSel = 0;
constexpr int kTrackFirstLevel = 1;
constexpr int kTrackPosX = 16;
constexpr int kTrackPosY = 17;
constexpr int kTrackCount = 18;
constexpr int kCheckCoefficientView = 0;
constexpr int kCheckSelection = 1;
constexpr int kCheckCount = 2;

// [plane][3 * level + orientation], orientation 0 = "H", 1 = "V", 2 = "D".
typedef int32_t ThresholdRow[kLevelTrackCount];
extern ThresholdRow ThresholdTable[kPlaneCount];

// The plane whose row tracks 1..15 currently display.
extern int32_t shown_plane;

// A plane index taken from a track value, kept inside the table: the host restores whatever a
// saved project holds, in or out of the track's range.
int32_t clamp_plane(int32_t value);

// Tracks 1..15 into row shown_plane.
void commit_tracks(FILTER* fp);

// Row `plane` into tracks 1..15.
void show_row(FILTER* fp, int32_t plane);

// Back to the state at load: every threshold zero, plane 0 shown.
void reset_parameter_store();
