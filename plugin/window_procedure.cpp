#include "plugin/window_procedure.h"

#include "plugin/filter_table.h"
#include "plugin/host_services.h"
#include "plugin/parameter_store.h"
#include "plugin/selection_box.h"
#include "plugin/user32.h"

int32_t measure_requested = 0;
HWND measure_button = nullptr;
HWND reset_button = nullptr;

namespace {

// Child, visible, push button, caption centred vertically.
constexpr unsigned long kButtonStyle = 0x50000C00;
constexpr int kButtonX = 8;
constexpr int kButtonWidth = 304;
constexpr int kButtonHeight = 32;
constexpr int kMeasureButtonY = 488;
constexpr int kResetButtonY = 528;

const char kMeasureCaption[] = "\x90\xdd\x92\xe8";                // "settings"
const char kResetCaption[] = "\x83\x8a\x83\x5a\x83\x62\x83\x67";  // "reset"

HWND create_button(HWND parent, int id, const char* caption, int y, FILTER* fp,
                   const SYS_INFO* sys) {
    HWND button = CreateWindowExA(
        0, "BUTTON", caption, kButtonStyle, kButtonX, y, kButtonWidth, kButtonHeight, parent,
        reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)), fp->dll_hinst, nullptr);
    // Without the host's system information the button keeps the default font.
    if (sys) SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(sys->hfont), 0);
    return button;
}

// Provisional Pos ranges from the largest frame the host accepts; the frame handler narrows
// them to the real frame on every frame.
void set_pos_ranges(FILTER* fp, const SYS_INFO* sys) {
    if (sys) {
        fp->track_s[kTrackPosX] = kPosMinimum;
        fp->track_s[kTrackPosY] = kPosMinimum;
        fp->track_e[kTrackPosX] = pos_maximum(sys->max_w);
        fp->track_e[kTrackPosY] = pos_maximum(sys->max_h);
    }
    request_window_update(fp);
}

BOOL on_command(FILTER* fp, int id) {
    if (id == kMeasureButtonId) {
        measure_requested = 1;
        SendMessageA(measure_button, WM_KILLFOCUS, 0, 0);
        return filter_is_active(fp);
    }
    if (id == kResetButtonId) {
        for (auto& row : ThresholdTable)
            for (auto& entry : row) entry = 0;
        show_row(fp, fp->track[kTrackSel]);
        SendMessageA(reset_button, WM_KILLFOCUS, 0, 0);
        request_window_update(fp);
        return filter_is_active(fp);
    }
    measure_requested = 0;
    return FALSE;
}

}  // namespace

BOOL func_WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void* editp, FILTER* fp) {
    SYS_INFO sys_storage = {};
    const SYS_INFO* sys = system_information(fp, editp, &sys_storage);

    switch (message) {
    case WM_FILTER_INIT:
        measure_button =
            create_button(hwnd, kMeasureButtonId, kMeasureCaption, kMeasureButtonY, fp, sys);
        reset_button = create_button(hwnd, kResetButtonId, kResetCaption, kResetButtonY, fp, sys);
        set_pos_ranges(fp, sys);
        return TRUE;
    case WM_FILTER_FILE_OPEN:
        set_pos_ranges(fp, sys);
        return TRUE;
    case WM_COMMAND:
        return on_command(fp, static_cast<int>(wparam & 0xFFFF));
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_MOUSEWHEEL:
        SendMessageA(GetWindow(hwnd, GW_OWNER), message, wparam, lparam);
        return FALSE;
    default:
        return FALSE;
    }
}
