#include "standin/scenario.h"

#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>

#include "standin/frame_source.h"

namespace {

struct FrameBuffers {
    std::unique_ptr<PIXEL_YC[]> edit;
    std::unique_ptr<PIXEL_YC[]> temp;
    FILTER_PROC_INFO info = {};
};

void print_hex_string(std::ostream& out, const char* text) {
    out << std::hex << std::setfill('0');
    for (const char* c = text; c && *c; ++c)
        out << std::setw(2) << (static_cast<unsigned>(static_cast<unsigned char>(*c)));
    out << std::dec;
}

void print_table(std::ostream& out, const FILTER& f) {
    out << "table flag=" << std::hex << f.flag << std::dec << " size=" << f.x << "x" << f.y
        << " name=";
    print_hex_string(out, f.name);
    out << " info=";
    print_hex_string(out, f.information);
    out << "\n";
    for (int i = 0; i < f.track_n; ++i) {
        out << "track " << i << " ";
        print_hex_string(out, f.track_name[i]);
        out << " " << f.track_default[i] << " " << f.track_s[i] << " " << f.track_e[i] << "\n";
    }
    for (int i = 0; i < f.check_n; ++i) {
        out << "check " << i << " ";
        print_hex_string(out, f.check_name[i]);
        out << " " << f.check_default[i] << "\n";
    }
    out << "handlers proc=" << (f.func_proc != nullptr) << " init=" << (f.func_init != nullptr)
        << " exit=" << (f.func_exit != nullptr) << " update=" << (f.func_update != nullptr)
        << " wndproc=" << (f.func_WndProc != nullptr) << "\n";
}

void print_state(std::ostream& out, const EmulatedFilter& filter) {
    out << "tracks";
    for (int v : filter.track) out << " " << v;
    out << " | pos " << filter.record.track_s[16] << ".." << filter.record.track_e[16] << " "
        << filter.record.track_s[17] << ".." << filter.record.track_e[17]
        << " | updates " << host_state.window_updates << "\n";
}

bool save_ppm(const std::string& path, const FILTER_PROC_INFO& f) {
    std::ofstream file(path, std::ios::binary);
    file << "P6\n" << f.w << " " << f.h << "\n255\n";
    for (int y = 0; y < f.h; ++y) {
        for (int x = 0; x < f.w; ++x) {
            const PIXEL_YC& p = f.ycp_edit[static_cast<int64_t>(y) * f.max_w + x];
            // The editor's YC: y 0..4096 for black..white, cb and cr around 0.
            const double yy = p.y / 4096.0, cb = p.cb / 4096.0, cr = p.cr / 4096.0;
            const double rgb[3] = {yy + 1.402 * cr, yy - 0.344 * cb - 0.714 * cr, yy + 1.772 * cb};
            for (double c : rgb) {
                const double v = c * 255.0 + 0.5;
                file.put(static_cast<char>(v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v)));
            }
        }
    }
    return static_cast<bool>(file);
}

bool run_frame(std::istringstream& args, ScenarioHost& host, FrameBuffers& frame,
               std::ostream& out) {
    int w, h, max_w, max_h;
    uint64_t seed;
    std::string kind_name;
    if (!(args >> w >> h >> max_w >> max_h >> seed >> kind_name)) return false;
    FrameKind kind;
    if (!parse_frame_kind(kind_name, kind) || max_w < 1 || max_h < 1) return false;
    int64_t temp_pixels = static_cast<int64_t>(max_w) * max_h;
    args >> temp_pixels;
    frame.edit.reset(new PIXEL_YC[static_cast<size_t>(max_w) * max_h]);
    frame.temp.reset(new PIXEL_YC[static_cast<size_t>(temp_pixels)]);
    fill_frame(frame.edit.get(), w, h, max_w, max_h, seed, kind);
    frame.info = frame_record(frame.edit.get(), frame.temp.get(), w, h, max_w, max_h);
    FILTER_PROC_INFO& info = frame.info;
    const size_t bytes = static_cast<size_t>(max_w) * max_h * 6;
    const uint64_t before = fnv1a(frame.edit.get(), bytes);
    const BOOL result = call_plugin(host, host.filter->record.func_proc, &host.filter->record, &info);
    const uint64_t hash = fnv1a(frame.edit.get(), bytes);
    out << "frame " << w << "x" << h << " result=" << result << " hash=" << std::hex
        << std::setw(16) << std::setfill('0') << hash << std::dec
        << (hash == before ? " unchanged" : "") << "\n";
    return true;
}

