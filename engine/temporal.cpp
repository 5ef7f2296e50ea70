#include "engine/temporal.h"

#include <algorithm>
#include <bit>
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

// A plane's moves row by row, made once for each neighbour from its vectors: neighbouring
// blocks that move alike make one run. Block row `by` has counts[by] runs from
// runs + by * columns; a plane without motion (the still picture, or one smaller than a block)
// has the one run `whole` in every row.
struct PlaneMoves {
    MoveRun* runs;
    int32_t* counts;
    int32_t columns, rows;
    int shift_y;
    MoveRun whole;

    struct Row {
        const MoveRun* runs;
        int32_t count;
        int32_t block_row;  // -1 without motion
    };
    Row row(int32_t y) const {
        if (rows == 0) return {&whole, 1, -1};
        const int32_t by = min32((y << shift_y) / kMotionBlock, rows - 1);
        return {runs + static_cast<int64_t>(by) * columns, counts[by], by};
    }
};

PlaneMoves no_moves(int32_t width) { return {nullptr, nullptr, 0, 0, 0, {0, width, 0, 0}}; }

// The runs of block row `by` of a plane w samples wide into `out`; returns how many.
int32_t make_move_runs(const PlaneMotion& m, int32_t w, int32_t by, MoveRun* out) {
    const BlockVector* row = m.vectors + static_cast<int64_t>(by) * m.columns;
    const int32_t run = kMotionBlock >> m.shift_x;
    int32_t n = 0;
    for (int32_t i = 0; i < m.columns; ++i) {
        const int32_t dy = row[i].y >> m.shift_y, dx = row[i].x >> m.shift_x;
        const int32_t x1 = i == m.columns - 1 ? w : min32((i + 1) * run, w);
        if (n > 0 && out[n - 1].dy == dy && out[n - 1].dx == dx)
            out[n - 1].x1 = x1;
        else
            out[n++] = {i * run, x1, dy, dx};
    }
    return n;
}

// Copies n samples; the usual run lengths as fixed-size copies.
template <typename Sample>
void copy_run(Sample* to, const Sample* from, int32_t n) {
    switch (n) {
    case 8:
        std::memcpy(to, from, 8 * sizeof(Sample));
        break;
    case 4:
        std::memcpy(to, from, 4 * sizeof(Sample));
        break;
    default:
        std::memcpy(to, from, static_cast<size_t>(n) * sizeof(Sample));
    }
}

// Row y of `plane` moved by the motion: out[x] = value of sample (y + v.y, x + v.x), edges
// repeated, shifted left by `shift`, as a float (exact: the loads of the kernel table). The
// samples are gathered run by run into `gathered` (a row of the plane's width) and converted
// in one call; a row that does not move is converted where it lies.
template <typename Sample>
void moved_samples(const KernelSet& k, const PlaneView& plane, const PlaneMoves& moves, int32_t y,
                   int shift, void* gathered, float* out) {
    const Sample* const base = static_cast<const Sample*>(plane.base);
    const ptrdiff_t stride = plane.row_stride;
    const int32_t step = plane.sample_stride, w = plane.width, h = plane.height;
    const PlaneMoves::Row r = moves.row(y);
    const Sample* source = base + clamp_index(y + r.runs[0].dy, h) * stride;
    // A whole row moved up or down only is read where it lies.
    if (r.count > 1 || r.runs[0].dx != 0 || step != 1) {
        Sample* const row = static_cast<Sample*>(gathered);
        for (const MoveRun* run = r.runs; run != r.runs + r.count; ++run) {
            const int32_t x0 = run->x0, x1 = run->x1, dx = run->dx;
            const Sample* from = base + clamp_index(y + run->dy, h) * stride;
            if (step == 1 && x0 + dx >= 0 && x1 - 1 + dx < w) {
                copy_run(row + x0, from + x0 + dx, x1 - x0);
                // The rows below in the same block take the same vector: asked for early,
                // their samples are in the cache when their turn comes.
                __builtin_prefetch(from + x0 + dx + 4 * stride);
            } else {
                for (int32_t x = x0; x < x1; ++x) row[x] = from[clamp_index(x + dx, w) * step];
            }
        }
        source = row;
    }
    if constexpr (sizeof(Sample) == 1)
        k.load_u8(source, out, w, shift);
    else
        k.load_u16(source, out, w, shift);
}

