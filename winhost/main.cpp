// The Windows host emulator: loads dezider.udi as the editor does, builds the host's record
// from its table, and runs a host script against it with every call into the plug-in made on
// a stack that is off 16-byte alignment.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "standin/scenario.h"
#include "winhost/misaligned_call.h"
#include "winhost/win32_executor.h"
#include "winhost/window_host.h"

int next_misalignment() {
    static int turn = 0;
    turn = turn % 3 + 1;
    return 4 * turn;
}

namespace {

int invoke_misaligned(void* fn, const int* args, int count) {
    return call_misaligned(fn, args, count, next_misalignment());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: winhost PLUGIN SCRIPT...\n");
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    auto get_table = reinterpret_cast<FILTER_DLL*(__stdcall*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetFilterTable")));
    if (!get_table) {
        std::fprintf(stderr, "%s exports no GetFilterTable\n", argv[1]);
        return 2;
    }
    const FILTER_DLL* table =
        reinterpret_cast<FILTER_DLL*>(call_misaligned(reinterpret_cast<void*>(get_table), nullptr, 0,
                                                      next_misalignment()));
    if (!table || table->track_n <= 0 || !table->func_proc) {
        std::fprintf(stderr, "the filter table is unusable\n");
        return 2;
    }

    static EmulatedFilter filter;
    host_state.sys.hfont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    build_filter(filter, table, win32_exec);
    filter.record.dll_hinst = module;
    HWND filter_window = create_host_windows();
    filter.record.hwnd = filter_window;

    ScenarioHost host;
    host.filter = &filter;
    host.window = filter_window;
    host.set_threads = [](int n) { set_win32_threads(n); };
    host.invoke = invoke_misaligned;
    host.describe_children = [=] { return describe_children(filter_window, host_state.sys.hfont); };
    host.owner_log = [] { return describe_owner_log(); };
    const bool ok = run_scenario_files(argc - 2, argv + 2, host, std::cout);
    std::cout.flush();
    return ok ? 0 : 1;
}
