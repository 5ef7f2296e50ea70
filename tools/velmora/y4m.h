// YUV4MPEG2 streams: the stream header, FRAME headers and planar picture data, read from and
// written to file descriptors. Header lines are kept byte for byte so that they pass through
// unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/plane_view.h"

namespace velmora {

// A problem with the input stream; the message names where (stream header or frame number).
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The output was closed by its reader (EPIPE).
class BrokenPipe : public std::exception {};

// A failed read or write of a file, with the system's reason.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Subsampling { s420, s422, s444, s411, mono };

constexpr int kMaxDimension = 16384;

struct StreamFormat {
    int width = 0;
    int height = 0;
    Subsampling subsampling = Subsampling::s420;
    SampleFormat format = SampleFormat::u8;
    bool full_range = false;               // XCOLORRANGE=FULL
    std::string colour_space = "420jpeg";  // the C parameter's value, as written
    std::string header;                    // the whole header line, line end included

    int planes() const { return subsampling == Subsampling::mono ? 1 : 3; }
    int plane_width(int p) const;
    int plane_height(int p) const;
    // Horizontal and vertical subsampling shifts of plane p.
    int shift_x(int p) const;
    int shift_y(int p) const;
    size_t plane_bytes(int p) const;
    size_t plane_offset(int p) const;
    size_t frame_bytes() const;
};

// Parses a stream header line (without its line end). Throws InputError.
StreamFormat parse_stream_header(std::string_view line);

// The C parameter for a subsampling and sample format, as ffmpeg writes it ("420jpeg",
// "444p16", "mono12", ...).
std::string colour_space_name(Subsampling s, SampleFormat f);

// A stream header line (with its line end) for a picture size, colour space and frame rate.
std::string make_stream_header(int width, int height, Subsampling s, SampleFormat f,
                               int rate_num = 25, int rate_den = 1);

// Planar picture data of one frame, with views of its planes for the engine.
struct Frame {
    std::string header;  // the FRAME line, line end included
    std::vector<uint8_t> data;

    PlaneView plane(const StreamFormat& f, int p);
    uint8_t* plane_data(const StreamFormat& f, int p) { return data.data() + f.plane_offset(p); }
    // Sample (x, y) of plane p.
    uint32_t sample(const StreamFormat& f, int p, int x, int y) const;
    void set_sample(const StreamFormat& f, int p, int x, int y, uint32_t v);
};

// Reads a stream from a file descriptor, buffering header lines and reading picture data
// straight into the frame.
class Y4mReader {
public:
    explicit Y4mReader(int fd) : fd_(fd) {}

    StreamFormat read_header();
    // The next frame into `frame` (sized to the format); false at the end of the stream. Throws
    // InputError for a malformed or truncated frame.
    bool read_frame(const StreamFormat& format, Frame& frame);
    // Frames read so far: the number of the next frame.
    int64_t frames_read() const { return frames_; }
    // Bytes taken from the stream so far.
    int64_t bytes_read() const { return consumed_; }

private:
    // Fills the buffer; false at the end of the stream.
    bool refill();
    // A line of at most `limit` bytes, line end included. Empty at the end of the stream;
    // without a line end when the stream ends inside it or the limit is reached.
    std::string read_line(size_t limit);
    size_t read_bytes(uint8_t* dst, size_t n);

    int fd_;
    static constexpr size_t kBufferBytes = size_t{1} << 16;
    std::unique_ptr<char[]> buffer_{new char[kBufferBytes]};  // not cleared: only read where filled
    size_t begin_ = 0, end_ = 0;
    int64_t frames_ = 0;
    int64_t consumed_ = 0;
};

// Writes all of `data`; throws BrokenPipe on EPIPE and IoError on any other failure.
void write_all(int fd, const void* data, size_t size);

}  // namespace velmora
