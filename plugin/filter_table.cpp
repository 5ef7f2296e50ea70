#include "plugin/filter_table.h"

#include "plugin/frame_entry.h"
#include "plugin/host_services.h"
#include "plugin/parameter_store.h"
#include "plugin/window_procedure.h"

namespace {

// Captions are Shift-JIS byte strings, the host's ANSI code page.
const char kShowTransformed[] = "\x95\xcf\x8a\xb7\x83\x66\x81\x5b\x83\x5e\x95\x5c\x8e\xa6";
const char kShowSelection[] = "\x91\x49\x91\xf0\x94\xcd\x88\xcd\x95\x5c\x8e\xa6";

const char* const track_names[kTrackCount] = {
    "Sel",    "Lv.0 H", "Lv.0 V", "Lv.0 D", "Lv.1 H", "Lv.1 V", "Lv.1 D", "Lv.2 H", "Lv.2 V",
    "Lv.2 D", "Lv.3 H", "Lv.3 V", "Lv.3 D", "Lv.4 H", "Lv.4 V", "Lv.4 D", "Pos.X",  "Pos.Y",
};
int track_defaults[kTrackCount] = {};
// Writable: the Pos ranges are rewritten at run time and the host re-reads them.
int track_minimum[kTrackCount] = {};
int track_maximum[kTrackCount] = {2,    4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096,
                                  4096, 4096, 4096, 4096, 4096, 4096, 4096, 1920, 1080};

const char* const check_names[kCheckCount] = {kShowTransformed, kShowSelection};
int check_defaults[kCheckCount] = {0, 0};

// The host shows this text as the filter's information.
const char kInformation[] = "Velmora 0.1 wavelet noise reduction";

FILTER_DLL filter_table = {
    FILTER_FLAG_EX_INFORMATION | FILTER_FLAG_WINDOW_SIZE,
    kWindowWidth,
    kWindowHeight,
    "Velmora",
    kTrackCount,
    track_names,
    track_defaults,
    track_minimum,
    track_maximum,
    kCheckCount,
    check_names,
    check_defaults,
    func_proc,
    func_init,
    func_exit,
    func_update,
    func_WndProc,
    nullptr,  // track: host
    nullptr,  // check: host
    nullptr,
    0,
    kInformation,
    nullptr,
    nullptr,
    nullptr,  // exfunc: host
    nullptr,  // hwnd: host
    nullptr,  // dll_hinst: host
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,  // dll_path: host
    {0, 0},
};

}  // namespace

FILTER_DLL* VELMORA_STDCALL GetFilterTable(void) { return &filter_table; }

BOOL func_init(FILTER* fp) {
    show_row(fp, shown_plane);
    request_window_update(fp);
    return TRUE;
}

BOOL func_exit(FILTER*) { return TRUE; }

BOOL func_update(FILTER* fp, int) {
    const int32_t selected = clamp_plane(fp->track[kTrackSel]);
    if (selected == shown_plane) return TRUE;
    commit_tracks(fp);
    shown_plane = selected;
    show_row(fp, shown_plane);
    request_window_update(fp);
    return TRUE;
}
