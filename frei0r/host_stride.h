// ffmpeg's frei0r filter (libavfilter 8: ffmpeg 5.0 and 5.1) hands over the address of a
// frame's first row and nothing of the rows' stride, which it pads to 64 bytes: at a width
// that is not a multiple of 16 the filter takes the padded rows for packed ones, so it filters
// a sheared picture (less well) and never writes the output's last rows, which stay black (6
// rows at 1366 x 768, 10 at 721 x 481). The frei0r interface says nothing of the host, but the
// caller of f0r_construct can be looked up: libavfilter.so.8 is that filter.
#pragma once

#include <cstdint>

namespace velmora {

// Whether frames `width` wide from a host calling from `caller_file` (a shared object or
// program, as the dynamic linker names it) lose their last rows that way.
bool host_drops_rows(const char* caller_file, uint32_t width);

// On the first instance of the process for which host_drops_rows holds, with `caller` an
// address in the host's code, one line on standard error: what happens and the remedies.
void warn_if_host_drops_rows(const void* caller, uint32_t width, uint32_t height);

}  // namespace velmora
