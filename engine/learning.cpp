#include "engine/learning.h"

namespace velmora {

namespace {

int32_t clip(int64_t v, int32_t lo, int32_t hi) {
    return static_cast<int32_t>(v < lo ? lo : v > hi ? hi : v);
}

// Largest magnitude in columns [x0, x1) and rows [y0, y1) of the block at `block`.
float window_maximum(const KernelSet& k, const float* block, int32_t stride, int32_t x0, int32_t x1,
                     int32_t y0, int32_t y1) {
    float m = 0.0f;
    for (int32_t y = y0; y < y1 && x0 < x1; ++y) {
        const float row_max = k.max_abs(block + static_cast<int64_t>(y) * stride + x0, x1 - x0);
        if (row_max > m) m = row_max;
    }
    return m;
}

}  // namespace

SubbandThresholds box_maxima(const KernelSet& k, const TransformPlane& plane, const Box& box,
                             int levels) {
    SubbandThresholds maxima = {};
    for (int l = 0; l < levels && l < kLevels; ++l) {
        const int s = l + 1;
        const int32_t w2 = plane.W >> s, h2 = plane.H >> s;
        const int32_t x0 = clip((box.x + (1 << s) - 1) >> s, 0, w2);
        const int32_t x1 = clip((box.x + box.width) >> s, 0, w2);
        const int32_t y0 = clip((box.y + (1 << s) - 1) >> s, 0, h2);
        const int32_t y1 = clip((box.y + box.height) >> s, 0, h2);
        const float* blocks[3] = {plane.data + w2, plane.data + static_cast<int64_t>(h2) * plane.W,
                                  plane.data + static_cast<int64_t>(h2) * plane.W + w2};
        for (int o = 0; o < 3; ++o)
            maxima.value[l][o] = window_maximum(k, blocks[o], plane.W, x0, x1, y0, y1);
    }
    return maxima;
}

}  // namespace velmora
