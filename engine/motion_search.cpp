#include "engine/motion_search.h"

#include <algorithm>

#include "kernels/kernel_set.h"
#include "wavelet/transform_plane.h"

namespace velmora {

namespace {

int32_t clamp_index(int32_t i, int32_t n) { return i < 0 ? 0 : i >= n ? n - 1 : i; }

// out[j] = row[clamp_index(left + j, width)] for j < count: the row's edge samples repeated
// outside it.
void copy_row_clamped(const uint8_t* row, int32_t width, int32_t left, int32_t count,
                      uint8_t* out) {
    const int32_t before = std::clamp(-left, 0, count);
    const int32_t inside = std::clamp(width - left, before, count);
    std::fill_n(out, before, row[0]);
    if (inside > before) std::copy(row + left + before, row + left + inside, out + before);
    std::fill_n(out + inside, count - inside, row[width - 1]);
}

struct PyramidStage {
    const PlaneView* pilot;
    const MotionPyramid* pyramid;
    int level;
};

void round_rows(int t, int T, void* context) {
    const PyramidStage& s = *static_cast<PyramidStage*>(context);
    const PlaneView& v = *s.pilot;
    const MotionPyramid& p = *s.pyramid;
    const int shift = sample_bits(v.format) - 8;
    const int32_t half = shift > 0 ? int32_t{1} << (shift - 1) : 0;
    const ItemRange rows = thread_share(p.height[0], t, T);
    for (int32_t y = rows.begin; y < rows.end; ++y) {
        uint8_t* dst = p.level[0] + static_cast<int64_t>(y) * p.width[0];
        if (v.format == SampleFormat::u8) {
            const uint8_t* src = static_cast<const uint8_t*>(v.base) + y * v.row_stride;
            for (int32_t x = 0; x < p.width[0]; ++x) dst[x] = src[x * v.sample_stride];
        } else {
            const uint16_t* src = static_cast<const uint16_t*>(v.base) + y * v.row_stride;
            for (int32_t x = 0; x < p.width[0]; ++x) {
                const int32_t r = (int32_t{src[x * v.sample_stride]} + half) >> shift;
                dst[x] = static_cast<uint8_t>(r > 255 ? 255 : r);
            }
        }
    }
}

void halve_rows(int t, int T, void* context) {
    const PyramidStage& s = *static_cast<PyramidStage*>(context);
    const MotionPyramid& p = *s.pyramid;
    const int l = s.level;
    const int32_t fine = p.width[l - 1];
    const ItemRange rows = thread_share(p.height[l], t, T);
    for (int32_t y = rows.begin; y < rows.end; ++y) {
        const uint8_t* a = p.level[l - 1] + static_cast<int64_t>(2 * y) * fine;
        const uint8_t* b = a + fine;
        uint8_t* dst = p.level[l] + static_cast<int64_t>(y) * p.width[l];
        for (int32_t x = 0; x < p.width[l]; ++x)
            dst[x] = static_cast<uint8_t>(
                (int32_t{a[2 * x]} + b[2 * x] + a[2 * x + 1] + b[2 * x + 1] + 2) >> 2);
    }
}

// One level of one picture.
struct Level {
    const uint8_t* data;
    int32_t width, height;
};

Level level_of(const MotionPyramid& p, int l) { return {p.level[l], p.width[l], p.height[l]}; }

// The finer levels search +-kFineRange around twice the coarser vector; the coarsest searches
// +-(kFineRange + the pictures between the two) around zero, at most kMostReach.
constexpr int32_t kFineRange = 2;
constexpr int32_t kFineWidth = 2 * kFineRange + 1;
constexpr int32_t kMostReach = kFineRange + kMostMotionDistance;
// The samples a window of candidate blocks covers along a side, and a copy's row stride with
// room for the 32 bytes block_sads may read past a row.
constexpr int32_t kFineSpan = kFineWidth + kMotionBlock - 1;
constexpr int32_t kCopyStride = kFineSpan + 32;

// The best vector of block (by, bx) at level l within +-kFineRange of `start`: the sums of absolute
// differences of the whole window of candidate blocks from the kernel table, read from the
// reference where the window lies inside it, else from a copy of the window with the
// reference's edge samples repeated outside it; then the least cost, by the kernel table.
BlockVector search_block(const KernelSet& k, const Level& cur, const Level& ref, int l, int32_t by,
                         int32_t bx, BlockVector start) {
    const int32_t range = kFineRange, side = kMotionBlock >> l;
    const int32_t penalty = side * side / 16;
    const int32_t y = by * side, x = bx * side, width = 2 * range + 1, span = width + side - 1;
    const int32_t top = y + start.y - range, left = x + start.x - range;
    const uint8_t* window = ref.data + static_cast<int64_t>(top) * ref.width + left;
    int32_t stride = ref.width;
    uint8_t copy[kFineSpan * kCopyStride];
    if (top < 0 || left < 0 || top + span > ref.height || left + span > ref.width) {
        for (int32_t i = 0; i < span; ++i)
            copy_row_clamped(
                ref.data + static_cast<int64_t>(clamp_index(top + i, ref.height)) * ref.width,
                ref.width, left, span + 32, copy + i * kCopyStride);
        window = copy;
        stride = kCopyStride;
    }
    // (room for what the kernels write and read past the window's sums)
    int32_t sads[kFineWidth * kFineWidth + 7];
    k.block_sads(cur.data + static_cast<int64_t>(y) * cur.width + x, cur.width, window, stride,
                 side, width, width, sads);
    // The first of the least cost in the order of the candidates is the one of the least
    // (cost, |dy| + |dx|, dy, dx): the kernel's choice.
    const int32_t i = k.least_cost(sads, width, start.y - range, start.x - range, penalty);
    return {start.y - range + i / width, start.x - range + i % width};
}

struct SearchStage {
    const KernelSet* k;
    const MotionPyramid* current;
    const MotionPyramid* reference;
    int distance;
    BlockVector* vectors;
};

constexpr int kCoarsest = kPyramidLevels - 1;
static_assert(kMotionBlock >> kCoarsest == 2, "the coarsest search compares 2 x 2 blocks");

// The vectors of a full search of +-range around zero, by increasing |dy| + |dx|, then by dy,
// then by dx: tried in this order, with only a strictly lower sum replacing the best, the least
// sum nearest zero, first by rows, is kept (the choice of search_block). Returns how many.
int candidate_order(int32_t range, BlockVector* order) {
    int count = 0;
    for (int32_t reach = 0; reach <= 2 * range; ++reach)
        for (int32_t dy = -range; dy <= range; ++dy) {
            const int32_t left = reach - (dy < 0 ? -dy : dy);
            if (left < 0 || left > range) continue;
            order[count++] = {dy, -left};
            if (left > 0) order[count++] = {dy, left};
        }
    return count;
}

// The coarsest level's full search for a row of blocks, a chunk of blocks at a time: every
// candidate vector in turn against the chunk's blocks side by side, read from a copy of the
// reference rows and columns the candidates reach, its edge samples repeated outside it.
void search_coarsest_row(const SearchStage& s, const BlockVector* order, int count, int32_t by) {
    constexpr int32_t kChunk = 128, kStride = 2 * kChunk + 2 * kMostReach;
    const Level cur = level_of(*s.current, kCoarsest), ref = level_of(*s.reference, kCoarsest);
    const int32_t range = kFineRange + s.distance, columns = motion_columns(s.current->width[0]);
    const int32_t y = 2 * by;
    uint8_t copy[(2 * kMostReach + 2) * kStride];
    uint16_t least[kChunk], chosen[kChunk];
    for (int32_t c0 = 0; c0 < columns; c0 += kChunk) {
        const int32_t n = columns - c0 < kChunk ? columns - c0 : kChunk, x = 2 * c0;
        for (int32_t i = 0; i < 2 * range + 2; ++i)
            copy_row_clamped(
                ref.data + static_cast<int64_t>(clamp_index(y - range + i, ref.height)) * ref.width,
                ref.width, x - range, 2 * n + 2 * range, copy + i * kStride);
        std::fill_n(least, n, uint16_t{0x7FFF});
        const uint8_t* row0 = cur.data + static_cast<int64_t>(y) * cur.width + x;
        for (int i = 0; i < count; ++i) {
            const uint8_t* at = copy + (range + order[i].y) * kStride + range + order[i].x;
            s.k->keep_least_pair_sads(row0, row0 + cur.width, at, at + kStride, n, least, chosen,
                                      static_cast<uint16_t>(i));
        }
        for (int32_t b = 0; b < n; ++b)
            s.vectors[static_cast<int64_t>(by) * columns + c0 + b] = order[chosen[b]];
    }
}

void coarsest_rows(int t, int T, void* context) {
    const SearchStage& s = *static_cast<SearchStage*>(context);
    BlockVector order[(2 * kMostReach + 1) * (2 * kMostReach + 1)];
    const int count = candidate_order(kFineRange + s.distance, order);
    const ItemRange rows = thread_share(motion_rows(s.current->height[0]), t, T);
    for (int32_t by = rows.begin; by < rows.end; ++by) search_coarsest_row(s, order, count, by);
}

// The finer levels from the coarsest level's vectors.
void refine_rows(int t, int T, void* context) {
    const SearchStage& s = *static_cast<SearchStage*>(context);
    const int32_t columns = motion_columns(s.current->width[0]);
    const ItemRange rows = thread_share(motion_rows(s.current->height[0]), t, T);
    for (int32_t by = rows.begin; by < rows.end; ++by) {
        for (int32_t bx = 0; bx < columns; ++bx) {
            BlockVector& v = s.vectors[static_cast<int64_t>(by) * columns + bx];
            for (int l = kCoarsest - 1; l >= 0; --l)
                v = search_block(*s.k, level_of(*s.current, l), level_of(*s.reference, l), l, by,
                                 bx, {2 * v.y, 2 * v.x});
        }
    }
}

}  // namespace

int64_t motion_pyramid_bytes(int32_t width, int32_t height) {
    int64_t bytes = kPyramidSlack;
    for (int l = 0; l < kPyramidLevels; ++l)
        bytes += static_cast<int64_t>(width >> l) * (height >> l);
    return bytes;
}

MotionPyramid lay_out_motion_pyramid(uint8_t* memory, int32_t width, int32_t height) {
    MotionPyramid p = {};
    for (int l = 0; l < kPyramidLevels; ++l) {
        p.level[l] = memory;
        p.width[l] = width >> l;
        p.height[l] = height >> l;
        memory += static_cast<int64_t>(p.width[l]) * p.height[l];
    }
    return p;
}

void build_motion_pyramid(const PlaneView& pilot, const MotionPyramid& pyramid,
                          const Executor& ex) {
    PyramidStage stage = {&pilot, &pyramid, 0};
    ex.run(ex.self, round_rows, &stage);
    for (stage.level = 1; stage.level < kPyramidLevels; ++stage.level)
        ex.run(ex.self, halve_rows, &stage);
}

void search_motion(const KernelSet& k, const MotionPyramid& current, const MotionPyramid& reference,
                   int distance, BlockVector* vectors, const Executor& ex) {
    const int apart = distance < 1                     ? 1
                      : distance > kMostMotionDistance ? kMostMotionDistance
                                                       : distance;
    SearchStage stage = {&k, &current, &reference, apart, vectors};
    ex.run(ex.self, coarsest_rows, &stage);
    ex.run(ex.self, refine_rows, &stage);
}

}  // namespace velmora
