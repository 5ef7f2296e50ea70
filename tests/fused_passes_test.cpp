// The fused passes (analyse, synthesise) against the stage-by-stage ones, bit for bit: every
// plane size from one sample up, odd sizes and power-of-two widths, every sample format, level
// count, kernel table and thread count, with the workers of each stage run in either order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/track_units.h"
#include "tests/wavelet_test_support.h"
#include "threads/thread_pool.h"

namespace {

using namespace velmora;

// Runs the shares of a stage from the last thread index to the first: the workers of one stage
// must not depend on each other's order.
Executor reverse_executor(int threads) {
    const auto run_all = [](void* self, WorkerFunction fn, void* context) {
        const int count = static_cast<int>(reinterpret_cast<std::intptr_t>(self));
        for (int t = count - 1; t >= 0; --t) fn(t, count, context);
    };
    return {threads, run_all, reinterpret_cast<void*>(static_cast<std::intptr_t>(threads))};
}

// Samples of one plane in any format: 16-bit words (s16 interleaved three to a pixel, like the
// plug-in's components) or bytes, with a row stride wider than the plane.
struct Samples {
    SampleFormat format;
    int width, height;
    std::vector<uint16_t> words;
    std::vector<uint8_t> bytes;

    int32_t sample_stride() const { return format == SampleFormat::s16 ? 3 : 1; }
    ptrdiff_t row_stride() const { return static_cast<ptrdiff_t>(width) * sample_stride() + 5; }

    Samples(SampleFormat f, int w, int h, uint64_t seed) : format(f), width(w), height(h) {
        SplitMix64 rng{seed};
        const size_t count = static_cast<size_t>(row_stride()) * h + 3;
        const int32_t top = sample_maximum(f);
        auto sample = [&](int x, int y) {
            // A slope, an edge, and noise: coefficients of every size.
            const int32_t base = (x * 53 + y * 29) % (top / 2 + 1) + (x > w / 2 ? top / 3 : 0);
            return std::min<int32_t>(top, base + rng.uniform(0, top / 10 + 1));
        };
        if (f == SampleFormat::u8) {
            bytes.assign(count, 0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) bytes[y * row_stride() + x] = sample(x, y);
        } else {
            words.assign(count, 0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int32_t v = sample(x, y);
                    words[y * row_stride() + x * sample_stride()] =
                        static_cast<uint16_t>(f == SampleFormat::s16 ? v - 16384 : v);
                }
        }
    }

