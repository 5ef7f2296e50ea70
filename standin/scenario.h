// A small script language that drives a filter as the host would, shared by the native stand-in
// host and the Windows host emulator so that both print the same report for the same script.
//
//   threads N               worker threads for the following frames
//   track I V | check I V   set a track or check value, as the user would
//   editing B | active B    what is_editing and is_filter_active answer
//   sysinfo MAXW MAXH       what get_sys_info reports
//   service NAME B          an old host without service NAME (B = 0), or with it again
//   init | exit             the start-up and shut-down handlers
//   update                  the parameter-changed handler
//   message MSG WPARAM LPARAM   the window procedure (numbers in C notation)
//   frame W H MAXW MAXH SEED KIND [TEMP]   one frame through the frame handler; KIND is
//                           noisy, random, smooth or extremes; TEMP overrides the temporary
//                           buffer's size in pixels. The report ends in "unchanged" when the filter
//                           left every pixel as it was
//   table                   the filter table as the host reads it
//   children                the filter window's child windows
//   layout                  the filter window's client size, and each child inside or clipped
//   owner                   the keys and wheel messages the editor's main window received
//   state                   tracks, ranges and window updates
//   save FILE               the last frame's visible pixels as a binary PPM picture
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <type_traits>

#include "standin/emulated_filter.h"

struct ScenarioHost {
    EmulatedFilter* filter = nullptr;
    HWND window = nullptr;                 // the filter window, or null
    std::function<void(int)> set_threads;  // the executor's thread count
    // Calls a handler with its arguments as 32-bit words, for the emulator that controls the
    // stack it calls with; null calls handlers directly.
    int (*invoke)(void* fn, const int* args, int count) = nullptr;
    // One line per child window of the filter window, and per message the main window got.
    std::function<std::string()> describe_children;
    std::function<std::string()> owner_log;
    // The filter window's client size and whether each child lies inside it.
    std::function<std::string()> describe_layout;
};

// Calls a handler of the plug-in as the host does, through `invoke` where the host has one.
template <class Fn, class... Args>
BOOL call_plugin(const ScenarioHost& host, Fn fn, Args... args) {
    if (!host.invoke) return fn(args...);
    const auto word = [](auto value) {
        if constexpr (std::is_pointer_v<decltype(value)>)
            return static_cast<int>(reinterpret_cast<std::intptr_t>(value));
        else
            return static_cast<int>(value);
    };
    const int words[] = {word(args)...};
    return host.invoke(reinterpret_cast<void*>(fn), words, sizeof...(Args));
}

// Runs the script; returns false (with a message on `out`) at the first line it cannot run.
bool run_scenario(std::istream& script, ScenarioHost& host, std::ostream& out);

// Runs script files one after another in the same session ("-" is standard input), each
// report headed by "== " and the file's name. Returns false at the first that fails.
bool run_scenario_files(int count, char** paths, ScenarioHost& host, std::ostream& out);
