#include "engine/temporal.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "wavelet/transform_plane.h"

namespace velmora {

namespace {

constexpr float kFloor = std::bit_cast<float>(0x3D4CCCCDu);  // 0.05
constexpr float kNinth = std::bit_cast<float>(0x3DE38E39u);  // 1/9
constexpr int64_t kGuardUnits = 65536;                       // weights rounded to 1/65536

int32_t clamp_index(int32_t i, int32_t n) { return i < 0 ? 0 : i >= n ? n - 1 : i; }
int32_t min32(int32_t a, int32_t b) { return a < b ? a : b; }
float min_float(float a, float b) { return b < a ? b : a; }

int64_t aligned16(int64_t bytes) { return (bytes + 15) & ~int64_t{15}; }

// 8-bit steps per sample step of a format (exact: a power of two).
float eight_bit_unit(SampleFormat f) {
    return 1.0f / static_cast<float>(int32_t{1} << (sample_bits(f) - 8));
}

// ---- weights and averages

// Where a plane's samples find their vectors: the luma block of the luma sample at the same
// place, the vector shifted down to the plane's sampling. Along a row the vector changes every
// kMotionBlock >> shift_x samples (one luma block); the last block column reaches to the end
// of the row.
struct PlaneMotion {
    const BlockVector* vectors;
    int32_t columns, rows;
    int shift_x, shift_y;
};

// A run of a row's samples [x0, x1) that all move by (dy, dx) in the plane's sampling.
struct MoveRun {
    int32_t x0, x1, dy, dx;
};

// The runs of one block row: how many, and the least and the greatest dy.
struct RowRuns {
    int32_t count, low_dy, high_dy;
};

// A plane's moves row by row, made once for each neighbour from its vectors: neighbouring
// blocks that move alike make one run. Block row `by` has block_rows[by].count runs from
// runs + by * columns; a plane without motion (the still picture, or one smaller than a block)
// has the one run `whole` in every row.
struct PlaneMoves {
    MoveRun* runs;
    RowRuns* block_rows;
    int32_t columns, rows;
    int shift_y;
    MoveRun whole;

