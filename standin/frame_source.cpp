#include "standin/frame_source.h"

namespace {

// Sum of four uniforms: a cheap, platform-independent bell curve of the given half-width.
int32_t bell(SplitMix64& rng, int32_t half_width) {
    int32_t sum = 0;
    for (int i = 0; i < 4; ++i) sum += rng.uniform(-half_width, half_width);
    return sum / 2;
}

int16_t clamp16(int32_t v) {
    return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

PIXEL_YC smooth_pixel(int x, int y) {
    const int32_t luma = 400 + (x * 5 + y * 3) % 3200;
    const int32_t cb = ((x * 2 - y) % 1600) - 800;
    const int32_t cr = ((y * 2 + x) % 1200) - 600;
    return {clamp16(luma), clamp16(cb), clamp16(cr)};
}

int16_t extreme_sample(SplitMix64& rng) {
    constexpr int16_t picks[8] = {-32768, 32767, 0, -1, 4096, -32767, 32766, 1};
    const uint64_t r = rng.next();
    return (r & 3) == 0 ? static_cast<int16_t>(r >> 16) : picks[(r >> 8) & 7];
}

void fill_extremes(PIXEL_YC* pixels, int64_t count, uint64_t seed) {
    SplitMix64 rng{seed};
    for (int64_t i = 0; i < count; ++i)
        pixels[i] = {extreme_sample(rng), extreme_sample(rng), extreme_sample(rng)};
}

}  // namespace

bool parse_frame_kind(const std::string& name, FrameKind& kind) {
    if (name == "noisy") kind = FrameKind::noisy;
    else if (name == "random") kind = FrameKind::random;
    else if (name == "smooth") kind = FrameKind::smooth;
    else if (name == "extremes") kind = FrameKind::extremes;
    else return false;
    return true;
}

void fill_frame(PIXEL_YC* pixels, int w, int h, int max_w, int max_h, uint64_t seed,
                FrameKind kind) {
    if (kind == FrameKind::extremes) return fill_extremes(pixels, int64_t{max_w} * max_h, seed);
    SplitMix64 rng{seed};
    for (int y = 0; y < max_h; ++y) {
        for (int x = 0; x < max_w; ++x) {
            PIXEL_YC& p = pixels[static_cast<int64_t>(y) * max_w + x];
            const bool visible = x < w && y < h;
            if (!visible || kind == FrameKind::random) {
                p = {clamp16(rng.uniform(-32768, 32767)), clamp16(rng.uniform(-32768, 32767)),
                     clamp16(rng.uniform(-32768, 32767))};
                continue;
            }
            p = smooth_pixel(x, y);
            if (kind == FrameKind::noisy) {
                p.y = clamp16(p.y + bell(rng, 96));
                p.cb = clamp16(p.cb + bell(rng, 64));
                p.cr = clamp16(p.cr + bell(rng, 64));
            }
        }
    }
}

uint64_t fnv1a(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint64_t hash = 0xCBF29CE484222325ull;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash;
}
