// A filter that crashes in its frame handler: the Windows host emulator must report it.
#include <windows.h>

#include "sdk/aviutl_filter.h"

namespace {

BOOL crash_in_frame(FILTER*, FILTER_PROC_INFO* fpip) {
    // A write through a pointer made from the frame's width: an address no process maps.
    *reinterpret_cast<volatile int*>(static_cast<std::intptr_t>(fpip->w)) = 1;
    return TRUE;
}

const char* const track_names[] = {"t"};
int track_values[] = {0};
FILTER_DLL table;

}  // namespace

extern "C" __declspec(dllexport) FILTER_DLL* __stdcall GetFilterTable(void) {
    table.flag = FILTER_FLAG_WINDOW_SIZE;
    table.x = 320;
    table.y = 200;
    table.name = "Crash";
    table.track_n = 1;
    table.track_name = track_names;
    table.track_default = table.track_s = table.track_e = track_values;
    table.func_proc = crash_in_frame;
    return &table;
}
