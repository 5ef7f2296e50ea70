// The frame handler through the stand-in host, as an editing session drives it (the session
// and its decoding from bytes: standin/editing_session.h). Buffers are allocated to exactly
// max_w x max_h, so AddressSanitizer catches any access outside them.
//
// Every input runs twice: with one thread count and kernel table, workers called in index
// order, and with another, workers called in reverse order. Neither the workers' order, nor the
// thread count, nor the instruction set may change a result, so both runs must give the same
// frames, tracks and thresholds, and a refused frame must come back untouched. Workers run one
// after another on this thread: that keeps the target fast enough for long campaigns, while the
// ThreadSanitizer build covers real concurrency.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "kernels/kernel_set.h"
#include "plugin/filter_table.h"
#include "plugin/frame_entry.h"
#include "plugin/frame_geometry.h"
#include "plugin/parameter_store.h"
#include "plugin/window_procedure.h"
#include "standin/editing_session.h"
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

std::vector<int32_t> threshold_table() {
    std::vector<int32_t> table;
    for (const auto& row : ThresholdTable) table.insert(table.end(), row, row + kLevelTrackCount);
    return table;
}

// Runs every worker of a stage one after another, in index order or the reverse.
void begin_serial_run(const SessionRun& run) {
    serial_threads = run.threads;
    serial_reversed = run.second;
    // A table this machine lacks leaves the one in use, which is then compared with itself.
    if (const KernelSet* k = kernels_for(static_cast<Isa>(run.isa))) use_kernels(k);
}

std::unique_ptr<Buffer> edit_buffer, temp_buffer;

SessionHost& fuzz_host() {
    static EmulatedFilter filter;
    static ScenarioHost scenario;
    static SessionHost host;
    scenario.filter = &filter;
    host.scenario = &scenario;
    host.table = GetFilterTable();
    host.exec = serial_exec;
    host.begin_run = [](const SessionRun& run) {
        begin_serial_run(run);
        clear_standin_windows();
        reset_parameter_store();
        measure_requested = 0;
        frame_geometry = {};
        return make_standin_window(make_standin_window(nullptr));
    };
    host.edit_buffer = [](size_t count) {
        edit_buffer.reset();
        edit_buffer = std::make_unique<Buffer>(edit_arena, 0, count);
        return edit_buffer->get();
    };
    host.temp_buffer = [](size_t count, int offset) {
        temp_buffer.reset();
        temp_buffer = std::make_unique<Buffer>(temp_arena, offset, count);
        return temp_buffer->get();
    };
    return host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static SessionHost& host = fuzz_host();
    const SessionOutcome a = run_session(data, size, false, host);
    const std::vector<int32_t> table_a = threshold_table();
    const SessionOutcome b = run_session(data, size, true, host);
    // Each input's windows end with it, so the leak check sees every input on its own.
    clear_standin_windows();
    for (const SessionOutcome* o : {&a, &b})
        for (size_t i = 0; i < o->results.size(); ++i)
            if (!o->results[i] && o->after[i] != o->before[i])
                __builtin_trap();  // refused, yet written
    // More threads need more scratch, so one count may be refused where the other is not; a
    // refused frame is left untouched, and a learned threshold depends on the frame, so only
    // inputs accepted throughout by both are compared.
    const auto accepted = [](const SessionOutcome& o) {
        return std::all_of(o.results.begin(), o.results.end(), [](BOOL r) { return r != FALSE; });
    };
    if (!accepted(a) || !accepted(b)) return 0;
    if (a.tracks != b.tracks || a.rows != b.rows || table_a != threshold_table() ||
        a.after != b.after)
        __builtin_trap();  // the thread count or the workers' order changed a result
    return 0;
}
