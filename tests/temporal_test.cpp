// The temporal engine: block motion on known shifts, the error map of a thresholded plane, and
// the weights, cut guard and average of temporal_average on pictures whose answer is known.
#include "engine/temporal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/motion_search.h"
#include "tests/wavelet_test_support.h"
#include "tools/velmora/sample/split_mix64.h"

namespace {

using namespace velmora;

// Random values `step` samples apart, blended between: one octave of a textured picture.
std::vector<int> octave(int w, int h, int step, int amplitude, SplitMix64& rng) {
    const int gw = w / step + 2, gh = h / step + 2;
    std::vector<int> grid(static_cast<size_t>(gw) * gh), out(static_cast<size_t>(w) * h);
    for (int& g : grid) g = rng.uniform(-amplitude, amplitude);
    const auto at = [&](int i, int j) { return grid[static_cast<size_t>(i) * gw + j]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int gy = y / step, gx = x / step, fy = y % step, fx = x % step;
            const int top = at(gy, gx) * (step - fx) + at(gy, gx + 1) * fx;
            const int bottom = at(gy + 1, gx) * (step - fx) + at(gy + 1, gx + 1) * fx;
            out[static_cast<size_t>(y) * w + x] = (top * (step - fy) + bottom * fy) / (step * step);
        }
    return out;
}

// A textured 8-bit picture with detail at every scale, as natural ones have, so that a block
// matches only where it came from at every level of the pyramid.
std::vector<uint8_t> texture(int w, int h, uint64_t seed) {
    SplitMix64 rng{seed};
    const std::vector<int> large = octave(w, h, 32, 70, rng), medium = octave(w, h, 8, 30, rng);
    std::vector<uint8_t> v(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<uint8_t>(
            std::clamp(128 + large[i] + medium[i] + rng.uniform(-8, 8), 0, 255));
    return v;
}

// `src` moved so that out(y, x) = src(y + dy, x + dx), edges repeated.
std::vector<uint8_t> moved(const std::vector<uint8_t>& src, int w, int h, int dy, int dx) {
    std::vector<uint8_t> out(src.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out[static_cast<size_t>(y) * w + x] =
                src[static_cast<size_t>(std::clamp(y + dy, 0, h - 1)) * w +
                    std::clamp(x + dx, 0, w - 1)];
    return out;
}

PlaneView view(std::vector<uint8_t>& v, int w, int h) {
    return {v.data(), 1, w, w, h, SampleFormat::u8};
}

struct Pyramid {
    std::vector<uint8_t> memory;
    MotionPyramid p;
    Pyramid(std::vector<uint8_t>& pilot, int w, int h, const Executor& ex)
        : memory(static_cast<size_t>(motion_pyramid_bytes(w, h))) {
        p = lay_out_motion_pyramid(memory.data(), w, h);
        build_motion_pyramid(view(pilot, w, h), p, ex);
    }
};

std::vector<BlockVector> vectors_between(std::vector<uint8_t>& a, std::vector<uint8_t>& b, int w,
                                         int h, int distance, int threads,
                                         const KernelSet& k = scalar_kernels) {
    const Executor ex = serial_executor(threads);
    Pyramid pa(a, w, h, ex), pb(b, w, h, ex);
    std::vector<BlockVector> v(static_cast<size_t>(motion_columns(w)) * motion_rows(h));
    search_motion(k, pa.p, pb.p, distance, v.data(), ex);
    return v;
}

bool same_vectors(const std::vector<BlockVector>& a, const std::vector<BlockVector>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(BlockVector)) == 0);
}

TEST(MotionSearch, FindsTheShiftOfEveryBlockInsideWhateverTheThreadCount) {
    const int w = 96, h = 64;
    std::vector<uint8_t> a = texture(w, h, 1);
    // Shifts that stay whole at a quarter size, where the search starts.
    for (const auto& [dy, dx] : {std::pair{4, -4}, std::pair{-8, 4}, std::pair{0, 12}}) {
        std::vector<uint8_t> b = moved(a, w, h, -dy, -dx);  // a's content found at +(dy, dx)
        const std::vector<BlockVector> one = vectors_between(a, b, w, h, 3, 1);
        // Every block whose content lies inside both pictures, with a block to spare.
        for (int by = 1; by < motion_rows(h) - 1; ++by)
            for (int bx = 1; bx < motion_columns(w) - 1; ++bx) {
                if (bx * 8 + dx < 8 || bx * 8 + dx + 16 > w || by * 8 + dy < 8 ||
                    by * 8 + dy + 16 > h)
                    continue;
                const BlockVector v = one[static_cast<size_t>(by) * motion_columns(w) + bx];
                EXPECT_EQ(v.y, dy) << by << "," << bx;
                EXPECT_EQ(v.x, dx) << by << "," << bx;
            }
        for (int threads = 2; threads <= 4; ++threads)
            for (const KernelSet* k : available_tables())
                EXPECT_TRUE(same_vectors(one, vectors_between(a, b, w, h, 3, threads, *k)))
                    << threads << " threads, " << k->name;
    }
}

// Shifts of any parity, noise on both pictures, blocks at the edges (whose candidates reach
// outside and are summed with the edges repeated) and every distance the command line uses:
// every kernel table finds the plain table's vectors, and inside the pictures more than half of
// the blocks find the true shift (on noisy texture the quarter-size search sometimes locks on
// another).
TEST(MotionSearch, EveryKernelTableFindsThePlainTablesVectors) {
    const int w = 120, h = 72;
    SplitMix64 rng{77};
    std::vector<uint8_t> a = texture(w, h, 7);
    for (const auto& [dy, dx] : {std::pair{1, -3}, std::pair{-5, 2}, std::pair{3, 7}}) {
        std::vector<uint8_t> b = moved(a, w, h, -dy, -dx);
        for (uint8_t& v : b) v = static_cast<uint8_t>(std::clamp(v + rng.uniform(-3, 3), 0, 255));
        for (int distance = 1; distance <= 8; ++distance) {
            const std::vector<BlockVector> plain = vectors_between(a, b, w, h, distance, 1);
            for (const KernelSet* k : available_tables())
                ASSERT_TRUE(same_vectors(plain, vectors_between(a, b, w, h, distance, 2, *k)))
                    << dy << "," << dx << " distance " << distance << ", " << k->name;
            int found = 0, inside = 0;
            for (int by = 2; by < motion_rows(h) - 2; ++by)
                for (int bx = 2; bx < motion_columns(w) - 2; ++bx, ++inside) {
                    const BlockVector v = plain[static_cast<size_t>(by) * motion_columns(w) + bx];
                    found += v.y == dy && v.x == dx;
                }
            EXPECT_GT(found * 2, inside) << dy << "," << dx << " distance " << distance;
        }
    }
}

TEST(MotionSearch, FlatPicturesAndTinyPicturesKeepTheZeroVector) {
    const int w = 40, h = 24;
    std::vector<uint8_t> flat(static_cast<size_t>(w) * h, 100);
    for (const BlockVector v : vectors_between(flat, flat, w, h, 4, 2)) {
        EXPECT_EQ(v.y, 0);
        EXPECT_EQ(v.x, 0);
    }
    // A picture smaller than a block has no blocks; the search writes nothing.
    std::vector<uint8_t> tiny = texture(5, 3, 2);
    EXPECT_EQ(motion_columns(5) * motion_rows(3), 0);
    EXPECT_TRUE(vectors_between(tiny, tiny, 5, 3, 1, 3).empty());
}

// The error map after thresholding with every coefficient kept, and with every one removed.
TEST(ThresholdedErrorMap, KeptCoefficientsCarryTheirNoiseAndRemovedOnesNone) {
    const int w = 64, h = 48;
    std::vector<uint8_t> samples = texture(w, h, 3);
    std::vector<float> memory(static_cast<size_t>(engine_memory_floats(w, h, 1)) + 4);
    float* aligned = reinterpret_cast<float*>((reinterpret_cast<uintptr_t>(memory.data()) + 15) &
                                              ~uintptr_t{15});
    const Executor ex = serial_executor(1);
    Engine e = make_engine(scalar_kernels, aligned, w, h, 1);
    const ErrorMapLayout layout = error_map_layout(w, h, 0, 0);
    ASSERT_EQ(layout.columns, 8);
    ASSERT_EQ(layout.rows, 6);
    std::vector<float> map(static_cast<size_t>(error_map_floats(layout)));

    load(e, view(samples, w, h), ex);
    forward(e, ex);
    SubbandThresholds none = {};  // 0: every coefficient kept
    threshold(e, none, ex);
    thresholded_error_map(e, 10.0f, layout, map.data(), ex);
    // Kept everywhere: sigma^2 times the sum of the squared gains spread over their samples,
    // close to 1 for a nearly orthonormal transform.
    for (float v : map) EXPECT_NEAR(v, 100.0f, 8.0f);
    EXPECT_EQ(map.front(), map.back());

    SubbandThresholds all;
    for (auto& level : all.value)
        for (float& x : level) x = 1e30f;
    load(e, view(samples, w, h), ex);
    forward(e, ex);
    threshold(e, all, ex);
    thresholded_error_map(e, 10.0f, layout, map.data(), ex);
    const float low = 0.9612037f;
    for (float v : map) EXPECT_NEAR(v, 100.0f * low * low / 1024.0f, 1e-4f);
}

// A window of pictures for temporal_average: one plane, noisy and pilot samples, error maps.
struct Window {
    int w, h;
    std::vector<std::vector<uint8_t>> noisy, pilot;
    std::vector<std::vector<float>> error;
    std::vector<Pyramid> pyramids;
    std::vector<TemporalPicture> pictures;