    struct Row {
        const MoveRun* runs;
        int32_t count;
        int32_t block_row;   // -1 without motion
        const RowRuns* all;  // null without motion
    };
    Row row(int32_t y) const {
        if (rows == 0) return {&whole, 1, -1, nullptr};
        const int32_t by = min32((y << shift_y) / kMotionBlock, rows - 1);
        return {runs + static_cast<int64_t>(by) * columns, block_rows[by].count, by,
                block_rows + by};
    }
};

PlaneMoves no_moves(int32_t width) { return {nullptr, nullptr, 0, 0, 0, {0, width, 0, 0}}; }

// The runs of block row `by` of a plane w samples wide into `out`.
RowRuns make_move_runs(const PlaneMotion& m, int32_t w, int32_t by, MoveRun* out) {
    const BlockVector* row = m.vectors + static_cast<int64_t>(by) * m.columns;
    const int32_t run = kMotionBlock >> m.shift_x;
    int32_t n = 0;
    RowRuns all = {0, INT32_MAX, INT32_MIN};
    for (int32_t i = 0; i < m.columns; ++i) {
        const int32_t dy = row[i].y >> m.shift_y, dx = row[i].x >> m.shift_x;
        const int32_t x1 = i == m.columns - 1 ? w : min32((i + 1) * run, w);
        if (n > 0 && out[n - 1].dy == dy && out[n - 1].dx == dx)
            out[n - 1].x1 = x1;
        else
            out[n++] = {i * run, x1, dy, dx};
        all.low_dy = dy < all.low_dy ? dy : all.low_dy;
        all.high_dy = dy > all.high_dy ? dy : all.high_dy;
    }
    all.count = n;
    return all;
}

// Copies n samples; the usual run lengths as fixed-size copies, and runs of blocks alike up to
// 32 bytes as two fixed-size copies that may overlap.
template <typename Sample>
void copy_run(Sample* to, const Sample* from, int32_t n) {
    char* const d = reinterpret_cast<char*>(to);
    const char* const s = reinterpret_cast<const char*>(from);
    const size_t bytes = static_cast<size_t>(n) * sizeof(Sample);
    if (n == 8) {
        std::memcpy(d, s, 8 * sizeof(Sample));
    } else if (n == 4) {
        std::memcpy(d, s, 4 * sizeof(Sample));
    } else if (bytes >= 8 && bytes <= 16) {
        std::memcpy(d, s, 8);
        std::memcpy(d + bytes - 8, s + bytes - 8, 8);
    } else if (bytes >= 16 && bytes <= 32) {
        std::memcpy(d, s, 16);
        std::memcpy(d + bytes - 16, s + bytes - 16, 16);
    } else {
        std::memcpy(d, s, bytes);
    }
}

// Row y of `plane` moved by the motion: the samples (y + v.y, x + v.x), edges repeated, as a
// contiguous row. The samples are gathered run by run into `gathered` (a row of the plane's
// width); a row moved up or down only is read where it lies.
template <typename Sample>
const Sample* moved_samples(const PlaneView& plane, const PlaneMoves& moves, int32_t y,
                            void* gathered) {
    const Sample* const base = static_cast<const Sample*>(plane.base);
    const ptrdiff_t stride = plane.row_stride;
    const int32_t step = plane.sample_stride, w = plane.width, h = plane.height;
    const PlaneMoves::Row r = moves.row(y);
    if (r.count == 1 && r.runs[0].dx == 0 && step == 1)
        return base + clamp_index(y + r.runs[0].dy, h) * stride;
    Sample* const row = static_cast<Sample*>(gathered);
    // Most rows read every run within the plane's rows: no row to clamp.
    if (step == 1 && r.all && y + r.all->low_dy >= 0 && y + r.all->high_dy < h) {
        const Sample* const at = base + y * stride;
        for (const MoveRun* run = r.runs; run != r.runs + r.count; ++run) {
            const Sample* const from = at + run->dy * stride;
            const int32_t x0 = run->x0, x1 = run->x1, dx = run->dx;
            if (x0 + dx >= 0 && x1 - 1 + dx < w)
                copy_run(row + x0, from + x0 + dx, x1 - x0);
            else
                for (int32_t x = x0; x < x1; ++x) row[x] = from[clamp_index(x + dx, w)];
            __builtin_prefetch(from + x0 + dx + stride);
        }
        return row;
    }
    for (const MoveRun* run = r.runs; run != r.runs + r.count; ++run) {
        const int32_t x0 = run->x0, x1 = run->x1, dx = run->dx;
        const Sample* from = base + clamp_index(y + run->dy, h) * stride;
        if (step == 1 && x0 + dx >= 0 && x1 - 1 + dx < w) {
            copy_run(row + x0, from + x0 + dx, x1 - x0);
            // The rows below in the same block take the same vector: asked for early, their
            // samples are in the cache when their turn comes.
            __builtin_prefetch(from + x0 + dx + stride);
        } else {
            for (int32_t x = x0; x < x1; ++x) row[x] = from[clamp_index(x + dx, w) * step];
        }
    }
    return row;
}

// Row y of plane a moved, as moved_samples gives it, and the same row of plane b (of the same
// size and format) moved alike, written to `out_b`: the two gathered run by run together.
template <typename Sample>
const Sample* moved_pair(const PlaneView& a, const PlaneView& b, const PlaneMoves& moves, int32_t y,
                         void* gathered, Sample* out_b) {
    const PlaneMoves::Row r = moves.row(y);
    const int32_t w = a.width, h = a.height;
    if (a.sample_stride == 1 && b.sample_stride == 1 && r.all && y + r.all->low_dy >= 0 &&
        y + r.all->high_dy < h) {
        const ptrdiff_t stride_a = a.row_stride, stride_b = b.row_stride;
        const Sample* const at_a = static_cast<const Sample*>(a.base) + y * stride_a;
        const Sample* const at_b = static_cast<const Sample*>(b.base) + y * stride_b;
        Sample* const row = static_cast<Sample*>(gathered);
        for (const MoveRun* run = r.runs; run != r.runs + r.count; ++run) {
            const int32_t x0 = run->x0, x1 = run->x1, dx = run->dx;
            const Sample* const from_a = at_a + run->dy * stride_a;
            const Sample* const from_b = at_b + run->dy * stride_b;
            if (x0 + dx >= 0 && x1 - 1 + dx < w) {
                copy_run(row + x0, from_a + x0 + dx, x1 - x0);
                copy_run(out_b + x0, from_b + x0 + dx, x1 - x0);
            } else {
                for (int32_t x = x0; x < x1; ++x) {
                    row[x] = from_a[clamp_index(x + dx, w)];
                    out_b[x] = from_b[clamp_index(x + dx, w)];
                }
            }
            __builtin_prefetch(from_a + x0 + dx + stride_a);
            __builtin_prefetch(from_b + x0 + dx + stride_b);
        }
        return row;
    }
    const Sample* moved_b = moved_samples<Sample>(b, moves, y, out_b);
    if (moved_b != out_b)
        std::memcpy(out_b, moved_b, static_cast<size_t>(b.width) * sizeof(Sample));
    return moved_samples<Sample>(a, moves, y, gathered);
}

// The same row shifted left by `shift`, as floats (exact: the loads of the kernel table).
void moved_row(const KernelSet& k, const PlaneView& plane, const PlaneMoves& m, int32_t y,
               int shift, void* gathered, float* out) {
    if (plane.format == SampleFormat::u8)
        k.load_u8(moved_samples<uint8_t>(plane, m, y, gathered), out, plane.width, shift);
    else
        k.load_u16(moved_samples<uint16_t>(plane, m, y, gathered), out, plane.width, shift);
}

// out[i] = row[(at + i) / B] for i < n (at >= 0), B values at a time: each B reads at most two
// of the row's values.
template <int32_t B>
void expand_run(const float* row, int32_t at, int32_t n, float* out) {
    int32_t i = 0;
    for (; i + B <= n; i += B) {
        const float a = row[(at + i) / B], b = row[(at + i + B - 1) / B];
        const int32_t split = B - (at + i) % B;
        for (int32_t j = 0; j < B; ++j) out[i + j] = j < split ? a : b;
    }
    for (; i < n; ++i) out[i] = row[(at + i) / B];
}

// An error map with each block's value repeated across the block's columns: a row of the plane's
// width for each row of blocks, so that a run's errors are copied, not looked up one by one.
void expand_map_rows(const float* map, const ErrorMapLayout& layout, int32_t w, int32_t r0,
                     int32_t r1, float* out) {
    for (int32_t r = r0; r < r1; ++r) {
        const float* row = map + static_cast<int64_t>(r) * layout.columns;
        float* to = out + static_cast<int64_t>(r) * w;
        switch (layout.block_width) {
        case 8:
            expand_run<8>(row, 0, w, to);
            break;
        case 4:
            expand_run<4>(row, 0, w, to);
            break;
        case 2:
            expand_run<2>(row, 0, w, to);
            break;
        default:
            expand_run<1>(row, 0, w, to);
        }
    }
}

// A run's errors from one row of an expanded map.
void run_errors(const float* row, int32_t w, const MoveRun& run, float* out) {
    const int32_t x0 = run.x0, x1 = run.x1, dx = run.dx;
    if (x0 + dx >= 0 && x1 - 1 + dx < w)
        copy_run(out + x0, row + x0 + dx, x1 - x0);
    else
        for (int32_t x = x0; x < x1; ++x) out[x] = row[clamp_index(x + dx, w)];
}

// Which runs of a block row reach a new map row at a given row. Run i reads map row
// clamp(y + dy_i) >> log2(b) (b the map's block height, as many rows as a block row has), which
// moves on where y + dy_i is a multiple of b within 1 .. h - 1: at rows y = -dy_i modulo b. The
// runs sorted by that residue, when a block row begins.
struct ErrorRuns {
    int32_t* order;  // room for the runs of a block row
    int32_t start[kMotionBlock + 1];
};

// Row y of an error map (expanded) read at the samples of row y moved. Where `follows`, `out`
// holds row y - 1 and only the runs that reach a new map row are read again.
void moved_errors(const float* map, const ErrorMapLayout& layout, int32_t w, int32_t h,
                  const PlaneMoves& moves, int32_t y, bool follows, float* out, ErrorRuns& e) {
    const int shift_y = std::countr_zero(static_cast<uint32_t>(layout.block_height));
    const int32_t residues = layout.block_height;
    const PlaneMoves::Row r = moves.row(y);
    if (follows && moves.row(y - 1).block_row == r.block_row) {
        const int32_t k = y & (residues - 1);
        for (int32_t j = e.start[k]; j < e.start[k + 1]; ++j) {
            const MoveRun& run = r.runs[e.order[j]];
            if (y + run.dy < 1 || y + run.dy > h - 1) continue;
            run_errors(map + static_cast<int64_t>((y + run.dy) >> shift_y) * w, w, run, out);
        }
        return;
    }
    int32_t count[kMotionBlock + 1] = {};
    for (int32_t i = 0; i < r.count; ++i) ++count[(-r.runs[i].dy & (residues - 1)) + 1];
    for (int32_t k = 0; k < residues; ++k) count[k + 1] += count[k];
    for (int32_t k = 0; k <= residues; ++k) e.start[k] = count[k];
    for (int32_t i = 0; i < r.count; ++i) e.order[count[-r.runs[i].dy & (residues - 1)]++] = i;
    for (const MoveRun* run = r.runs; run != r.runs + r.count; ++run)
        run_errors(map + static_cast<int64_t>(clamp_index(y + run->dy, h) >> shift_y) * w, w, *run,
                   out);
}

// A neighbour that passed the cut guard (or the one being weighted): its picture, its moves in
// every plane and its luma weights, kept until the average is made.
struct Slot {
    const TemporalPicture* picture;
    PlaneMoves moves[3];
    float* luma_weights;  // shape->width[0] x height[0]
    char* noisy;          // its noisy luma moved, as samples
    // For an averaged chroma plane, the mean of the luma weights each of its samples covers (the
    // plane's size; planes of one shape share one).
    float* covered[3];
    // The error maps expanded (expand_map_rows): luma's shared by every slot, as it is only read
    // while the neighbour is weighed; an averaged chroma plane's its own.
    float* errors[3];
};

constexpr int kScratchRows = 7;     // rows of the widest plane for one plane's weights
constexpr int32_t kStripRows = 16;  // chroma rows weighted at a time, for every neighbour

// A thread's own memory.
struct ThreadScratch {
    float* rows;              // kScratchRows rows of the widest plane
    float* centre;            // a row of the widest plane
    float* moved;             // a row of the widest plane per neighbour
    float* strips;            // kStripRows rows of the widest chroma plane per neighbour
    const float** w;          // a pointer per neighbour
    const float** v;          // a pointer per neighbour
    const uint8_t** samples;  // a pointer per neighbour
    int32_t* order;           // a block row's runs (ErrorRuns)
    char* noisy;              // kStripRows rows of the widest chroma plane's samples per neighbour
};

struct Shared {
    const KernelSet* k;
    const TemporalShape* shape;
    const TemporalPicture* centre;
    PlaneMotion motion[3];
    Slot* slots;  // one per neighbour; the used ones first, in their order
    int slot;     // the slot of the neighbour being weighted
    int used;     // slots that passed the guard
    int plane;    // the plane being averaged
    float* averaged[3];
    float* noise_ratio[3];
    float* centre_errors[3];  // the centre's error maps expanded
    char* scratch;            // per thread
    int64_t scratch_bytes;    // per thread
    int64_t widest, widest_chroma;
    int64_t runs_per_row;  // at most, in a block row
    int count;             // neighbours
    bool same_chroma;      // both chroma planes of one shape: plane 2 takes plane 1's runs
    int means;             // chroma planes whose covered means are made (1 or 2), or 0
    int mean_plane[2];     // which
    int64_t* guard;        // per thread: the weights' sum in 1/65536
};

int64_t scratch_floats(int64_t floats) {
    return aligned16(floats * int64_t{sizeof(float)}) / int64_t{sizeof(float)};
}

ThreadScratch thread_scratch(const Shared& s, int t) {
    float* at = reinterpret_cast<float*>(s.scratch + t * s.scratch_bytes);
    ThreadScratch r;
    r.rows = at;
    at += scratch_floats(kScratchRows * s.widest);
    r.centre = at;
    at += scratch_floats(s.widest);
    r.moved = at;
    at += scratch_floats(s.count * s.widest);
    r.strips = at;
    at += scratch_floats(s.count * kStripRows * s.widest_chroma);
    r.w = reinterpret_cast<const float**>(at);
    r.v = r.w + s.count;
    r.samples = reinterpret_cast<const uint8_t**>(r.v + s.count);
    r.order = reinterpret_cast<int32_t*>(reinterpret_cast<char*>(r.w) +
                                         aligned16(3 * s.count * int64_t{sizeof(const float*)}));
    r.noisy =
        reinterpret_cast<char*>(r.order) + aligned16(s.runs_per_row * int64_t{sizeof(int32_t)});
    return r;
}

int64_t thread_scratch_bytes(int64_t widest, int64_t widest_chroma, int count,
                             int64_t runs_per_row) {
    return (scratch_floats(kScratchRows * widest) + scratch_floats(widest) +
            scratch_floats(count * widest) + scratch_floats(count * kStripRows * widest_chroma)) *
               int64_t{sizeof(float)} +
           aligned16(3 * count * int64_t{sizeof(const float*)}) +
           aligned16(runs_per_row * int64_t{sizeof(int32_t)}) +
           aligned16(count * kStripRows * widest_chroma * int64_t{sizeof(uint16_t)});
}

// One row of (B_t - B'_u)^2 summed over three neighbouring samples, edges repeated. The pilots
// are read as samples and their difference scaled to 8-bit steps: the same as scaling each
// first, since both are exact.
// Where `noisy` is not null, the neighbour's noisy row y moved is written there too.
void difference_row(const Shared& s, const Slot& n, int p, int32_t y, void* gathered, float* pilot,
                    float* moved, float* out, void* noisy) {
    const PlaneView& a = s.centre->plane[p].pilot;
    const PlaneView& b = n.picture->plane[p].pilot;
    const PlaneView& c = n.picture->plane[p].noisy;
    const int32_t w = s.shape->width[p];
    const float unit = eight_bit_unit(a.format);
    if (a.format == SampleFormat::u8 && b.format == SampleFormat::u8) {
        const uint8_t* const moved_b =
            noisy ? moved_pair<uint8_t>(b, c, n.moves[p], y, gathered, static_cast<uint8_t*>(noisy))
                  : moved_samples<uint8_t>(b, n.moves[p], y, gathered);
        s.k->difference_box_u8(moved_samples<uint8_t>(a, no_moves(w), y, moved), moved_b, out, w,
                               unit);
        return;
    }
    if (noisy) {
        const size_t bytes = static_cast<size_t>(w) * sample_bytes(c.format);
        const void* row =
            c.format == SampleFormat::u8
                ? static_cast<const void*>(moved_samples<uint8_t>(c, n.moves[p], y, noisy))
                : moved_samples<uint16_t>(c, n.moves[p], y, noisy);
        if (row != noisy) std::memcpy(noisy, row, bytes);
    }
    moved_row(*s.k, a, no_moves(w), y, 0, gathered, pilot);
    moved_row(*s.k, b, n.moves[p], y, 0, gathered, moved);
    s.k->difference_square_row(pilot, moved, pilot, w, unit);
    s.k->box_sum_row(pilot, out, w, 1);
}

// The weights of rule 2 for rows [begin, end) of plane p of the neighbour in `n`: row y at
// weights + (y - begin) * width, then row_done(y); the neighbour's noisy rows moved, at `noisy`
// likewise. Returns the guard's sum of them. `rows`:
// kScratchRows rows of the widest plane.
template <typename RowDone>
int64_t weight_rows(const Shared& s, const Slot& n, int p, int32_t begin, int32_t end,
                    float* weights, char* noisy, const ThreadScratch& sc, RowDone row_done) {
    const int32_t w = s.shape->width[p], h = s.shape->height[p];
    const ErrorMapLayout layout = error_map_layout(w, h, s.shape->shift_x[p], s.shape->shift_y[p]);
    float* const base = sc.rows;
    ErrorRuns error_runs = {sc.order, {}};
    const int shift_y = std::countr_zero(static_cast<uint32_t>(layout.block_height));
    float* const pilot = base;
    float* const moved = base + w;
    float* const errors = base + 2 * static_cast<int64_t>(w);
    float* rows[3] = {base + 3 * static_cast<int64_t>(w), base + 4 * static_cast<int64_t>(w),
                      base + 5 * static_cast<int64_t>(w)};
    void* const gathered = base + 6 * static_cast<int64_t>(w);
    int64_t guard = 0;
    const int64_t noisy_row =
        static_cast<int64_t>(w) * sample_bytes(n.picture->plane[p].noisy.format);
    if (begin < end) {
        difference_row(s, n, p, clamp_index(begin - 1, h), gathered, pilot, moved, rows[0],
                       nullptr);
        difference_row(s, n, p, begin, gathered, pilot, moved, rows[1], noisy);
    }
    for (int32_t y = begin; y < end; ++y) {
        difference_row(s, n, p, clamp_index(y + 1, h), gathered, pilot, moved, rows[2],
                       y + 1 < end ? noisy + (y + 1 - begin) * noisy_row : nullptr);
        moved_errors(n.errors[p], layout, w, h, n.moves[p], y, y > begin, errors, error_runs);
        const float* own = s.centre_errors[p] + static_cast<int64_t>(y >> shift_y) * w;
        float* out = weights + static_cast<int64_t>(y - begin) * w;
        guard += s.k->temporal_weight_row(rows[0], rows[1], rows[2], own, errors, out, w, kNinth,
                                          kFloor);
        row_done(y);
        float* first = rows[0];
        rows[0] = rows[1];
        rows[1] = rows[2];
        rows[2] = first;
    }
    return guard;
}

// Row c of a chroma plane's covered means: the mean weight of the luma samples each sample
// covers (1 << SX by 1 << SY of them, edges repeated).
template <int SX, int SY>
void covered_means(const KernelSet& k, const float* weights, int32_t lw, int32_t lh, int32_t c,
                   int32_t w, float* out) {
    const float scale = 1.0f / static_cast<float>(int32_t{1} << (SX + SY));
    const float* luma[1 << SY];
    for (int32_t i = 0; i < (1 << SY); ++i)
        luma[i] = weights + static_cast<int64_t>(clamp_index((c << SY) + i, lh)) * lw;
    // The samples whose luma lies wholly inside the row, then the rest with its edge repeated.
    const int32_t inside = min32(w, lw >> SX);
    int32_t x = 0;
    if constexpr (SX == 1 && SY == 1) {
        k.covered_mean_row(luma[0], luma[1], out, inside);
        x = inside;
    }
    for (; x < inside; ++x) {
        float sum = 0.0f;
        for (int32_t i = 0; i < (1 << SY); ++i)
            for (int32_t j = 0; j < (1 << SX); ++j) sum = sum + luma[i][(x << SX) + j];
        out[x] = sum * scale;
    }
    for (x = inside; x < w; ++x) {
        float sum = 0.0f;
        for (int32_t i = 0; i < (1 << SY); ++i)
            for (int32_t j = 0; j < (1 << SX); ++j)
                sum = sum + luma[i][clamp_index((x << SX) + j, lw)];
        out[x] = sum * scale;
    }
}

using CoveredRow = void (*)(const KernelSet&, const float*, int32_t, int32_t, int32_t, int32_t,
                            float*);

CoveredRow covered_row_for(int shift_x, int shift_y) {
    static constexpr CoveredRow rows[3][2] = {{covered_means<0, 0>, covered_means<0, 1>},
                                              {covered_means<1, 0>, covered_means<1, 1>},
                                              {covered_means<2, 0>, covered_means<2, 1>}};
    return rows[shift_x][shift_y];
}

// The luma weights of thread t's share of the rows, in pairs of rows, and each chroma row's
// covered means as soon as its luma rows are made: the last of them is still in the cache.
void luma_weight_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    const Slot& n = s.slots[s.slot];
    const TemporalShape& shape = *s.shape;
    const int32_t lw = shape.width[0], lh = shape.height[0];
    const ItemRange pairs = thread_share((lh + 1) / 2, t, T);
    const int32_t begin = min32(2 * pairs.begin, lh), end = min32(2 * pairs.end, lh);
    const auto row_done = [&](int32_t y) {
        for (int i = 0; i < s.means; ++i) {
            const int p = s.mean_plane[i];
            const int sy = shape.shift_y[p];
            const int32_t w = shape.width[p], h = shape.height[p];
            // Row c is made with its last luma row; the rows below the luma's end with it.
            if (sy == 1 && (y & 1) == 0 && y != lh - 1) continue;
            const int32_t last = y == lh - 1 ? h : min32((y >> sy) + 1, h);
            const CoveredRow covered = covered_row_for(shape.shift_x[p], sy);
            for (int32_t c = y >> sy; c < last; ++c)
                covered(*s.k, n.luma_weights, lw, lh, c, w,
                        n.covered[p] + static_cast<int64_t>(c) * w);
        }
    };
    const int64_t row_bytes =
        static_cast<int64_t>(lw) * sample_bytes(n.picture->plane[0].noisy.format);
    s.guard[t] = weight_rows(s, n, 0, begin, end, n.luma_weights + static_cast<int64_t>(begin) * lw,
                             n.noisy + begin * row_bytes, thread_scratch(s, t), row_done);
}

// Thread t's share of the rows of plane p's error map, expanded.
void expand_share(const Shared& s, const float* map, int p, float* out, int t, int T) {
    const TemporalShape& shape = *s.shape;
    const ErrorMapLayout layout =
        error_map_layout(shape.width[p], shape.height[p], shape.shift_x[p], shape.shift_y[p]);
    const ItemRange share = thread_share(layout.rows, t, T);
    expand_map_rows(map, layout, shape.width[p], share.begin, share.end, out);
}

// Every plane's runs of thread t's share of the block rows, and its share of the error maps the
// neighbour is weighed by, expanded.
void moves_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    const Slot& n = s.slots[s.slot];
    for (int p = 0; p < s.shape->planes; ++p) {
        const PlaneMoves& moves = n.moves[p];
        const ItemRange share = thread_share(moves.rows, t, T);
        for (int32_t by = share.begin; by < share.end && !(p == 2 && s.same_chroma); ++by)
            moves.block_rows[by] =
                make_move_runs(s.motion[p], s.shape->width[p], by,
                               moves.runs + static_cast<int64_t>(by) * moves.columns);
        if (n.errors[p]) expand_share(s, n.picture->plane[p].error, p, n.errors[p], t, T);
    }
}

