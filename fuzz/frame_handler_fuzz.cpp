// The frame handler through the stand-in host, as an editing session drives it: a run of
// frames of any size within the buffers, with track and check changes, window messages and
// button presses between them, and pixels up to the 16-bit extremes. Buffers are allocated to
// exactly max_w x max_h, so AddressSanitizer catches any access outside them.
//
// Every input runs twice: with one thread count and kernel table, workers called in index
// order, and with another, workers called in reverse order. Neither the workers' order, nor the
// thread count, nor the instruction set may change a result, so both runs must give the same
// frames, tracks and thresholds. Workers run one after another on this thread: that keeps the
// target fast enough for long campaigns, while the ThreadSanitizer build covers real concurrency.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "host/filter_table.h"
#include "host/parameter_store.h"
#include "host/user32.h"
#include "host/window_procedure.h"
#include "kernels/kernel_set.h"
#include "pipeline/frame_geometry.h"
#include "standin/emulated_filter.h"
#include "standin/frame_source.h"
#include "standin/user32_standin.h"

namespace {

int serial_threads = 1;
bool serial_reversed = false;

BOOL serial_exec(MULTI_THREAD_FUNC func, void* param1, void* param2) {
    ++host_state.exec_calls;
    for (int i = 0; i < serial_threads; ++i)
        func(serial_reversed ? serial_threads - 1 - i : i, serial_threads, param1, param2);
    return TRUE;
}

// The frame buffers live in two arenas allocated once: fresh allocations of a few megabytes per
// input would cost more in page faults than the filter's work. Everything in an arena outside
// the buffer in use is poisoned, so AddressSanitizer reports any access there.
constexpr size_t kArenaBytes = size_t{700} * 700 * sizeof(PIXEL_YC) + 64;
alignas(64) unsigned char edit_arena[kArenaBytes];
alignas(64) unsigned char temp_arena[kArenaBytes];

class Buffer {
public:
    Buffer(unsigned char* arena, int offset, size_t count)
        : start_(arena + offset), bytes_(count * sizeof(PIXEL_YC)) {
        static const bool poisoned = [] {
            ASAN_POISON_MEMORY_REGION(edit_arena, kArenaBytes);
            ASAN_POISON_MEMORY_REGION(temp_arena, kArenaBytes);
            return true;
        }();
        (void)poisoned;
        if (offset + bytes_ > kArenaBytes) __builtin_trap();  // the geometry outgrew the arena
        ASAN_UNPOISON_MEMORY_REGION(start_, bytes_);
    }
    ~Buffer() { ASAN_POISON_MEMORY_REGION(start_, bytes_); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    PIXEL_YC* get() const { return reinterpret_cast<PIXEL_YC*>(start_); }

private:
    unsigned char* start_;
    size_t bytes_;
};

struct Outcome {
    std::vector<uint64_t> frames;  // a hash of every frame as it came back
    std::vector<BOOL> results;
    std::vector<int> tracks;
    std::vector<int32_t> table;
};

// Slack beyond the frame: none (working memory far too small), a little, or roomy.
int with_slack(FuzzInput& in, int size) {
    switch (in.byte() % 4) {
    case 0:
        return size;
    case 1:
        return size + in.range(0, 16);
    case 2:
        return size + in.range(0, size / 2 + 16);
    default:
        return size + in.range(0, size + 32);
    }
}

__attribute__((no_sanitize("coverage"))) int16_t extreme_sample(SplitMix64& rng) {
    constexpr int16_t picks[8] = {-32768, 32767, 0, -1, 4096, -32767, 32766, 1};
    const uint64_t r = rng.next();
    return (r & 3) == 0 ? static_cast<int16_t>(r >> 16) : picks[(r >> 8) & 7];
}

__attribute__((no_sanitize("coverage"))) void fill_extremes(PIXEL_YC* edit, size_t count,
                                                            uint64_t seed) {
    SplitMix64 rng{seed};
    for (size_t i = 0; i < count; ++i)
        edit[i] = {extreme_sample(rng), extreme_sample(rng), extreme_sample(rng)};
}

void fill(FuzzInput& in, PIXEL_YC* edit, int w, int h, int max_w, int max_h) {
    const uint64_t seed = in.u64();
    const int kind = in.byte() % 4;
    if (kind < 3) {
        const FrameKind kinds[] = {FrameKind::noisy, FrameKind::random, FrameKind::smooth};
        fill_frame(edit, w, h, max_w, max_h, seed, kinds[kind]);
    } else {
        fill_extremes(edit, static_cast<size_t>(max_w) * max_h, seed);
    }
}

void change_track(FuzzInput& in, FILTER* fp) {
    const int t = in.range(0, kTrackCount - 1);
    const int hi = t == kTrackSel ? 2 : t >= kTrackPosX ? 400 : 4096;
    fp->track[t] = in.track_value(0, hi);
}

void send_message(FuzzInput& in, FILTER* fp) {
    const int ids[] = {kMeasureButtonId, kResetButtonId, 12004};
    switch (in.byte() % 5) {
    case 0:
        fp->func_WndProc(nullptr, WM_COMMAND, static_cast<WPARAM>(ids[in.byte() % 3]), 0,
                         &host_state, fp);
        break;
    case 1:
        fp->func_WndProc(nullptr, WM_KEYDOWN, in.byte(), 0, &host_state, fp);
        break;
    case 2:
        fp->func_WndProc(nullptr, WM_MOUSEWHEEL, static_cast<WPARAM>(in.u32()), 0, &host_state, fp);
        break;
    case 3:
        fp->func_WndProc(nullptr, WM_FILTER_FILE_OPEN, 0, 0, &host_state, fp);
        break;
    default:
        fp->func_WndProc(nullptr, WM_FILTER_INIT, 0, 0, &host_state, fp);
    }
}

Outcome run(const uint8_t* data, size_t size, bool second) {
    FuzzInput in{data, size};
    // Mostly small frames, where the borders meet; sometimes up to a few hundred pixels.
    const int w0 = in.range(1, in.byte() % 4 ? 48 : 300),
              h0 = in.range(1, in.byte() % 4 ? 48 : 300);
    const int max_w = with_slack(in, w0), max_h = with_slack(in, h0);
    const int threads[2] = {in.range(1, 16), in.range(1, 16)};
    const int isas[2] = {in.range(0, 2), in.range(0, 2)};
    serial_threads = threads[second ? 1 : 0];
    serial_reversed = second;
    // A table this machine lacks leaves the one in use, which is then compared with itself.
    force_isa(static_cast<Isa>(isas[second ? 1 : 0]));
    clear_standin_windows();
    reset_parameter_store();
    measure_requested = 0;
    frame_geometry = {};
    host_state = HostState{};
    host_state.has_sys_info = in.byte() & 1;
    host_state.sys.max_w = in.range(0, 4000);
    host_state.sys.max_h = in.range(0, 4000);

    static EmulatedFilter filter;
    build_filter(filter, GetFilterTable(), serial_exec);
    FILTER* fp = &filter.record;
    fp->func_init(fp);
    fp->func_WndProc(nullptr, WM_FILTER_INIT, 0, 0, &host_state, fp);
    // Exactly the host's sizes, so that a step outside is caught. The working buffer starts at
    // any even offset from a 16-byte boundary, and holds different garbage in the two runs: a
    // read of anything the filter did not write first shows up as a difference.
    const size_t count = static_cast<size_t>(max_w) * max_h;
    const int temp_offset = 2 * in.range(0, 7);
    const Buffer edit(edit_arena, 0, count);
    const Buffer temp(temp_arena, temp_offset, count);
    std::memset(temp.get(), second ? 0xFF : 0x00, count * sizeof(PIXEL_YC));
    Outcome o;
    const int events = in.range(1, 12);
    for (int e = 0; e < events && o.results.size() < 4; ++e) {
        switch (in.byte() % 6) {
        case 0:
            change_track(in, fp);
            break;
        case 1:
            fp->check[in.range(0, kCheckCount - 1)] = in.byte() & 1;
            break;
        case 2:
            fp->func_update(fp, 0);
            break;
        case 3:
            send_message(in, fp);
            break;
        case 4:
            host_state.editing = in.byte() & 1;
            break;
        default: {
            // Later frames may be smaller than the first, as when the project holds clips of
            // different sizes; the buffers stay as they were.
            const int w = o.results.empty() ? w0 : in.range(1, max_w);
            const int h = o.results.empty() ? h0 : in.range(1, max_h);
            fill(in, edit.get(), w, h, max_w, max_h);
            const uint64_t before = fnv1a(edit.get(), count * sizeof(PIXEL_YC));
            FILTER_PROC_INFO info = frame_record(edit.get(), temp.get(), w, h, max_w, max_h);
            o.results.push_back(fp->func_proc(fp, &info));
            o.frames.push_back(fnv1a(edit.get(), count * sizeof(PIXEL_YC)));
            if (!o.results.back() && o.frames.back() != before)
                __builtin_trap();  // refused, yet written
        }
        }
    }
    fp->func_exit(fp);
    o.tracks = filter.track;
    for (const auto& row : ThresholdTable)
        o.table.insert(o.table.end(), row, row + kLevelTrackCount);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Outcome a = run(data, size, false);
    const Outcome b = run(data, size, true);
    // More threads need more scratch, so one count may be refused where the other is not; a
    // refused frame is left untouched, and a learned threshold depends on the frame, so only
    // inputs accepted throughout by both are compared.
    const auto accepted = [](const Outcome& o) {
        return std::all_of(o.results.begin(), o.results.end(), [](BOOL r) { return r != FALSE; });
    };
    if (!accepted(a) || !accepted(b)) return 0;
    if (a.tracks != b.tracks || a.table != b.table || a.frames != b.frames)
        __builtin_trap();  // the thread count or the workers' order changed a result
    return 0;
}
