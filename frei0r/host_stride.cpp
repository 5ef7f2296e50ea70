#include "frei0r/host_stride.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace velmora {

bool host_drops_rows(const char* caller_file, uint32_t width) {
    if (caller_file == nullptr || width % 16 == 0) return false;
    const char* slash = std::strrchr(caller_file, '/');
    const char* name = slash ? slash + 1 : caller_file;
    return std::strcmp(name, "libavfilter.so.8") == 0 ||
           std::strncmp(name, "libavfilter.so.8.", 17) == 0;
}

void warn_if_host_drops_rows(const void* caller, uint32_t width, uint32_t height) {
    static std::atomic<bool> warned{false};
    if (warned.load(std::memory_order_relaxed)) return;
    Dl_info info;
    if (dladdr(caller, &info) == 0 || !host_drops_rows(info.dli_fname, width)) return;
    if (warned.exchange(true)) return;
    std::fprintf(stderr,
                 "velmora.so: ffmpeg's frei0r filter passes %ux%u frames without their row "
                 "stride: at a width that is not a multiple of 16 the last rows come back black "
                 "and the rest is filtered less well. Pad to a multiple of 16 columns and crop "
                 "back (-vf \"pad=%u:ih,frei0r=filter_name=velmora,crop=%u:ih:0:0\"), or pipe "
                 "Y4M through the velmora tool\n",
                 width, height, (width + 15) / 16 * 16, width);
}

}  // namespace velmora
