// Reading, filtering and writing overlapped: a reader thread parses the next frames and a writer
// thread writes the finished ones while the calling thread filters the current one (or keeps a
// few for a while). Frames go round a fixed set of buffers and leave in the order they came.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/velmora/stream/y4m.h"

namespace velmora {

class FramePipeline {
public:
    // Reads at most `count` frames of `format` from `reader`, and writes to `output`. The
    // caller may hold up to `held` frames from next() at once before handing them on.
    FramePipeline(Y4mReader& reader, const StreamFormat& format, int output, int64_t count,
                  int64_t held = 1);
    // Stops both threads, also a reader that waits for input.
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // The next frame to filter, null at the end. Throws what reading it threw (InputError,
    // IoError) once the frames before it have been taken, and what writing threw as soon as
    // writing has failed.
    Frame* next();

    // Hands the frame from next() on to be written. Throws what writing threw (BrokenPipe,
    // IoError) once writing has failed.
    void write(Frame* frame);

    // Returns when every frame handed on is written; throws as write() does.
    void drain();

private:
    void read_frames(Y4mReader& reader, const StreamFormat& format, int64_t count);
    void write_frames(int output);
    void rethrow_write_failure();

    // The caller's frames, one being read, one written, one spare.
    std::vector<Frame> buffers_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Frame*> free_, read_, written_;
    bool reading_done_ = false;
    std::exception_ptr read_failure_, write_failure_;
    int in_writing_ = 0;  // frames handed to the writer and not yet written
    bool stopping_ = false;

    int wake_reader_[2] = {-1, -1};  // a pipe: readable once the reader must stop waiting
    std::thread reader_, writer_;
};

}  // namespace velmora
