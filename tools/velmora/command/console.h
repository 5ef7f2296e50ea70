// What velmora says on standard error: messages, and the progress of the run as a line redrawn
// on a terminal or as lines for a program to read.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/velmora/command/options.h"

namespace velmora {

// Messages are "velmora: TEXT" lines. The terminal progress line is cleared before a message
// and left standing as the summary at the end. Machine progress lines read
//     progress frame=F total=T fps=R elapsed=S eta=S
// (total and eta only when known; elapsed and eta in seconds), at most four a second and once
// at the end.
class Console {
public:
    Console(bool quiet, ProgressMode mode);

    void message(const std::string& text);
    // A message that --quiet silences.
    void info(const std::string& text);

    // `frames` done of `total`; drawn at most four times a second unless forced.
    void progress(int64_t frames, std::optional<int64_t> total, bool force = false);
    // Ends the progress report.
    void finish();

private:
    void clear();

    bool quiet_;
    bool terminal_;  // the redrawn line
    bool machine_;   // lines for programs
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last_ = start_;
};

}  // namespace velmora
