// The whole command on any byte stream: options chosen by the first bytes, the stream made of
// the rest. It either writes a stream or says why not, never leaves output behind a refused
// stream (but the whole frames before the damage with --keep-partial), and never reads or
// writes outside its buffers. It runs on one thread: thread counts are the frame handler
// target's concern, and a pool per input would cost more than the rest.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "standin/fuzz_input.h"
#include "tools/velmora/command/app.h"
#include "tools/velmora/stream/y4m.h"

namespace {

// Output files live in a private folder, on tmpfs where there is one, removed at exit.
char folder_name[] = "/dev/shm/velmora-fuzz-XXXXXX";
char fallback_name[] = "/tmp/velmora-fuzz-XXXXXX";
const char* folder_made = nullptr;

void remove_folder() {
    for (const char* file : {"/out.y4m", "/preview.png", ""})
        std::remove((std::string(folder_made) + file).c_str());
}

const std::string& folder() {
    static const std::string path = [] {
        folder_made = mkdtemp(folder_name);
        if (!folder_made) folder_made = mkdtemp(fallback_name);
        if (!folder_made) __builtin_trap();
        std::atexit(remove_folder);
        return std::string(folder_made);
    }();
    return path;
}

std::string number(FuzzInput& in, int lo, int hi) { return std::to_string(in.range(lo, hi)); }

// The options, and whether the frames before damage are kept. New choices take the bits of
// bytes that older choices leave unused, so that the committed corpus keeps its meaning.
std::vector<std::string> options(FuzzInput& in, bool& keep_partial) {
    std::vector<std::string> args = {"velmora", "--quiet"};
    const uint8_t strength = in.byte();
    keep_partial = (strength / 6) & 1;
    if (keep_partial) args.push_back("--keep-partial");
    switch ((strength / 12) & 3) {
    case 1:
        args.insert(args.end(), {"--start", "1"});
        break;
    case 2:
        args.insert(args.end(), {"--frames", "1"});
        break;
    case 3:
        args.insert(args.end(), {"--start", "1", "--frames", "2"});
        break;
    default:
        break;
    }
    // Bits 48 and 96: exact mode chosen outright; measured luma with given chroma.
    if ((strength / 48) & 1) args.insert(args.end(), {"--mode", "exact"});
    switch (strength % 6) {
    case 0:
        if ((strength / 96) & 1)
            args.insert(args.end(), {"--sigma-luma", "auto", "--sigma-chroma", number(in, 0, 40)});
        else
            args.insert(args.end(), {"--sigma", number(in, 0, 40)});
        break;
    case 1:
        args.insert(args.end(), {"--sigma-luma", number(in, 0, 40), "--k", number(in, 0, 9)});
        break;
    case 2:
        args.insert(args.end(), {"--auto-every", number(in, 1, 3)});
        break;
    case 3: {
        std::string tracks = number(in, 0, 2) + ":";
        for (int i = 0; i < 15; ++i) tracks += (i ? "," : "") + number(in, 0, 4096);
        args.insert(args.end(), {"--tracks", tracks});
        break;
    }
    case 4:
        args.insert(args.end(), {"--learn", number(in, 0, 200) + "," + number(in, 0, 200)});
        if (in.byte() & 1) args.push_back("--learn-every-frame");
        break;
    default:
        break;  // --auto
    }
    if (in.byte() % 4 == 0) args.insert(args.end(), {"--view", "coefficients"});
    if (in.byte() % 4 == 0) args.push_back("--verbose");
    if (const uint8_t preview = in.byte(); preview % 8 == 0) {
        args.insert(args.end(),
                    {"--preview", folder() + "/preview.png", "--preview-frame", number(in, 0, 2)});
        if (preview & 8) args.push_back("--preview-diff");
        if (preview & 16) args.insert(args.end(), {"--preview-crop", "8x4+1+3"});
    }
    return args;
}

// A whole number of frames after a stream header, as --keep-partial leaves.
bool whole_stream(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool whole = true;
    try {
        velmora::Y4mReader reader(fd);
        const velmora::StreamFormat format = reader.read_header();
        velmora::Frame frame;
        while (reader.read_frame(format, frame)) {
        }
    } catch (const velmora::InputError&) {
        whole = false;
    }
    close(fd);
    return whole;
}

struct Outcome {
    int status;
    std::string output;
};

std::string read_whole(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

Outcome run(std::vector<std::string> args, const std::string& input) {
    const std::string output = folder() + "/out.y4m";
    std::remove(output.c_str());
    args.insert(args.end(), {"--threads", "1", input, output});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Outcome o;
    o.status = velmora::velmora_main(static_cast<int>(args.size()), argv.data());
    o.output = read_whole(output);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    bool keep_partial = false;
    const std::vector<std::string> args = options(in, keep_partial);
    const int fd = memfd_create("stream", 0);
    if (fd < 0) return 0;
    const size_t rest = size - in.pos;
    if (write(fd, data + in.pos, rest) != static_cast<ssize_t>(rest)) {
        close(fd);
        return 0;
    }
    const std::string input = "/proc/self/fd/" + std::to_string(fd);
    const Outcome o = run(args, input);
    close(fd);
    // A refused stream leaves no output, or with --keep-partial only whole frames.
    if (o.status == 2 && !o.output.empty() &&
        (!keep_partial || !whole_stream(folder() + "/out.y4m")))
        __builtin_trap();
    return 0;
}
