#include "engine/noise_estimate.h"

#include "engine/order_statistic.h"

namespace velmora {

float estimate_noise(const TransformPlane& plane, int32_t width, int32_t height) {
    const int32_t w2 = plane.W >> 1, h2 = plane.H >> 1;
    const int32_t cols = width / 2 > 1 ? width / 2 : 1, rows = height / 2 > 1 ? height / 2 : 1;
    const float* diagonal = plane.data + static_cast<int64_t>(h2) * plane.W + w2;
    const int64_t count = static_cast<int64_t>(cols) * rows;
    return kth_smallest_magnitude(diagonal, plane.W, cols, rows, count / 2) / 0.6745f;
}

}  // namespace velmora
