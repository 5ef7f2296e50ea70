// The engine's own interface: several engines at once on several threads, learning from boxes
// of any size, and the order statistic behind the noise estimate.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "engine/order_statistic.h"
#include "engine/track_units.h"
#include "tests/wavelet_test_support.h"
#include "threads/thread_pool.h"

namespace {

using namespace velmora;

// One engine's job: its own memory, pool, kernel table, plane size, format and thresholds.
struct Job {
    int width, height, threads;
    SampleFormat format;
    float strength;  // threshold in track units at every level
    const KernelSet* kernels;
    uint64_t seed;
};

std::vector<uint16_t> noisy_plane(const Job& job) {
    SplitMix64 rng{job.seed};
    const int32_t top = sample_maximum(job.format);
    std::vector<uint16_t> samples(static_cast<size_t>(job.width) * job.height);
    for (int y = 0; y < job.height; ++y)
        for (int x = 0; x < job.width; ++x) {
            const int32_t v = (x * 37 + y * 11) % (top + 1) / 2 + rng.uniform(0, top / 8);
            samples[static_cast<size_t>(y) * job.width + x] =
                static_cast<uint16_t>(std::min(v, top));
        }
    return samples;
}

// Filters the job's plane `repeats` times with engine `e`, stage by stage, and returns the last
// result.
std::vector<uint16_t> run(Engine& e, const Job& job, int repeats) {
    ThreadPool pool(job.threads);
    const std::vector<uint16_t> input = noisy_plane(job);
    int32_t entries[kTrackEntries];
    std::fill(std::begin(entries), std::end(entries), static_cast<int32_t>(job.strength));
    std::vector<uint16_t> out;
    for (int r = 0; r < repeats; ++r) {
        out = input;
        const PlaneView view = {out.data(), 1, job.width, job.width, job.height, job.format};
        load(e, view, pool.executor());
        forward(e, pool.executor());
        threshold(e, thresholds_from_tracks(entries, e.levels), pool.executor());
        inverse(e, pool.executor());
        store(e, view, pool.executor());
    }
    return out;
}

// The same with an engine of its own over memory of engine_memory_floats.
std::vector<uint16_t> run(const Job& job, int repeats) {
    AlignedFloats memory(
        static_cast<size_t>(engine_memory_floats(job.width, job.height, job.threads)));
    Engine e = make_engine(*job.kernels, memory.data(), job.width, job.height, job.threads);
    return run(e, job, repeats);
}

TEST(Engines, RunConcurrentlyOnTwoThreadsWithTheBitsOfEachAlone) {
    const Job jobs[2] = {
        {333, 201, 2, SampleFormat::u16, 40000.0f, &best_kernels(), 5},
        {160, 97, 3, SampleFormat::u10, 3000.0f, &scalar_kernels, 6},
    };
    const std::vector<uint16_t> alone[2] = {run(jobs[0], 1), run(jobs[1], 1)};
    ASSERT_NE(alone[0], noisy_plane(jobs[0])) << "nothing was filtered";
    ASSERT_NE(alone[1], noisy_plane(jobs[1])) << "nothing was filtered";
    std::vector<uint16_t> together[2];
    std::thread first([&] { together[0] = run(jobs[0], 25); });
    std::thread second([&] { together[1] = run(jobs[1], 60); });
    first.join();
    second.join();
    EXPECT_EQ(together[0], alone[0]);
    EXPECT_EQ(together[1], alone[1]);
}

TEST(Engines, AnyExecutorAndKernelTableGiveTheSameBits) {
    Job job = {97, 64, 4, SampleFormat::u8, 600.0f, &scalar_kernels, 9};
    const std::vector<uint16_t> reference = run(job, 1);
    ASSERT_NE(reference, noisy_plane(job)) << "nothing was filtered";
    for (const KernelSet* table : available_tables())
        for (int threads : {1, 2, 4}) {
            job.kernels = table;
            job.threads = threads;
            EXPECT_EQ(run(job, 1), reference) << table->name << ", " << threads << " threads";
        }
}

TEST(Engines, OverACallersPlaneStagesStayInItsLayoutWithTheSameBits) {
    // The plane and the smallest scratch slices, then a guard that no stage may touch.
    constexpr float kGuard = 1234.5f;
    constexpr size_t kGuardFloats = 64;
    for (int threads : {1, 2, 5}) {
        const Job job = {150, 70, threads, SampleFormat::u12, 900.0f, &best_kernels(), 12};
        const int32_t W = padded_size(job.width), H = padded_size(job.height);
        const int64_t area = int64_t{W} * H, slice = scratch_floats_per_thread(W, H);
        AlignedFloats memory(static_cast<size_t>(area + slice * threads) + kGuardFloats);
        for (size_t i = memory.size() - kGuardFloats; i < memory.size(); ++i) memory[i] = kGuard;
        const TransformPlane plane = {memory.data(), W, H, memory.data() + area,
                                      static_cast<int32_t>(slice)};
        Engine e = engine_over_plane(*job.kernels, plane, threads);
        EXPECT_EQ(run(e, job, 2), run(job, 1)) << threads << " threads";
        for (size_t i = memory.size() - kGuardFloats; i < memory.size(); ++i)
            ASSERT_EQ(memory[i], kGuard) << threads << " threads: float " << i << " overwritten";
    }
}

// The largest magnitude of the block positions whose footprint lies inside the box, by brute
// force over every position of every block.
SubbandThresholds expected_maxima(TestPlane& plane, const Box& box) {
    SubbandThresholds m = {};
    for (int l = 0; l < kLevels; ++l) {
        const int32_t w2 = plane.W >> (l + 1), h2 = plane.H >> (l + 1), step = 2 << l;
        const int32_t x0[3] = {w2, 0, w2}, y0[3] = {0, h2, h2};
        for (int o = 0; o < 3; ++o)
            for (int32_t i = 0; i < h2; ++i)
                for (int32_t j = 0; j < w2; ++j) {
                    const bool inside =
                        int64_t{j} * step >= box.x && int64_t{j + 1} * step <= box.x + box.width &&
                        int64_t{i} * step >= box.y && int64_t{i + 1} * step <= box.y + box.height;
                    if (inside)
                        m.value[l][o] =
                            std::max(m.value[l][o], std::fabs(plane.at(x0[o] + j, y0[o] + i)));
                }
    }
    return m;
}

TEST(Engines, LearnFromBoxesOfAnySizeAndPlace) {
    TestPlane plane(192, 128);
    SplitMix64 rng{71};
    for (size_t i = 0; i < plane.size(); ++i) plane.data[i] = mixed_value(rng);
    plane.forward(2);
    const Box boxes[] = {{0, 0, 128, 128}, {33, 17, 128, 64},  {1, 1, 2, 2},
                         {64, 32, 3, 5},   {-40, -7, 100, 60}, {150, 90, 200, 200},
                         {500, 0, 64, 64}, {0, 0, 192, 128}};
    for (const Box& box : boxes) {
        const SubbandThresholds got = box_maxima(*plane.kernels, plane.view(), box, kLevels);
        const SubbandThresholds want = expected_maxima(plane, box);
        for (int l = 0; l < kLevels; ++l)
            for (int o = 0; o < 3; ++o)
                EXPECT_EQ(bits_of(got.value[l][o]), bits_of(want.value[l][o]))
                    << "box " << box.x << "," << box.y << " " << box.width << "x" << box.height
                    << " level " << l << " orientation " << o;
    }
}

TEST(OrderStatistic, AgreesWithSortingForEveryRank) {
    SplitMix64 rng{3};
    for (int trial = 0; trial < 40; ++trial) {
        const int cols = rng.uniform(1, 37), rows = rng.uniform(1, 23),
                  stride = cols + rng.uniform(0, 5);
        std::vector<float> data(static_cast<size_t>(stride) * rows);
        for (float& v : data) {
            switch (rng.uniform(0, 5)) {
            case 0:
                v = -0.0f;
                break;
            case 1:
                v = static_cast<float>(rng.uniform(-3, 3));
                break;  // many ties
            case 2:
                v = rng.uniform(0, 1) ? INFINITY : -INFINITY;
                break;
            case 3:
                v = mixed_value(rng) * 1.0e-40f;
                break;  // denormals
            default:
                v = mixed_value(rng);
            }
        }
        std::vector<float> magnitudes;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x)
                magnitudes.push_back(std::fabs(data[static_cast<size_t>(y) * stride + x]));
        std::sort(magnitudes.begin(), magnitudes.end());
        for (size_t k = 0; k < magnitudes.size(); ++k)
            ASSERT_EQ(bits_of(kth_smallest_magnitude(data.data(), stride, cols, rows,
                                                     static_cast<int64_t>(k))),
                      bits_of(magnitudes[k]))
                << "trial " << trial << ", rank " << k;
    }
}

}  // namespace
