#include "wavelet/line_passes.h"

#include "kernels/lifting_constants.h"

namespace {

// How many row pairs ahead of the one being lifted a band asks for the rows it will read and
// write: at each new row the hardware prefetchers would otherwise start on a miss.
constexpr int32_t kPairsAhead = 4;

using namespace lifting;

// The rows of `level` that the first `rows` rows of level 0 need: only the pairs that hold them
// are rebuilt, and each coarser level's rows are those the next finer level reads, two pairs
// beyond its own last pair.
int32_t level_rows(const TransformPlane& plane, int level, int32_t rows) {
    for (int l = 0; l < level; ++l) rows = (rows + 1) / 2 + 2;
    const int32_t h = plane.H >> level;
    return rows > h ? h : rows;
}

// A level's geometry and one thread's band of row pairs, with the first pair whose rows the
// band lifts (two before its own, for the neighbours its first pairs need) and the first pairs
// of each lifting step that it can finish from those: an even row's first update needs the odd
// row before it, and so on. At the top of the plane the end terms stand in for the rows before.
struct Band {
    int32_t w, half, n;     // the level's width, half width and row pairs
    int32_t begin, end;     // the pairs whose results are the band's own
    int32_t first;          // the first pair read
    int32_t last;           // the last pair read
    int32_t first_updated;  // the first pair whose even row gets the first update
    int32_t first_done;     // the first pair whose even row gets the second update

    Band(int32_t w_, int32_t n_, int32_t pairs, int t, int T, const uint16_t* weights)
        : w(w_), half(w_ / 2), n(n_) {
        const ItemRange share = weighted_share(pairs, t, T, weights);
        begin = share.begin;
        end = share.end;
        first = begin > 2 ? begin - 2 : 0;
        last = end + 1 < n - 1 ? end + 1 : n - 1;
        first_updated = first == 0 ? 0 : first + 1;
        first_done = first == 0 ? 0 : first + 2;
    }
    bool empty() const { return begin >= end; }
    bool own(int32_t q) const { return q >= begin && q < end; }
};

float* slice(const TransformPlane& plane, int t) {
    return plane.scratch + static_cast<int64_t>(t) * plane.scratch_per_thread;
}

FloatRows plane_rows(const TransformPlane& plane) { return {plane.data, plane.W}; }

// The lines a band keeps: the rows of its last few pairs, each pair's even row and odd row,
// in `pairs` slots taken in turn, then the row kernels' scratch pair.
class Window {
protected:
    Window(const KernelSet& k, const TransformPlane& plane, const Band& band, float* scratch,
           int pairs)
        : k_(k),
          b_(band),
          plane_(plane_rows(plane)),
          stride_(line_stride(band.w)),
          pairs_(pairs),
          lines_(scratch),
          e_(scratch + 2 * pairs * static_cast<int64_t>(stride_)),
          o_(e_ + line_stride(band.half)) {}

    float* even(int32_t p) const {
        return lines_ + static_cast<int64_t>(2 * (p % pairs_)) * stride_;
    }
    float* odd(int32_t p) const { return even(p) + stride_; }
    // The floats after the scratch pair.
    float* after_lines() const { return o_ + line_stride(b_.half); }

    // Rows of floats a few pairs ahead, to be read or written.
    void ask_ahead(const float* row, int32_t count, bool write) {
        prefetches_.add({row, static_cast<int64_t>(count) * static_cast<int64_t>(sizeof(float))},
                        write);
    }
    // The samples of row y, when the conversion tells where they lie.
    void ask_ahead(const RowConversion* c, int32_t y, bool write) {
        if (c && c->samples) prefetches_.add(c->samples(c->context, y), write);
    }

    // The updates of even rows: at the top the end term, else the odd rows on either side.
    void update(int32_t q, float c, float c2) {
        if (q == 0)
            k_.lift_line_end(even(0), odd(0), c2, b_.w);
        else
            k_.lift_lines(even(q), odd(q - 1), odd(q), c, b_.w);
    }
    // The predictions of odd rows from the even rows on either side; the bottom end term.
    void predict(int32_t q, float c) { k_.lift_lines(odd(q), even(q), even(q + 1), c, b_.w); }
    void predict_last(float c2) { k_.lift_line_end(odd(b_.n - 1), even(b_.n - 1), c2, b_.w); }

