// A stream of buffers through one denoiser. A buffer sent is mapped and lent to the library,
// which filters its planes in place and gives the frames back in order within latency()
// frames; until then the stream holds the buffer (mapped, with its timestamps and flags), and
// then hands it on. Not thread-safe: the element calls it from its streaming thread.
#pragma once

#include <gst/video/video.h>

#include <deque>
#include <string>

#include "velmora/velmora.h"

namespace velmora_gst {

class Stream {
public:
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream();

    // A denoiser for frames of `format`, replacing the one before (the frames it held are
    // dropped; those finished stay to be handed on).
    velmora_status open(const velmora_format& format, const velmora_settings& settings);
    bool is_open() const { return denoiser_ != nullptr; }
    const velmora_settings& settings() const { return settings_; }
    // Frames a buffer is held.
    int latency() const;

    // New settings from the next buffer on: the frames held are finished first (next() gives
    // them), as at the end of a stream.
    velmora_status change(const velmora_settings& settings);

    // Takes the buffer, made writable, and lends its frame to the denoiser.
    velmora_status send(GstBuffer* buffer, const GstVideoInfo& info, velmora_field_order order);
    // The next filtered buffer, in the order sent (the caller's); null when none is finished.
    GstBuffer* next();
    // The end of the stream: every buffer held is finished.
    velmora_status drain();
    // A flush: the buffers held are dropped, and the next one starts a fresh stream.
    void reset();

    // What the last failed call said.
    std::string error() const { return error_; }

private:
    velmora_status failed(velmora_status status, const char* what);
    void collect();
    void drop_held();
    void drop_ready();
    void close();

    VelmoraDenoiser* denoiser_ = nullptr;
    velmora_format format_ = {};
    velmora_settings settings_ = {};
    std::deque<GstVideoFrame> held_;  // lent to the denoiser, in the order sent
    std::deque<GstBuffer*> ready_;    // finished, not yet handed on
    std::string error_;
};

}  // namespace velmora_gst