    Window(int w_, int h_) : w(w_), h(h_) {}
    void add(std::vector<uint8_t> n, std::vector<uint8_t> p, float e) {
        noisy.push_back(std::move(n));
        pilot.push_back(std::move(p));
        error.emplace_back(error_map_floats(error_map_layout(w, h, 0, 0)), e);
    }
    // Views once every picture is added (the vectors no longer move).
    void finish(const Executor& ex) {
        pyramids.reserve(pilot.size());
        for (size_t i = 0; i < pilot.size(); ++i) {
            pyramids.emplace_back(pilot[i], w, h, ex);
            TemporalPicture t = {};
            t.plane[0] = {view(noisy[i], w, h), view(pilot[i], w, h), error[i].data()};
            t.pyramid = &pyramids[i].p;
            pictures.push_back(t);
        }
    }
    int average(int threads, std::vector<float>& out, std::vector<float>& ratio,
                const KernelSet& k = scalar_kernels) {
        const Executor ex = serial_executor(threads);
        TemporalShape shape = {};
        shape.planes = 1;
        shape.width[0] = w;
        shape.height[0] = h;
        shape.averaged[0] = true;
        std::vector<std::max_align_t> memory(
            static_cast<size_t>(
                temporal_memory_bytes(shape, static_cast<int>(pictures.size()) - 1, threads)) /
                sizeof(std::max_align_t) +
            1);
        out.assign(static_cast<size_t>(w) * h, -1.0f);
        ratio.assign(out.size(), -1.0f);
        std::vector<int> distances;
        for (size_t i = 1; i < pictures.size(); ++i) distances.push_back(static_cast<int>(i));
        float* const averaged[3] = {out.data()};
        float* const ratios[3] = {ratio.data()};
        return temporal_average(k, shape, pictures[0], pictures.data() + 1, distances.data(),
                                static_cast<int>(pictures.size()) - 1, averaged, ratios,
                                memory.data(), ex);
    }
};

TEST(TemporalAverage, MatchingNeighboursAreAveragedWithFullWeight) {
    const int w = 48, h = 40;
    Window win(w, h);
    const std::vector<uint8_t> pilot = texture(w, h, 4);
    for (int i = 0; i < 4; ++i) win.add(texture(w, h, 10 + i), pilot, 2.0f);
    win.finish(serial_executor(1));
    std::vector<float> out, ratio;
    EXPECT_EQ(win.average(1, out, ratio), 3);
    for (size_t i = 0; i < out.size(); ++i) {
        const float sum = ((float(win.noisy[0][i]) * 16.0f + float(win.noisy[1][i]) * 16.0f) +
                           float(win.noisy[2][i]) * 16.0f) +
                          float(win.noisy[3][i]) * 16.0f;
        ASSERT_EQ(out[i], sum / 4.0f) << i;
        ASSERT_EQ(ratio[i], 0.25f) << i;
    }
    for (int threads = 2; threads <= 4; ++threads)
        for (const KernelSet* k : available_tables()) {
            std::vector<float> again, ratio_again;
            EXPECT_EQ(win.average(threads, again, ratio_again, *k), 3);
            EXPECT_EQ(again, out) << k->name;
            EXPECT_EQ(ratio_again, ratio) << k->name;
        }
}

TEST(TemporalAverage, TheGuardLeavesOutAPictureOfAnotherScene) {
    const int w = 48, h = 40;
    Window win(w, h);
    const std::vector<uint8_t> scene = texture(w, h, 5), other = texture(w, h, 6);
    win.add(texture(w, h, 20), scene, 2.0f);
    win.add(texture(w, h, 21), other, 2.0f);  // a cut
    win.add(texture(w, h, 22), scene, 2.0f);  // the same scene again
    win.finish(serial_executor(2));
    std::vector<float> out, ratio;
    EXPECT_EQ(win.average(2, out, ratio), 1);
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i], (float(win.noisy[0][i]) * 16.0f + float(win.noisy[2][i]) * 16.0f) / 2.0f);
        ASSERT_EQ(ratio[i], 0.5f);
    }
}

