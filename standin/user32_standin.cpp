#include "standin/user32_standin.h"

#include <strings.h>

#include <cstdio>

std::string child_line(long id, const char* class_name, unsigned long style, long x, long y,
                       long width, long height, bool host_font, const char* caption) {
    char line[256];
    std::snprintf(line, sizeof line, "child id=%ld class=%s style=%08lx rect=%ld,%ld,%ld,%ld font=%s caption=",
                  id, class_name, style, x, y, width, height, host_font ? "host" : "other");
    std::string text = line;
    for (const char* c = caption; *c; ++c) {
        std::snprintf(line, sizeof line, "%02x", static_cast<unsigned char>(*c));
        text += line;
    }
    return text + "\n";
}

std::string message_line(UINT message, WPARAM wparam, LPARAM lparam) {
    char line[128];
    std::snprintf(line, sizeof line, "owner got %04x %llx %llx\n", message,
                  static_cast<unsigned long long>(wparam), static_cast<unsigned long long>(lparam));
    return line;
}

#if !defined(_WIN32)

namespace {

// Class names match case-insensitively; Windows reports a system class by its registered name.
std::string registered_class_name(const std::string& name) {
    static const char* const system_classes[] = {"Button", "Static", "Edit", "ComboBox", "ListBox",
                                                 "ScrollBar"};
    for (const char* system : system_classes)
        if (strcasecmp(name.c_str(), system) == 0) return system;
    return name;
}

}  // namespace

std::string describe_standin_children(HWND parent, HFONT host_font) {
    std::string text;
    for (const StandinWindow* w : standin_windows) {
        if (w->parent != parent) continue;
        HFONT font = nullptr;
        for (const SentMessage& m : standin_messages)
            if (m.window == w && m.message == WM_SETFONT) font = reinterpret_cast<HFONT>(m.wparam);
        text += child_line(static_cast<long>(w->id), registered_class_name(w->class_name).c_str(), w->style, w->x, w->y,
                           w->width, w->height, font && font == host_font, w->caption.c_str());
    }
    return text;
}

std::string describe_messages_to(HWND owner) {
    std::string text;
    for (const SentMessage& m : standin_messages)
        if (m.window == owner) text += message_line(m.message, m.wparam, m.lparam);
    return text;
}

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
