#include "wavelet/masked_threshold.h"

#include "kernels/kernel_set.h"
#include "kernels/lifting_constants.h"

namespace {

// powf(1.4142135f, l) for l = 0..4, correctly rounded (1.4142135 is 0x3FB504F3).
constexpr uint32_t kSqrt2PowerBits[] = {0x3F800000, 0x3FB504F3, 0x3FFFFFFF, 0x403504F3, 0x407FFFFF};

}  // namespace

float sqrt2_power(int level) { return float_from_bits(kSqrt2PowerBits[level]); }

float threshold_scale(int level) { return sqrt2_power(level) * 0.25f; }

void threshold_bands(const TransformPlane& plane, const int32_t* row, int levels, int t, int T) {
    if (levels <= 0) return;
    if (levels > 5) levels = 5;
    const KernelSet& k = kernels();
    int32_t* mask = reinterpret_cast<int32_t*>(plane.scratch +
                                               static_cast<int64_t>(t) * plane.scratch_per_thread);
    for (int l = 0; l < levels; ++l) {
        const int32_t w2 = plane.W >> (l + 1), h2 = plane.H >> (l + 1);
        const ItemRange band = thread_share(h2, t, T);
        if (band.begin >= band.end) continue;
        float* const blocks[3] = {plane.data + w2, plane.data + static_cast<int64_t>(h2) * plane.W,
                                  plane.data + static_cast<int64_t>(h2) * plane.W + w2};
        for (int o = 0; o < 3; ++o) {
            const float x = static_cast<float>(row[3 * l + o]) * threshold_scale(l);
            if (!(x > 0.0f)) continue;  // every coefficient reaches a threshold of 0 or less
            k.threshold_strip(blocks[o], plane.W, mask, plane.W, band.begin, band.end, x, w2, h2);
        }
    }
}