TEST(TemporalAverage, WeightsFallWhereThePilotsDifferBeyondTheirErrors) {
    const int w = 48, h = 40;
    Window win(w, h);
    std::vector<uint8_t> pilot(static_cast<size_t>(w) * h, 100), changed = pilot;
    // Left: a difference of 1 step (D = 1), within errors of 1 + 1: full weight. Right: 3
    // steps (D = 9, r = 4.4, ex = 6.9): no weight. The boundary column gets a part.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) changed[static_cast<size_t>(y) * w + x] = x < 26 ? 101 : 103;
    win.add(std::vector<uint8_t>(pilot.size(), 50), pilot, 1.0f);
    win.add(std::vector<uint8_t>(pilot.size(), 70), changed, 1.0f);
    win.finish(serial_executor(1));
    std::vector<float> out, ratio;
    // The mean weight, (25 + 0.41) / 48, just passes the guard.
    const int used = win.average(1, out, ratio);
    ASSERT_EQ(used, 1);
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(out[static_cast<size_t>(y) * w + 2], (50.0f * 16 + 70.0f * 16) / 2);
        EXPECT_EQ(out[static_cast<size_t>(y) * w + w - 3], 50.0f * 16);
        EXPECT_EQ(ratio[static_cast<size_t>(y) * w + w - 3], 1.0f);
    }
}

}  // namespace
