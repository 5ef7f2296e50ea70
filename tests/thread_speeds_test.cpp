// Shares of a pass by the threads' speeds: they tile the items whatever the weights, and the
// weights follow the measured speeds.
#include "engine/thread_speeds.h"

#include <gtest/gtest.h>

#include "tools/velmora/sample/split_mix64.h"
#include "wavelet/transform_plane.h"

namespace velmora {
namespace {

TEST(WeightedShares, TileTheItemsInOrderForAnyWeights) {
    SplitMix64 rng{5};
    for (int round = 0; round < 2000; ++round) {
        const int T = static_cast<int>(rng.uniform(1, 16));
        const int32_t N = static_cast<int32_t>(rng.uniform(0, 5000));
        uint16_t weights[16];
        for (int t = 0; t < T; ++t) weights[t] = static_cast<uint16_t>(rng.uniform(1, 65535));
        int32_t next = 0;
        for (int t = 0; t < T; ++t) {
            const ItemRange share = weighted_share(N, t, T, weights);
            ASSERT_EQ(share.begin, next) << "round " << round << " thread " << t;
            ASSERT_LE(share.begin, share.end);
            next = share.end;
        }
        ASSERT_EQ(next, N) << "round " << round;
    }
    // Without weights, the equal shares.
    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(weighted_share(100, t, 3, nullptr).begin, thread_share(100, t, 3).begin);
        EXPECT_EQ(weighted_share(100, t, 3, nullptr).end, thread_share(100, t, 3).end);
    }
}

TEST(ThreadSpeeds, WeightsFollowTheMeasuredSpeedsWithinBounds) {
    // Thread 1 takes twice as long per item: after a few passes it gets about a third.
    ThreadSpeeds s = equal_speeds();
    for (int pass = 0; pass < 12; ++pass) {
        const uint16_t* w = share_weights(s, 2);
        ASSERT_NE(w, nullptr);
        double busy[2];
        for (int t = 0; t < 2; ++t) {
            const ItemRange share = weighted_share(900, t, 2, w);
            busy[t] = (share.end - share.begin) * (t == 1 ? 2e-6 : 1e-6);
        }
        learn_speeds(s, 2, 900, busy);
    }
    const ItemRange slow = weighted_share(900, 1, 2, share_weights(s, 2));
    EXPECT_NEAR(slow.end - slow.begin, 300, 3);

    // A thread that seems to take no time at all gets at most four times the average, and the
    // others keep at least a sixteenth of it.
    ThreadSpeeds fast = equal_speeds();
    for (int pass = 0; pass < 40; ++pass) {
        double busy[8];
        for (double& b : busy) b = 1.0;
        busy[0] = 1e-9;
        learn_speeds(fast, 8, 3000, busy);
    }
    EXPECT_EQ(fast.weight[0], 4 * ThreadSpeeds::kEqual);
    for (int t = 1; t < 8; ++t) EXPECT_EQ(fast.weight[t], ThreadSpeeds::kEqual / 16);

    // Shares too small to measure, a thread not timed, or more threads than kept teach nothing.
    ThreadSpeeds same = equal_speeds();
    const double uneven[2] = {1.0, 3.0}, untimed[2] = {1.0, 0.0};
    learn_speeds(same, 2, 40, uneven);
    learn_speeds(same, 2, 4000, untimed);
    EXPECT_EQ(same.weight[0], ThreadSpeeds::kEqual);
    EXPECT_EQ(same.weight[1], ThreadSpeeds::kEqual);
    EXPECT_EQ(share_weights(same, 1), nullptr);
    EXPECT_EQ(share_weights(same, ThreadSpeeds::kThreads + 1), nullptr);
}

TEST(ThreadSpeeds, AThreadOnceTooSlowToTimeIsTimedAgain) {
    // Thread 1's share of the pass fell under the 32 items worth timing; it runs as fast as
    // thread 0 again, and its share comes back to half.
    ThreadSpeeds s = equal_speeds();
    s.weight[0] = 4 * ThreadSpeeds::kEqual;
    s.weight[1] = ThreadSpeeds::kEqual / 16;
    const auto share = [&](int t) {
        const ItemRange r = weighted_share(540, t, 2, share_weights(s, 2));
        return r.end - r.begin;
    };
    ASSERT_LT(share(1), 32);
    for (int pass = 0; pass < 12; ++pass) {
        const double busy[2] = {share(0) * 1e-6, share(1) * 1e-6};
        learn_speeds(s, 2, 540, busy);
    }
    EXPECT_NEAR(share(1), 270, 3);
}

}  // namespace
}  // namespace velmora
