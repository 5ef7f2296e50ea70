#include "tools/velmora/stream/frame_pipeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmora {

FramePipeline::FramePipeline(Y4mReader& reader, const StreamFormat& format, int output,
                             int64_t count, int64_t held)
    : buffers_(static_cast<size_t>(held < 1 ? 1 : held) + 3) {
    if (::pipe2(wake_reader_, O_CLOEXEC) != 0)
        throw IoError(std::string("cannot start reading: ") + strerror(errno));
    for (Frame& f : buffers_) free_.push_back(&f);
    reader.cancel_when_readable(wake_reader_[0]);
    reader_ = std::thread([this, &reader, &format, count] { read_frames(reader, format, count); });
    writer_ = std::thread([this, output] { write_frames(output); });
}

FramePipeline::~FramePipeline() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    const char stop = 1;
    while (::write(wake_reader_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    reader_.join();
    writer_.join();
    ::close(wake_reader_[0]);
    ::close(wake_reader_[1]);
}

void FramePipeline::read_frames(Y4mReader& reader, const StreamFormat& format, int64_t count) {
    std::exception_ptr failure;
    for (int64_t i = 0; i < count; ++i) {
        Frame* frame = nullptr;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !free_.empty(); });
            if (stopping_) break;
            frame = free_.front();
            free_.pop_front();
        }
        bool got = false;
        try {
            got = reader.read_frame(format, *frame);
        } catch (const ReadCancelled&) {
            break;
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        if (!got) {
            free_.push_back(frame);
            break;
        }
        read_.push_back(frame);
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    reading_done_ = true;
    read_failure_ = failure;
    changed_.notify_all();
}

void FramePipeline::write_frames(int output) {
    for (;;) {
        Frame* frame = nullptr;
        bool failed = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !written_.empty(); });
            if (written_.empty()) return;
            frame = written_.front();
            written_.pop_front();
            failed = write_failure_ != nullptr;
        }
        std::exception_ptr failure;
        if (!failed) {  // after a failure the frames only go back to be reused
            try {
                write_all(output, frame->header.data(), frame->header.size());
                write_all(output, frame->data.data(), frame->data.size());
            } catch (...) {
                failure = std::current_exception();
            }
        }
        std::lock_guard lock(mutex_);
        if (failure) write_failure_ = failure;
        free_.push_back(frame);
        --in_writing_;
        changed_.notify_all();
    }
}

Frame* FramePipeline::next() {
    std::unique_lock lock(mutex_);
    // A failed write ends the run at once, also while the input keeps the reader waiting.
    changed_.wait(lock, [&] { return !read_.empty() || reading_done_ || write_failure_; });
    rethrow_write_failure();
    if (!read_.empty()) {
        Frame* frame = read_.front();
        read_.pop_front();
        return frame;
    }
    if (read_failure_) std::rethrow_exception(read_failure_);
    return nullptr;
}

void FramePipeline::rethrow_write_failure() {
    if (write_failure_) std::rethrow_exception(write_failure_);
}

void FramePipeline::write(Frame* frame) {
    std::lock_guard lock(mutex_);
    written_.push_back(frame);
    ++in_writing_;
    changed_.notify_all();
    rethrow_write_failure();
}

void FramePipeline::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return in_writing_ == 0; });
    rethrow_write_failure();
}

}  // namespace velmora
