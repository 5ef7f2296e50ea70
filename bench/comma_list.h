// "a,b,c" command-line values of the benchmarks, split at the commas (empty items dropped).
#pragma once

#include <string>
#include <vector>

inline std::vector<std::string> split(const char* text) {
    std::vector<std::string> parts;
    std::string part;
    for (const char* c = text;; ++c) {
        if (*c == ',' || *c == 0) {
            if (!part.empty()) parts.push_back(part);
            part.clear();
            if (*c == 0) break;
        } else {
            part += *c;
        }
    }
    return parts;
}
