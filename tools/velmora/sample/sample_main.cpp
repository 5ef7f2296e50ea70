// velmora-sample: makes noisy YUV4MPEG2 test streams from a PNG picture or a synthetic one, and
// measures the PSNR between two streams. Used by the demo, the speed measurement and by hand.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/velmora/files/output_file.h"
#include "tools/velmora/sample/sample_source.h"

using namespace velmora;

namespace {

const char* kUsage =
    "Usage: velmora-sample [--image PNG] [--size WxH] [--colour 420|422|444|mono]\n"
    "                      [--depth 8|10|12|16] [--frames N] [--sigma S] [--seed N] OUT.y4m\n"
    "       velmora-sample --psnr A.y4m B.y4m\n"
    "The first form writes N frames of the picture (a synthetic one without --image) with fresh\n"
    "Gaussian noise of S 8-bit steps in every frame. The second prints the PSNR of B against A\n"
    "in dB over all samples of all frames.\n";

int open_or_die(const std::string& name) {
    if (name == "-") return STDIN_FILENO;
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw IoError("cannot open '" + name + "': " + strerror(errno));
    return fd;
}

int compare(const std::string& a_name, const std::string& b_name) {
    Y4mReader a(open_or_die(a_name)), b(open_or_die(b_name));
    const StreamFormat fa = a.read_header(), fb = b.read_header();
    if (fa.width != fb.width || fa.height != fb.height || fa.colour_space != fb.colour_space)
        throw IoError("the two streams differ in size or colour space");
    Frame x, y;
    ErrorSum total;
    while (a.read_frame(fa, x)) {
        if (!b.read_frame(fb, y)) throw IoError("the second stream has fewer frames");
        total += error_sum(fa, x, y);
    }
    if (total.samples == 0) throw IoError("no frames");
    std::printf("%.3f\n", psnr(fa, total));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (!args.empty() && args[0] == "--psnr") {
            if (args.size() != 3) throw IoError("--psnr needs two streams");
            return compare(args[1], args[2]);
        }
        std::string image_path, out;
        int width = 0, height = 0, frames = 10, depth = 8;
        double sigma = 0;
        uint64_t seed = 1;
        Subsampling subsampling = Subsampling::s420;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= args.size()) throw IoError(a + " needs a value");
                return args[++i];
            };
            if (a == "--image") {
                image_path = value();
            } else if (a == "--size") {
                const std::string v = value();
                if (std::sscanf(v.c_str(), "%dx%d", &width, &height) != 2 || width < 1 ||
                    height < 1 || width > kMaxDimension || height > kMaxDimension)
                    throw IoError("--size: expected WxH");
            } else if (a == "--colour") {
                const std::string v = value();
                if (v == "420")
                    subsampling = Subsampling::s420;
                else if (v == "422")
                    subsampling = Subsampling::s422;
                else if (v == "444")
                    subsampling = Subsampling::s444;
                else if (v == "mono")
                    subsampling = Subsampling::mono;
                else
                    throw IoError("--colour: expected 420, 422, 444 or mono");
            } else if (a == "--depth") {
                depth = std::stoi(value());
            } else if (a == "--frames") {
                frames = std::stoi(value());
            } else if (a == "--sigma") {
                sigma = std::stod(value());
            } else if (a == "--seed") {
                seed = std::stoull(value());
            } else if (a == "--help") {
                std::fputs(kUsage, stdout);
                return 0;
            } else if (out.empty() && (a == "-" || a[0] != '-')) {
                out = a;
            } else {
                throw IoError("unexpected '" + a + "'\n" + kUsage);
            }
        }
        if (out.empty()) throw IoError(std::string("no output given\n") + kUsage);
        if (depth != 8 && depth != 10 && depth != 12 && depth != 16)
            throw IoError("--depth: 8, 10, 12 or 16");
        RgbImage picture;
        if (!image_path.empty()) {
            picture = read_png(image_path);
            if (width == 0) {
                width = picture.width;
                height = picture.height;
            }
        } else {
            if (width == 0) width = 640, height = 360;
            picture = synthetic_picture(width, height, seed);
        }
        const std::string header = make_stream_header(width, height, subsampling, depth);
        const StreamFormat f = parse_stream_header(header.substr(0, header.size() - 1));
        const Frame clean = frame_from_rgb(f, picture);
        OutputFile file(out);
        write_all(file.fd(), header.data(), header.size());
        for (int i = 0; i < frames; ++i) {
            Frame frame = clean;
            if (sigma > 0) add_noise(f, frame, sigma, seed * 1000003u + i);
            write_all(file.fd(), frame.header.data(), frame.header.size());
            write_all(file.fd(), frame.data.data(), frame.data.size());
        }
        file.commit();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora-sample: %s\n", e.what());
        return 1;
    }
}
