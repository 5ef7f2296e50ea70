// The memory a pass will need a few row pairs from now, asked of the caches a share at a time
// between the kernels of the pair being worked on. Asked for all at once, a pair's rows (some
// hundreds of cache lines) fill the core's miss buffers, and every request after that waits
// for one to drain; spread out, the requests overlap the arithmetic instead.
#pragma once

#include <cstdint>

// `bytes` of memory from `at`.
struct MemoryRange {
    const void* at;
    int64_t bytes;
};

class PrefetchQueue {
public:
    // Starts a pair's requests, to be spread over `steps` calls of ask(): what an earlier pair
    // left is asked for at once.
    void start(int steps) {
        ask_all();
        steps_ = steps < 1 ? 1 : steps;
        lines_ = 0;
    }
    // Memory to be read, or written when `write`.
    void add(MemoryRange r, bool write) {
        if (r.bytes <= 0 || count_ == kRanges) return;
        const char* at = static_cast<const char*>(r.at);
        ranges_[count_++] = {at, at + r.bytes, write};
        lines_ += (r.bytes + kLine - 1) / kLine;
        share_ = static_cast<int32_t>((lines_ + steps_ - 1) / steps_);
    }
    // One step's share of the lines not asked for yet.
    void ask() { ask_lines(share_); }

private:
    static constexpr int kRanges = 8;
    static constexpr int kLine = 64;
    struct Range {
        const char* at;
        const char* end;
        bool write;
    };

    void ask_all() { ask_lines(INT32_MAX); }
    void ask_lines(int32_t lines) {
        while (lines > 0 && next_ < count_) {
            Range& r = ranges_[next_];
            for (; lines > 0 && r.at < r.end; --lines, r.at += kLine) {
                if (r.write)
                    __builtin_prefetch(r.at, 1, 2);
                else
                    __builtin_prefetch(r.at, 0, 2);
            }
            if (r.at >= r.end) ++next_;
        }
        if (next_ == count_) next_ = count_ = 0;
    }

    Range ranges_[kRanges] = {};
    int count_ = 0, next_ = 0;
    int steps_ = 1;
    int64_t lines_ = 0;
    int32_t share_ = 0;
};
