#include "engine/motion_search.h"

#include "kernels/kernel_set.h"
#include "wavelet/transform_plane.h"

namespace velmora {

namespace {

int32_t clamp_index(int32_t i, int32_t n) { return i < 0 ? 0 : i >= n ? n - 1 : i; }
int32_t magnitude(int32_t v) { return v < 0 ? -v : v; }

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

// Sum of absolute differences of a side x side block wholly inside both pictures.
template <int32_t side>
int64_t inside_sad(const uint8_t* c, int32_t c_stride, const uint8_t* r, int32_t r_stride) {
    int32_t sum = 0;
    for (int32_t i = 0; i < side; ++i, c += c_stride, r += r_stride)
        for (int32_t j = 0; j < side; ++j) sum += magnitude(int32_t{c[j]} - r[j]);
    return sum;
}

// Sum of absolute differences between the side x side block at (y, x) of `cur` and the one at
// (y + vy, x + vx) of `ref`, edge samples repeated outside it.
int64_t block_sad(const Level& cur, const Level& ref, int32_t y, int32_t x, int32_t side,
                  int32_t vy, int32_t vx) {
    const int32_t ry = y + vy, rx = x + vx;
    const uint8_t* c = cur.data + static_cast<int64_t>(y) * cur.width + x;
    if (ry >= 0 && rx >= 0 && ry + side <= ref.height && rx + side <= ref.width) {
        const uint8_t* r = ref.data + static_cast<int64_t>(ry) * ref.width + rx;
        switch (side) {
        case 8:
            return inside_sad<8>(c, cur.width, r, ref.width);
        case 4:
            return inside_sad<4>(c, cur.width, r, ref.width);
        default:
            return inside_sad<2>(c, cur.width, r, ref.width);
        }
    }
    int64_t sum = 0;
    for (int32_t i = 0; i < side; ++i, c += cur.width) {
        const uint8_t* r =
            ref.data + static_cast<int64_t>(clamp_index(ry + i, ref.height)) * ref.width;
        for (int32_t j = 0; j < side; ++j)
            sum += magnitude(int32_t{c[j]} - r[clamp_index(rx + j, ref.width)]);
    }
    return sum;
}

// The widest row of candidates block_sads takes.
constexpr int32_t kMostCandidates = 64;

// The best vector of block (by, bx) at level l within +-range of `start`. Where every candidate
// block lies inside the reference, the sums of absolute differences of the whole window come
// from the kernel table at once; elsewhere each is summed with the reference's edges repeated,
// in the order of the candidates. Either way the sums, and so the vector, are the same.
BlockVector search_block(const KernelSet& k, const Level& cur, const Level& ref, int l, int32_t by,
                         int32_t bx, int32_t range, BlockVector start) {
    const int32_t side = kMotionBlock >> l;
    const int64_t penalty = side * side / 16;
    const int32_t y = by * side, x = bx * side, width = 2 * range + 1;
    const bool inside = width <= kMostCandidates && y + start.y - range >= 0 &&
                        x + start.x - range >= 0 && y + start.y + range + side <= ref.height &&
                        x + start.x + range + side <= ref.width;
    BlockVector best = start;
    int64_t best_cost = INT64_MAX;
    if (inside) {
        // (a window is at most 63 x 63: room for what the kernels write and read past it)
        int32_t sads[kMostCandidates * kMostCandidates];
        k.block_sads(
            cur.data + static_cast<int64_t>(y) * cur.width + x, cur.width,
            ref.data + static_cast<int64_t>(y + start.y - range) * ref.width + x + start.x - range,
            ref.width, side, width, width, sads);
        // The first of the least cost in the order of the candidates is the one of the least
        // (cost, |dy| + |dx|, dy, dx): the kernel's choice.
        const int32_t i = k.least_cost(sads, width, start.y - range, start.x - range,
                                       static_cast<int32_t>(penalty));
        return {start.y - range + i / width, start.x - range + i % width};
    }
    const auto consider = [&](int32_t dy, int32_t dx) {
        const int32_t vy = start.y + dy, vx = start.x + dx;
        const int64_t length = (magnitude(vy) + magnitude(vx)) * penalty;
        if (length >= best_cost) return;  // cannot be strictly lower
        const int64_t cost = block_sad(cur, ref, y, x, side, vy, vx) + length;
        if (cost < best_cost) {
            best_cost = cost;
            best = {vy, vx};
        }
    };
    // By increasing |dy| + |dx|, then by dy, then by dx.
    for (int32_t length = 0; length <= 2 * range; ++length) {
        for (int32_t dy = -range; dy <= range; ++dy) {
            const int32_t rest = length - magnitude(dy);
            if (rest < 0 || rest > range) continue;
            consider(dy, -rest);
            if (rest != 0) consider(dy, rest);
        }
    }
    return best;
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
    SearchStage stage = {&k, &current, &reference, distance < 1 ? 1 : distance, vectors};
    ex.run(ex.self, search_rows, &stage);
}

}  // namespace velmora
