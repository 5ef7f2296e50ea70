// How fast each worker thread has lately done its share of a pass, so that the next passes are
// shared in proportion. The processors a machine gives its threads do not always run at one
// speed (a virtual machine's share of its host, cores of two kinds), and a pass shared equally
// waits for the slowest. Only the shares follow the speeds: the bits never depend on them.
#pragma once

#include <chrono>
#include <cstdint>

#include "wavelet/transform_plane.h"

namespace velmora {

struct ThreadSpeeds {
    static constexpr int kThreads = 16;
    static constexpr uint16_t kEqual = 1024;
    uint16_t weight[kThreads];  // relative speeds, kEqual for the average thread
};

ThreadSpeeds equal_speeds();

// Speeds for each level's forward and inverse pass apart. A pass's rows cost each thread
// differently by where they lie (which processor's caches hold what the pass before left), not
// only by how fast the processor runs, and each pass learns its own shares.
struct PassSpeeds {
    ThreadSpeeds forward[kLevels];
    ThreadSpeeds inverse[kLevels];
};

PassSpeeds equal_pass_speeds();

// The weights to share a pass among T threads by (weighted_share), or null (equal shares) for
// more threads than kept.
const uint16_t* share_weights(const ThreadSpeeds& speeds, int T);

// Learns from a pass of `items` shared among T threads by share_weights(speeds, T), in which
// thread t was busy for busy[t] seconds: each weight moves halfway to the thread's measured
// speed, within a sixteenth to four times the average. Shares of fewer than 32 items measure
// too little to go by: a pass with no larger share teaches nothing, and a thread whose share is
// that small moves halfway back to the average instead, so that a thread once slow (taken off
// its processor by a busy machine in the middle of its share) gets a share large enough to be
// timed again.
void learn_speeds(ThreadSpeeds& speeds, int T, int32_t items, const double* busy);

// Runs thread t's share of a pass by `work()`, recording its time in busy[t] when t is one of
// the threads kept.
template <class Work>
void timed_share(double* busy, int t, Work&& work) {
    if (t < 0 || t >= ThreadSpeeds::kThreads) return work();
    const auto start = std::chrono::steady_clock::now();
    work();
    busy[t] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace velmora