    const KernelSet& k_;
    const Band& b_;
    const FloatRows plane_;
    const int32_t stride_;
    const int32_t pairs_;
    float* const lines_;
    float* const e_;
    float* const o_;
    PrefetchQueue prefetches_;
};

// ---- forward ------------------------------------------------------------------------------

class ForwardWindow : Window {
public:
    // The finest level's H and D blocks, half the plane, are read again only by the inverse
    // passes after every coarser level: they are streamed past the caches. The low pass, which
    // the next level reads at once, and the V block beside it stay in the caches.
    ForwardWindow(const KernelSet& k, const TransformPlane& plane, const Band& band, float* scratch,
                  FloatRows in, const RowConversion* load, FloatRows low)
        : Window(k, plane, band, scratch, 4),
          in_(in),
          load_(load),
          low_(low),
          stream_(load != nullptr),
          right_step_(stream_ ? k.forward_column_step_streaming : k.forward_column_step) {}

    void run() {
        for (int32_t p = b_.first; p <= b_.last; ++p) {
            // One share after each row taken and after the column steps.
            prefetches_.start(3);
            const int32_t ahead = p - 2 + kPairsAhead;
            if (!stream_ && ahead >= b_.begin && ahead < b_.end) {
                ask_ahead(low_.row(ahead), b_.half, true);
                ask_ahead(plane_.row(ahead) + b_.half, b_.half, true);
                ask_ahead(high(ahead), b_.w, true);
            }
            ask_ahead(load_, 2 * (p + kPairsAhead), false);
            ask_ahead(load_, 2 * (p + kPairsAhead) + 1, false);
            // No step that pair p completes reads its odd row: the steps take the even row
            // while it is still in the nearest cache.
            take_row(2 * p, even(p));
            prefetches_.ask();
            arrive(p);
            prefetches_.ask();
            take_row(2 * p + 1, odd(p));
            prefetches_.ask();
        }
        if (b_.last == b_.n - 1) finish();
    }

private:
    // Input row y, lifted along the row into `line`.
    void take_row(int32_t y, float* line) {
        if (load_ && load_->split) {
            load_->split(load_->context, y, e_, o_);
            return k_.forward_row_split(e_, o_, line, b_.half);
        }
        const float* src = line;
        if (load_)
            load_->convert(load_->context, y, line);
        else
            src = in_.row(y);
        k_.forward_row(src, line, b_.half, e_, o_);
    }

    // Pair p has arrived: every step it completes, newest row first, then pair p - 2 is done.
    void arrive(int32_t p) {
        const int32_t q = p - 2;
        if (q >= 1 && q >= b_.first_done && q >= b_.begin) return step(p);
        if (p - 1 >= b_.first) predict(p - 1, kAlpha);
        if (p - 1 >= 0 && p - 1 >= b_.first_updated) update(p - 1, kBeta, kBeta2);
        if (q >= 0 && q >= b_.first_updated) predict(q, kGamma);
        if (q >= 0 && q >= b_.first_done) update(q, kDelta, kDelta2);
        if (b_.own(q)) emit(q);
    }

    // The same with no end term and every row at hand, a vector of columns at a time: the left
    // half into the low pass and the V block, the right half into the H and D blocks.
    void step(int32_t p) {
        const int32_t q = p - 2;
        float* const left[6] = {even(p), even(p - 1), odd(p - 1), even(q), odd(q), odd(q - 1)};
        k_.forward_column_step(left, low_.row(q), high(q), b_.half);
        float* const right[6] = {left[0] + b_.half, left[1] + b_.half, left[2] + b_.half,
                                 left[3] + b_.half, left[4] + b_.half, left[5] + b_.half};
        right_step_(right, plane_.row(q) + b_.half, high(q) + b_.half, b_.half);
    }

