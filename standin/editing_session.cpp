#include "standin/editing_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>

#include "plugin/parameter_store.h"
#include "plugin/user32.h"
#include "plugin/window_procedure.h"
#include "standin/frame_source.h"
#include "standin/fuzz_input.h"

namespace {

template <class Fn, class... Args>
BOOL call(const SessionHost& host, Fn fn, Args... args) {
    return call_plugin(*host.scenario, fn, args...);
}

BOOL send(const SessionHost& host, FILTER* fp, UINT message, WPARAM wparam, LPARAM lparam) {
    return call(host, fp->func_WndProc, host.scenario->window, message, wparam, lparam,
                static_cast<void*>(&host_state), fp);
}

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

void fill(FuzzInput& in, PIXEL_YC* edit, int w, int h, int max_w, int max_h) {
    const uint64_t seed = in.u64();
    const FrameKind kinds[] = {FrameKind::noisy, FrameKind::random, FrameKind::smooth,
                               FrameKind::extremes};
    fill_frame(edit, w, h, max_w, max_h, seed, kinds[in.byte() % 4]);
}

void change_track(FuzzInput& in, FILTER* fp) {
    const int t = in.range(0, kTrackCount - 1);
    const int hi = t == kTrackSel ? 2 : t >= kTrackPosX ? 400 : 4096;
    fp->track[t] = in.track_value(0, hi);
}

void send_message(FuzzInput& in, const SessionHost& host, FILTER* fp) {
    const int ids[] = {kMeasureButtonId, kResetButtonId, 12004};
    switch (in.byte() % 5) {
    case 0:
        send(host, fp, WM_COMMAND, static_cast<WPARAM>(ids[in.byte() % 3]), 0);
        break;
    case 1:
        send(host, fp, WM_KEYDOWN, in.byte(), 0);
        break;
    case 2:
        send(host, fp, WM_MOUSEWHEEL, static_cast<WPARAM>(in.u32()), 0);
        break;
    case 3:
        send(host, fp, WM_FILTER_FILE_OPEN, 0, 0);
        break;
    default:
        send(host, fp, WM_FILTER_INIT, 0, 0);
    }
}

// Back to the plug-in's state at load through its own controls, as a user would: a command
// that disarms learning, "reset" for every threshold, and plane 0 on the tracks.
void reset_through_controls(const SessionHost& host, FILTER* fp) {
    send(host, fp, WM_COMMAND, 0, 0);
    send(host, fp, WM_COMMAND, kResetButtonId, 0);
    fp->track[kTrackSel] = 0;
    call(host, fp->func_update, fp, FILTER_UPDATE_STATUS_ALL);
}

// Each plane's row of thresholds, as the tracks show it when "Sel" chooses the plane.
std::vector<int> read_rows(const SessionHost& host, FILTER* fp) {
    std::vector<int> rows;
    for (int p : {1, 2, 0}) {
        fp->track[kTrackSel] = p;
        call(host, fp->func_update, fp, FILTER_UPDATE_STATUS_ALL);
        rows.insert(rows.end(), fp->track + kTrackFirstLevel,
                    fp->track + kTrackFirstLevel + kLevelTrackCount);
    }
    return rows;
}

void run_frame(FuzzInput& in, const SessionHost& host, FILTER* fp, PIXEL_YC* edit, PIXEL_YC* temp,
               int w, int h, int max_w, int max_h, SessionOutcome& o) {
    const size_t bytes = static_cast<size_t>(max_w) * max_h * sizeof(PIXEL_YC);
    fill(in, edit, w, h, max_w, max_h);
    o.before.push_back(fnv1a(edit, bytes));
    FILTER_PROC_INFO info = frame_record(edit, temp, w, h, max_w, max_h);
    o.results.push_back(call(host, fp->func_proc, fp, &info));
    o.after.push_back(fnv1a(edit, bytes));
}

}  // namespace

PIXEL_YC* ReplayBuffers::edit_buffer(size_t count) {
    edit.assign(count, PIXEL_YC{});
    return edit.data();
}

PIXEL_YC* ReplayBuffers::temp_buffer(size_t count, int offset) {
    temp.assign(count * sizeof(PIXEL_YC) + 32, 0);
    const auto base = reinterpret_cast<std::uintptr_t>(temp.data());
    return reinterpret_cast<PIXEL_YC*>(((base + 15) & ~std::uintptr_t{15}) + offset);
}

