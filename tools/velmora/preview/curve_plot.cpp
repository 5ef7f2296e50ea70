#include "tools/velmora/preview/curve_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velmora {

namespace {

constexpr int kMargin = 8;

class Canvas {
public:
    Canvas(int width, int height)
        : image_{width, height, std::vector<uint8_t>(size_t(width) * height * 3, 24)} {}

    void dot(int x, int y, const std::array<uint8_t, 3>& colour) {
        if (x < 0 || y < 0 || x >= image_.width || y >= image_.height) return;
        std::copy(colour.begin(), colour.end(), &image_.pixels[(size_t(y) * image_.width + x) * 3]);
    }
    // A square of side 2 r + 1 around (x, y).
    void blot(int x, int y, int r, const std::array<uint8_t, 3>& colour) {
        for (int i = -r; i <= r; ++i)
            for (int j = -r; j <= r; ++j) dot(x + j, y + i, colour);
    }
    // A line two samples thick, its points stepped along the longer side.
    void line(int x0, int y0, int x1, int y1, const std::array<uint8_t, 3>& colour) {
        const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        for (int s = 0; s <= steps; ++s) {
            const double t = steps ? double(s) / steps : 0.0;
            blot(int(std::lround(x0 + t * (x1 - x0))), int(std::lround(y0 + t * (y1 - y0))), 1,
                 colour);
        }
    }
    RgbImage take() { return std::move(image_); }

private:
    RgbImage image_;
};

// The grid step: the least of 1, 2, 5, 10, 20, ... that gives at most 8 lines up to `top`.
double grid_step(double top) {
    for (double scale = 1.0;; scale *= 10.0)
        for (double step : {1.0, 2.0, 5.0})
            if (top / (step * scale) <= 8.0) return step * scale;
}

}  // namespace

RgbImage noise_curve_plot(const NoiseCurves& curves, int width) {
    width = std::max(width, 64);
    double highest = 0.0;
    for (const auto& curve : curves)
        for (double level : curve) highest = std::max(highest, level);
    const double step = grid_step(std::max(highest, 1.0));
    const double top = std::ceil(std::max(highest, 1.0) / step) * step;
    Canvas canvas(width, kCurvePlotHeight);
    const int left = kMargin, right = width - 1 - kMargin;
    const int bottom = kCurvePlotHeight - 1 - kMargin, up = kMargin;
    const auto x_of = [&](double brightness) {
        return left + int(std::lround(brightness / 256.0 * (right - left)));
    };
    const auto y_of = [&](double level) {
        return bottom - int(std::lround(level / top * (bottom - up)));
    };
    for (double level = 0.0; level <= top; level += step)
        canvas.line(left, y_of(level), right, y_of(level), {56, 56, 56});
    for (int edge = 0; edge <= 256; edge += 32)
        canvas.line(x_of(edge), up, x_of(edge), bottom, {40, 40, 40});
    for (int p = 0; p < 3; ++p) {
        const std::vector<double>& curve = curves[p];
        const int bins = int(curve.size());
        const double width_of_bin = bins ? 256.0 / bins : 0.0;
        for (int b = 0; b < bins; ++b) {
            if (curve[b] < 0.0) continue;
            const int x = x_of((b + 0.5) * width_of_bin), y = y_of(curve[b]);
            if (b + 1 < bins && curve[b + 1] >= 0.0)
                canvas.line(x, y, x_of((b + 1.5) * width_of_bin), y_of(curve[b + 1]),
                            kCurveColours[p]);
            canvas.blot(x, y, 3, kCurveColours[p]);
        }
    }
    return canvas.take();
}

}  // namespace velmora
