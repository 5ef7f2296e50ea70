// The emulator's windows: an editor main window that records what it receives, and the filter
// window it owns, as the host creates them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sdk/aviutl_filter.h"

struct ReceivedMessage {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

extern std::vector<ReceivedMessage> main_window_log;

// Creates both windows, the filter window sized from `table` as the host does; returns the
// filter window.
HWND create_host_windows(const FILTER_DLL& table);

// Destroys the filter window's children, as a fresh window would have none.
void destroy_children(HWND filter_window);

// Where the filter window's children lie in its client area.
std::string describe_layout(HWND filter_window);

// The filter window's child windows, one line each: id, class, style, rectangle, caption bytes
// and whether it uses `font`.
std::string describe_children(HWND filter_window, HFONT font);

// The key and wheel messages the main window received.
std::string describe_owner_log();