bool parse_number(std::istringstream& args, long long& value) {
    std::string text;
    if (!(args >> text)) return false;
    try {
        value = std::stoll(text, nullptr, 0);
    } catch (...) {
        return false;
    }
    return true;
}

bool run_message(std::istringstream& args, ScenarioHost& host, std::ostream& out) {
    long long message, wparam, lparam;
    if (!parse_number(args, message) || !parse_number(args, wparam) || !parse_number(args, lparam))
        return false;
    FILTER& f = host.filter->record;
    const BOOL result = call_plugin(host, f.func_WndProc, host.window, static_cast<UINT>(message),
                                     static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam),
                                     static_cast<void*>(&host_state), &f);
    out << "message " << std::hex << message << std::dec << " result=" << result << "\n";
    return true;
}

bool run_line(const std::string& line, ScenarioHost& host, FrameBuffers& frame,
              std::ostream& out) {
    std::istringstream args(line);
    std::string command;
    if (!(args >> command) || command[0] == '#') return true;
    EmulatedFilter& filter = *host.filter;
    FILTER& f = filter.record;
    int a = 0, b = 0;
    std::string name;
    if (command == "threads" && args >> a) {
        host.set_threads(a);
    } else if (command == "track" && args >> a >> b && a >= 0 && a < f.track_n) {
        filter.track[a] = b;
    } else if (command == "check" && args >> a >> b && a >= 0 && a < f.check_n) {
        filter.check[a] = b;
    } else if (command == "editing" && args >> a) {
        host_state.editing = a != 0;
    } else if (command == "active" && args >> a) {
        host_state.active = a != 0;
    } else if (command == "sysinfo" && args >> a >> b) {
        host_state.sys.max_w = a;
        host_state.sys.max_h = b;
    } else if (command == "service" && args >> name >> a) {
        return set_service(filter, name, a != 0);
    } else if (command == "init") {
        out << "init result=" << call_plugin(host, f.func_init, &f) << "\n";
    } else if (command == "exit") {
        out << "exit result=" << call_plugin(host, f.func_exit, &f) << "\n";
    } else if (command == "update") {
        out << "update result=" << call_plugin(host, f.func_update, &f, FILTER_UPDATE_STATUS_ALL) << "\n";
    } else if (command == "message") {
        return run_message(args, host, out);
    } else if (command == "frame") {
        return run_frame(args, host, frame, out);
    } else if (command == "table") {
        print_table(out, f);
    } else if (command == "children" && host.describe_children) {
        out << host.describe_children();
    } else if (command == "layout" && host.describe_layout) {
        out << host.describe_layout();
    } else if (command == "owner" && host.owner_log) {
        out << host.owner_log();
    } else if (command == "state") {
        print_state(out, filter);
    } else if (command == "save") {
        std::string path;
        return args >> path && frame.edit && save_ppm(path, frame.info);
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool run_scenario(std::istream& script, ScenarioHost& host, std::ostream& out) {
    FrameBuffers frame;
    std::string line;
    int number = 0;
    while (std::getline(script, line)) {
        ++number;
        if (!run_line(line, host, frame, out)) {
            out << "error: line " << number << ": " << line << "\n";
            return false;
        }
    }
    return true;
}

bool run_scenario_files(int count, char** paths, ScenarioHost& host, std::ostream& out) {
    for (int i = 0; i < count; ++i) {
        const std::string path = paths[i];
        out << "== " << path.substr(path.find_last_of("/\\") + 1) << "\n";
        if (path == "-") {
            if (!run_scenario(std::cin, host, out)) return false;
            continue;
        }
        std::ifstream file(path);
        if (!file) {
            out << "error: cannot open " << path << "\n";
            return false;
        }
        if (!run_scenario(file, host, out)) return false;
    }
    return true;
}
