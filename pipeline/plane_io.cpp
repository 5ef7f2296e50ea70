#include "pipeline/plane_io.h"

#include "kernels/kernel_set.h"

namespace {

const int16_t* sample_row(const PlaneView& view, int32_t y) {
    return static_cast<const int16_t*>(view.base) + y * view.row_stride;
}

float* plane_row(const TransformPlane& plane, int32_t y) {
    return plane.data + static_cast<int64_t>(y) * plane.W;
}

}  // namespace

int32_t mirror_index(int32_t i, int32_t n) {
    if (n <= 1) return 0;
    const int32_t period = 2 * (n - 1);
    i %= period;
    return i < n ? i : period - i;
}

void load_plane_band(const PlaneView& view, const TransformPlane& plane, int t, int T) {
    const KernelSet& k = kernels();
    const int32_t w = view.width, h = view.height;
    const ItemRange rows = thread_share(h, t, T);
    for (int32_t y = rows.begin; y < rows.end; ++y) {
        const int16_t* src = sample_row(view, y);
        float* dst = plane_row(plane, y);
        k.load_s16(src, view.sample_stride, dst, w);
        for (int32_t x = w; x < plane.W; ++x)
            dst[x] = static_cast<float>(src[mirror_index(x, w) * view.sample_stride]);
    }
    // The bottom padding reads only the frame, so it needs nothing from the other threads.
    const ItemRange columns = thread_share(plane.W, t, T);
    for (int32_t y = h; y < plane.H; ++y) {
        const int16_t* src = sample_row(view, mirror_index(y, h));
        float* dst = plane_row(plane, y);
        for (int32_t x = columns.begin; x < columns.end; ++x)
            dst[x] = static_cast<float>(src[mirror_index(x, w) * view.sample_stride]);
    }
}

void store_plane_band(const PlaneView& view, const TransformPlane& plane, int t, int T) {
    const KernelSet& k = kernels();
    const int32_t w = view.width;
    const int32_t rounded = w & ~15;
    const ItemRange rows = thread_share(view.height, t, T);
    for (int32_t y = rows.begin; y < rows.end; ++y) {
        int16_t* dst = const_cast<int16_t*>(sample_row(view, y));
        k.store_s16(plane_row(plane, y), dst, view.sample_stride, w, rounded);
    }
}
