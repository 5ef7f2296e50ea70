#include "pipeline/learning.h"

#include "host/parameter_store.h"
#include "kernels/kernel_set.h"
#include "kernels/sample_conversion.h"
#include "pipeline/frame_geometry.h"
#include "wavelet/masked_threshold.h"

namespace {

int32_t clip(int64_t v, int32_t lo, int32_t hi) {
    return static_cast<int32_t>(v < lo ? lo : v > hi ? hi : v);
}

// Largest magnitude in columns [x0, x1) and rows [y0, y1) of the block at `block`.
float window_maximum(const float* block, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    const KernelSet& k = kernels();
    float m = 0.0f;
    for (int32_t y = y0; y < y1 && x0 < x1; ++y) {
        const float row_max = k.max_abs(block + static_cast<int64_t>(y) * frame_geometry.W + x0,
                                        x1 - x0);
        if (row_max > m) m = row_max;
    }
    return m;
}

}  // namespace

void LearnThresholds(FILTER* fp, int levels) {
    const int64_t X = fp->track[kTrackPosX], Y = fp->track[kTrackPosY];
    int32_t* row = ThresholdTable[clamp_plane(frame_geometry.current_plane)];
    const float* plane = frame_geometry.WorkingPlane;
    for (int l = 0; l < levels; ++l) {
        const int s = l + 1;
        const int32_t w2 = frame_geometry.W >> s, h2 = frame_geometry.H >> s;
        const int32_t x0 = clip((X + (1 << s) - 1) >> s, 0, w2);
        const int32_t x1 = clip((X + kSelectionSize) >> s, 0, w2);
        const int32_t y0 = clip((Y + (1 << s) - 1) >> s, 0, h2);
        const int32_t y1 = clip((Y + kSelectionSize) >> s, 0, h2);
        const float q = 4.0f / sqrt2_power(l);
        const float* blocks[3] = {plane + w2, plane + static_cast<int64_t>(h2) * frame_geometry.W,
                                  plane + static_cast<int64_t>(h2) * frame_geometry.W + w2};
        for (int o = 0; o < 3; ++o) {
            const float m = window_maximum(blocks[o], x0, x1, y0, y1);
            row[3 * l + o] = convert_truncate(m * q);
        }
    }
}
