// A small script language that drives a filter as the host would, shared by the native stand-in
// host and the Windows host emulator so that both print the same report for the same script.
//
//   threads N               worker threads for the following frames
//   track I V | check I V   set a track or check value, as the user would
//   editing B | active B    what is_editing and is_filter_active answer
//   sysinfo MAXW MAXH       what get_sys_info reports
//   init | exit             the start-up and shut-down handlers
//   update                  the parameter-changed handler
//   message MSG WPARAM LPARAM   the window procedure (numbers in C notation)
//   frame W H MAXW MAXH SEED KIND [TEMP]   one frame through the frame handler; KIND is
//                           noisy, random or smooth; TEMP overrides the temporary buffer's
//                           size in pixels
//   table                   the filter table as the host reads it
//   children                the filter window's child windows
//   owner                   the keys and wheel messages the editor's main window received
//   state                   tracks, ranges and window updates
//   save FILE               the last frame's visible pixels as a binary PPM picture
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

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
};

// Runs the script; returns false (with a message on `out`) at the first line it cannot run.
bool run_scenario(std::istream& script, ScenarioHost& host, std::ostream& out);

// Runs script files one after another in the same session ("-" is standard input), each
// report headed by "== " and the file's name. Returns false at the first that fails.
bool run_scenario_files(int count, char** paths, ScenarioHost& host, std::ostream& out);