void moved_row(const KernelSet& k, const PlaneView& plane, const PlaneMoves& m, int32_t y,
               int shift, void* gathered, float* out) {
    if (plane.format == SampleFormat::u8)
        moved_samples<uint8_t>(k, plane, m, y, shift, gathered, out);
    else
        moved_samples<uint16_t>(k, plane, m, y, shift, gathered, out);
}

// Row y of an error map read at the samples of row y moved. `out` may hold row `previous` (or
// previous < 0): runs that read the same map row again are left as they are.
void moved_errors(const float* map, const ErrorMapLayout& layout, int32_t w, int32_t h,
                  const PlaneMoves& moves, int32_t y, int32_t previous, float* out) {
    const int shift_x = std::countr_zero(static_cast<uint32_t>(layout.block_width));
    const int shift_y = std::countr_zero(static_cast<uint32_t>(layout.block_height));
    const PlaneMoves::Row r = moves.row(y);
    const bool same_runs = previous >= 0 && moves.row(previous).block_row == r.block_row;
    for (const MoveRun* run = r.runs; run != r.runs + r.count; ++run) {
        const int32_t map_row = clamp_index(y + run->dy, h) >> shift_y;
        if (same_runs && map_row == clamp_index(previous + run->dy, h) >> shift_y) continue;
        const int32_t x0 = run->x0, x1 = run->x1, dx = run->dx;
        const float* row = map + static_cast<int64_t>(map_row) * layout.columns;
        if (x0 + dx >= 0 && x1 - 1 + dx < w) {
            for (int32_t x = x0; x < x1; ++x) out[x] = row[(x + dx) >> shift_x];
        } else {
            for (int32_t x = x0; x < x1; ++x) out[x] = row[clamp_index(x + dx, w) >> shift_x];
        }
    }
}

struct Shared {
    const KernelSet* k;
    const TemporalShape* shape;
    const TemporalPicture* centre;
    const TemporalPicture* neighbour;
    PlaneMotion motion[3];
    PlaneMoves moves[3];       // from the motion, for each neighbour
    int plane;                 // the plane of the stage
    float* luma_weights;       // shape->width[0] x height[0]
    float* chroma_weights;     // the chroma plane's size
    float* averaged[3];        // sums of weighted samples until the last stage
    float* weight_sum[3];      // 1 + sum of w
    float* weight_squares[3];  // 1 + sum of w^2
    float* noise_ratio[3];
    float* scratch;          // kScratchRows rows of the widest plane per thread
    int64_t scratch_floats;  // per thread
    int64_t* guard;          // per thread: the weights' sum in 1/65536
};

constexpr int kScratchRows = 8;

// One row of (B_t - B'_u)^2 summed over three neighbouring samples, edges repeated. The pilots
// are read as samples and their difference scaled to 8-bit steps: the same as scaling each
// first, since both are exact.
void difference_row(const Shared& s, int p, int32_t y, void* gathered, float* pilot, float* moved,
                    float* out) {
    const TemporalPlane& c = s.centre->plane[p];
    const int32_t w = s.shape->width[p];
    moved_row(*s.k, c.pilot, no_moves(w), y, 0, gathered, pilot);
    moved_row(*s.k, s.neighbour->plane[p].pilot, s.moves[p], y, 0, gathered, moved);
    s.k->difference_square_row(pilot, moved, pilot, w, eight_bit_unit(c.pilot.format));
    s.k->box_sum_row(pilot, out, w, 1);
}

