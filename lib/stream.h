// A denoiser's stream: frames taken in order, measured as they come, held for the measurement
// window's look-ahead and the temporal radius, and given back in order once filtered.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "lib/denoiser.h"
#include "lib/frame.h"
#include "lib/log.h"
#include "lib/temporal_filter.h"
#include "lib/workers.h"

namespace velmora {

class Stream {
public:
    // Settings checked by check_settings() for `shape`.
    Stream(const velmora_settings& s, const FrameShape& shape, const KernelSet& kernels);

    // Frames sent before a frame comes back (the look-ahead and the temporal radius).
    int latency() const;
    // Whether frames are held or finished and not yet received.
    bool busy() const { return !held_.empty() || !ready_.empty() || kept_ > 0; }
    bool drained() const { return drained_; }

    void send(const FrameView& frame);
    // The next finished frame; false when none is ready.
    bool receive(FrameView& frame);
    void drain();
    // Forgets the frames held and what was measured; memory is kept.
    void reset();
    // New settings (checked, with the same threads, executor and instruction set) for the
    // frames from now on; nothing may be held.
    void change(const velmora_settings& s);

    // One picture filtered on its own (nothing may be held).
    void denoise_picture(FrameView& frame);
    // Each plane's noise of `frame` on its own, in 8-bit steps; -1 where none is measurable.
    void measure(const FrameView& frame, double sigma[3]);
    PlaneLevels levels() const { return levels_; }
    // Plane p's measured noise by brightness (unknown before the first window).
    MeasuredCurve curve(int p) const { return denoiser_ ? denoiser_->curve(p) : MeasuredCurve{}; }

    // Bytes of working memory a stream of these settings holds at most.
    static int64_t memory_bytes(const velmora_settings& s, const FrameShape& shape);

private:
    void filter_first();
    void start();

    velmora_settings s_;
    FrameShape shape_;
    const KernelSet& kernels_;
    Log log_;
    Workers workers_;
    PlaneEngine engine_;
    std::optional<Denoiser> denoiser_;
    std::optional<TemporalFilter> temporal_;
    std::deque<FrameView> held_;   // measured, not yet filtered
    std::deque<FrameView> ready_;  // finished, not yet received
    int kept_ = 0;                 // in the temporal filter
    int64_t sent_ = 0, filtered_ = 0;
    bool drained_ = false;
    PlaneLevels levels_;
};

}  // namespace velmora
