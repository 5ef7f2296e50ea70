// The native stand-in host: runs a host script against the plug-in's code, linked in directly.
#include <cstdio>
#include <iostream>

#include "host/filter_table.h"
#include "standin/scenario.h"
#include "standin/thread_pool.h"
#include "standin/user32_standin.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SCRIPT|- ...\n(the script language is described in "
                             "standin/scenario.h)\n", argv[0]);
        return 2;
    }
    EmulatedFilter filter;
    build_filter(filter, GetFilterTable(), pool_exec);
    HWND owner = make_standin_window(nullptr);
    static int font_object;
    host_state.sys.hfont = &font_object;
    HWND filter_window = make_standin_window(owner);
    ScenarioHost host;
    host.filter = &filter;
    host.window = filter_window;
    host.set_threads = [](int n) { set_pool_threads(n); };
    host.describe_children = [=] { return describe_standin_children(filter_window, &font_object); };
    host.owner_log = [=] { return describe_messages_to(owner); };
    return run_scenario_files(argc - 1, argv + 1, host, std::cout) ? 0 : 1;
}