void centre_errors_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    for (int p = 0; p < s.shape->planes; ++p)
        if (s.centre_errors[p])
            expand_share(s, s.centre->plane[p].error, p, s.centre_errors[p], t, T);
}

// The average of plane p over the used neighbours, a strip of rows at a time: for chroma, each
// neighbour's weights of the strip first (rule 2 on the chroma pilots, then the covered means),
// then row by row the samples moved and blended with their sums in registers.
void blend_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    const int p = s.plane;
    const int32_t w = s.shape->width[p], h = s.shape->height[p];
    const ThreadScratch sc = thread_scratch(s, t);
    void* const gathered = sc.rows + (kScratchRows - 1) * s.widest;
    const PlaneView& noisy = s.centre->plane[p].noisy;
    const PlaneMoves still = no_moves(w);
    const int64_t strip = static_cast<int64_t>(kStripRows) * w;
    const int64_t noisy_strip = strip * int64_t{sizeof(uint16_t)};
    bool bytes = noisy.format == SampleFormat::u8;
    for (int u = 0; u < s.used; ++u)
        bytes = bytes && s.slots[u].picture->plane[p].noisy.format == SampleFormat::u8;
    const ItemRange share = thread_share(h, t, T);
    for (int32_t y0 = share.begin; y0 < share.end; y0 += kStripRows) {
        const int32_t y1 = min32(y0 + kStripRows, share.end);
        if (p > 0)
            for (int u = 0; u < s.used; ++u) {
                float* const weights = sc.strips + u * strip;
                const float* const covered = s.slots[u].covered[p];
                // The smaller of each sample's own weight and its covered mean.
                weight_rows(s, s.slots[u], p, y0, y1, weights, sc.noisy + u * noisy_strip, sc,
                            [&](int32_t y) {
                                float* const out = weights + static_cast<int64_t>(y - y0) * w;
                                const float* const mean = covered + static_cast<int64_t>(y) * w;
                                for (int32_t x = 0; x < w; ++x) out[x] = min_float(mean[x], out[x]);
                            });
            }
        for (int32_t y = y0; y < y1; ++y) {
            const int64_t row = static_cast<int64_t>(y) * w;
            float* const ratio = s.noise_ratio[p] ? s.noise_ratio[p] + row : nullptr;
            if (bytes) {  // 8-bit samples blended as they are
                for (int u = 0; u < s.used; ++u) {
                    const Slot& n = s.slots[u];
                    sc.samples[u] = reinterpret_cast<const uint8_t*>(
                        p == 0 ? n.noisy + row : sc.noisy + u * noisy_strip + (y - y0) * w);
                    sc.w[u] = p == 0 ? n.luma_weights + row
                                     : sc.strips + u * strip + static_cast<int64_t>(y - y0) * w;
                }
                s.k->temporal_blend_u8(moved_samples<uint8_t>(noisy, still, y, gathered), sc.w,
                                       sc.samples, s.used, working_shift(noisy.format),
                                       s.averaged[p] + row, ratio, w);
                continue;
            }
            moved_row(*s.k, noisy, still, y, working_shift(noisy.format), gathered, sc.centre);
            for (int u = 0; u < s.used; ++u) {
                const Slot& n = s.slots[u];
                const SampleFormat format = n.picture->plane[p].noisy.format;
                const int64_t bytes = static_cast<int64_t>(w) * sample_bytes(format);
                // The row moved while the weights were made.
                const char* const from =
                    p == 0 ? n.noisy + y * bytes : sc.noisy + u * noisy_strip + (y - y0) * bytes;
                float* const moved = sc.moved + u * s.widest;
                if (format == SampleFormat::u8)
                    s.k->load_u8(reinterpret_cast<const uint8_t*>(from), moved, w,
                                 working_shift(format));
                else
                    s.k->load_u16(reinterpret_cast<const uint16_t*>(from), moved, w,
                                  working_shift(format));
                sc.v[u] = moved;
                sc.w[u] = p == 0 ? n.luma_weights + row
                                 : sc.strips + u * strip + static_cast<int64_t>(y - y0) * w;
            }
            s.k->temporal_blend_row(sc.centre, sc.w, sc.v, s.used, s.averaged[p] + row, ratio, w);
        }
    }
}

