// The stream denoiser's contract: frames back in order and cleaner, in every layout, depth and
// mode; a reset is a fresh start; a still is a stream of one frame; changed settings filter as
// freshly opened ones; a caller's executor gives the pool's bits.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>

#include "tests/library/clip.h"

namespace library_test {
namespace {

double error(const velmora_format& f, const std::vector<uint8_t>& a,
             const std::vector<uint8_t>& b) {
    double sum = 0;
    const bool deep = f.bit_depth > 8;
    const size_t n = a.size() / (deep ? 2 : 1);
    for (size_t i = 0; i < n; ++i) {
        const int x = deep ? a[2 * i] | a[2 * i + 1] << 8 : a[i];
        const int y = deep ? b[2 * i] | b[2 * i + 1] << 8 : b[i];
        sum += double(x - y) * (x - y);
    }
    return sum / static_cast<double>(n);
}

TEST(LibraryStream, EveryLayoutDepthAndModeComesBackInOrderAndCleaner) {
    const velmora_layout layouts[] = {VELMORA_LAYOUT_420, VELMORA_LAYOUT_422, VELMORA_LAYOUT_444,
                                      VELMORA_LAYOUT_411, VELMORA_LAYOUT_MONO};
    int cases = 0;
    for (velmora_layout layout : layouts)
        for (int depth : {8, 10, 12, 16})
            for (velmora_mode mode : {VELMORA_MODE_BEST, VELMORA_MODE_EXACT})
                for (double noise : {VELMORA_NOISE_MEASURED, 6.0}) {
                    const int temporal = (cases++ % 3);  // 0, 1 and 2 in turn
                    const velmora_format f = {72, 40, layout, depth};
                    const Clip clean = make_clip(f, 6, 0.0, 4);
                    const Clip noisy = make_clip(f, 6, 6.0, 4);
                    const auto out = run_stream(settings_with(mode, noise, temporal), noisy);
                    ASSERT_EQ(out.size(), noisy.frames.size());
                    for (size_t i = 0; i < out.size(); ++i)
                        EXPECT_LT(error(f, clean.frames[i], out[i]),
                                  0.8 * error(f, clean.frames[i], noisy.frames[i]))
                            << "layout " << layout << ", " << depth << " bits, mode " << mode
                            << ", noise " << noise << ", temporal " << temporal << ", frame " << i;
                }
}

TEST(LibraryStream, AResetStartsAFreshStreamAndAStillIsAStreamOfOneFrame) {
    const velmora_format f = {64, 48, VELMORA_LAYOUT_420, 8};
    for (velmora_mode mode : {VELMORA_MODE_BEST, VELMORA_MODE_EXACT}) {
        const velmora_settings s = settings_with(mode, VELMORA_NOISE_MEASURED, 2);
        const Clip first = make_clip(f, 5, 8.0), second = make_clip(f, 7, 4.0);
        Clip lent = first;
        VelmoraDenoiser* d = nullptr;
        ASSERT_EQ(velmora_open(&d, &f, &s), VELMORA_OK);
        for (int i = 0; i < 4; ++i) {  // cut off by a seek, frames still held
            const velmora_picture p = lent.picture(i);
            ASSERT_EQ(velmora_send(d, &p), VELMORA_OK);
        }
        ASSERT_EQ(velmora_reset(d), VELMORA_OK);
        velmora_picture p;
        EXPECT_EQ(velmora_receive(d, &p), VELMORA_AGAIN);
        Clip after = second;
        for (int i = 0; i < 7; ++i) {
            p = after.picture(i);
            ASSERT_EQ(velmora_send(d, &p), VELMORA_OK);
        }
        ASSERT_EQ(velmora_drain(d), VELMORA_OK);
        while (velmora_receive(d, &p) == VELMORA_OK) {
        }
        EXPECT_EQ(after.frames, run_stream(s, second)) << "mode " << mode;

        // The still after the stream, and a stream of that one frame.
        Clip still = make_clip(f, 1, 8.0);
        p = still.picture(0);
        ASSERT_EQ(velmora_denoise_picture(d, &p), VELMORA_OK) << velmora_last_error(d);
        EXPECT_EQ(still.frames, run_stream(s, make_clip(f, 1, 8.0))) << "mode " << mode;
        velmora_close(&d);
    }
}

TEST(LibraryStream, ChangedSettingsFilterAsFreshlyOpenedOnesAndTheLevelsInUseAreThose) {
    const velmora_format f = {48, 32, VELMORA_LAYOUT_444, 10};
    velmora_settings tracks = settings_with(VELMORA_MODE_EXACT, 0.0, 0);
    tracks.strength = VELMORA_STRENGTH_TRACKS;
    for (int i = 0; i < VELMORA_TRACKS; ++i) tracks.tracks[1][i] = 40 - 2 * i;
    const velmora_settings steps[] = {settings_with(VELMORA_MODE_EXACT, 3.0, 0),
                                      settings_with(VELMORA_MODE_BEST, 8.0, 0), tracks};
    VelmoraDenoiser* d = nullptr;
    ASSERT_EQ(velmora_open(&d, &f, &steps[0]), VELMORA_OK);
    for (const velmora_settings& s : steps) {
        ASSERT_EQ(velmora_change_settings(d, &s), VELMORA_OK) << velmora_last_error(d);
        Clip still = make_clip(f, 1, 6.0);
        velmora_picture p = still.picture(0);
        ASSERT_EQ(velmora_denoise_picture(d, &p), VELMORA_OK);
        EXPECT_EQ(still.frames, run_stream(s, make_clip(f, 1, 6.0))) << "mode " << s.mode;
        double sigma = -1, in_use[VELMORA_TRACKS];
        ASSERT_EQ(velmora_levels_in_use(d, 1, &sigma, in_use), VELMORA_OK);
        EXPECT_EQ(sigma, s.strength == VELMORA_STRENGTH_NOISE ? s.noise[1] : 0.0);
        if (s.strength == VELMORA_STRENGTH_TRACKS) {
            for (int i = 0; i < VELMORA_TRACKS; ++i) EXPECT_EQ(in_use[i], s.tracks[1][i]);
        }
    }
    velmora_close(&d);
}

// Runs the shares one after another, counting the calls.
struct CountingExecutor {
    std::atomic<int> calls{0};
    static void run(void* self, velmora_work_fn work, void* context) {
        auto& e = *static_cast<CountingExecutor*>(self);
        ++e.calls;
        for (int t = 0; t < 3; ++t) work(t, 3, context);
    }
};

TEST(LibraryStream, ACallersExecutorRunsThePassesWithThePoolsBits) {
    const velmora_format f = {160, 120, VELMORA_LAYOUT_420, 8};
    for (velmora_mode mode : {VELMORA_MODE_BEST, VELMORA_MODE_EXACT}) {
        velmora_settings pool = settings_with(mode, VELMORA_NOISE_MEASURED, 1);
        pool.threads = 1;
        CountingExecutor executor;
        velmora_settings caller = pool;
        caller.executor = {3, &CountingExecutor::run, &executor};
        const Clip clip = make_clip(f, 4, 5.0, 2);
        EXPECT_EQ(run_stream(caller, clip), run_stream(pool, clip)) << "mode " << mode;
        EXPECT_GT(executor.calls.load(), 0);
    }
}

}  // namespace
}  // namespace library_test
