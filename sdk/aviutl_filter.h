// Declarations of the editor's filter plug-in interface (SDK generation 0.99k and later).
// Field order and widths follow the host's published records; every size and offset the
// plug-in relies on is pinned below for the 32-bit Windows build.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
// Stand-ins for the Windows handle and message types, so that the native build compiles the
// same sources. Widths follow the host platform's pointer size.
typedef int BOOL;
typedef unsigned int UINT;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef void* HWND;
typedef void* HINSTANCE;
typedef void* HFONT;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#endif

struct PIXEL_YC {
    short y;
    short cb;
    short cr;
};

struct PIXEL {
    unsigned char b, g, r;
};

struct FILTER_PROC_INFO {
    int flag;
    PIXEL_YC* ycp_edit;
    PIXEL_YC* ycp_temp;
    int w, h;
    int max_w, max_h;
    int frame;
    int frame_n;
    int org_w, org_h;
    short* audiop;
    int audio_n;
    int audio_ch;
    PIXEL* pixelp;
    void* editp;
    int yc_size;
    int line_size;
    int reserve[8];
};

struct SYS_INFO {
    int flag;
    char* info;
    int filter_n;
    int min_w, min_h;
    int max_w, max_h;
    int max_frame;
    char* edit_name;
    char* project_name;
    char* output_name;
    int vram_w, vram_h;
    int vram_yc_size;
    int vram_line_size;
    HFONT hfont;
    int build;
    int reserve[2];
};

typedef void (*MULTI_THREAD_FUNC)(int thread_id, int thread_num, void* param1, void* param2);

// The host's service table. Only the entries this plug-in calls carry their signatures; the
// rest are opaque slots that keep the offsets right.
struct EXFUNC {
    void* get_ycp_ofs;
    void* get_ycp;
    void* get_pixelp;
    void* get_audio;
    BOOL (*is_editing)(void* editp);
    void* slots_20_80[16];
    BOOL (*filter_window_update)(void* fp);
    void* is_filter_window_disp;
    void* get_file_info;
    void* get_config_name;
    BOOL (*is_filter_active)(void* fp);
    void* slots_104_156[14];
    BOOL (*get_sys_info)(void* editp, SYS_INFO* sip);
    void* slots_164_200[10];
    BOOL (*exec_multi_thread_func)(MULTI_THREAD_FUNC func, void* param1, void* param2);
    void* slots_208_288[21];
    int reserve[7];
};

struct FILTER;

struct FILTER {
    int flag;
    int x, y;
    const char* name;
    int track_n;
    const char* const* track_name;
    int* track_default;
    int* track_s;
    int* track_e;
    int check_n;
    const char* const* check_name;
    int* check_default;
    BOOL (*func_proc)(FILTER* fp, FILTER_PROC_INFO* fpip);
    BOOL (*func_init)(FILTER* fp);
    BOOL (*func_exit)(FILTER* fp);
    BOOL (*func_update)(FILTER* fp, int status);
    BOOL (*func_WndProc)(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void* editp,
                         FILTER* fp);
    int* track;
    int* check;
    void* ex_data_ptr;
    int ex_data_size;
    const char* information;
    void* func_save_start;
    void* func_save_end;
    EXFUNC* exfunc;
    HWND hwnd;
    HINSTANCE dll_hinst;
    void* ex_data_def;
    void* func_is_saveframe;
    void* func_project_load;
    void* func_project_save;
    void* func_modify_title;
    char* dll_path;
    int reserve[2];
};

// The plug-in's static table has the layout of the host's record.
typedef FILTER FILTER_DLL;

constexpr int FILTER_FLAG_ACTIVE = 0x1;
constexpr int FILTER_FLAG_WINDOW_SIZE = 0x4000;
constexpr int FILTER_FLAG_EX_INFORMATION = 0x40000;
constexpr int FILTER_FLAG_MAIN_MESSAGE = 0x40000000;
constexpr int FILTER_WINDOW_SIZE_CLIENT = 0x10000000;
constexpr int FILTER_WINDOW_SIZE_ADD = 0x30000000;

constexpr int FILTER_UPDATE_STATUS_ALL = 0;
constexpr int FILTER_UPDATE_STATUS_TRACK = 0x10000;
constexpr int FILTER_UPDATE_STATUS_CHECK = 0x20000;

constexpr int SYS_INFO_FLAG_EDIT = 1;

