#include "tools/velmora/stream/y4m.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/velmora/stream/foreign_formats.h"

namespace velmora {

namespace {

constexpr std::string_view kMagic = "YUV4MPEG2";
constexpr size_t kHeaderLimit = 4096;
constexpr std::string_view kOnceEach = "WHFIAC";  // stream parameters given at most once
constexpr size_t kFirstReadBytes = size_t{1} << 20;
// Enough of a foreign input to tell its format by (an MPEG transport stream needs three packets).
constexpr size_t kSniffBytes = 600;

bool starts_as_magic(std::string_view bytes) {
    const size_t n = std::min(bytes.size(), kMagic.size());
    return bytes.substr(0, n) == kMagic.substr(0, n) &&
           (bytes.size() <= kMagic.size() || bytes[kMagic.size()] == ' ' ||
            bytes[kMagic.size()] == '\t' || bytes[kMagic.size()] == '\n');
}

[[noreturn]] void foreign_input(std::string_view first_bytes) {
    const std::string kind = identify_format(first_bytes);
    if (!kind.empty()) throw ForeignInput("not a YUV4MPEG2 stream but " + kind);
    throw ForeignInput("not a YUV4MPEG2 stream (it begins with '" + printable(first_bytes, 16) +
                       "')");
}

// The field order an I parameter's letter says; none for a letter velmora does not know.
std::optional<FieldOrder> field_order_letter(char c) {
    switch (c) {
    case 't':
    case 'T':
        return FieldOrder::top_first;
    case 'b':
    case 'B':
        return FieldOrder::bottom_first;
    case 'm':
        return FieldOrder::mixed;
    case 'p':
    case 'P':
    case '1':  // a frame shown once, twice or three times: progressive
    case '2':
    case '3':
        return FieldOrder::progressive;
    default:
        return std::nullopt;
    }
}

[[noreturn]] void header_error(const std::string& what) {
    throw InputError("stream header: " + what);
}

int parse_dimension(std::string_view value, const char* name) {
    if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != value.npos)
        header_error(std::string("malformed ") + name + " '" + printable(value) + "'");
    const long v = std::stol(std::string(value));
    if (v < 1 || v > kMaxDimension)
        header_error(std::string(name) + " " + std::to_string(v) + " outside 1.." +
                     std::to_string(kMaxDimension));
    return static_cast<int>(v);
}

int checked_bits(int bits, std::string_view name) {
    if (bits == 8 || bits == 10 || bits == 12 || bits == 16) return bits;
    header_error("unsupported sample depth " + std::to_string(bits) + " bits in colour space 'C" +
                 printable(name) + "' (8, 10, 12 and 16 bits are supported)");
}

void parse_colour_space(std::string_view c, StreamFormat& f) {
    struct Base {
        std::string_view name;
        Subsampling s;
        bool deep;  // high-depth forms exist ("p10" etc. after the name, or digits for mono)
    };
    static constexpr Base bases[] = {
        {"420jpeg", Subsampling::s420, false},  {"420paldv", Subsampling::s420, false},
        {"420mpeg2", Subsampling::s420, false}, {"420", Subsampling::s420, true},
        {"422", Subsampling::s422, true},       {"444", Subsampling::s444, true},
        {"411", Subsampling::s411, false},      {"mono", Subsampling::mono, true},
    };
    for (const Base& b : bases) {
        if (c.substr(0, b.name.size()) != b.name) continue;
        std::string_view rest = c.substr(b.name.size());
        if (rest.empty()) {
            f.subsampling = b.s;
            f.bits = 8;
            return;
        }
        if (!b.deep) continue;
        if (b.s != Subsampling::mono) {
            if (rest[0] != 'p') continue;
            rest.remove_prefix(1);
        }
        if (rest.empty() || rest.size() > 2 || rest.find_first_not_of("0123456789") != rest.npos)
            continue;
        f.subsampling = b.s;
        f.bits = checked_bits(std::stoi(std::string(rest)), c);
        return;
    }
    header_error("unsupported colour space 'C" + printable(c) + "'");
}

}  // namespace

velmora_format StreamFormat::library_format() const {
    static constexpr velmora_layout kLayouts[] = {VELMORA_LAYOUT_420, VELMORA_LAYOUT_422,
                                                  VELMORA_LAYOUT_444, VELMORA_LAYOUT_411,
                                                  VELMORA_LAYOUT_MONO};
    return {width, height, kLayouts[static_cast<int>(subsampling)], bits};
}

