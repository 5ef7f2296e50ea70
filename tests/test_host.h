// A host for tests: the plug-in's table copied into a host record with working services, a
// thread pool of a chosen size, and frame buffers allocated to their exact size so that the
// sanitizers catch any access outside them.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/frame_geometry.h"
#include "standin/emulated_filter.h"
#include "standin/frame_source.h"

struct TestFrame {
    std::vector<PIXEL_YC> edit;
    std::vector<PIXEL_YC> temp;
    FILTER_PROC_INFO info = {};

    TestFrame(int w, int h, int max_w, int max_h);
    PIXEL_YC& at(int x, int y) { return edit[static_cast<size_t>(y) * info.max_w + x]; }
    void fill(uint64_t seed, FrameKind kind) {
        fill_frame(edit.data(), info.w, info.h, info.max_w, info.max_h, seed, kind);
    }
};

// Resets every piece of process-wide state the plug-in keeps, then builds a fresh host record
// and runs the start-up handler, as loading the library would.
struct TestHost {
    EmulatedFilter filter;
    FILTER* fp = &filter.record;

    explicit TestHost(int threads = 2);
    int& track(int i) { return filter.track[i]; }
    int& check(int i) { return filter.check[i]; }
    BOOL process(TestFrame& frame);
    void set_threads(int threads);
};
