#include "plugin/views.h"

#include "engine/coefficient_view.h"
#include "kernels/sample_conversion.h"
#include "plugin/frame_geometry.h"
#include "plugin/parameter_store.h"
#include "plugin/selection_box.h"
#include "wavelet/lifting_passes.h"

namespace {

int32_t min32(int32_t a, int32_t b) { return a < b ? a : b; }

PIXEL_YC& pixel_at(FILTER_PROC_INFO* fpip, int32_t x, int32_t y) {
    return fpip->ycp_edit[static_cast<int64_t>(y) * fpip->max_w + x];
}

void invert_if_inside(FILTER_PROC_INFO* fpip, int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= fpip->max_w || y >= fpip->max_h) return;
    invert_pixel(pixel_at(fpip, static_cast<int32_t>(x), static_cast<int32_t>(y)));
}

}  // namespace

void invert_pixel(PIXEL_YC& pixel) {
    pixel.y = low16(4095 - static_cast<int32_t>(pixel.y));
    pixel.cb = low16(-static_cast<int32_t>(pixel.cb));
    pixel.cr = low16(-static_cast<int32_t>(pixel.cr));
}

void draw_outline(FILTER_PROC_INFO* fpip, int64_t x, int64_t y, int32_t n) {
    for (int32_t i = 0; i < n; ++i) invert_if_inside(fpip, x + i, y);
    for (int32_t i = 1; i < n - 1; ++i) {
        invert_if_inside(fpip, x, y + i);
        invert_if_inside(fpip, x + n - 1, y + i);
    }
    for (int32_t i = 0; i < n; ++i) invert_if_inside(fpip, x + i, y + n - 1);
}

void DrawCoefficientView(FILTER_PROC_INFO* fpip, int levels) {
    // The picture goes into y; every pixel of the drawn area (that of the finest level, which
    // covers all the others) gets cb = cr = 0.
    const velmora::PlaneView luma = {
        &fpip->ycp_edit[0].y, 3,           3 * static_cast<ptrdiff_t>(fpip->max_w),
        fpip->max_w,          fpip->max_h, velmora::SampleFormat::s16};
    velmora::draw_coefficient_view(working_plane(), levels, 1.0f, luma);
    if (levels < 1) return;
    const int32_t cols = min32(fpip->max_w, frame_geometry.W);
    const int32_t rows = min32(fpip->max_h, frame_geometry.H);
    for (int32_t i = 0; i < rows; ++i)
        for (int32_t j = 0; j < cols; ++j) {
            pixel_at(fpip, j, i).cb = 0;
            pixel_at(fpip, j, i).cr = 0;
        }
}

void DrawSelectionOverlay(FILTER* fp, FILTER_PROC_INFO* fpip) {
    const int64_t X = fp->track[kTrackPosX], Y = fp->track[kTrackPosY];
    if (fp->check[kCheckCoefficientView] == 0) {
        draw_outline(fpip, X, Y, kSelectionSize);
        return;
    }
    for (int s = 1; s <= kLevels; ++s) {
        const int32_t n = kSelectionSize >> s;
        const int64_t bx = X >> s, by = Y >> s;
        const int32_t w2 = frame_geometry.W >> s, h2 = frame_geometry.H >> s;
        draw_outline(fpip, w2 + bx, by, n);
        draw_outline(fpip, bx, h2 + by, n);
        draw_outline(fpip, w2 + bx, h2 + by, n);
        if (s == kLevels) draw_outline(fpip, bx, by, n);
    }
}