constexpr UINT WM_FILTER_UPDATE = 0x464;
constexpr UINT WM_FILTER_FILE_OPEN = 0x465;
constexpr UINT WM_FILTER_FILE_CLOSE = 0x466;
constexpr UINT WM_FILTER_INIT = 0x467;
constexpr UINT WM_FILTER_EXIT = 0x468;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PIXEL_YC) == 6 && alignof(PIXEL_YC) == 2, "PIXEL_YC");
static_assert(offsetof(PIXEL_YC, cb) == 2 && offsetof(PIXEL_YC, cr) == 4, "PIXEL_YC");

static_assert(sizeof(FILTER_PROC_INFO) == 104, "FILTER_PROC_INFO");
static_assert(offsetof(FILTER_PROC_INFO, ycp_edit) == 4, "FILTER_PROC_INFO");
static_assert(offsetof(FILTER_PROC_INFO, ycp_temp) == 8, "FILTER_PROC_INFO");
static_assert(offsetof(FILTER_PROC_INFO, w) == 12, "FILTER_PROC_INFO");
static_assert(offsetof(FILTER_PROC_INFO, h) == 16, "FILTER_PROC_INFO");
static_assert(offsetof(FILTER_PROC_INFO, max_w) == 20, "FILTER_PROC_INFO");
static_assert(offsetof(FILTER_PROC_INFO, max_h) == 24, "FILTER_PROC_INFO");
static_assert(offsetof(FILTER_PROC_INFO, editp) == 60, "FILTER_PROC_INFO");
static_assert(offsetof(FILTER_PROC_INFO, yc_size) == 64, "FILTER_PROC_INFO");
static_assert(offsetof(FILTER_PROC_INFO, reserve) == 72, "FILTER_PROC_INFO");

static_assert(sizeof(SYS_INFO) == 76, "SYS_INFO");
static_assert(offsetof(SYS_INFO, max_w) == 20, "SYS_INFO");
static_assert(offsetof(SYS_INFO, max_h) == 24, "SYS_INFO");
static_assert(offsetof(SYS_INFO, hfont) == 60, "SYS_INFO");

static_assert(sizeof(EXFUNC) == 320, "EXFUNC");
static_assert(offsetof(EXFUNC, is_editing) == 16, "EXFUNC");
static_assert(offsetof(EXFUNC, filter_window_update) == 84, "EXFUNC");
static_assert(offsetof(EXFUNC, is_filter_active) == 100, "EXFUNC");
static_assert(offsetof(EXFUNC, get_sys_info) == 160, "EXFUNC");
static_assert(offsetof(EXFUNC, exec_multi_thread_func) == 204, "EXFUNC");

static_assert(sizeof(FILTER) == 140, "FILTER");
static_assert(offsetof(FILTER, name) == 12, "FILTER");
static_assert(offsetof(FILTER, track_n) == 16, "FILTER");
static_assert(offsetof(FILTER, track_name) == 20, "FILTER");
static_assert(offsetof(FILTER, track_default) == 24, "FILTER");
static_assert(offsetof(FILTER, track_s) == 28, "FILTER");
static_assert(offsetof(FILTER, track_e) == 32, "FILTER");
static_assert(offsetof(FILTER, check_n) == 36, "FILTER");
static_assert(offsetof(FILTER, check_name) == 40, "FILTER");
static_assert(offsetof(FILTER, check_default) == 44, "FILTER");
static_assert(offsetof(FILTER, func_proc) == 48, "FILTER");
static_assert(offsetof(FILTER, func_init) == 52, "FILTER");
static_assert(offsetof(FILTER, func_exit) == 56, "FILTER");
static_assert(offsetof(FILTER, func_update) == 60, "FILTER");
static_assert(offsetof(FILTER, func_WndProc) == 64, "FILTER");
static_assert(offsetof(FILTER, track) == 68, "FILTER");
static_assert(offsetof(FILTER, check) == 72, "FILTER");
static_assert(offsetof(FILTER, information) == 84, "FILTER");
static_assert(offsetof(FILTER, exfunc) == 96, "FILTER");
static_assert(offsetof(FILTER, hwnd) == 100, "FILTER");
static_assert(offsetof(FILTER, dll_hinst) == 104, "FILTER");
static_assert(offsetof(FILTER, dll_path) == 128, "FILTER");
static_assert(offsetof(FILTER, reserve) == 132, "FILTER");
#endif
