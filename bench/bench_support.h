// What the benchmarks share: their options and medians.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "bench/comma_list.h"
#include "kernels/kernel_set.h"

inline double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// `--runs N`, `--NAME a,b,...` for each of `lists`, `--NAME` for each of `flags` and `--NAME
// VALUE` for each of `values`; false for anything else.
inline bool parse_options(
    int argc, char** argv, int& runs,
    std::initializer_list<std::pair<const char*, std::vector<std::string>*>> lists,
    std::initializer_list<std::pair<const char*, bool*>> flags = {},
    std::initializer_list<std::pair<const char*, std::string*>> values = {}) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        bool known = false;
        if (arg == "--runs" && has_value) {
            runs = std::atoi(argv[++i]);
            continue;
        }
        for (const auto& [name, list] : lists) {
            if (arg == std::string("--") + name && has_value) {
                *list = split(argv[++i]);
                known = true;
                break;
            }
        }
        for (const auto& [name, value] : values) {
            if (!known && arg == std::string("--") + name && has_value) {
                *value = argv[++i];
                known = true;
            }
        }
        for (const auto& [name, flag] : flags) {
            if (arg == std::string("--") + name) {
                *flag = true;
                known = true;
            }
        }
        if (!known) return false;
    }
    return true;
}

// The kernel table named "scalar", "sse41" or "avx2" (anything else: SSE4.1), or null when the
// processor lacks it.
inline const KernelSet* table_named(const std::string& name) {
    return kernels_for(name == "scalar" ? Isa::scalar : name == "avx2" ? Isa::avx2 : Isa::sse41);
}
