// The filter window's procedure: the two push buttons, the Pos ranges and key forwarding.
#pragma once

#include <cstdint>

#include "sdk/aviutl_filter.h"

constexpr int kMeasureButtonId = 40001;
constexpr int kResetButtonId = 40002;

// Nonzero while threshold learning is armed; written only by the window procedure.
extern int32_t measure_requested;

// The two buttons, from WM_FILTER_INIT on.
extern HWND measure_button;
extern HWND reset_button;

BOOL func_WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void* editp, FILTER* fp);
