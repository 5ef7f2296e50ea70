#include "engine/noise_blocks.h"

#include "engine/best_mode.h"
#include "engine/engine.h"
#include "engine/noise_bands.h"
#include "engine/plane_io.h"

namespace velmora {

namespace {

constexpr int32_t kMargin = 2;  // samples around a block searched for clipped ones
constexpr float kSixteenth = 0.0625f;
constexpr float kThirtySecond = 0.03125f;

bool is_clipped(int32_t v, SampleFormat format) {
    return format != SampleFormat::s16 && (v == 0 || v == sample_maximum(format));
}

struct Measure {
    const KernelSet* k;
    const PlaneView* view;
    TransformPlane plane;
    NoiseBlocks* out;
};

void load_worker(int t, int T, void* c) {
    const Measure& m = *static_cast<Measure*>(c);
    load_shifted_plane_band(*m.k, *m.view, m.plane, 0, 0, t, T);
}

// Whether block (bx, by) tells nothing: a clipped sample in its area, or all samples equal.
bool left_out(const PlaneView& view, int32_t bx, int32_t by) {
    const int32_t x0 = bx * kNoiseBlockSamples, y0 = by * kNoiseBlockSamples;
    const int32_t first = sample_at(view, x0, y0);
    bool flat = true;
    for (int32_t y = y0; y < y0 + kNoiseBlockSamples && flat; ++y)
        for (int32_t x = x0; x < x0 + kNoiseBlockSamples; ++x)
            if (sample_at(view, x, y) != first) {
                flat = false;
                break;
            }
    if (flat) return true;
    const int32_t left = x0 - kMargin < 0 ? 0 : x0 - kMargin;
    const int32_t top = y0 - kMargin < 0 ? 0 : y0 - kMargin;
    const int32_t right = x0 + kNoiseBlockSamples + kMargin;
    const int32_t bottom = y0 + kNoiseBlockSamples + kMargin;
    for (int32_t y = top; y < bottom && y < view.height; ++y)
        for (int32_t x = left; x < right && x < view.width; ++x)
            if (is_clipped(sample_at(view, x, y), view.format)) return true;
    return false;
}

// The mean square of block (bx, by)'s 16 H coefficients, then its 16 V ones, row-major.
float detail_of(const TransformPlane& plane, int32_t bx, int32_t by) {
    const int64_t h = static_cast<int64_t>(plane.H / 2) * plane.W;
    const float* blocks[2] = {plane.data + plane.W / 2, plane.data + h};
    float sum = 0.0f;
    bool first = true;
    for (const float* block : blocks)
        for (int32_t i = 0; i < kNoiseBlockCoefficients; ++i) {
            const float* row = block +
                               static_cast<int64_t>(by * kNoiseBlockCoefficients + i) * plane.W +
                               bx * kNoiseBlockCoefficients;
            for (int32_t j = 0; j < kNoiseBlockCoefficients; ++j) {
                const float square = row[j] * row[j];
                sum = first ? square : sum + square;
                first = false;
            }
        }
    return sum * kThirtySecond;
}

// The mean of block (bx, by)'s samples in working units.
float brightness_of(const PlaneView& view, int32_t bx, int32_t by) {
    const int32_t x0 = bx * kNoiseBlockSamples, y0 = by * kNoiseBlockSamples;
    int64_t sum = 0;
    for (int32_t y = y0; y < y0 + kNoiseBlockSamples; ++y)
        for (int32_t x = x0; x < x0 + kNoiseBlockSamples; ++x) sum += sample_at(view, x, y);
    return static_cast<float>(sum << working_shift(view.format)) /
           static_cast<float>(kNoiseBlockSamples * kNoiseBlockSamples);
}

// Thread t of T: its share of the block rows, coefficients copied out and blocks judged.
void blocks_worker(int t, int T, void* c) {
    const Measure& m = *static_cast<Measure*>(c);
    NoiseBlocks& out = *m.out;
    const int32_t width = out.columns * kNoiseBlockCoefficients;
    const float* diagonal =
        m.plane.data + static_cast<int64_t>(m.plane.H / 2) * m.plane.W + m.plane.W / 2;
    const ItemRange rows = thread_share(out.rows, t, T);
    for (int32_t by = rows.begin; by < rows.end; ++by) {
        for (int32_t i = 0; i < kNoiseBlockCoefficients; ++i) {
            const int32_t row = by * kNoiseBlockCoefficients + i;
            const float* src = diagonal + static_cast<int64_t>(row) * m.plane.W;
            float* dst = out.coefficients + static_cast<int64_t>(row) * width;
            for (int32_t j = 0; j < width; ++j) dst[j] = src[j];
        }
        for (int32_t bx = 0; bx < out.columns; ++bx)
            out.left_out[static_cast<int64_t>(by) * out.columns + bx] =
                left_out(*m.view, bx, by) ? 1 : 0;
        if (out.detail)
            for (int32_t bx = 0; bx < out.columns; ++bx)
                out.detail[static_cast<int64_t>(by) * out.columns + bx] =
                    detail_of(m.plane, bx, by);
        if (out.brightness)
            for (int32_t bx = 0; bx < out.columns; ++bx)
                out.brightness[static_cast<int64_t>(by) * out.columns + bx] =
                    brightness_of(*m.view, bx, by);
    }
}

void bands_worker(int t, int T, void* c) {
    const Measure& m = *static_cast<Measure*>(c);
    copy_noise_bands(m.plane, *m.out, t, T);
}

// The coefficient (i, j) of block (bx, by).
float coefficient(const NoiseBlocks& b, int32_t bx, int32_t by, int32_t i, int32_t j) {
    const int64_t row = static_cast<int64_t>(by) * kNoiseBlockCoefficients + i;
    return b
        .coefficients[row * b.columns * kNoiseBlockCoefficients + bx * kNoiseBlockCoefficients + j];
}

}  // namespace

bool same_block_samples(const PlaneView& a, const PlaneView& b, int32_t bx, int32_t by) {
    const int32_t x0 = bx * kNoiseBlockSamples, y0 = by * kNoiseBlockSamples;
    for (int32_t y = y0; y < y0 + kNoiseBlockSamples; ++y)
        for (int32_t x = x0; x < x0 + kNoiseBlockSamples; ++x)
            if (sample_at(a, x, y) != sample_at(b, x, y)) return false;
    return true;
}

int64_t noise_blocks_memory_floats(int32_t max_width, int32_t max_height, int32_t threads) {
    return working_floats(best_padded_size(max_width), best_padded_size(max_height),
                          threads < 1 ? 1 : threads);
}

void measure_noise_blocks(const KernelSet& k, float* memory, int32_t threads, const PlaneView& view,
                          const Executor& ex, NoiseBlocks& out) {
    Measure m = {&k, &view,
                 lay_out_plane(memory, best_padded_size(view.width), best_padded_size(view.height)),
                 &out};
    // The picture goes in as the best mode's unmoved transform takes it, into a plane padded as
    // the best mode pads; the engine's forward stages decompose that plane where it lies (further
    // down where the bands are asked for: the finest level is the same either way).
    ex.run(ex.self, load_worker, &m);
    forward(engine_over_plane(k, m.plane, threads, out.bands ? kNoiseBandLevels : 1), ex);
    ex.run(ex.self, blocks_worker, &m);
    if (out.bands) ex.run(ex.self, bands_worker, &m);
}

int64_t spatial_noise_values(const NoiseBlocks& frame, float* values, float* details,
                             float* brightness) {
    int64_t count = 0;
    for (int32_t by = 0; by < frame.rows; ++by) {
        for (int32_t bx = 0; bx < frame.columns; ++bx) {
            if (frame.left_out[static_cast<int64_t>(by) * frame.columns + bx]) continue;
            float sum = 0.0f;
            bool first = true;
            for (int32_t i = 0; i < kNoiseBlockCoefficients; ++i) {
                for (int32_t j = 0; j < kNoiseBlockCoefficients; ++j) {
                    const float c = coefficient(frame, bx, by, i, j);
                    const float square = c * c;
                    sum = first ? square : sum + square;
                    first = false;
                }
            }
            const int64_t at = static_cast<int64_t>(by) * frame.columns + bx;
            if (details) details[count] = frame.detail[at];
            if (brightness) brightness[count] = frame.brightness[at];
            values[count++] = sum * kSixteenth;
        }
    }
    return count;
}

int64_t temporal_noise_values(const NoiseBlocks& previous, const PlaneView& previous_view,
                              const NoiseBlocks& current, const PlaneView& current_view,
                              float* values, int64_t* unchanged, float* brightness) {
    int64_t count = 0, same = 0;
    for (int32_t by = 0; by < current.rows; ++by) {
        for (int32_t bx = 0; bx < current.columns; ++bx) {
            const int64_t at = static_cast<int64_t>(by) * current.columns + bx;
            if (previous.left_out[at] || current.left_out[at]) continue;
            if (same_block_samples(previous_view, current_view, bx, by)) {
                ++same;
                continue;
            }
            float sum = 0.0f;
            bool first = true;
            for (int32_t i = 0; i < kNoiseBlockCoefficients; ++i) {
                for (int32_t j = 0; j < kNoiseBlockCoefficients; ++j) {
                    const float d =
                        coefficient(current, bx, by, i, j) - coefficient(previous, bx, by, i, j);
                    const float square = d * d;
                    sum = first ? square : sum + square;
                    first = false;
                }
            }
            if (brightness) brightness[count] = current.brightness[at];
            values[count++] = sum * kThirtySecond;
        }
    }
    if (unchanged) *unchanged = same;
    return count;
}

}  // namespace velmora