    // The bottom of the plane: the end terms close the last pair.
    void finish() {
        const int32_t n = b_.n;
        predict_last(kAlpha2);
        if (n - 1 >= b_.first_updated) update(n - 1, kBeta, kBeta2);
        if (n >= 2 && n - 2 >= b_.first_updated) predict(n - 2, kGamma);
        if (n - 1 >= b_.first_updated) predict_last(kGamma2);
        if (n >= 2 && n - 2 >= b_.first_done) update(n - 2, kDelta, kDelta2);
        if (n - 1 >= b_.first_done) update(n - 1, kDelta, kDelta2);
        if (n >= 2 && b_.own(n - 2)) emit(n - 2);
        if (b_.own(n - 1)) emit(n - 1);
    }

    float* high(int32_t q) const { return plane_.row(b_.n + q); }

    // Pair q's rows scaled into place: the low row's left half is the next low pass, its right
    // half the H block; the high row holds the V and D blocks.
    void emit(int32_t q) {
        k_.scale_line(even(q), low_.row(q), kK, b_.half);
        k_.scale_line(even(q) + b_.half, plane_.row(q) + b_.half, kK, b_.half);
        k_.scale_line(odd(q), high(q), kInvK, b_.w);
    }

    const FloatRows in_;
    const RowConversion* const load_;
    const FloatRows low_;
    const bool stream_;
    void (*const right_step_)(float* const*, float*, float*, int);
};

// ---- inverse ------------------------------------------------------------------------------

class InverseWindow : Window {
public:
    InverseWindow(const KernelSet& k, const TransformPlane& plane, const Band& band, float* scratch,
                  const float* thresholds, FloatRows low, FloatRows out, const RowConversion* store,
                  int32_t rows)
        : Window(k, plane, band, scratch, 3),
          mark_stride_(mark_words(band.half)),
          marks_(reinterpret_cast<uint32_t*>(after_lines())),
          finished_(after_lines() + 9 * static_cast<int64_t>(mark_stride_)),
          x_(thresholds),
          low_(low),
          out_(out),
          store_(store),
          rows_(rows) {}

    void run() {
        for (int32_t r = b_.first > 0 ? b_.first - 1 : 0; r <= b_.first; ++r) mark(r);
        for (int32_t p = b_.first; p <= b_.last; ++p) {
            // One share after each block row marked and taken, the column step and each row
            // handed on.
            prefetches_.start(9);
            const int32_t ahead = p + 1 + kPairsAhead;
            if (ahead < b_.n) {
                ask_ahead(block_row(0, ahead), b_.half, false);
                ask_ahead(block_row(1, ahead), b_.w, false);
                ask_ahead(low_.row(ahead - 1), b_.half, false);
            }
            ask_ahead(store_, 2 * (p - 2 + kPairsAhead), true);
            ask_ahead(store_, 2 * (p - 2 + kPairsAhead) + 1, true);
            if (p + 1 < b_.n) mark(p + 1);
            take_pair(p);
            arrive(p);
            prefetches_.ask();
        }
        if (b_.last == b_.n - 1) finish();
    }

private:
    // Block o's row r: H (0) right of the low pass, V (1) and D (2) below them.
    const float* block_row(int o, int32_t r) const {
        return o == 0 ? plane_.row(r) + b_.half : plane_.row(b_.n + r) + (o == 2 ? b_.half : 0);
    }
    uint32_t* marks(int o, int32_t r) const {
        return marks_ + static_cast<int64_t>(3 * o + r % 3) * mark_stride_;
    }
    bool thresholded(int o) const { return x_[o] > 0.0f; }

    void mark(int32_t r) {
        for (int o = 0; o < 3; ++o)
            if (thresholded(o)) {
                k_.mark_reaches(block_row(o, r), b_.half, x_[o], marks(o, r));
                prefetches_.ask();
            }
    }

    // Block o's row p, thresholded by the marks of the rows around it within the block.
    void take_block_row(int o, int32_t p, float s, float* dst) {
        prefetches_.ask();
        if (!thresholded(o)) return k_.scale_line(block_row(o, p), dst, s, b_.half);
        const int32_t above = p > 0 ? p - 1 : p, below = p + 1 < b_.n ? p + 1 : p;
        k_.keep_scaled(block_row(o, p), marks(o, above), marks(o, p), marks(o, below), s, dst,
                       b_.half);
    }

    void take_pair(int32_t p) {
        k_.scale_line(low_.row(p), even(p), kInvK, b_.half);
        take_block_row(0, p, kInvK, even(p) + b_.half);
        take_block_row(1, p, kK, odd(p));
        take_block_row(2, p, kK, odd(p) + b_.half);
    }