namespace {

velmora_plane_shape shape_of(const StreamFormat& f, int p) {
    const velmora_format format = f.library_format();
    velmora_plane_shape shape = {};
    velmora_plane_shape_of(&format, p, &shape);
    return shape;
}

}  // namespace

int StreamFormat::shift_x(int p) const { return shape_of(*this, p).shift_x; }
int StreamFormat::shift_y(int p) const { return shape_of(*this, p).shift_y; }
int StreamFormat::plane_width(int p) const { return shape_of(*this, p).width; }
int StreamFormat::plane_height(int p) const { return shape_of(*this, p).height; }

size_t StreamFormat::plane_bytes(int p) const {
    return static_cast<size_t>(plane_width(p)) * plane_height(p) * sample_bytes();
}

size_t StreamFormat::plane_offset(int p) const {
    size_t offset = 0;
    for (int q = 0; q < p; ++q) offset += plane_bytes(q);
    return offset;
}

size_t StreamFormat::frame_bytes() const { return plane_offset(planes()); }

StreamFormat parse_stream_header(std::string_view line) {
    StreamFormat f;
    if (!starts_as_magic(line) || line.size() < kMagic.size())
        throw InputError("not a YUV4MPEG2 stream (it begins with '" + printable(line) + "')");
    if (line.find('\t') != line.npos)
        header_error("parameters separated by tabs; YUV4MPEG2 separates them with spaces");
    std::string seen;  // the parameters given so far
    size_t pos = kMagic.size();
    while (pos < line.size()) {
        const size_t end = std::min(line.find(' ', pos), line.size());
        const std::string_view token = line.substr(pos, end - pos);
        pos = end + 1;
        if (token.empty()) continue;
        const std::string_view value = token.substr(1);
        // The known parameters once each; X (extensions) and unknown ones pass as they are.
        if (kOnceEach.find(token[0]) != kOnceEach.npos && seen.find(token[0]) != seen.npos)
            header_error("the parameter " + printable(token.substr(0, 1)) + " is given twice");
        seen += token[0];
        switch (token[0]) {
        case 'W':
            f.width = parse_dimension(value, "width");
            break;
        case 'H':
            f.height = parse_dimension(value, "height");
            break;
        case 'C':
            f.colour_space = std::string(value);
            parse_colour_space(value, f);
            break;
        case 'X':
            if (value == "COLORRANGE=FULL") f.full_range = true;
            break;
        case 'I':
            // '?' and letters velmora does not know: progressive.
            f.fields = value.empty()
                           ? FieldOrder::progressive
                           : field_order_letter(value[0]).value_or(FieldOrder::progressive);
            break;
        default:  // frame rate, aspect and unknown parameters pass through
            break;
        }
    }
    if (seen.find('W') == seen.npos) header_error("no width (W parameter)");
    if (seen.find('H') == seen.npos) header_error("no height (H parameter)");
    return f;
}

std::string colour_space_name(Subsampling s, int bits) {
    switch (s) {
    case Subsampling::mono:
        return bits == 8 ? "mono" : "mono" + std::to_string(bits);
    case Subsampling::s411:
        return "411";
    case Subsampling::s420:
        return bits == 8 ? "420jpeg" : "420p" + std::to_string(bits);
    case Subsampling::s422:
        return bits == 8 ? "422" : "422p" + std::to_string(bits);
    case Subsampling::s444:
        return bits == 8 ? "444" : "444p" + std::to_string(bits);
    }
    return "";
}

std::string make_stream_header(int width, int height, Subsampling s, int bits, int rate_num,
                               int rate_den) {
    std::string name = colour_space_name(s, bits);
    std::string header = "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) +
                         " F" + std::to_string(rate_num) + ":" + std::to_string(rate_den) +
                         " Ip A1:1 C" + name;
    if (s != Subsampling::mono) {
        std::string upper;
        for (char c : name) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        header += " XYSCSS=" + upper;
    }
    return header + "\n";
}

FieldOrder frame_field_order(const StreamFormat& f, std::string_view header) {
    if (header.ends_with('\n')) header.remove_suffix(1);
    for (size_t pos = 0; pos < header.size();) {
        const size_t end = std::min(header.find(' ', pos), header.size());
        const std::string_view token = header.substr(pos, end - pos);
        pos = end + 1;
        if (token.size() < 2 || token[0] != 'I') continue;
        if (token.size() >= 3 && token[2] == 'p') return FieldOrder::progressive;
        // A letter velmora does not know, or "mixed", leaves it to the stream.
        if (const std::optional<FieldOrder> order = field_order_letter(token[1]);
            order && *order != FieldOrder::mixed)
            return *order;
    }
    return f.fields == FieldOrder::mixed ? FieldOrder::top_first : f.fields;
}

