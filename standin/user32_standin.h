// The native build's stand-ins for the USER32 calls of the window procedure: windows are plain
// records, and every call is logged for the tests to read.
#pragma once

#include <string>
#include <vector>

#include "host/user32.h"

struct StandinWindow {
    unsigned long ex_style;
    std::string class_name;
    std::string caption;
    unsigned long style;
    int x, y, width, height;
    HWND parent;
    std::intptr_t id;
    HINSTANCE instance;
    HWND owner;
};

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

extern std::vector<StandinWindow*> standin_windows;
extern std::vector<SentMessage> standin_messages;

// A top-level window with the given owner, for the filter window itself.
HWND make_standin_window(HWND owner);
void clear_standin_windows();
