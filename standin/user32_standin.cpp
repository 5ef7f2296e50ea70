#include "standin/user32_standin.h"

#if !defined(_WIN32)

std::vector<StandinWindow*> standin_windows;
std::vector<SentMessage> standin_messages;

HWND make_standin_window(HWND owner) {
    auto* window = new StandinWindow{};
    window->owner = owner;
    standin_windows.push_back(window);
    return window;
}

void clear_standin_windows() {
    for (StandinWindow* w : standin_windows) delete w;
    standin_windows.clear();
    standin_messages.clear();
}

HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* window_name, DWORD style,
                     int x, int y, int width, int height, HWND parent, HMENU menu,
                     HINSTANCE instance, LPVOID) {
    auto* window = new StandinWindow{ex_style, class_name,
                                     window_name, style,
                                     x,          y,
                                     width,      height,
                                     parent,     reinterpret_cast<std::intptr_t>(menu),
                                     instance,   nullptr};
    standin_windows.push_back(window);
    return window;
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    standin_messages.push_back({hwnd, message, wparam, lparam});
    return 0;
}

HWND GetWindow(HWND hwnd, UINT command) {
    if (command != GW_OWNER || !hwnd) return nullptr;
    return static_cast<StandinWindow*>(hwnd)->owner;
}

#endif
