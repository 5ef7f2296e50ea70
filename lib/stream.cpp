#include "lib/stream.h"

#include "engine/learnt_noise.h"
#include "engine/patch_noise.h"
#include "lib/settings.h"
#include "lib/strength.h"

namespace velmora {

Stream::Stream(const velmora_settings& s, const FrameShape& shape, const KernelSet& kernels)
    : s_(s),
      shape_(shape),
      kernels_(kernels),
      log_(s_),
      workers_(s.threads, s.executor),
      engine_(shape.plane_width(0), shape.plane_height(0), kernels, workers_) {
    start();
}

void Stream::change(const velmora_settings& s) {
    s_ = s;
    log_ = Log(s_);
    start();
}

void Stream::start() {
    temporal_.reset();
    denoiser_.reset();
    denoiser_.emplace(s_, shape_, engine_, log_);
    if (const int radius = temporal_radius(s_); radius > 0)
        temporal_.emplace(radius, shape_, kernels_, *denoiser_, workers_);
    held_.clear();
    ready_.clear();
    kept_ = 0;
    sent_ = filtered_ = 0;
    drained_ = false;
    levels_ = denoiser_->levels();
}

int Stream::latency() const {
    return static_cast<int>(denoiser_->lookahead() - 1) + temporal_radius(s_);
}

void Stream::send(const FrameView& frame) {
    denoiser_->observe(frame, sent_++);
    held_.push_back(frame);
    if (static_cast<int64_t>(held_.size()) >= denoiser_->lookahead()) filter_first();
}

void Stream::filter_first() {
    FrameView frame = held_.front();
    held_.pop_front();
    const int64_t index = filtered_++;
    if (temporal_) {
        ++kept_;
        temporal_->push(frame, index, [&](const FrameView& done, int64_t) {
            --kept_;
            ready_.push_back(done);
        });
    } else {
        denoiser_->filter(frame, index);
        ready_.push_back(frame);
    }
    levels_ = denoiser_->levels();
}

bool Stream::receive(FrameView& frame) {
    if (ready_.empty()) return false;
    frame = ready_.front();
    ready_.pop_front();
    return true;
}

void Stream::drain() {
    while (!held_.empty()) filter_first();
    if (temporal_)
        temporal_->finish([&](const FrameView& done, int64_t) {
            --kept_;
            ready_.push_back(done);
        });
    drained_ = true;
}

void Stream::reset() { start(); }

void Stream::denoise_picture(FrameView& frame) {
    start();
    denoiser_->observe(frame, 0);
    denoiser_->filter(frame, 0);
    const PlaneLevels used = denoiser_->levels();
    start();
    levels_ = used;
}

void Stream::measure(const FrameView& frame, double sigma[3]) {
    const auto first_picture = [&](const PlaneView& plane) {
        return frame.order == VELMORA_PROGRESSIVE
                   ? plane
                   : field_of(plane, frame.order == VELMORA_TOP_FIELD_FIRST ? 0 : 1);
    };
    const PlaneView luma = first_picture(frame.plane[0]);
    for (int p = 0; p < shape_.planes(); ++p) {
        NoiseWindow window(1, 1, s_.texture_as_noise != 0);
        const Light light = {luma, shape_.shift_x(p), shape_.shift_y(p)};
        window.observe(denoiser_->engine(), first_picture(frame.plane[p]), light, 0);
        int64_t last = 0;
        bool still = false;
        const NoiseLevel level = window.level_at(denoiser_->engine(), 0, last, still);
        sigma[p] = level.found ? level.sigma / working_units_per_8bit(shape_.format) : -1.0;
    }
}

int64_t Stream::memory_bytes(const velmora_settings& s, const FrameShape& f) {
    const int threads = s.executor.run ? s.executor.threads : resolved_threads(s.threads);
    const int width = f.plane_width(0), height = f.plane_height(0);
    bool measured = false;
    for (int p = 0; p < f.planes(); ++p) measured = measured || measures(s, p);
    const bool exact = s.mode == VELMORA_MODE_EXACT;
    const bool learns = !exact && s.strength == VELMORA_STRENGTH_LEARN;
    int64_t bytes =
        PlaneEngine::memory_bytes(width, height, threads, exact, !exact, measured || learns);
    if (learns) {
        // The luma plane's noise blocks with their bands, and the scratch of what they give.
        const int32_t columns = noise_blocks_along(width), rows = noise_blocks_along(height);
        const int64_t blocks = static_cast<int64_t>(columns) * rows;
        bytes += blocks * (kNoiseBlockCoefficients * kNoiseBlockCoefficients * 4 + 1) +
                 (noise_band_coefficient_floats(columns, rows) +
                  learnt_noise_scratch_floats(columns, rows)) *
                     4;
    }
    if (const int radius = temporal_radius(s); radius > 0)
        bytes += TemporalFilter::memory_bytes(radius, f, threads);
    for (int p = 0; p < f.planes(); ++p) {
        if (!measures(s, p)) continue;
        // Two frames' blocks (coefficients, left out, detail, brightness, samples); each windowed
        // frame's values (spatial and temporal, the spatial ones' detail, both kinds' brightness),
        // kept and pooled; the scratch of the level and curve (3 spatial + temporal).
        const int64_t samples = static_cast<int64_t>(f.plane_width(p)) * f.plane_height(p);
        const int64_t blocks = samples / (kNoiseBlockSamples * kNoiseBlockSamples);
        bytes += 2 * (static_cast<int64_t>(f.plane_bytes(p)) +
                      blocks * (kNoiseBlockCoefficients * kNoiseBlockCoefficients * 4 + 1 + 2 * 4));
        bytes += (s.measure_window + 1) * blocks * 5 * 4 + s.measure_window * blocks * (5 + 4) * 4;
        if (exact || s.texture_as_noise) continue;
        // Best mode's bands: two frames' band coefficients; each windowed frame's band values
        // (of its change and of itself), its blocks' detail and the usable blocks of its
        // change; a picture's values copied for its weakly textured blocks; the scratch of the
        // factors.
        const int32_t columns = noise_blocks_along(f.plane_width(p));
        const int32_t rows = noise_blocks_along(f.plane_height(p));
        const int64_t values = noise_band_value_floats(columns, rows);
        bytes += 2 * noise_band_coefficient_floats(columns, rows) * 4 + blocks;
        bytes += (s.measure_window + 1) * (2 * values * 4 + blocks * 4);
        bytes += s.measure_window * (values * 4 + blocks);
        bytes += s.measure_window * 2 * blocks * 4;
    }
    // Best mode's noise ratios where it follows a measured or given curve: a float per sample
    // of the largest plane.
    bool curve = false;
    for (int p = 0; p < f.planes(); ++p) curve = curve || has_noise_curve(s, p);
    if (!exact && ((measured && !s.texture_as_noise) || curve))
        bytes += static_cast<int64_t>(width) * height * static_cast<int64_t>(sizeof(float));
    // The coefficient view's picture, and an interlaced plane's copy.
    if (s.view_coefficients) bytes += static_cast<int64_t>(width) * height * 2 + f.plane_bytes(0);
    return bytes;
}

}  // namespace velmora
