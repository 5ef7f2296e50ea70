// YUV4MPEG2 streams: the stream header, FRAME headers and planar picture data, read from and
// written to file descriptors. Header lines are kept byte for byte so that they pass through
// unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/velmora/stream/frame_buffer.h"
#include "velmora/velmora.h"

namespace velmora {

// A problem with the input stream; the message names where (stream header or frame number).
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An input that is not YUV4MPEG2 at all; the message says what it seems to be instead.
class ForeignInput : public InputError {
public:
    using InputError::InputError;
};

// The output was closed by its reader (EPIPE).
class BrokenPipe : public std::exception {};

// A read given up because another thread asked the reader to stop.
class ReadCancelled : public std::exception {};

// A failed read or write of a file, with the system's reason.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Subsampling { s420, s422, s444, s411, mono };

// How the lines of a picture were sampled: all at one instant, or as two fields (the even and
// the odd lines) at two instants, the top field (line 0) or the bottom field first. A stream
// says "mixed" when each frame says for itself.
enum class FieldOrder { progressive, top_first, bottom_first, mixed };

constexpr int kMaxDimension = 16384;

struct StreamFormat {
    int width = 0;
    int height = 0;
    Subsampling subsampling = Subsampling::s420;
    int bits = 8;                                 // 8, 10, 12 or 16 bits per sample
    bool full_range = false;                      // XCOLORRANGE=FULL
    FieldOrder fields = FieldOrder::progressive;  // the I parameter
    std::string colour_space = "420jpeg";         // the C parameter's value, as written
    std::string header;                           // the whole header line, line end included

    int planes() const { return subsampling == Subsampling::mono ? 1 : 3; }
    // The frames as the library takes them.
    velmora_format library_format() const;
    int sample_bytes() const { return bits > 8 ? 2 : 1; }
    uint32_t sample_maximum() const { return (uint32_t{1} << bits) - 1; }
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

// The field order of one frame (never mixed): the I tag of its FRAME header where that says it
// (Ixyz: x = t or T top field first, b or B bottom field first, 1, 2, 3 or p progressive; y = p
// fields sampled at one instant, so progressive), else the stream's; in a mixed stream a frame
// without such a tag is taken as top field first.
FieldOrder frame_field_order(const StreamFormat& f, std::string_view frame_header);

// The C parameter for a subsampling and sample format, as ffmpeg writes it ("420jpeg",
// "444p16", "mono12", ...).
std::string colour_space_name(Subsampling s, int bits);

// A stream header line (with its line end) for a picture size, colour space and frame rate.
std::string make_stream_header(int width, int height, Subsampling s, int bits, int rate_num = 25,
                               int rate_den = 1);

// Planar picture data of one frame, with its picture for the library.
struct Frame {
    std::string header;  // the FRAME line, line end included
    FrameBytes data;

    // The frame's planes and field order, lent to the library with the frame as its user.
    velmora_picture picture(const StreamFormat& f);
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
    // Passes over the next frame: its header is checked, its picture data skipped (seeked over
    // in a regular file). False at the end of the stream; throws InputError as read_frame does.
    bool skip_frame(const StreamFormat& format);
    // Frames read or skipped so far: the number of the next frame.
    int64_t frames_read() const { return frames_; }
    // Bytes taken from the stream so far.
    int64_t bytes_read() const { return consumed_; }
    // Where the next unread byte lies in the file; none when the input is not a regular file.
    std::optional<int64_t> file_offset() const;
    // From now on a read that waits also watches `fd`: once it is readable, the read throws
    // ReadCancelled. -1 watches nothing.
    void cancel_when_readable(int fd) { cancel_fd_ = fd; }

private:
    // The next FRAME header line; empty at the end of the stream. Throws InputError.
    std::string read_frame_header();
    // Throws InputError when only `got` of the frame's `size` picture bytes came.
    void check_picture(size_t got, size_t size) const;
    // Fills the buffer; false at the end of the stream.
    bool refill();
    // A line of at most `limit` bytes, line end included. Empty at the end of the stream;
    // without a line end when the stream ends inside it or the limit is reached.
    std::string read_line(size_t limit);
    size_t read_bytes(uint8_t* dst, size_t n);
    // At most n bytes from the input, waiting for at least one; 0 at the end of the stream.
    size_t read_some(void* dst, size_t n);

    int fd_;
    int cancel_fd_ = -1;
    static constexpr size_t kBufferBytes = size_t{1} << 16;
    std::unique_ptr<char[]> buffer_{new char[kBufferBytes]};  // not cleared: only read where filled
    size_t begin_ = 0, end_ = 0;
    int64_t frames_ = 0;
    int64_t consumed_ = 0;
    // The picture size of which a whole frame has arrived: buffers for it are then made whole
    // at once instead of growing with the data.
    size_t whole_frame_bytes_ = 0;
};

// Whole frames of the stream in the regular file `fd` from `offset` (the start of a FRAME header)
// on, counting at most `limit`: each FRAME header is read and its picture data skipped. None for
// a pipe, or when a damaged frame comes before the end or the limit (the run reports it).
std::optional<int64_t> frames_in_file(int fd, int64_t offset, size_t frame_bytes, int64_t limit);

// Writes all of `data`; throws BrokenPipe on EPIPE and IoError on any other failure.
void write_all(int fd, const void* data, size_t size);

}  // namespace velmora