    PlaneView view() {
        void* base = format == SampleFormat::u8 ? static_cast<void*>(bytes.data())
                                                : static_cast<void*>(words.data());
        return {base, sample_stride(), row_stride(), width, height, format};
    }
    bool operator==(const Samples& o) const { return words == o.words && bytes == o.bytes; }
};

// An engine with its own memory for planes up to w x h, `threads` threads and `levels` levels.
struct TestEngine {
    AlignedFloats memory;
    Engine e;
    TestEngine(const KernelSet& k, int w, int h, int threads, int levels)
        : memory(static_cast<size_t>(engine_memory_floats(w, h, threads))),
          e(make_engine(k, memory.data(), w, h, threads, levels)) {}
    size_t plane_floats() const { return static_cast<size_t>(e.plane.W) * e.plane.H; }
};

// Thresholds in working units at every level and orientation that keep some coefficients and
// zero others, with a few blocks left alone (0, negative, NaN); never the finest D block.
SubbandThresholds mixed_thresholds(float base, uint64_t seed) {
    SplitMix64 rng{seed};
    SubbandThresholds x = {};
    for (int l = 0; l < kLevels; ++l)
        for (int o = 0; o < 3; ++o) {
            switch (l == 0 && o == 2 ? 9 : rng.uniform(0, 9)) {
            case 0:
                x.value[l][o] = 0.0f;
                break;
            case 1:
                x.value[l][o] = -5.0f;
                break;
            case 2:
                x.value[l][o] = std::numeric_limits<float>::quiet_NaN();
                break;
            default:
                x.value[l][o] =
                    base * (1.0f + 2.0f * unit(rng)) * std::sqrt(static_cast<float>(1 << l));
            }
        }
    return x;
}

struct Case {
    int width, height;
    SampleFormat format;
    int levels;
};

// The stage-by-stage reference: the plane after forward, and the samples after the rest.
struct Reference {
    std::vector<float> coefficients;
    Samples out;
};

Reference stage_by_stage(const Case& c, Samples in, const SubbandThresholds& x) {
    TestEngine t(scalar_kernels, c.width, c.height, 1, c.levels);
    const Executor ex = serial_executor(1);
    const PlaneView view = in.view();
    load(t.e, view, ex);
    forward(t.e, ex);
    std::vector<float> coefficients(t.e.plane.data, t.e.plane.data + t.plane_floats());
    threshold(t.e, x, ex);
    inverse(t.e, ex);
    store(t.e, view, ex);
    return {coefficients, in};
}

// About the size of the noise's coefficients in working units.
float strength_of(SampleFormat f) {
    return static_cast<float>((sample_maximum(f) / 10) << working_shift(f));
}

const SampleFormat kFormats[] = {SampleFormat::u8, SampleFormat::u10, SampleFormat::u12,
                                 SampleFormat::u16, SampleFormat::s16};

TEST(FusedPasses, EqualTheStagesForEverySizeFormatTableAndThreadCount) {
    const std::pair<int, int> sizes[] = {{1, 1},     {2, 3},    {5, 1},     {1, 40},   {31, 33},
                                         {32, 32},   {33, 17},  {64, 300},  {97, 64},  {160, 97},
                                         {203, 117}, {333, 65}, {2048, 36}, {4096, 33}};
    int round = 0;
    for (auto [w, h] : sizes) {
        for (int levels : {5, 1 + round % 4}) {
            const Case c = {w, h, kFormats[round % 5], levels};
            ++round;
            const Samples input(c.format, w, h, 100 + round);
            const SubbandThresholds x = mixed_thresholds(strength_of(c.format), round);
            const Reference want = stage_by_stage(c, input, x);
            // A plane of a few samples has too few coefficients to lose any.
            if (w * h >= 64) {
                ASSERT_FALSE(want.out == input)
                    << w << "x" << h << " not filtered, format " << static_cast<int>(c.format)
                    << " levels " << levels;
            }
            for (const KernelSet* k : available_tables()) {
                for (int threads : {1, 2, 3, 4, 9}) {
                    SCOPED_TRACE(testing::Message()
                                 << w << "x" << h << " format " << static_cast<int>(c.format)
                                 << " levels " << levels << " " << k->name << " threads "
                                 << threads);
                    TestEngine t(*k, w, h, threads, levels);
                    Samples out = input;
                    const PlaneView view = out.view();
                    const Executor ex =
                        threads % 2 ? serial_executor(threads) : reverse_executor(threads);
                    analyse(t.e, view, ex);
                    ASSERT_EQ(first_difference(t.e.plane.data, want.coefficients.data(),
                                               t.plane_floats()),
                              -1);
                    synthesise(t.e, x, view, ex);
                    ASSERT_TRUE(out == want.out);
                }
            }
        }
    }
}

TEST(FusedPasses, AnyThreadCountFromOneToNineGivesTheSameBits) {
    const Case c = {181, 143, SampleFormat::u10, 5};
    const Samples input(c.format, c.width, c.height, 7);
    const SubbandThresholds x = mixed_thresholds(strength_of(c.format), 7);
    const Reference want = stage_by_stage(c, input, x);
    for (int threads = 1; threads <= 9; ++threads) {
        for (const KernelSet* k : available_tables()) {
            TestEngine t(*k, c.width, c.height, threads, c.levels);
            Samples out = input;
            ThreadPool pool(threads);
            denoise(t.e, out.view(), x, pool.executor());
            EXPECT_TRUE(out == want.out) << k->name << ", " << threads << " threads";
        }
    }
}

// The rows shared by the threads' speeds instead of equally: lopsided weights, a thread with
// nothing to do, and the weights the engine learns from its own timing on the way.
TEST(FusedPasses, SharesByThreadSpeedGiveTheSameBits) {
    const Case c = {203, 117, SampleFormat::u12, 5};
    const Samples input(c.format, c.width, c.height, 9);
    const SubbandThresholds x = mixed_thresholds(strength_of(c.format), 9);
    const Reference want = stage_by_stage(c, input, x);
    const uint16_t lopsided[][4] = {{64, 4096, 64, 4096}, {4096, 64, 1024, 700}, {1, 1, 9000, 1}};
    for (const KernelSet* k : available_tables()) {
        for (int threads : {2, 3, 4}) {
            for (const auto& weights : lopsided) {
                TestEngine t(*k, c.width, c.height, threads, c.levels);
                t.e.speeds = lopsided_pass_speeds(weights, threads);
                ThreadPool pool(threads);
                for (int repeat = 0; repeat < 3; ++repeat) {
                    Samples out = input;
                    denoise(t.e, out.view(), x, pool.executor());
                    ASSERT_TRUE(out == want.out) << k->name << ", " << threads << " threads";
                }
            }
        }
    }
}

// The fused and the stage-by-stage halves meet where their coefficients do: analyse, measure,
// threshold stage by stage, synthesise keeping everything; and load, forward, synthesise.
TEST(FusedPasses, MixWithTheStagesAndKeepThePlaneForAnotherSynthesis) {
    const Case c = {250, 90, SampleFormat::u16, 5};
    const Samples input(c.format, c.width, c.height, 9);
    const SubbandThresholds x = mixed_thresholds(strength_of(c.format), 9);
    const SubbandThresholds keep = {};
    const Reference want = stage_by_stage(c, input, x);
    const Reference untouched = stage_by_stage(c, input, keep);
    for (const KernelSet* k : available_tables()) {
        SCOPED_TRACE(k->name);
        TestEngine t(*k, c.width, c.height, 3, c.levels);
        const Executor ex = serial_executor(3);
        Samples out = input;
        analyse(t.e, out.view(), ex);
        const float noise = estimate_noise(t.e);
        threshold(t.e, x, ex);
        synthesise(t.e, keep, out.view(), ex);
        EXPECT_TRUE(out == want.out) << "analyse, threshold, synthesise";

        TestEngine r(*k, c.width, c.height, 3, c.levels);
        Samples again = input;
        load(r.e, again.view(), ex);
        forward(r.e, ex);
        EXPECT_EQ(bits_of(estimate_noise(r.e)), bits_of(noise));
        synthesise(r.e, x, again.view(), ex);
        EXPECT_TRUE(again == want.out) << "load, forward, synthesise";
        // The plane was only read: a second synthesis with other thresholds starts from the
        // same coefficients.
        synthesise(r.e, keep, again.view(), ex);
        EXPECT_TRUE(again == untouched.out) << "synthesised again";
    }
}

// Planes smaller than the engine's largest, one after another in the same memory.
TEST(FusedPasses, PlanesOfDifferentSizesShareOneEngine) {
    for (const KernelSet* k : available_tables()) {
        TestEngine t(*k, 300, 200, 2, 5);
        ThreadPool pool(2);
        for (auto [w, h] : {std::pair{300, 200}, {150, 100}, {17, 199}, {300, 3}, {64, 64}}) {
            const Case c = {w, h, SampleFormat::u8, 5};
            const Samples input(c.format, w, h, w + h);
            const SubbandThresholds x = mixed_thresholds(strength_of(c.format), w);
            Samples out = input;
            denoise(t.e, out.view(), x, pool.executor());
            EXPECT_TRUE(out == stage_by_stage(c, input, x).out) << k->name << " " << w << "x" << h;
        }
    }
}

TEST(FusedPasses, EnginesRunConcurrentlyWithTheBitsOfEachAlone) {
    const Case cases[2] = {{333, 201, SampleFormat::u16, 5}, {160, 97, SampleFormat::u8, 4}};
    Samples inputs[2] = {{cases[0].format, 333, 201, 1}, {cases[1].format, 160, 97, 2}};
    const SubbandThresholds x[2] = {mixed_thresholds(6000.0f, 1), mixed_thresholds(400.0f, 2)};
    const Reference want[2] = {stage_by_stage(cases[0], inputs[0], x[0]),
                               stage_by_stage(cases[1], inputs[1], x[1])};
    Samples got[2] = {inputs[0], inputs[1]};
    auto job = [&](int i, int threads, int repeats) {
        const Case& c = cases[i];
        TestEngine t(best_kernels(), c.width, c.height, threads, c.levels);
        ThreadPool pool(threads);
        for (int r = 0; r < repeats; ++r) {
            got[i] = inputs[i];
            denoise(t.e, got[i].view(), x[i], pool.executor());
        }
    };
    std::thread first(job, 0, 2, 20);
    std::thread second(job, 1, 3, 50);
    first.join();
    second.join();
    EXPECT_TRUE(got[0] == want[0].out);
    EXPECT_TRUE(got[1] == want[1].out);
}

}  // namespace
