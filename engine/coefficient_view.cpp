#include "engine/coefficient_view.h"

#include <cmath>

#include "kernels/sample_conversion.h"

namespace velmora {

namespace {

int32_t min32(int32_t a, int32_t b) { return a < b ? a : b; }

int16_t magnitude_sample(float c, float scale, float k) {
    return low16(convert_truncate(std::fabs(c * scale) * k));
}

}  // namespace

void draw_coefficient_view(const TransformPlane& plane, int levels, float scale,
                           const PlaneView& canvas) {
    auto* samples = static_cast<int16_t*>(canvas.base);
    const float inv = 1.0f / static_cast<float>(1 << levels);
    for (int g = 0; g < levels; ++g) {
        const int s = g + 1;
        const int32_t w2 = plane.W >> s, h2 = plane.H >> s;
        const int32_t cols = min32(canvas.width, 2 * w2), rows = min32(canvas.height, 2 * h2);
        const float k = 256.0f / static_cast<float>(1 << g);
        for (int32_t i = 0; i < rows; ++i) {
            const float* coefficients = plane.data + static_cast<int64_t>(i) * plane.W;
            int16_t* row = samples + i * canvas.row_stride;
            for (int32_t j = 0; j < cols; ++j) {
                int16_t& y = row[j * canvas.sample_stride];
                if (j >= w2 || i >= h2)
                    y = magnitude_sample(coefficients[j], scale, k);
                else if (g == levels - 1)
                    y = magnitude_sample(coefficients[j], scale, inv);
            }
        }
    }
}

}  // namespace velmora
