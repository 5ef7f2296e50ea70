#include "standin/emulated_filter.h"

#include <cstring>

HostState host_state;

namespace {

ExecFunction executor = nullptr;

BOOL is_editing(void*) { return host_state.editing; }
BOOL is_filter_active(void*) { return host_state.active; }
BOOL filter_window_update(void*) {
    ++host_state.window_updates;
    return TRUE;
}
BOOL get_sys_info(void*, SYS_INFO* sip) {
    *sip = host_state.sys;
    return TRUE;
}
BOOL exec_multi_thread_func(MULTI_THREAD_FUNC func, void* param1, void* param2) {
    ++host_state.exec_calls;
    return executor(func, param1, param2);
}

}  // namespace

void build_filter(EmulatedFilter& filter, const FILTER_DLL* table, ExecFunction exec) {
    executor = exec;
    std::memcpy(&filter.record, table, sizeof(FILTER));
    std::memset(filter.host_private, 0xA5, sizeof filter.host_private);
    filter.track.assign(table->track_default, table->track_default + table->track_n);
    filter.check.assign(table->check_default, table->check_default + table->check_n);
    filter.record.track = filter.track.data();
    filter.record.check = filter.check.data();
    std::memset(&filter.exfunc, 0, sizeof filter.exfunc);
    filter.exfunc.is_editing = is_editing;
    filter.exfunc.is_filter_active = is_filter_active;
    filter.exfunc.filter_window_update = filter_window_update;
    filter.exfunc.get_sys_info = host_state.has_sys_info ? get_sys_info : nullptr;
    filter.exfunc.exec_multi_thread_func = exec_multi_thread_func;
    filter.record.exfunc = &filter.exfunc;
}

bool set_service(EmulatedFilter& filter, const std::string& name, bool present) {
    EXFUNC& ex = filter.exfunc;
    if (name == "exec_multi_thread_func")
        ex.exec_multi_thread_func = present ? exec_multi_thread_func : nullptr;
    else if (name == "is_editing")
        ex.is_editing = present ? is_editing : nullptr;
    else if (name == "is_filter_active")
        ex.is_filter_active = present ? is_filter_active : nullptr;
    else if (name == "filter_window_update")
        ex.filter_window_update = present ? filter_window_update : nullptr;
    else if (name == "get_sys_info")
        ex.get_sys_info = present ? get_sys_info : nullptr;
    else
        return false;
    return true;
}

FILTER_PROC_INFO frame_record(PIXEL_YC* edit, PIXEL_YC* temp, int w, int h, int max_w, int max_h) {
    FILTER_PROC_INFO info = {};
    info.ycp_edit = edit;
    info.ycp_temp = temp;
    info.w = w;
    info.h = h;
    info.max_w = max_w;
    info.max_h = max_h;
    info.editp = &host_state;
    info.yc_size = 6;
    info.line_size = max_w * 6;
    return info;
}
