// An editing session decoded from bytes: the frame-handler fuzz target's inputs, and their
// replay through the native stand-in host and through the Windows host emulator with the real
// plug-in, whose reports must match.
//
// A session is a run of up to four frames, each of any size within the host's buffers, with
// track and check changes, the parameter-changed handler, window messages, button presses and
// the editing state changing between them; pixels up to the 16-bit extremes. Every input holds
// two runs that differ in thread count, kernel table, the order workers are called in and the
// garbage the working buffer holds; neither may change a result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "standin/emulated_filter.h"
#include "standin/scenario.h"

struct SessionRun {
    bool second;  // the input's second run
    int threads;  // 1..16
    int isa;      // 0 scalar, 1 SSE4.1, 2 AVX2: a table the processor lacks keeps the one in use
};

struct SessionHost {
    const FILTER_DLL* table = nullptr;
    ExecFunction exec = nullptr;
    // Handlers are called through it (window, invoke); its filter is rebuilt for every run.
    ScenarioHost* scenario = nullptr;
    // Before a run: a filter window without children, the workers and kernel table to use.
    std::function<HWND(const SessionRun&)> begin_run;
    // The frame buffer of exactly `count` pixels, and the working buffer of `count` pixels that
    // starts `offset` bytes past a 16-byte boundary; both stay valid for the run.
    std::function<PIXEL_YC*(size_t count)> edit_buffer;
    std::function<PIXEL_YC*(size_t count, int offset)> temp_buffer;
};

struct SessionOutcome {
    std::vector<BOOL> results;
    std::vector<uint64_t> before;  // a hash of every frame as it went in
    std::vector<uint64_t> after;   // and as it came back
    std::vector<int> tracks;       // the host's track values when the session ends
    std::vector<int> ranges;       // the Pos tracks' ranges: X from, to, Y from, to
    std::vector<int> rows;         // each plane's thresholds, read back through "Sel"
    int window_updates = 0;
};

// Frame and working buffers for replays: plain memory, the working buffer placed as asked.
struct ReplayBuffers {
    std::vector<PIXEL_YC> edit;
    std::vector<unsigned char> temp;
    PIXEL_YC* edit_buffer(size_t count);
    PIXEL_YC* temp_buffer(size_t count, int offset);
};

SessionOutcome run_session(const uint8_t* data, size_t size, bool second, SessionHost& host);

// The outcome as report lines, the same on every host.
std::string describe_outcome(const SessionOutcome& outcome);

// Replays every file in `folder` (sorted by name) as a session, both runs, and prints each
// input's report headed by "== " and the file's name. False if the folder cannot be read.
bool replay_folder(const std::string& folder, SessionHost& host, std::ostream& out);
