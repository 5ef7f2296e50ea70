#include "winhost/window_host.h"

#include <cstdio>

#include "standin/host_window.h"
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

HWND create_window(const char* class_name, WNDPROC proc, DWORD ex_style, DWORD style, int width,
                   int height, HWND owner) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = class_name;
    RegisterClassA(&wc);
    return CreateWindowExA(ex_style, class_name, class_name, style, 0, 0, width, height, owner,
                           nullptr, wc.hInstance, nullptr);
}

BOOL CALLBACK place_child(HWND child, LPARAM arg) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    reinterpret_cast<std::vector<ChildPlacement>*>(arg)->push_back(
        {GetDlgCtrlID(child), r.left, r.top, r.right, r.bottom});
    return TRUE;
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
    list->text +=
        child_line(GetDlgCtrlID(child), class_name,
                   static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)), r.left, r.top,
                   r.right - r.left, r.bottom - r.top, font == list->font, caption);
    return TRUE;
}

}  // namespace

HWND create_host_windows(const FILTER_DLL& table) {
    HWND main_window = create_window("VelmoraEditorMain", main_window_proc, 0, WS_OVERLAPPEDWINDOW,
                                     800, 600, nullptr);
    const FilterWindowSize size = filter_window_size(table);
    const DWORD style = WS_CAPTION | WS_SYSMENU;
    const DWORD ex_style = WS_EX_TOOLWINDOW;
    RECT outer = {0, 0, size.width, size.height};
    if (size.client) AdjustWindowRectEx(&outer, style, FALSE, ex_style);
    return create_window("VelmoraFilterWindow", DefWindowProcA, ex_style, style,
                         outer.right - outer.left, outer.bottom - outer.top, main_window);
}

void destroy_children(HWND filter_window) {
    while (HWND child = GetWindow(filter_window, GW_CHILD)) DestroyWindow(child);
}

std::string describe_layout(HWND filter_window) {
    RECT client = {};
    GetClientRect(filter_window, &client);
    std::vector<ChildPlacement> children;
    EnumChildWindows(filter_window, place_child, reinterpret_cast<LPARAM>(&children));
    return layout_report(client.right, client.bottom, children);
}

std::string describe_children(HWND filter_window, HFONT font) {
    ChildList list{std::string(), font};
    EnumChildWindows(filter_window, describe_child, reinterpret_cast<LPARAM>(&list));
    return list.text;
}

std::string describe_owner_log() {
    std::string text;
    for (const ReceivedMessage& m : main_window_log)
        text += message_line(m.message, m.wparam, m.lparam);
    return text;
}