// Chroma planes a and b of one size and subsampling.
bool same_shape(const TemporalShape& shape, int a, int b) {
    return shape.width[a] == shape.width[b] && shape.height[a] == shape.height[b] &&
           shape.shift_x[a] == shape.shift_x[b] && shape.shift_y[a] == shape.shift_y[b];
}

struct MemoryPlan {
    int64_t vectors, slots, slot_memory, slot_bytes, moves[3], luma_weights, covered[3], errors[3],
        centre_errors[3], luma_errors, noisy, scratch, scratch_bytes, guard, total;
    int64_t widest, widest_chroma, runs_per_row;
};

MemoryPlan plan_memory(const TemporalShape& shape, int neighbours, int threads) {
    MemoryPlan m = {};
    const int T = threads < 1 ? 1 : threads;
    const int count = neighbours < 0 ? 0 : neighbours;
    int64_t at = 0;
    const auto take = [&](int64_t bytes) {
        const int64_t start = at;
        at += aligned16(bytes);
        return start;
    };
    const int64_t blocks =
        static_cast<int64_t>(motion_columns(shape.width[0])) * motion_rows(shape.height[0]);
    m.vectors = take((blocks > 0 ? blocks : 1) * static_cast<int64_t>(sizeof(BlockVector)));
    m.slots = take(count * static_cast<int64_t>(sizeof(Slot)));
    // Within each slot: each plane's runs (at most one per block) and their counts per block
    // row, then the luma weights.
    int64_t in_slot = 0;
    for (int p = 0; p < shape.planes; ++p) {
        if (p == 2 && same_shape(shape, 1, 2)) {
            m.moves[2] = m.moves[1];
            continue;
        }
        m.moves[p] = in_slot;
        in_slot += aligned16(blocks * static_cast<int64_t>(sizeof(MoveRun)) +
                             motion_rows(shape.height[0]) * int64_t{sizeof(RowRuns)});
    }
    m.luma_weights = in_slot;
    in_slot +=
        aligned16(static_cast<int64_t>(shape.width[0]) * shape.height[0] * int64_t{sizeof(float)});
    m.noisy = in_slot;
    in_slot += aligned16(static_cast<int64_t>(shape.width[0]) * shape.height[0] *
                         sample_bytes(shape.format));
    for (int p = 1; p < shape.planes; ++p) {
        m.covered[p] = -1;
        if (!shape.averaged[p]) continue;
        const int shares = same_shape(shape, 1, p) && p == 2 && shape.averaged[1] ? 1 : 0;
        if (shares) {
            m.covered[p] = m.covered[1];
            continue;
        }
        m.covered[p] = in_slot;
        in_slot += aligned16(static_cast<int64_t>(shape.width[p]) * shape.height[p] *
                             int64_t{sizeof(float)});
    }
    // The expanded error maps: the centre's of every plane weighed, one neighbour's luma, and
    // each slot's averaged chroma planes.
    const auto expanded_bytes = [&](int p) {
        const ErrorMapLayout l =
            error_map_layout(shape.width[p], shape.height[p], shape.shift_x[p], shape.shift_y[p]);
        return aligned16(static_cast<int64_t>(l.rows) * shape.width[p] * int64_t{sizeof(float)});
    };
    for (int p = 1; p < shape.planes; ++p) {
        m.errors[p] = -1;
        if (!shape.averaged[p]) continue;
        m.errors[p] = in_slot;
        in_slot += expanded_bytes(p);
    }
    m.slot_bytes = in_slot;
    m.slot_memory = take(count * in_slot);
    for (int p = 0; p < shape.planes; ++p)
        m.centre_errors[p] = p == 0 || shape.averaged[p] ? take(expanded_bytes(p)) : -1;
    m.luma_errors = take(expanded_bytes(0));
    m.widest = 1;
    m.widest_chroma = 0;
    for (int p = 0; p < shape.planes; ++p) {
        m.widest = shape.width[p] > m.widest ? shape.width[p] : m.widest;
        if (p > 0 && shape.averaged[p] && shape.width[p] > m.widest_chroma)
            m.widest_chroma = shape.width[p];
    }
    m.runs_per_row = motion_columns(shape.width[0]) > 1 ? motion_columns(shape.width[0]) : 1;
    m.scratch_bytes = thread_scratch_bytes(m.widest, m.widest_chroma, count, m.runs_per_row);
    m.scratch = take(m.scratch_bytes * T);
    m.guard = take(T * int64_t{sizeof(int64_t)});
    m.total = at;
    return m;
}

