#include "winhost/window_host.h"

#include <cstdio>

#include "standin/user32_standin.h"

std::vector<ReceivedMessage> main_window_log;

namespace {

LRESULT CALLBACK main_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_MOUSEWHEEL) {
        main_window_log.push_back({message, wparam, lparam});
        return 0;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

HWND create_window(const char* class_name, WNDPROC proc, HWND owner) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = class_name;
    RegisterClassA(&wc);
    return CreateWindowExA(0, class_name, class_name, WS_OVERLAPPEDWINDOW, 0, 0, 400, 700, owner,
                           nullptr, wc.hInstance, nullptr);
}

struct ChildList {
    std::string text;
    HFONT font;
};

BOOL CALLBACK describe_child(HWND child, LPARAM arg) {
    auto* list = reinterpret_cast<ChildList*>(arg);
    char class_name[64] = {}, caption[64] = {};
    GetClassNameA(child, class_name, sizeof class_name);
    GetWindowTextA(child, caption, sizeof caption);
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    const auto font = reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0));
    list->text += child_line(GetDlgCtrlID(child), class_name,
                             static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)), r.left,
                             r.top, r.right - r.left, r.bottom - r.top, font == list->font, caption);
    return TRUE;
}

}  // namespace

HWND create_host_windows() {
    HWND main_window = create_window("VelmoraEditorMain", main_window_proc, nullptr);
    return create_window("VelmoraFilterWindow", DefWindowProcA, main_window);
}

std::string describe_children(HWND filter_window, HFONT font) {
    ChildList list{std::string(), font};
    EnumChildWindows(filter_window, describe_child, reinterpret_cast<LPARAM>(&list));
    return list.text;
}

std::string describe_owner_log() {
    std::string text;
    for (const ReceivedMessage& m : main_window_log) text += message_line(m.message, m.wparam, m.lparam);
    return text;
}
