// The Windows host emulator: loads dezider.udi as the editor does, builds the host's record
// from its table, and runs host scripts against it, or replays the sessions of a folder of
// frame-handler fuzz inputs, with every call into the plug-in made on a stack that is off
// 16-byte alignment. A crash of the plug-in ends the run with a report and exit status 3.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "standin/editing_session.h"
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

// Any exception nobody handles, on any thread: say what and where, and end the process at once
// (the report so far stays on standard output), never waiting in a debugger.
LONG WINAPI report_crash(EXCEPTION_POINTERS* info) {
    std::fflush(stdout);
    std::cout.flush();
    std::fprintf(stderr, "crash: exception %08lx at %p\n",
                 static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                 info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

const FILTER_DLL* load_table(const char* path, HMODULE& module) {
    module = LoadLibraryA(path);
    if (!module) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", path, GetLastError());
        return nullptr;
    }
    auto get_table = reinterpret_cast<void*>(GetProcAddress(module, "GetFilterTable"));
    if (!get_table) {
        std::fprintf(stderr, "%s exports no GetFilterTable\n", path);
        return nullptr;
    }
    const auto* table =
        reinterpret_cast<FILTER_DLL*>(call_misaligned(get_table, nullptr, 0, next_misalignment()));
    if (!table || table->track_n <= 0 || !table->func_proc) {
        std::fprintf(stderr, "the filter table is unusable\n");
        return nullptr;
    }
    return table;
}

bool replay(const char* folder, const FILTER_DLL* table, ScenarioHost& scenario) {
    ReplayBuffers buffers;
    SessionHost host;
    host.table = table;
    host.exec = win32_exec;
    host.scenario = &scenario;
    host.begin_run = [&](const SessionRun& run) {
        set_win32_threads(run.threads);
        destroy_children(scenario.window);
        return scenario.window;
    };
    host.edit_buffer = [&](size_t count) { return buffers.edit_buffer(count); };
    host.temp_buffer = [&](size_t count, int offset) { return buffers.temp_buffer(count, offset); };
    if (replay_folder(folder, host, std::cout)) return true;
    std::fprintf(stderr, "cannot read %s\n", folder);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(report_crash);
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: winhost PLUGIN SCRIPT...\n       winhost PLUGIN --replay FOLDER\n");
        return 2;
    }
    HMODULE module = nullptr;
    const FILTER_DLL* table = load_table(argv[1], module);
    if (!table) return 2;

    static EmulatedFilter filter;
    host_state.sys.hfont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    build_filter(filter, table, win32_exec);
    filter.record.dll_hinst = module;
    HWND filter_window = create_host_windows(*table);
    filter.record.hwnd = filter_window;

    ScenarioHost host;
    host.filter = &filter;
    host.window = filter_window;
    host.set_threads = [](int n) { set_win32_threads(n); };
    host.invoke = invoke_misaligned;
    host.describe_children = [=] { return describe_children(filter_window, host_state.sys.hfont); };
    host.owner_log = [] { return describe_owner_log(); };
    host.describe_layout = [=] { return describe_layout(filter_window); };
    const bool ok = argc == 4 && std::strcmp(argv[2], "--replay") == 0
                        ? replay(argv[3], table, host)
                        : run_scenario_files(argc - 2, argv + 2, host, std::cout);
    std::cout.flush();
    return ok ? 0 : 1;
}
