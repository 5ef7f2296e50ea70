// One filter instance: its frame size and settings, and the working memory it makes on its first
// frame (construction must stay cheap: MLT constructs an instance of every filter at start-up
// only to read the defaults).
//
// The hosts differ from the frei0r rules in ways that shape this: MLT's slice mode calls update
// on one instance from several threads at once, and sets parameters before every update from
// its render threads; a mutex per instance keeps each call whole. Instances share nothing, so
// any number of them work at once on any threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "frei0r/frame_filter.h"
#include "frei0r/parameters.h"

namespace velmora {

class Instance {
public:
    Instance(uint32_t width, uint32_t height) : width_(width), height_(height) {}

    void set(int index, const void* value);
    void get(int index, void* value);

    // Filters a width x height RGBA frame. The first frame makes the working memory: the
    // largest working set that can be had (working_sets), and a smaller one whenever the
    // denoiser runs short. When there is none (a frame larger than the denoiser takes, or no
    // memory) the frames pass through unchanged.
    void update(const uint32_t* in, uint32_t* out);

private:
    const uint32_t width_, height_;
    std::mutex mutex_;
    Settings settings_;
    bool started_ = false;
    std::vector<WorkingSet> sets_;  // in the order tried
    size_t set_ = 0;                // the one in use or to be tried next
    std::unique_ptr<Workspace> workspace_;
};

// Workers an instance may use for a width x height frame: the processors (up to 8), but one for
// small frames, where waking workers costs more than they save.
int worker_threads(uint32_t width, uint32_t height);

// The working sets for frames that may use `threads` workers, the largest first: all workers and
// both modes' memory; then fewer workers (the same bits, more slowly); then the exact mode's
// memory alone (frames set to best are filtered in exact mode) with as many workers and fewer.
std::vector<WorkingSet> working_sets(int threads);

}  // namespace velmora
