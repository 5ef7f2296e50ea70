// The frame handler through the stand-in host: any geometry, buffer size, thread count, track
// and check values, window commands and pixels. Buffers are allocated to their exact size, so
// AddressSanitizer catches any access outside them, and every input runs with two thread
// counts that must give identical frames, tracks and thresholds.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "host/filter_table.h"
#include "host/parameter_store.h"
#include "host/user32.h"
#include "host/window_procedure.h"
#include "pipeline/frame_geometry.h"
#include "standin/emulated_filter.h"
#include "standin/frame_source.h"
#include "standin/thread_pool.h"
#include "standin/user32_standin.h"

namespace {

struct Outcome {
    std::vector<PIXEL_YC> frame;
    std::vector<int> tracks;
    std::vector<int32_t> table;
    BOOL result;
};

Outcome run(const uint8_t* data, size_t size, bool second) {
    FuzzInput in{data, size};
    const int w = in.range(1, 300), h = in.range(1, 300);
    const int max_w = w + in.range(0, 48), max_h = h + in.range(0, 48);
    const int threads[2] = {in.range(1, 16), in.range(1, 16)};
    clear_standin_windows();
    reset_parameter_store();
    measure_requested = 0;
    frame_geometry = {};
    host_state = HostState{};
    host_state.editing = in.byte() & 1;
    host_state.has_sys_info = in.byte() & 1;
    host_state.sys.max_w = in.range(0, 4000);
    host_state.sys.max_h = in.range(0, 4000);
    set_pool_threads(threads[second ? 1 : 0]);

    static EmulatedFilter filter;
    build_filter(filter, GetFilterTable(), pool_exec);
    FILTER* fp = &filter.record;
    fp->func_init(fp);
    fp->func_WndProc(nullptr, WM_FILTER_INIT, 0, 0, &host_state, fp);
    const int steps = in.range(0, 6);
    for (int s = 0; s < steps; ++s) {
        switch (in.byte() % 4) {
        case 0: {
            const int t = in.range(0, kTrackCount - 1);
            fp->track[t] = in.track_value(0, t == kTrackSel ? 2 : t >= kTrackPosX ? 400 : 4096);
            break;
        }
        case 1:
            fp->check[in.range(0, 1)] = in.byte() & 1;
            break;
        case 2:
            fp->func_update(fp, 0);
            break;
        default: {
            const int ids[] = {kMeasureButtonId, kResetButtonId, 12004};
            fp->func_WndProc(nullptr, WM_COMMAND, static_cast<WPARAM>(ids[in.byte() % 3]), 0,
                             &host_state, fp);
        }
        }
    }
    std::vector<PIXEL_YC> edit(static_cast<size_t>(max_w) * max_h);
    std::vector<PIXEL_YC> temp(edit.size());
    fill_frame(edit.data(), w, h, max_w, max_h, in.u64(), in.byte() & 1 ? FrameKind::random : FrameKind::noisy);
    FILTER_PROC_INFO info = frame_record(edit.data(), temp.data(), w, h, max_w, max_h);
    Outcome o;
    o.result = fp->func_proc(fp, &info);
    o.frame = edit;
    o.tracks = filter.track;
    for (const auto& row : ThresholdTable) o.table.insert(o.table.end(), row, row + kLevelTrackCount);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Outcome a = run(data, size, false);
    const Outcome b = run(data, size, true);
    // More threads need more scratch, so only one of the two may be refused; frames both
    // accept must come out the same.
    if (!a.result || !b.result) return 0;
    if (a.tracks != b.tracks || a.table != b.table ||
        std::memcmp(a.frame.data(), b.frame.data(), a.frame.size() * sizeof(PIXEL_YC)) != 0)
        __builtin_trap();  // the thread count changed a result
    return 0;
}
