#include "wavelet/lifting_passes.h"

#include "kernels/kernel_set.h"

namespace {

float* slice(const TransformPlane& plane, int t) {
    return plane.scratch + static_cast<int64_t>(t) * plane.scratch_per_thread;
}

void rows_pass(const KernelSet& k, const TransformPlane& plane, int level, int t, int T,
               bool forward) {
    const int32_t w_l = plane.W >> level, h_l = plane.H >> level;
    const ItemRange rows = thread_share(h_l, t, T);
    float* e = slice(plane, t);
    float* o = e + plane.W;
    for (int32_t y = rows.begin; y < rows.end; ++y) {
        float* row = plane.data + static_cast<int64_t>(y) * plane.W;
        if (forward)
            k.forward_row(row, row, w_l / 2, e, o);
        else
            k.inverse_row(row, row, w_l / 2, e, o);
    }
}

void columns_pass(const KernelSet& k, const TransformPlane& plane, int level, int t, int T,
                  bool forward) {
    const int32_t w_l = plane.W >> level, h_l = plane.H >> level;
    const ItemRange columns = thread_share(w_l, t, T);
    if (columns.begin >= columns.end) return;
    auto* pass = forward ? k.forward_columns : k.inverse_columns;
    pass(plane.data + columns.begin, plane.W, columns.end - columns.begin, h_l / 2, slice(plane, t),
         plane.scratch_per_thread);
}

}  // namespace

void forward_rows(const KernelSet& k, const TransformPlane& plane, int level, int t, int T) {
    rows_pass(k, plane, level, t, T, true);
}

void forward_columns(const KernelSet& k, const TransformPlane& plane, int level, int t, int T) {
    columns_pass(k, plane, level, t, T, true);
}

void inverse_columns(const KernelSet& k, const TransformPlane& plane, int level, int t, int T) {
    columns_pass(k, plane, level, t, T, false);
}

void inverse_rows(const KernelSet& k, const TransformPlane& plane, int level, int t, int T) {
    rows_pass(k, plane, level, t, T, false);
}
