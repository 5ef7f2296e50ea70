// The native stand-in host: runs host scripts against the plug-in's code, linked in directly,
// or replays the sessions of a folder of frame-handler fuzz inputs.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "kernels/kernel_set.h"
#include "plugin/filter_table.h"
#include "plugin/frame_entry.h"
#include "standin/editing_session.h"
#include "standin/host_window.h"
#include "standin/scenario.h"
#include "standin/thread_pool.h"
#include "standin/user32_standin.h"

namespace {

int font_object;

// The stand-in windows have no frame: the client area is what Windows' classic metrics give.
std::string describe_standin_layout(HWND filter_window, const FilterWindowSize& size) {
    long width = 0, height = 0;
    classic_client_size(size, width, height);
    std::vector<ChildPlacement> children;
    for (const StandinWindow* w : standin_windows)
        if (w->parent == filter_window)
            children.push_back(
                {static_cast<long>(w->id), w->x, w->y, w->x + w->width, w->y + w->height});
    return layout_report(width, height, children);
}

int run_scripts(int count, char** paths) {
    EmulatedFilter filter;
    build_filter(filter, GetFilterTable(), pool_exec);
    HWND owner = make_standin_window(nullptr);
    host_state.sys.hfont = &font_object;
    HWND filter_window = make_standin_window(owner);
    ScenarioHost host;
    host.filter = &filter;
    host.window = filter_window;
    host.set_threads = [](int n) { set_pool_threads(n); };
    host.describe_children = [=] { return describe_standin_children(filter_window, &font_object); };
    host.owner_log = [=] { return describe_messages_to(owner); };
    const FilterWindowSize size = filter_window_size(*GetFilterTable());
    host.describe_layout = [=] { return describe_standin_layout(filter_window, size); };
    return run_scenario_files(count, paths, host, std::cout) ? 0 : 1;
}

int replay(const char* folder) {
    EmulatedFilter filter;
    ScenarioHost scenario;
    scenario.filter = &filter;
    host_state.sys.hfont = &font_object;
    ReplayBuffers buffers;
    SessionHost host;
    host.table = GetFilterTable();
    host.exec = pool_exec;
    host.scenario = &scenario;
    host.begin_run = [](const SessionRun& run) {
        set_pool_threads(run.threads);
        if (const KernelSet* k = kernels_for(static_cast<Isa>(run.isa))) use_kernels(k);
        clear_standin_windows();
        return make_standin_window(make_standin_window(nullptr));
    };
    host.edit_buffer = [&](size_t count) { return buffers.edit_buffer(count); };
    host.temp_buffer = [&](size_t count, int offset) { return buffers.temp_buffer(count, offset); };
    if (replay_folder(folder, host, std::cout)) return 0;
    std::fprintf(stderr, "cannot read %s\n", folder);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--replay") == 0) return replay(argv[2]);
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s SCRIPT|- ...\n       %s --replay FOLDER\n(the script "
                     "language is described in standin/scenario.h, the sessions of a "
                     "replay in standin/editing_session.h)\n",
                     argv[0], argv[0]);
        return 2;
    }
    return run_scripts(argc - 1, argv + 1);
}