// The weights of rule 2 for rows of plane p: into `weights`; for luma also the guard's sum.
void weight_rows(const Shared& s, int p, float* weights, int t, int T) {
    const int32_t w = s.shape->width[p], h = s.shape->height[p];
    const TemporalPlane& c = s.centre->plane[p];
    const ErrorMapLayout layout = error_map_layout(w, h, s.shape->shift_x[p], s.shape->shift_y[p]);
    float* const base = s.scratch + t * s.scratch_floats;
    float* const pilot = base;
    float* const moved = base + w;
    float* const errors = base + 2 * static_cast<int64_t>(w);
    float* const own = base + 3 * static_cast<int64_t>(w);
    float* rows[3] = {base + 4 * static_cast<int64_t>(w), base + 5 * static_cast<int64_t>(w),
                      base + 6 * static_cast<int64_t>(w)};
    void* const gathered = base + 7 * static_cast<int64_t>(w);
    const PlaneMoves still = no_moves(w);
    const ItemRange share = thread_share(h, t, T);
    int64_t guard = 0;
    if (share.begin < share.end) {
        difference_row(s, p, clamp_index(share.begin - 1, h), gathered, pilot, moved, rows[0]);
        difference_row(s, p, share.begin, gathered, pilot, moved, rows[1]);
    }
    for (int32_t y = share.begin; y < share.end; ++y) {
        difference_row(s, p, clamp_index(y + 1, h), gathered, pilot, moved, rows[2]);
        const int32_t previous = y > share.begin ? y - 1 : -1;
        moved_errors(s.neighbour->plane[p].error, layout, w, h, s.moves[p], y, previous, errors);
        moved_errors(c.error, layout, w, h, still, y, previous, own);
        float* out = weights + static_cast<int64_t>(y) * w;
        guard += s.k->temporal_weight_row(rows[0], rows[1], rows[2], own, errors, out, w, kNinth,
                                          kFloor);
        float* first = rows[0];
        rows[0] = rows[1];
        rows[1] = rows[2];
        rows[2] = first;
    }
    if (p == 0) s.guard[t] = guard;
}

void luma_weight_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    weight_rows(s, 0, s.luma_weights, t, T);
}

// Row y of a chroma plane's weights: the mean weight of the luma samples each sample covers
// (1 << SX by 1 << SY of them, edges repeated), where it is below the plane's own.
template <int SX, int SY>
void covered_luma_weights(const Shared& s, int32_t y, int32_t w, float* out) {
    const int32_t lw = s.shape->width[0], lh = s.shape->height[0];
    const float scale = 1.0f / static_cast<float>(int32_t{1} << (SX + SY));
    const float* luma[1 << SY];
    for (int32_t i = 0; i < (1 << SY); ++i)
        luma[i] = s.luma_weights + static_cast<int64_t>(clamp_index((y << SY) + i, lh)) * lw;
    // The samples whose luma lies wholly inside the row, then the rest with its edge repeated.
    const int32_t inside = min32(w, lw >> SX);
    for (int32_t x = 0; x < inside; ++x) {
        float sum = 0.0f;
        for (int32_t i = 0; i < (1 << SY); ++i)
            for (int32_t j = 0; j < (1 << SX); ++j) sum = sum + luma[i][(x << SX) + j];
        out[x] = min_float(sum * scale, out[x]);
    }
    for (int32_t x = inside; x < w; ++x) {
        float sum = 0.0f;
        for (int32_t i = 0; i < (1 << SY); ++i)
            for (int32_t j = 0; j < (1 << SX); ++j)
                sum = sum + luma[i][clamp_index((x << SX) + j, lw)];
        out[x] = min_float(sum * scale, out[x]);
    }
}

using CoveredRow = void (*)(const Shared&, int32_t, int32_t, float*);

CoveredRow covered_row_for(int shift_x, int shift_y) {
    static constexpr CoveredRow rows[3][2] = {
        {covered_luma_weights<0, 0>, covered_luma_weights<0, 1>},
        {covered_luma_weights<1, 0>, covered_luma_weights<1, 1>},
        {covered_luma_weights<2, 0>, covered_luma_weights<2, 1>}};
    return rows[shift_x][shift_y];
}

// Chroma: the mean weight of the luma samples covered, and the plane's own test.
void chroma_weight_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    const int p = s.plane;
    weight_rows(s, p, s.chroma_weights, t, T);
    const int32_t w = s.shape->width[p];
    const CoveredRow covered = covered_row_for(s.shape->shift_x[p], s.shape->shift_y[p]);
    const ItemRange share = thread_share(s.shape->height[p], t, T);
    for (int32_t y = share.begin; y < share.end; ++y)
        covered(s, y, w, s.chroma_weights + static_cast<int64_t>(y) * w);
}

