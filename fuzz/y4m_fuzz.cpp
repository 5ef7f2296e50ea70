// The command line's YUV4MPEG2 reader on any byte stream: it either reads frames or reports an
// input error, and never reads or writes outside its buffers.
#include <sys/mman.h>
#include <unistd.h>

#include "tools/velmora/stream/y4m.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("y4m", 0);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return 0;
    }
    try {
        velmora::Y4mReader reader(fd);
        const velmora::StreamFormat format = reader.read_header();
        velmora::Frame frame;
        for (int i = 0; i < 4 && reader.read_frame(format, frame); ++i) {
            // The last sample of each plane as the library would be lent it.
            const velmora_picture picture = frame.picture(format);
            volatile uint8_t last = 0;
            for (int p = 0; p < format.planes(); ++p)
                last = static_cast<const uint8_t*>(
                    picture.data[p])[picture.stride[p] * (format.plane_height(p) - 1) +
                                     format.plane_width(p) * format.sample_bytes() - 1];
            (void)last;
        }
    } catch (const velmora::InputError&) {
    }
    close(fd);
    return 0;
}