SessionOutcome run_session(const uint8_t* data, size_t size, bool second, SessionHost& host) {
    FuzzInput in{data, size};
    // Mostly small frames, where the borders meet; sometimes up to a few hundred pixels.
    const int w0 = in.range(1, in.byte() % 4 ? 48 : 300),
              h0 = in.range(1, in.byte() % 4 ? 48 : 300);
    const int max_w = with_slack(in, w0), max_h = with_slack(in, h0);
    const int threads[2] = {in.range(1, 16), in.range(1, 16)};
    const int isas[2] = {in.range(0, 2), in.range(0, 2)};
    const SessionRun run = {second, threads[second ? 1 : 0], isas[second ? 1 : 0]};
    host.scenario->window = host.begin_run(run);

    const HFONT font = host_state.sys.hfont;
    host_state = HostState{};
    host_state.sys.hfont = font;
    host_state.has_sys_info = in.byte() & 1;
    host_state.sys.max_w = in.range(0, 4000);
    host_state.sys.max_h = in.range(0, 4000);
    EmulatedFilter& filter = *host.scenario->filter;
    build_filter(filter, host.table, host.exec);
    FILTER* fp = &filter.record;
    reset_through_controls(host, fp);
    host_state.window_updates = 0;

    call(host, fp->func_init, fp);
    send(host, fp, WM_FILTER_INIT, 0, 0);
    // Exactly the host's sizes, so that a step outside is caught. The working buffer starts at
    // any even offset from a 16-byte boundary, and holds different garbage in the two runs: a
    // read of anything the filter did not write first shows up as a difference.
    const size_t count = static_cast<size_t>(max_w) * max_h;
    PIXEL_YC* edit = host.edit_buffer(count);
    PIXEL_YC* temp = host.temp_buffer(count, 2 * in.range(0, 7));
    std::memset(temp, second ? 0xFF : 0x00, count * sizeof(PIXEL_YC));
    SessionOutcome o;
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
            call(host, fp->func_update, fp, 0);
            break;
        case 3:
            send_message(in, host, fp);
            break;
        case 4:
            host_state.editing = in.byte() & 1;
            break;
        default: {
            // Later frames may be smaller than the first, as when the project holds clips of
            // different sizes; the buffers stay as they were.
            const int w = o.results.empty() ? w0 : in.range(1, max_w);
            const int h = o.results.empty() ? h0 : in.range(1, max_h);
            run_frame(in, host, fp, edit, temp, w, h, max_w, max_h, o);
        }
        }
    }
    o.tracks = filter.track;
    o.ranges = {fp->track_s[kTrackPosX], fp->track_e[kTrackPosX], fp->track_s[kTrackPosY],
                fp->track_e[kTrackPosY]};
    o.window_updates = host_state.window_updates;
    o.rows = read_rows(host, fp);
    call(host, fp->func_exit, fp);
    return o;
}

std::string describe_outcome(const SessionOutcome& o) {
    std::string text;
    char line[96];
    for (size_t i = 0; i < o.results.size(); ++i) {
        std::snprintf(line, sizeof line, "frame result=%d hash=%016llx%s\n", o.results[i],
                      static_cast<unsigned long long>(o.after[i]),
                      o.after[i] == o.before[i] ? " unchanged" : "");
        text += line;
    }
    const auto list = [&](const char* name, const std::vector<int>& values) {
        text += name;
        for (int v : values) {
            std::snprintf(line, sizeof line, " %d", v);
            text += line;
        }
        text += "\n";
    };
    list("tracks", o.tracks);
    list("ranges", o.ranges);
    list("thresholds", o.rows);
    list("updates", {o.window_updates});
    return text;
}

bool replay_folder(const std::string& folder, SessionHost& host, std::ostream& out) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    if (error) return false;
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<uint8_t> data{std::istreambuf_iterator<char>(file),
                                        std::istreambuf_iterator<char>()};
        out << "== " << path.filename().string() << "\n";
        for (bool second : {false, true})
            out << describe_outcome(run_session(data.data(), data.size(), second, host));
    }
    return true;
}