// Every plane's runs of thread t's share of the block rows.
void moves_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    for (int p = 0; p < s.shape->planes; ++p) {
        const PlaneMoves& moves = s.moves[p];
        const ItemRange share = thread_share(moves.rows, t, T);
        for (int32_t by = share.begin; by < share.end; ++by)
            moves.counts[by] =
                make_move_runs(s.motion[p], s.shape->width[p], by,
                               moves.runs + static_cast<int64_t>(by) * moves.columns);
    }
}

void start_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    const int p = s.plane;
    const int32_t w = s.shape->width[p];
    const PlaneView& noisy = s.centre->plane[p].noisy;
    const PlaneMoves still = no_moves(w);
    void* const gathered = s.scratch + t * s.scratch_floats;
    const ItemRange share = thread_share(s.shape->height[p], t, T);
    for (int32_t y = share.begin; y < share.end; ++y) {
        const int64_t row = static_cast<int64_t>(y) * w;
        moved_row(*s.k, noisy, still, y, working_shift(noisy.format), gathered,
                  s.averaged[p] + row);
        std::fill_n(s.weight_sum[p] + row, w, 1.0f);
        std::fill_n(s.weight_squares[p] + row, w, 1.0f);
    }
}

void accumulate_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    const int p = s.plane;
    const int32_t w = s.shape->width[p];
    const PlaneView& noisy = s.neighbour->plane[p].noisy;
    const float* weights = p == 0 ? s.luma_weights : s.chroma_weights;
    float* const moved = s.scratch + t * s.scratch_floats;
    void* const gathered = moved + w;
    const ItemRange share = thread_share(s.shape->height[p], t, T);
    for (int32_t y = share.begin; y < share.end; ++y) {
        const int64_t row = static_cast<int64_t>(y) * w;
        moved_row(*s.k, noisy, s.moves[p], y, working_shift(noisy.format), gathered, moved);
        s.k->temporal_accumulate_row(weights + row, moved, s.averaged[p] + row,
                                     s.weight_sum[p] + row, s.weight_squares[p] + row, w);
    }
}

void finish_worker(int t, int T, void* context) {
    const Shared& s = *static_cast<Shared*>(context);
    const int p = s.plane;
    const int32_t w = s.shape->width[p];
    const ItemRange share = thread_share(s.shape->height[p], t, T);
    for (int32_t y = share.begin; y < share.end; ++y) {
        const int64_t row = static_cast<int64_t>(y) * w;
        s.k->temporal_finish_row(s.averaged[p] + row, s.weight_sum[p] + row,
                                 s.weight_squares[p] + row,
                                 s.noise_ratio[p] ? s.noise_ratio[p] + row : nullptr, w);
    }
}

struct MemoryPlan {
    int64_t vectors, moves[3], luma_weights, chroma_weights, sums[3], scratch, guard, total;
    int64_t scratch_floats;
};

MemoryPlan plan_memory(const TemporalShape& shape, int threads) {
    MemoryPlan m = {};
    const int T = threads < 1 ? 1 : threads;
    int64_t at = 0;
    const auto take = [&](int64_t bytes) {
        const int64_t start = at;
        at += aligned16(bytes);
        return start;
    };
    const int64_t blocks =
        static_cast<int64_t>(motion_columns(shape.width[0])) * motion_rows(shape.height[0]);
    m.vectors = take((blocks > 0 ? blocks : 1) * static_cast<int64_t>(sizeof(BlockVector)));
    // Each plane's runs (at most one per block) and their counts per block row.
    for (int p = 0; p < shape.planes; ++p)
        m.moves[p] = take(blocks * static_cast<int64_t>(sizeof(MoveRun)) +
                          motion_rows(shape.height[0]) * int64_t{sizeof(int32_t)});
    int64_t widest = 1, largest_chroma = 1;
    for (int p = 0; p < shape.planes; ++p) {
        const int64_t samples = static_cast<int64_t>(shape.width[p]) * shape.height[p];
        widest = shape.width[p] > widest ? shape.width[p] : widest;
        if (p > 0 && samples > largest_chroma) largest_chroma = samples;
    }
    m.luma_weights =
        take(static_cast<int64_t>(shape.width[0]) * shape.height[0] * int64_t{sizeof(float)});
    m.chroma_weights = take(largest_chroma * int64_t{sizeof(float)});
    for (int p = 0; p < shape.planes; ++p)
        m.sums[p] = shape.averaged[p] ? take(2 * static_cast<int64_t>(shape.width[p]) *
                                             shape.height[p] * int64_t{sizeof(float)})
                                      : -1;
    m.scratch_floats =
        aligned16(kScratchRows * widest * int64_t{sizeof(float)}) / int64_t{sizeof(float)};
    m.scratch = take(m.scratch_floats * T * int64_t{sizeof(float)});
    m.guard = take(T * int64_t{sizeof(int64_t)});
    m.total = at;
    return m;
}