velmora_picture Frame::picture(const StreamFormat& f) {
    velmora_picture picture = {};
    picture.format = f.library_format();
    for (int p = 0; p < f.planes(); ++p) {
        picture.data[p] = plane_data(f, p);
        picture.stride[p] = static_cast<ptrdiff_t>(f.plane_width(p)) * f.sample_bytes();
    }
    static constexpr velmora_field_order kOrders[] = {VELMORA_PROGRESSIVE, VELMORA_TOP_FIELD_FIRST,
                                                      VELMORA_BOTTOM_FIELD_FIRST};
    picture.field_order = kOrders[static_cast<int>(frame_field_order(f, header))];
    picture.user = this;
    return picture;
}

uint32_t Frame::sample(const StreamFormat& f, int p, int x, int y) const {
    const size_t i = static_cast<size_t>(y) * f.plane_width(p) + x;
    const uint8_t* base = data.data() + f.plane_offset(p);
    if (f.bits == 8) return base[i];
    uint16_t v;
    std::memcpy(&v, base + 2 * i, 2);
    return v;
}

void Frame::set_sample(const StreamFormat& f, int p, int x, int y, uint32_t v) {
    const size_t i = static_cast<size_t>(y) * f.plane_width(p) + x;
    uint8_t* base = data.data() + f.plane_offset(p);
    if (f.bits == 8) {
        base[i] = static_cast<uint8_t>(v);
        return;
    }
    const uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(base + 2 * i, &w, 2);
}

bool Y4mReader::refill() {
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    const size_t n = read_some(buffer_.get() + end_, kBufferBytes - end_);
    end_ += n;
    return n > 0;
}

size_t Y4mReader::read_some(void* dst, size_t n) {
    for (;;) {
        if (cancel_fd_ >= 0) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {cancel_fd_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                throw IoError(std::string("cannot read the input: ") + strerror(errno));
            if (fds[1].revents) throw ReadCancelled();
        }
        const ssize_t r = ::read(fd_, dst, n);
        if (r >= 0) return static_cast<size_t>(r);
        if (errno != EINTR) throw IoError(std::string("cannot read the input: ") + strerror(errno));
    }
}

std::string Y4mReader::read_line(size_t limit) {
    std::string line;
    for (;;) {
        const char* start = buffer_.get() + begin_;
        const size_t available = end_ - begin_;
        const size_t wanted = std::min(available, limit - line.size());
        const void* nl = std::memchr(start, '\n', wanted);
        const size_t take =
            nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) + 1 : wanted;
        line.append(start, take);
        begin_ += take;
        consumed_ += static_cast<int64_t>(take);
        if (nl || line.size() >= limit) return line;
        if (!refill()) return line;
    }
}

size_t Y4mReader::read_bytes(uint8_t* dst, size_t n) {
    size_t got = std::min(n, end_ - begin_);
    std::memcpy(dst, buffer_.get() + begin_, got);
    begin_ += got;
    while (got < n) {
        const size_t r = read_some(dst + got, n - got);
        if (r == 0) break;
        got += r;
    }
    consumed_ += static_cast<int64_t>(got);
    return got;
}

StreamFormat Y4mReader::read_header() {
    // Say "not Y4M" before "truncated" when the beginning already shows which it is; a foreign
    // input is read a little further to tell what it is.
    while (end_ - begin_ <= kMagic.size() && refill()) {
    }
    const auto buffered = [&] { return std::string_view(buffer_.get() + begin_, end_ - begin_); };
    if (buffered().empty()) throw InputError("not a YUV4MPEG2 stream (the input is empty)");
    if (!starts_as_magic(buffered())) {
        while (end_ - begin_ < kSniffBytes && refill()) {
        }
        foreign_input(buffered().substr(0, kSniffBytes));
    }
    std::string line = read_line(kHeaderLimit);
    if (line.back() != '\n') {
        if (line.size() >= kHeaderLimit)
            header_error("no line end within " + std::to_string(kHeaderLimit) + " bytes");
        header_error("truncated: the stream ends inside the header");
    }
    StreamFormat f = parse_stream_header(std::string_view(line).substr(0, line.size() - 1));
    f.header = std::move(line);
    return f;
}

