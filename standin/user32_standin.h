// The native build's stand-ins for the USER32 calls of the window procedure: windows are plain
// records, and every call is logged for the tests to read.
#pragma once

#include <string>
#include <vector>

#include "plugin/user32.h"

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

// The same reports the Windows host emulator gives from real windows: the children of
// `parent`, and the key and wheel messages sent to `owner`.
std::string describe_standin_children(HWND parent, HFONT host_font);
std::string describe_messages_to(HWND owner);

// One line in the form both hosts print.
std::string child_line(long id, const char* class_name, unsigned long style, long x, long y,
                       long width, long height, bool host_font, const char* caption);
std::string message_line(UINT message, WPARAM wparam, LPARAM lparam);
