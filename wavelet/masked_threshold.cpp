#include "wavelet/masked_threshold.h"

void threshold_bands(const KernelSet& k, const TransformPlane& plane,
                     const SubbandThresholds& thresholds, int levels, int t, int T) {
    if (levels > kLevels) levels = kLevels;
    int32_t* mask = reinterpret_cast<int32_t*>(plane.scratch +
                                               static_cast<int64_t>(t) * plane.scratch_per_thread);
    for (int l = 0; l < levels; ++l) {
        const int32_t w2 = plane.W >> (l + 1), h2 = plane.H >> (l + 1);
        const ItemRange band = thread_share(h2, t, T);
        if (band.begin >= band.end) continue;
        float* const blocks[3] = {plane.data + w2, plane.data + static_cast<int64_t>(h2) * plane.W,
                                  plane.data + static_cast<int64_t>(h2) * plane.W + w2};
        for (int o = 0; o < 3; ++o) {
            const float x = thresholds.value[l][o];
            if (!(x > 0.0f)) continue;  // every coefficient reaches a threshold of 0 or less
            k.threshold_strip(blocks[o], plane.W, mask, plane.W, band.begin, band.end, x, w2, h2);
        }
    }
}