    // Pair p has arrived: every step it completes, then pair p - 2 is rebuilt. Until the band
    // has lifted two pairs of its own, the second predict has nothing to finish.
    void arrive(int32_t p) {
        const int32_t q = p - 2;
        if (q >= 0 && q >= b_.first_done) {
            float* const lines[6] = {even(p), odd(p), even(p - 1), odd(p - 1), even(q), odd(q)};
            k_.inverse_column_step(lines, b_.w);
        } else {
            if (p >= b_.first_updated) update(p, -kDelta, -kDelta2);
            if (p - 1 >= 0 && p - 1 >= b_.first_updated) predict(p - 1, -kGamma);
            if (p - 1 >= 0 && p - 1 >= b_.first_done) update(p - 1, -kBeta, -kBeta2);
        }
        if (b_.own(q)) emit(q);
    }

    void finish() {
        const int32_t n = b_.n;
        if (n - 1 >= b_.first_updated) predict_last(-kGamma2);
        if (n - 1 >= b_.first_done) update(n - 1, -kBeta, -kBeta2);
        if (n >= 2 && n - 2 >= b_.first_done) predict(n - 2, -kAlpha);
        if (n - 1 >= b_.first_done) predict_last(-kAlpha2);
        if (n >= 2 && b_.own(n - 2)) emit(n - 2);
        if (b_.own(n - 1)) emit(n - 1);
    }

    // Pair q's two rows lifted along the row and handed on.
    void emit(int32_t q) {
        put_row(2 * q, even(q));
        put_row(2 * q + 1, odd(q));
    }
    void put_row(int32_t y, float* line) {
        if (y >= rows_) return;
        prefetches_.ask();
        if (store_) {
            k_.inverse_row(line, finished_, b_.half, e_, o_);
            store_->convert(store_->context, y, finished_);
        } else {
            k_.inverse_row(line, out_.row(y), b_.half, e_, o_);
        }
    }

    const int32_t mark_stride_;
    uint32_t* const marks_;
    float* const finished_;  // a finished row of the finest level, on its way to the samples
    const float* const x_;
    const FloatRows low_;
    const FloatRows out_;
    const RowConversion* const store_;
    const int32_t rows_;
};

}  // namespace

int32_t forward_level_pairs(const TransformPlane& plane, int level) {
    return (plane.H >> level) / 2;
}

int32_t inverse_level_pairs(const TransformPlane& plane, int level, int32_t rows) {
    return (level_rows(plane, level, rows) + 1) / 2;
}

void forward_level_band(const KernelSet& k, const TransformPlane& plane,
                        const LevelBuffers& buffers, int level, int levels,
                        const RowConversion& load, int t, int T, const uint16_t* weights) {
    const int32_t w = plane.W >> level, n = forward_level_pairs(plane, level);
    const Band band(w, n, n, t, T, weights);
    if (band.empty()) return;
    const FloatRows in = level == 0 ? FloatRows{} : buffers.rows(plane.W, level);
    const FloatRows low =
        level == levels - 1 ? plane_rows(plane) : buffers.rows(plane.W, level + 1);
    ForwardWindow(k, plane, band, slice(plane, t), in, level == 0 ? &load : nullptr, low).run();
}

void inverse_level_band(const KernelSet& k, const TransformPlane& plane,
                        const LevelBuffers& buffers, const SubbandThresholds& thresholds, int level,
                        int levels, const RowConversion& store, int32_t rows, int t, int T,
                        const uint16_t* weights) {
    const int32_t w = plane.W >> level, n = (plane.H >> level) / 2;
    const Band band(w, n, inverse_level_pairs(plane, level, rows), t, T, weights);
    rows = level_rows(plane, level, rows);
    if (band.empty()) return;
    const FloatRows low =
        level == levels - 1 ? plane_rows(plane) : buffers.rows(plane.W, level + 1);
    const FloatRows out = level == 0 ? FloatRows{} : buffers.rows(plane.W, level);
    InverseWindow(k, plane, band, slice(plane, t), thresholds.value[level], low, out,
                  level == 0 ? &store : nullptr, rows)
        .run();
}
