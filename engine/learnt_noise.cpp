#include "engine/learnt_noise.h"

namespace velmora {

namespace {

// Whether [begin, begin + 8) lies within [from, from + length).
bool block_within(int64_t begin, int64_t from, int32_t length) {
    return begin >= from && begin + kNoiseBlockSamples <= from + length;
}

struct Scratch {
    float* values;        // the spatial values, a float per block
    float* level;         // noise_level's scratch, as many
    float* band_values;   // noise_band_value_floats
    float* band_scratch;  // band_factor_scratch_floats
    uint8_t* outside;     // a byte per block
};

Scratch lay_out(int32_t columns, int32_t rows, float* memory) {
    const int64_t blocks = static_cast<int64_t>(columns) * rows;
    const BandEvidence one = {columns, rows, nullptr};
    Scratch s;
    s.values = memory;
    s.level = s.values + blocks;
    s.band_values = s.level + blocks;
    s.band_scratch = s.band_values + noise_band_value_floats(columns, rows);
    s.outside = reinterpret_cast<uint8_t*>(s.band_scratch + band_factor_scratch_floats(&one, 1));
    return s;
}

}  // namespace

int64_t learnt_noise_scratch_floats(int32_t columns, int32_t rows) {
    const int64_t blocks = static_cast<int64_t>(columns) * rows;
    const BandEvidence one = {columns, rows, nullptr};
    return 2 * blocks + noise_band_value_floats(columns, rows) +
           band_factor_scratch_floats(&one, 1) + (blocks + 3) / 4;
}

LearntNoise learn_noise(const NoiseBlocks& frame, const Box& box, float* scratch) {
    const Scratch s = lay_out(frame.columns, frame.rows, scratch);
    // The blocks outside the box are left out as those that tell nothing are.
    for (int32_t by = 0; by < frame.rows; ++by)
        for (int32_t bx = 0; bx < frame.columns; ++bx) {
            const int64_t at = static_cast<int64_t>(by) * frame.columns + bx;
            const bool inside = block_within(int64_t{bx} * kNoiseBlockSamples, box.x, box.width) &&
                                block_within(int64_t{by} * kNoiseBlockSamples, box.y, box.height);
            s.outside[at] = frame.left_out[at] || !inside;
        }
    NoiseBlocks in_box = frame;
    in_box.left_out = s.outside;
    LearntNoise out;
    const int64_t count = spatial_noise_values(in_box, s.values);
    out.level = noise_level(s.values, count, nullptr, 0, -1.0, nullptr, s.level);
    if (!out.level.found) return out;
    // Sure: the user has said the box holds noise alone.
    out.level.certainty = NoiseCertainty::weak_texture;
    out.level.weak_values = count;
    if (frame.bands) {
        spatial_band_values(in_box, s.band_values);
        const BandEvidence evidence = {frame.columns, frame.rows, s.band_values};
        out.bands = measure_band_factors(&evidence, 1, s.band_scratch);
    }
    return out;
}

}  // namespace velmora
