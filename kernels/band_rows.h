// The thresholding of one thread's band of block rows, shared by every kernel table. A band
// reads the row above it and the row below it, which belong to the neighbouring threads' bands
// and may be zeroed by them at the same moment; its own first and last rows are read by those
// threads in turn. Those rows are accessed 32 bits at a time with relaxed atomic loads and
// stores; the outcome is the same either way, since only coefficients below the threshold are
// zeroed and +0.0 is below it too.
//
// Included by each instruction-set file; everything here is private to the file that includes
// it, so that each copy is compiled for its own instruction set only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace {

typedef int32_t __attribute__((may_alias)) SharedWord;

inline float load_shared(const float* p) {
    const int32_t bits = __atomic_load_n(reinterpret_cast<const SharedWord*>(p), __ATOMIC_RELAXED);
    return __builtin_bit_cast(float, bits);
}

inline void store_zero_shared(float* p) {
    __atomic_store_n(reinterpret_cast<SharedWord*>(p), 0, __ATOMIC_RELAXED);
}

inline void set_marks(int32_t* const* masks, int count, int first, int last) {
    for (int r = 0; r < count; ++r)
        for (int i = first; i <= last; ++i) masks[r][i] = -1;
}

// Marks entries j-1, j and j+1 for every coefficient of a neighbour's row that reaches x.
inline void mark_shared_row(const float* row, int n, float x, int32_t* const* masks, int count) {
    for (int j = 0; j < n; ++j)
        if (__builtin_fabsf(load_shared(row + j)) >= x)
            set_marks(masks, count, j > 0 ? j - 1 : j, j < n - 1 ? j + 1 : j);
}

// Zeroes the unmarked coefficients of a row a neighbour reads, and clears the mask.
inline void zero_unmarked_shared(float* row, int32_t* mask, int n) {
    for (int j = 0; j < n; ++j) {
        if (mask[j] == 0) store_zero_shared(row + j);
        mask[j] = 0;
    }
}

// Rows r0..r1-1 of an n x m block. `mark_row(row, n, x, masks, count)` ORs a row's dilated keep
// marks into `count` mask rows; `zero_unmarked(row, mask, n)` zeroes the unmarked coefficients
// of a row and clears its mask. M0, M1, M2 hold the marks of rows r, r+1 and r+2.
template <class MarkRow, class ZeroUnmarked>
void threshold_band(float* block, ptrdiff_t stride, int32_t* mask, int mask_stride, int r0, int r1,
                    float x, int n, int m, MarkRow mark_row, ZeroUnmarked zero_unmarked) {
    int32_t* rows[3] = {mask, mask + mask_stride, mask + 2 * mask_stride};
    for (int i = 0; i < 3 * mask_stride; ++i) mask[i] = 0;
    auto row = [&](int r) { return block + r * stride; };
    auto mark = [&](int r, int count) {
        if (r < r0 || r >= r1)
            mark_shared_row(row(r), n, x, rows, count);
        else
            mark_row(row(r), n, x, rows, count);
    };
    auto zero = [&](int r) {
        if ((r == r0 && r0 > 0) || (r == r1 - 1 && r1 < m))
            zero_unmarked_shared(row(r), rows[0], n);
        else
            zero_unmarked(row(r), rows[0], n);
    };
    if (r0 > 0) mark(r0 - 1, 1);
    mark(r0, 2);
    const int limit = r1 == m ? m - 1 : r1;
    for (int r = r0; r < limit; ++r) {
        mark(r + 1, 3);
        zero(r);
        int32_t* recycled = rows[0];
        rows[0] = rows[1];
        rows[1] = rows[2];
        rows[2] = recycled;
    }
    if (r1 == m) zero(m - 1);
}

}  // namespace
