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

// A chroma sample takes no more weight than the mean of the luma weights it covers. The pilots of
// the neighbour match the centre's exactly in chroma, and in luma everywhere but a corner, which
// differs by 3 steps (no weight) where the rest differs by 1 (full weight): chroma samples whose
// luma lies wholly in the corner keep the centre's value, those wholly outside it take the
// average of both (where the search left the blocks around in place). For every subsampling,
// sizes that do not divide, either chroma plane left out, and every thread count and kernel
// table, with the same bits throughout.
TEST(TemporalAverage, ChromaTakesNoMoreWeightThanTheLumaItCovers) {
    struct Case {
        int w, h, sx, sy;
    };
    for (const Case c : {Case{48, 40, 1, 1}, Case{45, 37, 1, 1}, Case{45, 37, 1, 0},
                         Case{41, 35, 0, 0}, Case{46, 33, 2, 0}}) {
        const int cw = (c.w + (1 << c.sx) - 1) >> c.sx, ch = (c.h + (1 << c.sy) - 1) >> c.sy;
        std::vector<uint8_t> luma = texture(c.w, c.h, 8);
        for (uint8_t& v : luma) v = std::min<uint8_t>(v, 250);
        // The corner, luma x >= bx and y >= by, differs by 3 steps, the rest by 1.
        const int bx = c.w * 2 / 3, by = c.h / 3;
        const auto corner = [&](int x, int y) { return x >= bx && y >= by; };
        std::vector<uint8_t> other = luma;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) other[y * c.w + x] += corner(x, y) ? 3 : 1;
        std::vector<uint8_t> chroma = texture(cw, ch, 9);
        const Executor one = serial_executor(1);
        Pyramid pa(luma, c.w, c.h, one), pb(other, c.w, c.h, one);
        // The search keeps nearly every block where it is; the few it moves are not judged.
        const int columns = motion_columns(c.w), rows = motion_rows(c.h);
        std::vector<BlockVector> vectors(static_cast<size_t>(columns) * rows);
        search_motion(scalar_kernels, pa.p, pb.p, 1, vectors.data(), one);
        const auto still = [&](int x, int y) {
            const BlockVector v = vectors[static_cast<size_t>(std::min(y / 8, rows - 1)) * columns +
                                          std::min(x / 8, columns - 1)];
            return v.y == 0 && v.x == 0;
        };
        // Every luma sample within one of (x, y), edges repeated, left where it is and in the
        // corner (all) or not (none).
        const auto around = [&](int x, int y, bool inside) {
            for (int i = -1; i <= 1; ++i)
                for (int j = -1; j <= 1; ++j) {
                    const int u = std::clamp(x + j, 0, c.w - 1), v = std::clamp(y + i, 0, c.h - 1);
                    if (!still(u, v) || corner(u, v) != inside) return false;
                }
            return true;
        };

        std::vector<uint8_t> noisy[2][3];
        std::vector<float> error[3];
        TemporalShape shape = {};
        shape.planes = 3;
        TemporalPicture pictures[2] = {};
        for (int p = 0; p < 3; ++p) {
            shape.width[p] = p ? cw : c.w;
            shape.height[p] = p ? ch : c.h;
            shape.shift_x[p] = p ? c.sx : 0;
            shape.shift_y[p] = p ? c.sy : 0;
            error[p].assign(error_map_floats(error_map_layout(shape.width[p], shape.height[p],
                                                              shape.shift_x[p], shape.shift_y[p])),
                            1.0f);
            for (int i = 0; i < 2; ++i) {
                noisy[i][p].assign(static_cast<size_t>(shape.width[p]) * shape.height[p],
                                   static_cast<uint8_t>(60 + 20 * i + p));
                std::vector<uint8_t>& pilot = p ? chroma : i ? other : luma;
                pictures[i].plane[p] = {view(noisy[i][p], shape.width[p], shape.height[p]),
                                        view(pilot, shape.width[p], shape.height[p]),
                                        error[p].data()};
            }
        }
        pictures[0].pyramid = &pa.p;
        pictures[1].pyramid = &pb.p;
        const int distance = 1;
        for (int left_out = 0; left_out < 3; ++left_out) {  // 0: none; else that chroma plane
            std::vector<float> first[3];
            for (int threads = 1; threads <= 4; ++threads)
                for (const KernelSet* k : available_tables()) {
                    SCOPED_TRACE(testing::Message()
                                 << c.w << "x" << c.h << " " << c.sx << c.sy << " without "
                                 << left_out << ", " << threads << " threads, " << k->name);
                    std::vector<float> out[3], ratio[3];
                    float* outs[3];
                    float* ratios[3];
                    for (int p = 0; p < 3; ++p) {
                        shape.averaged[p] = p != left_out || p == 0;
                        out[p].assign(static_cast<size_t>(shape.width[p]) * shape.height[p], -1.0f);
                        ratio[p].assign(out[p].size(), -1.0f);
                        outs[p] = out[p].data();
                        ratios[p] = ratio[p].data();
                    }
                    const Executor ex = serial_executor(threads);
                    std::vector<std::max_align_t> memory(
                        static_cast<size_t>(temporal_memory_bytes(shape, 1, threads)) /
                            sizeof(std::max_align_t) +
                        1);
                    ASSERT_EQ(temporal_average(*k, shape, pictures[0], &pictures[1], &distance, 1,
                                               outs, ratios, memory.data(), ex),
                              1);
                    for (int p = 1; p < 3; ++p) {
                        if (p == left_out) {
                            ASSERT_EQ(out[p], std::vector<float>(out[p].size(), -1.0f));
                            continue;
                        }
                        const float centre = (60.0f + p) * 16.0f, far = (80.0f + p) * 16.0f;
                        int kept = 0, averaged = 0;
                        for (int y = 0; y < ch; ++y)
                            for (int x = 0; x < cw; ++x) {
                                bool all_in = true, all_out = true;
                                for (int i = 0; i < (1 << c.sy); ++i)
                                    for (int j = 0; j < (1 << c.sx); ++j) {
                                        const int lx = std::min((x << c.sx) + j, c.w - 1);
                                        const int ly = std::min((y << c.sy) + i, c.h - 1);
                                        all_in = all_in && around(lx, ly, true);
                                        all_out = all_out && around(lx, ly, false);
                                    }
                                const size_t at = static_cast<size_t>(y) * cw + x;
                                if (all_in) {
                                    ASSERT_EQ(out[p][at], centre) << x << "," << y;
                                    ASSERT_EQ(ratio[p][at], 1.0f) << x << "," << y;
                                    ++kept;
                                } else if (all_out) {
                                    ASSERT_EQ(out[p][at], (centre + far) / 2.0f) << x << "," << y;
                                    ASSERT_EQ(ratio[p][at], 0.5f) << x << "," << y;
                                    ++averaged;
                                }
                            }
                        ASSERT_GT(kept, 0);
                        ASSERT_GT(averaged, kept);
                    }
                    if (first[0].empty())
                        for (int p = 0; p < 3; ++p) first[p] = out[p];
                    for (int p = 0; p < 3; ++p) ASSERT_EQ(out[p], first[p]) << "plane " << p;
                }
        }
    }
}

}  // namespace
