// Other video formats at velmora's edges: naming what an input that is not YUV4MPEG2 is, from
// its first bytes, and recognising output names of formats velmora does not write, so that the
// user is pointed at ffmpeg instead of getting binary noise or a mislabelled file.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// What the first bytes of a stream are, when they show a known format ("a Matroska or WebM
// file", "an MP4 or QuickTime file", ...); empty when unknown.
std::string identify_format(std::string_view first_bytes);

// Up to `limit` bytes as printable ASCII: other bytes, the backslash and the quote written as
// \xNN, and "..." when there is more.
std::string printable(std::string_view bytes, size_t limit = 40);

// The container format an output name's extension stands for ("Matroska" for .mkv, "raw video"
// for .yuv, ...), case-insensitively; empty for .y4m and every name velmora may write.
std::string container_of_name(std::string_view name);

// A shell word for a file name: as it is when it holds only safe characters, else quoted.
std::string shell_word(std::string_view name);

// The commands that bring a foreign input through ffmpeg into velmora and velmora's stream out
// through ffmpeg into a container.
std::string decode_hint(const std::string& input, const std::string& output);
std::string encode_hint(const std::string& input, const std::string& output);

}  // namespace velmora
