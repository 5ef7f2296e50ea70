#include "tools/velmora/stream/foreign_formats.h"

#include <cstdint>

namespace velmora {

namespace {

bool at(std::string_view bytes, size_t offset, std::string_view magic) {
    return bytes.size() >= offset + magic.size() && bytes.substr(offset, magic.size()) == magic;
}

// MPEG transport packets are 188 bytes, each beginning with the sync byte 0x47; M2TS puts a
// four-byte time code before each.
bool transport_stream(std::string_view bytes, size_t first) {
    for (size_t i = first; i < first + 3 * 192; i += first == 0 ? 188 : 192) {
        if (i >= bytes.size()) return i > first + 192;  // two packets at least
        if (bytes[i] != '\x47') return false;
    }
    return true;
}

}  // namespace

std::string identify_format(std::string_view b) {
    using namespace std::string_view_literals;
    if (at(b, 0, "\x1a\x45\xdf\xa3"sv)) return "a Matroska or WebM file";
    for (std::string_view box : {"ftyp"sv, "moov"sv, "mdat"sv, "wide"sv, "free"sv, "skip"sv})
        if (at(b, 4, box)) return "an MP4 or QuickTime file";
    if (at(b, 0, "RIFF"sv) && at(b, 8, "AVI "sv)) return "an AVI file";
    if (at(b, 0, "RIFF"sv) && at(b, 8, "WAVE"sv)) return "a WAV sound file";
    if (transport_stream(b, 0) || transport_stream(b, 4)) return "an MPEG transport stream";
    if (at(b, 0, "\x00\x00\x01\xba"sv)) return "an MPEG program stream";
    if (at(b, 0, "\x00\x00\x01\xb3"sv)) return "an MPEG video elementary stream";
    if (at(b, 0, "\x00\x00\x00\x01"sv) || at(b, 0, "\x00\x00\x01"sv))
        return "an H.264 or H.265 elementary stream";
    if (at(b, 0, "\x30\x26\xb2\x75\x8e\x66\xcf\x11"sv)) return "an ASF or WMV file";
    if (at(b, 0, "FLV\x01"sv)) return "an FLV file";
    if (at(b, 0, "OggS"sv)) return "an Ogg file";
    if (at(b, 0, "DKIF"sv)) return "an IVF file";
    if (at(b, 0, "\x89PNG"sv)) return "a PNG picture";
    if (at(b, 0, "\xff\xd8\xff"sv)) return "a JPEG picture";
    if (at(b, 0, "GIF8"sv)) return "a GIF picture";
    return "";
}

std::string printable(std::string_view bytes, size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes.substr(0, limit)) {
        const auto u = static_cast<uint8_t>(c);
        if (u >= 0x20 && u < 0x7f && c != '\\' && c != '\'') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    if (bytes.size() > limit) out += "...";
    return out;
}

std::string container_of_name(std::string_view name) {
    const size_t slash = name.rfind('/');
    const std::string_view base = slash == name.npos ? name : name.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot == base.npos || dot == 0) return "";
    std::string ext;
    for (char c : base.substr(dot + 1)) ext += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    struct Kind {
        std::string_view ext, container;
    };
    static constexpr Kind kinds[] = {
        {"mkv", "Matroska"}, {"mka", "Matroska"},  {"webm", "WebM"},    {"mp4", "MP4"},
        {"m4v", "MP4"},      {"mov", "QuickTime"}, {"qt", "QuickTime"}, {"avi", "AVI"},
        {"ts", "MPEG-TS"},   {"m2ts", "MPEG-TS"},  {"mts", "MPEG-TS"},  {"mpg", "MPEG"},
        {"mpeg", "MPEG"},    {"m2v", "MPEG"},      {"vob", "MPEG"},     {"flv", "FLV"},
        {"wmv", "ASF"},      {"asf", "ASF"},       {"ogv", "Ogg"},      {"ogg", "Ogg"},
        {"mxf", "MXF"},      {"3gp", "3GP"},       {"ivf", "IVF"},      {"nut", "NUT"},
        {"264", "H.264"},    {"h264", "H.264"},    {"265", "H.265"},    {"h265", "H.265"},
        {"hevc", "H.265"},   {"yuv", "raw video"}, {"gif", "GIF"},      {"png", "PNG"},
        {"jpg", "JPEG"},     {"jpeg", "JPEG"},
    };
    for (const Kind& k : kinds)
        if (ext == k.ext) return std::string(k.container);
    return "";
}

std::string shell_word(std::string_view name) {
    static constexpr std::string_view kSafe =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./+-=,:@%";
    if (!name.empty() && name.find_first_not_of(kSafe) == name.npos) return std::string(name);
    std::string out = "'";
    for (char c : name) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string decode_hint(const std::string& input, const std::string& output) {
    return "ffmpeg -i " + shell_word(input) + " -f yuv4mpegpipe - | velmora [OPTIONS] - " +
           shell_word(output);
}

std::string encode_hint(const std::string& input, const std::string& output) {
    return "velmora [OPTIONS] " + shell_word(input) + " - | ffmpeg -f yuv4mpegpipe -i - " +
           shell_word(output);
}

}  // namespace velmora
