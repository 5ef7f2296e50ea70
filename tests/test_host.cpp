#include "tests/test_host.h"

#include "plugin/filter_table.h"
#include "plugin/frame_entry.h"
#include "plugin/parameter_store.h"
#include "plugin/window_procedure.h"
#include "standin/thread_pool.h"

TestFrame::TestFrame(int w, int h, int max_w, int max_h)
    : edit(static_cast<size_t>(max_w) * max_h), temp(static_cast<size_t>(max_w) * max_h) {
    info = frame_record(edit.data(), temp.data(), w, h, max_w, max_h);
}

TestHost::TestHost(int threads) {
    reset_parameter_store();
    measure_requested = 0;
    frame_geometry = {};
    host_state = HostState{};
    host_state.sys.max_w = 1920;
    host_state.sys.max_h = 1080;
    set_pool_threads(threads);
    FILTER_DLL* table = GetFilterTable();
    table->track_s[kTrackPosX] = table->track_s[kTrackPosY] = 0;
    table->track_e[kTrackPosX] = 1920;
    table->track_e[kTrackPosY] = 1080;
    build_filter(filter, table, pool_exec);
    fp->func_init(fp);
}

BOOL TestHost::process(TestFrame& frame) { return fp->func_proc(fp, &frame.info); }

void TestHost::set_threads(int threads) { set_pool_threads(threads); }
