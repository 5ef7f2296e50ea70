// The few USER32 calls the window procedure makes. On Windows they are the system's own; the
// native build declares the same names and a test supplies their definitions.
#pragma once

#include "sdk/aviutl_filter.h"

#if !defined(_WIN32)
typedef void* HMENU;
typedef void* LPVOID;
typedef std::intptr_t LRESULT;
typedef unsigned long DWORD;

constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT GW_OWNER = 4;

HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* window_name, DWORD style,
                     int x, int y, int width, int height, HWND parent, HMENU menu,
                     HINSTANCE instance, LPVOID param);
LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
HWND GetWindow(HWND hwnd, UINT command);
#endif
