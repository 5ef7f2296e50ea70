// The host's services as the plug-in calls them. Old hosts leave some entries of the service
// table null: a frame that needs a missing service is refused, and a missing window service is
// skipped.
#pragma once

#include "sdk/aviutl_filter.h"

inline const EXFUNC* host_services(const FILTER* fp) { return fp ? fp->exfunc : nullptr; }

// Every service the frame handler calls is there.
inline bool can_process_frames(const FILTER* fp) {
    const EXFUNC* ex = host_services(fp);
    return ex && ex->exec_multi_thread_func && ex->is_editing;
}

inline void request_window_update(FILTER* fp) {
    const EXFUNC* ex = host_services(fp);
    if (ex && ex->filter_window_update) ex->filter_window_update(fp);
}

// Whether the host should redraw the image after a command: only while the filter is active.
inline BOOL filter_is_active(FILTER* fp) {
    const EXFUNC* ex = host_services(fp);
    return ex && ex->is_filter_active ? ex->is_filter_active(fp) : FALSE;
}

// The host's system information into `storage`, or null when the host gives none.
inline const SYS_INFO* system_information(FILTER* fp, void* editp, SYS_INFO* storage) {
    const EXFUNC* ex = host_services(fp);
    return ex && ex->get_sys_info && ex->get_sys_info(editp, storage) ? storage : nullptr;
}
