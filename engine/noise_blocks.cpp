#include "engine/noise_blocks.h"

#include <algorithm>

#include "engine/best_mode.h"
#include "engine/engine.h"
#include "engine/noise_bands.h"
#include "engine/plane_io.h"

namespace velmora {

namespace {

constexpr int32_t kMargin = 2;  // samples around a block searched for clipped ones
constexpr float kSixteenth = 0.0625f;
constexpr float kThirtySecond = 0.03125f;

struct Measure {
    const KernelSet* k;
    const PlaneView* view;
    Light light;  // where the blocks' brightness is read
    TransformPlane plane;
    NoiseBlocks* out;
};

void load_worker(int t, int T, void* c) {
    const Measure& m = *static_cast<Measure*>(c);
    load_shifted_plane_band(*m.k, *m.view, m.plane, 0, 0, t, T);
}

// Whether the 8 x 8 samples from `corner` (row stride `stride`, samples `step` apart) are equal.
template <typename Sample>
bool flat_block(const Sample* corner, ptrdiff_t stride, int32_t step) {
    for (int32_t y = 0; y < kNoiseBlockSamples; ++y)
        for (int32_t x = 0; x < kNoiseBlockSamples; ++x)
            if (corner[y * stride + x * step] != corner[0]) return false;
    return true;
}

// Which blocks of block row `by` tell nothing: a clipped sample (0 or the format's maximum) in
// the block or within kMargin samples of it, or all of its samples equal. The columns holding
// a clipped sample in the rows concerned are marked first, a chunk of blocks at a time.
template <typename Sample>
void judge_block_row(const PlaneView& view, int32_t by, int32_t columns, uint8_t* left_out) {
    constexpr int32_t kChunk = 64;  // blocks
    const Sample* const base = static_cast<const Sample*>(view.base);
    const ptrdiff_t stride = view.row_stride;
    const int32_t step = view.sample_stride;
    const int32_t y0 = by * kNoiseBlockSamples;
    const int32_t top = y0 - kMargin < 0 ? 0 : y0 - kMargin;
    const int32_t bottom = std::min(view.height, y0 + kNoiseBlockSamples + kMargin);
    const bool clips = view.format != SampleFormat::s16;  // s16 samples never count as clipped
    const int32_t most = sample_maximum(view.format);
    uint8_t clipped[kChunk * kNoiseBlockSamples + 2 * kMargin];
    for (int32_t c0 = 0; c0 < columns; c0 += kChunk) {
        const int32_t c1 = std::min(columns, c0 + kChunk);
        // Columns [x0 - kMargin, x1 + kMargin) of the picture, at clipped[x - x0 + kMargin].
        const int32_t x0 = c0 * kNoiseBlockSamples, x1 = c1 * kNoiseBlockSamples;
        const int32_t left = std::max(0, x0 - kMargin), right = std::min(view.width, x1 + kMargin);
        std::fill_n(clipped, sizeof clipped, uint8_t{0});
        for (int32_t y = top; y < bottom && clips; ++y) {
            const Sample* row = base + y * stride;
            for (int32_t x = left; x < right; ++x) {
                const int32_t v = row[x * step];
                clipped[x - x0 + kMargin] |= (v == 0) | (v == most);
            }
        }
        for (int32_t bx = c0; bx < c1; ++bx) {
            const int32_t at = (bx - c0) * kNoiseBlockSamples;
            uint8_t any = 0;
            for (int32_t x = 0; x < kNoiseBlockSamples + 2 * kMargin; ++x) any |= clipped[at + x];
            left_out[bx] =
                any || flat_block(base + y0 * stride + bx * kNoiseBlockSamples * step, stride, step)
                    ? 1
                    : 0;
        }
    }
}

void judge_blocks(const PlaneView& view, int32_t by, int32_t columns, uint8_t* left_out) {
    switch (view.format) {
    case SampleFormat::s16:
        judge_block_row<int16_t>(view, by, columns, left_out);
        break;
    case SampleFormat::u8:
        judge_block_row<uint8_t>(view, by, columns, left_out);
        break;
    default:
        judge_block_row<uint16_t>(view, by, columns, left_out);
    }
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

// The mean brightness of block (bx, by) in working units.
float brightness_of(const Light& light, int32_t bx, int32_t by) {
    const int32_t x0 = bx * kNoiseBlockSamples, y0 = by * kNoiseBlockSamples;
    return light_mean(light, x0, y0, x0 + kNoiseBlockSamples, y0 + kNoiseBlockSamples);
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
        judge_blocks(*m.view, by, out.columns,
                     out.left_out + static_cast<int64_t>(by) * out.columns);
        if (out.detail)
            for (int32_t bx = 0; bx < out.columns; ++bx)
                out.detail[static_cast<int64_t>(by) * out.columns + bx] =
                    detail_of(m.plane, bx, by);
        if (out.brightness)
            for (int32_t bx = 0; bx < out.columns; ++bx)
                out.brightness[static_cast<int64_t>(by) * out.columns + bx] =
                    brightness_of(m.light, bx, by);
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
                          const Light& light, const Executor& ex, NoiseBlocks& out) {
    Measure m = {&k, &view, light,
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
