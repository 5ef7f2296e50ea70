// The choice among block motion candidates of equal cost, shared by the kernel forms of
// least_cost (kernel_set.h): the nearest the window's centre, then the first in order.
#pragma once

#include <cstdint>

namespace velmora {

struct NearestCandidate {
    int width;           // of the window
    int32_t index = -1;  // r * width + c of the best so far
    int32_t offset = 0;  // its |r - h| + |c - h|

    // Candidate i has the least cost: it replaces the best if it lies nearer the centre.
    // Candidates come in order, so of the nearest the first stays.
    void consider(int32_t i) {
        const int32_t h = width / 2, r = i / width, c = i % width;
        const int32_t o = (r < h ? h - r : r - h) + (c < h ? h - c : c - h);
        if (index < 0 || o < offset) {
            index = i;
            offset = o;
        }
    }
    // The candidates base + k for each bit k of `hits`, in order.
    void consider_bits(uint32_t hits, int32_t base) {
        for (; hits != 0; hits &= hits - 1) consider(base + __builtin_ctz(hits));
    }
};

}  // namespace velmora