std::string Y4mReader::read_frame_header() {
    const std::string where = "frame " + std::to_string(frames_) + ": ";
    std::string line = read_line(kHeaderLimit);
    if (line.empty()) return line;
    if (line.compare(0, 5, "FRAME") != 0 &&
        !(line.size() < 5 && line.back() != '\n' && std::string_view("FRAME").starts_with(line)))
        throw InputError(where + "expected a FRAME header, found '" + printable(line) + "'");
    if (line.back() != '\n') {
        if (line.size() >= kHeaderLimit)
            throw InputError(where + "FRAME header without a line end within " +
                             std::to_string(kHeaderLimit) + " bytes");
        throw InputError(where + "truncated FRAME header");
    }
    if (line.size() > 6 && line[5] != ' ')
        throw InputError(where + "expected a FRAME header, found '" + printable(line) + "'");
    return line;
}

void Y4mReader::check_picture(size_t got, size_t size) const {
    const std::string where = "frame " + std::to_string(frames_) + ": ";
    if (got == 0) throw InputError(where + "FRAME header without picture data");
    if (got < size)
        throw InputError(where + "the stream ends inside the picture data (" + std::to_string(got) +
                         " of " + std::to_string(size) + " bytes)");
}

bool Y4mReader::read_frame(const StreamFormat& format, Frame& frame) {
    std::string line = read_frame_header();
    if (line.empty()) return false;
    frame.header = std::move(line);
    const size_t size = format.frame_bytes();
    // Until a whole frame has come, the buffer grows with the data that actually arrives, so
    // that a header announcing a huge picture over a short stream costs no more memory than the
    // stream holds.
    if (frame.data.size() != size)
        frame.data.resize(size == whole_frame_bytes_ ? size : std::min(size, kFirstReadBytes));
    size_t got = read_bytes(frame.data.data(), frame.data.size());
    while (got == frame.data.size() && got < size) {
        frame.data.resize(std::min(size, 2 * got));
        got += read_bytes(frame.data.data() + got, frame.data.size() - got);
    }
    check_picture(got, size);
    whole_frame_bytes_ = size;
    ++frames_;
    return true;
}

bool Y4mReader::skip_frame(const StreamFormat& format) {
    if (read_frame_header().empty()) return false;
    const size_t size = format.frame_bytes();
    size_t got = std::min(size, end_ - begin_);
    begin_ += got;
    consumed_ += static_cast<int64_t>(got);
    if (const std::optional<int64_t> offset = file_offset()) {
        struct stat st;
        if (::fstat(fd_, &st) != 0)
            throw IoError(std::string("cannot read the input: ") + strerror(errno));
        const auto rest = static_cast<int64_t>(size - got);
        const int64_t skip = std::min(rest, std::max<int64_t>(0, st.st_size - *offset));
        if (::lseek(fd_, skip, SEEK_CUR) < 0)
            throw IoError(std::string("cannot read the input: ") + strerror(errno));
        got += static_cast<size_t>(skip);
        consumed_ += skip;
    } else {
        std::vector<uint8_t> scratch(std::min(size - got, kFirstReadBytes));
        while (got < size) {
            const size_t n = read_bytes(scratch.data(), std::min(scratch.size(), size - got));
            if (n == 0) break;
            got += n;
        }
    }
    check_picture(got, size);
    whole_frame_bytes_ = size;
    ++frames_;
    return true;
}

std::optional<int64_t> Y4mReader::file_offset() const {
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0) return std::nullopt;
    return static_cast<int64_t>(position) - static_cast<int64_t>(end_ - begin_);
}

std::optional<int64_t> frames_in_file(int fd, int64_t offset, size_t frame_bytes, int64_t limit) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    char line[kHeaderLimit];
    int64_t frames = 0;
    for (; frames < limit && offset < st.st_size; ++frames) {
        const ssize_t n = ::pread(fd, line, sizeof line, offset);
        if (n <= 0) return std::nullopt;
        const void* nl = std::memchr(line, '\n', static_cast<size_t>(n));
        const std::string_view header(line, nl ? static_cast<const char*>(nl) - line : 0);
        if (!nl || !header.starts_with("FRAME") || (header.size() > 5 && header[5] != ' '))
            return std::nullopt;
        offset += static_cast<int64_t>(header.size() + 1 + frame_bytes);
        if (offset > st.st_size) return std::nullopt;
    }
    return frames;
}

void write_all(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n >= 0) {
            p += n;
            size -= static_cast<size_t>(n);
        } else if (errno == EPIPE) {
            throw BrokenPipe();
        } else if (errno != EINTR) {
            throw IoError(std::string("cannot write the output: ") + strerror(errno));
        }
    }
}

}  // namespace velmora
