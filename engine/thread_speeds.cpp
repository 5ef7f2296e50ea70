#include "engine/thread_speeds.h"

namespace velmora {

ThreadSpeeds equal_speeds() {
    ThreadSpeeds s;
    for (uint16_t& w : s.weight) w = ThreadSpeeds::kEqual;
    return s;
}

PassSpeeds equal_pass_speeds() {
    PassSpeeds s;
    for (ThreadSpeeds& level : s.forward) level = equal_speeds();
    for (ThreadSpeeds& level : s.inverse) level = equal_speeds();
    return s;
}

const uint16_t* share_weights(const ThreadSpeeds& speeds, int T) {
    return T >= 2 && T <= ThreadSpeeds::kThreads ? speeds.weight : nullptr;
}

void learn_speeds(ThreadSpeeds& speeds, int T, int32_t items, const double* busy) {
    const uint16_t* weights = share_weights(speeds, T);
    if (!weights) return;
    double speed[ThreadSpeeds::kThreads], sum = 0;
    int timed = 0;
    for (int t = 0; t < T; ++t) {
        if (!(busy[t] > 0)) return;
        const ItemRange share = weighted_share(items, t, T, weights);
        const bool measured = share.end - share.begin >= 32;
        speed[t] = measured ? (share.end - share.begin) / busy[t] : 0.0;
        sum += speed[t];
        timed += measured;
    }
    if (timed == 0) return;
    for (int t = 0; t < T; ++t) {
        const double measured = ThreadSpeeds::kEqual * timed * speed[t] / sum;
        const double to = speed[t] > 0 ? measured : ThreadSpeeds::kEqual;
        double w = 0.5 * speeds.weight[t] + 0.5 * to;
        if (w < ThreadSpeeds::kEqual / 16) w = ThreadSpeeds::kEqual / 16;
        if (w > 4 * ThreadSpeeds::kEqual) w = 4 * ThreadSpeeds::kEqual;
        speeds.weight[t] = static_cast<uint16_t>(w + 0.5);
    }
}

}  // namespace velmora
