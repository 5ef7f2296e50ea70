#include "engine/motion_search.h"

#include "kernels/kernel_set.h"
#include "wavelet/transform_plane.h"

namespace velmora {

namespace {

int32_t clamp_index(int32_t i, int32_t n) { return i < 0 ? 0 : i >= n ? n - 1 : i; }

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

// The widest window of candidates: +-(2 + the most pictures between two) at a quarter size.
constexpr int32_t kMostCandidates = 2 * (2 + kMostMotionDistance) + 1;
// The samples a window of candidate blocks covers along a side, and a copy's row stride with
// room for the 32 bytes block_sads may read past a row.
constexpr int32_t kMostSpan = kMostCandidates + kMotionBlock - 1;
constexpr int32_t kCopyStride = kMostSpan + 32;

// The best vector of block (by, bx) at level l within +-range of `start`: the sums of absolute
// differences of the whole window of candidate blocks from the kernel table, read from the
// reference where the window lies inside it, else from a copy of the window with the
// reference's edge samples repeated outside it; then the least cost, by the kernel table.
BlockVector search_block(const KernelSet& k, const Level& cur, const Level& ref, int l, int32_t by,
                         int32_t bx, int32_t range, BlockVector start) {
    const int32_t side = kMotionBlock >> l;
    const int32_t penalty = side * side / 16;
    const int32_t y = by * side, x = bx * side, width = 2 * range + 1, span = width + side - 1;
    const int32_t top = y + start.y - range, left = x + start.x - range;
    const uint8_t* window = ref.data + static_cast<int64_t>(top) * ref.width + left;
    int32_t stride = ref.width;
    uint8_t copy[kMostSpan * kCopyStride];
    if (top < 0 || left < 0 || top + span > ref.height || left + span > ref.width) {
        for (int32_t i = 0; i < span; ++i) {
            const uint8_t* row =
                ref.data + static_cast<int64_t>(clamp_index(top + i, ref.height)) * ref.width;
            for (int32_t j = 0; j < span + 32; ++j)
                copy[i * kCopyStride + j] = row[clamp_index(left + j, ref.width)];
        }
        window = copy;
        stride = kCopyStride;
    }
    // (room for what the kernels write and read past the window's sums)
    int32_t sads[kMostCandidates * kMostCandidates + 7];
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

void search_rows(int t, int T, void* context) {
    const SearchStage& s = *static_cast<SearchStage*>(context);
    const int32_t columns = motion_columns(s.current->width[0]);
    const ItemRange rows = thread_share(motion_rows(s.current->height[0]), t, T);
    for (int32_t by = rows.begin; by < rows.end; ++by) {
        for (int32_t bx = 0; bx < columns; ++bx) {
            BlockVector v = {0, 0};
            for (int l = kPyramidLevels - 1; l >= 0; --l) {
                const int32_t range = l == kPyramidLevels - 1 ? 2 + s.distance : 2;
                v = search_block(*s.k, level_of(*s.current, l), level_of(*s.reference, l), l, by,
                                 bx, range, v);
                if (l > 0) v = {2 * v.y, 2 * v.x};
            }
            s.vectors[static_cast<int64_t>(by) * columns + bx] = v;
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
    ex.run(ex.self, search_rows, &stage);
}

}  // namespace velmora