void run(const Executor& ex, WorkerFunction fn, Shared& s) { ex.run(ex.self, fn, &s); }

}  // namespace

int64_t temporal_memory_bytes(const TemporalShape& shape, int neighbours, int threads) {
    return plan_memory(shape, neighbours, threads).total;
}

int temporal_average(const KernelSet& k, const TemporalShape& shape, const TemporalPicture& centre,
                     const TemporalPicture* neighbours, const int* distances, int count,
                     float* const averaged[3], float* const noise_ratio[3], void* memory,
                     const Executor& ex) {
    const MemoryPlan m = plan_memory(shape, count, ex.threads);
    char* base = static_cast<char*>(memory);
    Shared s = {};
    s.k = &k;
    s.shape = &shape;
    s.centre = &centre;
    s.count = count < 0 ? 0 : count;
    s.same_chroma = shape.planes == 3 && same_shape(shape, 1, 2);
    BlockVector* vectors = reinterpret_cast<BlockVector*>(base + m.vectors);
    const int32_t columns = motion_columns(shape.width[0]), rows = motion_rows(shape.height[0]);
    for (int p = 0; p < shape.planes; ++p)
        s.motion[p] = {vectors, columns, rows, shape.shift_x[p], shape.shift_y[p]};
    s.slots = reinterpret_cast<Slot*>(base + m.slots);
    for (int i = 0; i < s.count; ++i) {
        char* const memory_of_slot = base + m.slot_memory + i * m.slot_bytes;
        Slot& slot = s.slots[i];
        slot = {};
        for (int p = 0; p < shape.planes; ++p) {
            slot.moves[p] = no_moves(shape.width[p]);
            if (columns == 0 || rows == 0) continue;  // a picture smaller than a block: none
            MoveRun* runs = reinterpret_cast<MoveRun*>(memory_of_slot + m.moves[p]);
            slot.moves[p] = {runs,
                             reinterpret_cast<RowRuns*>(runs + int64_t{columns} * rows),
                             columns,
                             rows,
                             shape.shift_y[p],
                             {}};
        }
        slot.luma_weights = reinterpret_cast<float*>(memory_of_slot + m.luma_weights);
        slot.noisy = memory_of_slot + m.noisy;
        for (int p = 1; p < shape.planes; ++p)
            if (m.covered[p] >= 0)
                slot.covered[p] = reinterpret_cast<float*>(memory_of_slot + m.covered[p]);
        slot.errors[0] = reinterpret_cast<float*>(base + m.luma_errors);
        for (int p = 1; p < shape.planes; ++p)
            if (m.errors[p] >= 0)
                slot.errors[p] = reinterpret_cast<float*>(memory_of_slot + m.errors[p]);
    }
    for (int p = 0; p < shape.planes; ++p) {
        if (!shape.averaged[p]) continue;
        s.averaged[p] = averaged[p];
        s.noise_ratio[p] = noise_ratio ? noise_ratio[p] : nullptr;
    }
    s.scratch = base + m.scratch;
    s.scratch_bytes = m.scratch_bytes;
    s.widest = m.widest;
    s.widest_chroma = m.widest_chroma;
    s.runs_per_row = m.runs_per_row;
    s.guard = reinterpret_cast<int64_t*>(base + m.guard);
    for (int p = 1; p < shape.planes; ++p)
        if (m.covered[p] >= 0 && (p == 1 || m.covered[p] != m.covered[1]))
            s.mean_plane[s.means++] = p;

    for (int p = 0; p < shape.planes; ++p)
        if (m.centre_errors[p] >= 0)
            s.centre_errors[p] = reinterpret_cast<float*>(base + m.centre_errors[p]);
    run(ex, centre_errors_worker, s);

    // Each neighbour's weights; those that pass the guard keep their slot.
    const int64_t luma_samples = static_cast<int64_t>(shape.width[0]) * shape.height[0];
    for (int i = 0; i < s.count; ++i) {
        s.slot = s.used;
        s.slots[s.slot].picture = &neighbours[i];
        search_motion(k, *centre.pyramid, *neighbours[i].pyramid, distances[i], vectors, ex);
        run(ex, moves_worker, s);
        run(ex, luma_weight_worker, s);
        int64_t sum = 0;
        for (int t = 0; t < ex.threads; ++t) sum += s.guard[t];
        // The mean weight below 1/2: the neighbour is left out.
        if (2 * sum < kGuardUnits * luma_samples) continue;
        ++s.used;
    }
    for (s.plane = 0; s.plane < shape.planes; ++s.plane)
        if (shape.averaged[s.plane]) run(ex, blend_worker, s);
    return s.used;
}

}  // namespace velmora
