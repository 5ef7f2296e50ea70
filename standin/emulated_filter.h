// What the host keeps for a loaded filter: its own copy of the plug-in's table, the track and
// check values, and a service table. Shared by the native stand-in host and the Windows host
// emulator, which differ only in how they run workers.
#pragma once

#include <string>
#include <vector>

#include "sdk/aviutl_filter.h"

struct HostState {
    bool editing = true;
    bool active = true;
    bool has_sys_info = true;
    SYS_INFO sys = {};
    int window_updates = 0;
    int exec_calls = 0;
};

struct EmulatedFilter {
    FILTER record;                    // the host's copy; handlers get its address
    unsigned char host_private[512];  // the host's record goes on past the published part
    std::vector<int> track;
    std::vector<int> check;
    EXFUNC exfunc;
};

extern HostState host_state;

typedef BOOL (*ExecFunction)(MULTI_THREAD_FUNC func, void* param1, void* param2);

// The frame record the host passes for a frame in `edit` with working buffer `temp`.
FILTER_PROC_INFO frame_record(PIXEL_YC* edit, PIXEL_YC* temp, int w, int h, int max_w, int max_h);

// Copies `table` as the host does and wires the services; `exec` runs the workers.
void build_filter(EmulatedFilter& filter, const FILTER_DLL* table, ExecFunction exec);

// Takes a service out of the table, as an old host that lacks it, or puts it back. The names
// are the service table's: exec_multi_thread_func, is_editing, is_filter_active,
// filter_window_update, get_sys_info. Returns false for any other name.
bool set_service(EmulatedFilter& filter, const std::string& name, bool present);