void run(const Executor& ex, WorkerFunction fn, Shared& s) { ex.run(ex.self, fn, &s); }

}  // namespace

int64_t temporal_memory_bytes(const TemporalShape& shape, int threads) {
    return plan_memory(shape, threads).total;
}

int temporal_average(const KernelSet& k, const TemporalShape& shape, const TemporalPicture& centre,
                     const TemporalPicture* neighbours, const int* distances, int count,
                     float* const averaged[3], float* const noise_ratio[3], void* memory,
                     const Executor& ex) {
    const MemoryPlan m = plan_memory(shape, ex.threads);
    char* base = static_cast<char*>(memory);
    Shared s = {};
    s.k = &k;
    s.shape = &shape;
    s.centre = &centre;
    BlockVector* vectors = reinterpret_cast<BlockVector*>(base + m.vectors);
    const int32_t columns = motion_columns(shape.width[0]), rows = motion_rows(shape.height[0]);
    for (int p = 0; p < shape.planes; ++p) {
        s.motion[p] = {vectors, columns, rows, shape.shift_x[p], shape.shift_y[p]};
        s.moves[p] = no_moves(shape.width[p]);
        if (columns == 0 || rows == 0) continue;  // a picture smaller than a block: none
        MoveRun* runs = reinterpret_cast<MoveRun*>(base + m.moves[p]);
        s.moves[p] = {runs,
                      reinterpret_cast<int32_t*>(runs + int64_t{columns} * rows),
                      columns,
                      rows,
                      shape.shift_y[p],
                      {}};
    }
    s.luma_weights = reinterpret_cast<float*>(base + m.luma_weights);
    s.chroma_weights = reinterpret_cast<float*>(base + m.chroma_weights);
    for (int p = 0; p < shape.planes; ++p) {
        if (!shape.averaged[p]) continue;
        const int64_t samples = static_cast<int64_t>(shape.width[p]) * shape.height[p];
        s.averaged[p] = averaged[p];
        s.weight_sum[p] = reinterpret_cast<float*>(base + m.sums[p]);
        s.weight_squares[p] = s.weight_sum[p] + samples;
        s.noise_ratio[p] = noise_ratio ? noise_ratio[p] : nullptr;
    }
    s.scratch = reinterpret_cast<float*>(base + m.scratch);
    s.scratch_floats = m.scratch_floats;
    s.guard = reinterpret_cast<int64_t*>(base + m.guard);

    for (s.plane = 0; s.plane < shape.planes; ++s.plane)
        if (shape.averaged[s.plane]) run(ex, start_worker, s);

    const int64_t luma_samples = static_cast<int64_t>(shape.width[0]) * shape.height[0];
    int used = 0;
    for (int i = 0; i < count; ++i) {
        s.neighbour = &neighbours[i];
        search_motion(k, *centre.pyramid, *neighbours[i].pyramid, distances[i], vectors, ex);
        run(ex, moves_worker, s);
        run(ex, luma_weight_worker, s);
        int64_t sum = 0;
        for (int t = 0; t < ex.threads; ++t) sum += s.guard[t];
        // The mean weight below 1/2: the neighbour is left out.
        if (2 * sum < kGuardUnits * luma_samples) continue;
        ++used;
        for (s.plane = 0; s.plane < shape.planes; ++s.plane) {
            if (!shape.averaged[s.plane]) continue;
            if (s.plane > 0) run(ex, chroma_weight_worker, s);
            run(ex, accumulate_worker, s);
        }
    }
    for (s.plane = 0; s.plane < shape.planes; ++s.plane)
        if (shape.averaged[s.plane]) run(ex, finish_worker, s);
    return used;
}

}  // namespace velmora
