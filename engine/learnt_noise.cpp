#include "engine/learnt_noise.h"

namespace velmora {

namespace {

// Whether [begin, begin + 8) lies within [from, from + length).
bool block_within(int64_t begin, int64_t from, int32_t length) {
    return begin >= from && begin + kNoiseBlockSamples <= from + length;
}

// Where each part of the scratch lies, in floats from its start.
struct Scratch {
    int64_t values;        // the spatial values, a float per block
    int64_t level;         // noise_level's scratch, as many
    int64_t band_values;   // noise_band_value_floats
    int64_t band_scratch;  // band_factor_scratch_floats
    int64_t outside;       // a byte per block
    int64_t total;
};

Scratch lay_out(int32_t columns, int32_t rows) {
    const int64_t blocks = static_cast<int64_t>(columns) * rows;
    const BandEvidence one = {columns, rows, nullptr};
    Scratch s;
    s.values = 0;
    s.level = s.values + blocks;
    s.band_values = s.level + blocks;
    s.band_scratch = s.band_values + noise_band_value_floats(columns, rows);
    s.outside = s.band_scratch + band_factor_scratch_floats(&one, 1);
    s.total = s.outside + (blocks + 3) / 4;
    return s;
}

}  // namespace

int64_t learnt_noise_scratch_floats(int32_t columns, int32_t rows) {
    return lay_out(columns, rows).total;
}

LearntNoise learn_noise(const NoiseBlocks& frame, const Box& box, float* scratch) {
    const Scratch at = lay_out(frame.columns, frame.rows);
    float* const values = scratch + at.values;
    float* const band_values = scratch + at.band_values;
    uint8_t* const outside = reinterpret_cast<uint8_t*>(scratch + at.outside);
    // The blocks outside the box are left out as those that tell nothing are.
    for (int32_t by = 0; by < frame.rows; ++by)
        for (int32_t bx = 0; bx < frame.columns; ++bx) {
            const int64_t i = static_cast<int64_t>(by) * frame.columns + bx;
            const bool inside = block_within(int64_t{bx} * kNoiseBlockSamples, box.x, box.width) &&
                                block_within(int64_t{by} * kNoiseBlockSamples, box.y, box.height);
            outside[i] = frame.left_out[i] || !inside;
        }
    NoiseBlocks in_box = frame;
    in_box.left_out = outside;
    LearntNoise out;
    const int64_t count = spatial_noise_values(in_box, values);
    out.level = noise_level(values, count, nullptr, 0, -1.0, nullptr, scratch + at.level);
    if (!out.level.found) return out;
    // Sure: the user has said the box holds noise alone.
    out.level.certainty = NoiseCertainty::weak_texture;
    out.level.weak_values = count;
    if (frame.bands) {
        spatial_band_values(in_box, band_values);
        const BandEvidence evidence = {frame.columns, frame.rows, band_values};
        out.bands = measure_band_factors(&evidence, 1, scratch + at.band_scratch);
    }
    return out;
}

}  // namespace velmora
