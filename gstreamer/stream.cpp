#include "gstreamer/stream.h"

#include "gstreamer/formats.h"

namespace velmora_gst {

Stream::~Stream() {
    close();
    drop_ready();
}

velmora_status Stream::open(const velmora_format& format, const velmora_settings& settings) {
    close();
    error_.clear();
    velmora_settings s = settings;
    s.log = [](void* user, velmora_log_level level, const char* message) {
        if (level == VELMORA_LOG_ERROR) *static_cast<std::string*>(user) = message;
    };
    s.log_user = &error_;
    s.log_level = VELMORA_LOG_ERROR;
    const velmora_status status = velmora_open(&denoiser_, &format, &s);
    if (status == VELMORA_OK) {
        format_ = format;
        settings_ = s;
    }
    return status;
}

int Stream::latency() const { return denoiser_ ? velmora_latency(denoiser_) : 0; }

velmora_status Stream::change(const velmora_settings& settings) {
    if (const velmora_status status = drain(); status != VELMORA_OK) return status;
    velmora_settings s = settings;
    s.log = settings_.log;
    s.log_user = settings_.log_user;
    s.log_level = settings_.log_level;
    if (s.threads != settings_.threads) {
        // The workers are the denoiser's own: another count needs another denoiser.
        VelmoraDenoiser* old = denoiser_;
        denoiser_ = nullptr;
        const velmora_status status = open(format_, s);
        velmora_close(&old);
        return status;
    }
    const velmora_status status = velmora_change_settings(denoiser_, &s);
    if (status != VELMORA_OK) return failed(status, "new settings");
    settings_ = s;
    return VELMORA_OK;
}

velmora_status Stream::send(GstBuffer* buffer, const GstVideoInfo& info,
                            velmora_field_order order) {
    buffer = gst_buffer_make_writable(buffer);
    held_.emplace_back();
    GstVideoFrame& frame = held_.back();
    const auto flags = static_cast<GstMapFlags>(static_cast<int>(GST_MAP_READWRITE) |
                                                static_cast<int>(GST_VIDEO_FRAME_MAP_FLAG_NO_REF));
    if (!gst_video_frame_map(&frame, &info, buffer, flags)) {
        held_.pop_back();
        gst_buffer_unref(buffer);
        error_ = "a buffer could not be mapped for writing";
        return VELMORA_ERROR_ARGUMENT;
    }
    const velmora_picture picture = picture_of(frame, format_, order);
    const velmora_status status = velmora_send(denoiser_, &picture);
    if (status != VELMORA_OK) {
        gst_video_frame_unmap(&frame);
        held_.pop_back();
        gst_buffer_unref(buffer);
        return failed(status, "a frame");
    }
    collect();
    return VELMORA_OK;
}

GstBuffer* Stream::next() {
    if (ready_.empty()) return nullptr;
    GstBuffer* buffer = ready_.front();
    ready_.pop_front();
    return buffer;
}

velmora_status Stream::drain() {
    if (held_.empty()) return VELMORA_OK;
    const velmora_status status = velmora_drain(denoiser_);
    if (status != VELMORA_OK) return failed(status, "the end of the stream");
    collect();
    // A drained denoiser takes the next frame as the start of a new stream.
    velmora_reset(denoiser_);
    return VELMORA_OK;
}

void Stream::reset() {
    if (denoiser_) velmora_reset(denoiser_);
    drop_held();
    drop_ready();
}

velmora_status Stream::failed(velmora_status status, const char* what) {
    error_ = std::string(what) + ": " + velmora_last_error(denoiser_);
    return status;
}

// Every frame the denoiser has finished, unmapped, in order.
void Stream::collect() {
    velmora_picture done;
    while (!held_.empty() && velmora_receive(denoiser_, &done) == VELMORA_OK) {
        GstVideoFrame& frame = held_.front();
        g_assert(done.user == &frame);
        GstBuffer* buffer = frame.buffer;
        gst_video_frame_unmap(&frame);
        held_.pop_front();
        ready_.push_back(buffer);
    }
}

void Stream::drop_held() {
    for (GstVideoFrame& frame : held_) {
        GstBuffer* buffer = frame.buffer;
        gst_video_frame_unmap(&frame);
        gst_buffer_unref(buffer);
    }
    held_.clear();
}

void Stream::drop_ready() {
    for (GstBuffer* buffer : ready_) gst_buffer_unref(buffer);
    ready_.clear();
}

// The denoiser and the frames it holds go; the finished buffers stay to be handed on.
void Stream::close() {
    if (denoiser_) velmora_reset(denoiser_);
    drop_held();
    velmora_close(&denoiser_);
}

}  // namespace velmora_gst
