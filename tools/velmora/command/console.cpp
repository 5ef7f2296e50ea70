#include "tools/velmora/command/console.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace velmora {

Console::Console(bool quiet, ProgressMode mode)
    : quiet_(quiet),
      terminal_(mode == ProgressMode::always ||
                (mode == ProgressMode::automatic && !quiet && ::isatty(STDERR_FILENO))),
      machine_(mode == ProgressMode::machine) {}

void Console::message(const std::string& text) {
    clear();
    std::fprintf(stderr, "velmora: %s\n", text.c_str());
}

void Console::info(const std::string& text) {
    if (!quiet_) message(text);
}

void Console::progress(int64_t frames, std::optional<int64_t> total, bool force) {
    if (!terminal_ && !machine_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double fps = seconds > 0 ? frames / seconds : 0.0;
    const bool known = total && *total > 0;
    const bool eta_known = known && fps > 0;
    const double eta = eta_known ? std::max<int64_t>(*total - frames, 0) / fps : 0.0;
    char line[200];
    int n = 0;
    if (machine_) {
        n = std::snprintf(line, sizeof line, "progress frame=%lld", static_cast<long long>(frames));
        if (known)
            n += std::snprintf(line + n, sizeof line - n, " total=%lld",
                               static_cast<long long>(*total));
        n += std::snprintf(line + n, sizeof line - n, " fps=%.1f elapsed=%.1f", fps, seconds);
        if (eta_known) n += std::snprintf(line + n, sizeof line - n, " eta=%.1f", eta);
        std::fprintf(stderr, "%s\n", line);
        return;
    }
    n = std::snprintf(line, sizeof line, "\rframe %lld", static_cast<long long>(frames));
    if (known)
        n += std::snprintf(line + n, sizeof line - n, "/%lld", static_cast<long long>(*total));
    n += std::snprintf(line + n, sizeof line - n, "  %.1f fps", fps);
    if (eta_known && *total > frames) {
        const auto left = static_cast<long long>(eta + 0.5);
        n += std::snprintf(line + n, sizeof line - n, "  ETA %lld:%02lld", left / 60, left % 60);
    }
    std::fprintf(stderr, "%s\033[K", line);
    shown_ = true;
}

void Console::finish() {
    if (shown_) std::fprintf(stderr, "\n");
    shown_ = false;
}

void Console::clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r\033[K");
    shown_ = false;
}

}  // namespace velmora
