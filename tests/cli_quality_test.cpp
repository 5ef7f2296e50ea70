// Denoising quality on real photographs (scikit-image's sample pictures, Debian package
// python3-skimage): Gaussian noise of 5 and 10 8-bit steps added to 4:2:0 frames, filtered by
// velmora with the true noise level and with its own estimate. The average luma PSNR gain over
// the pictures must reach the targets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tests/cli_test_support.h"
#include "tools/velmora/preview.h"
#include "tools/velmora/sample_source.h"

namespace {

using namespace velmora;

using namespace cli_test;
using velmora::Frame;
using velmora::StreamFormat;

const char* kPictureFolder = "/usr/lib/python3/dist-packages/skimage/data";
const char* kPictures[] = {"astronaut.png", "chelsea.png", "coffee.png", "motorcycle_left.png",
                           "camera.png"};

struct Gains {
    double luma = 0;  // average over the pictures, dB
    double all_planes = 0;
};

// Average PSNR gains of velmora run with `strength` on every picture at noise level `sigma`.
Gains measure(double sigma, const std::vector<std::string>& strength) {
    TempDir dir;
    Gains total;
    int count = 0;
    for (const char* name : kPictures) {
        const std::string path = std::string(kPictureFolder) + "/" + name;
        if (!std::filesystem::exists(path)) {
            ADD_FAILURE() << path << " is missing: scripts/setup.sh installs python3-skimage";
            continue;
        }
        const velmora::RgbImage picture = velmora::read_png(path);
        const std::string header = velmora::make_stream_header(
            picture.width, picture.height, velmora::Subsampling::s420, SampleFormat::u8);
        StreamFormat f = velmora::parse_stream_header(header.substr(0, header.size() - 1));
        f.header = header;
        const Frame clean = velmora::frame_from_rgb(f, picture);
        Frame noisy = clean;
        velmora::add_noise(f, noisy, sigma, 1000 + count);
        const std::string in = dir.file("noisy.y4m"), out = dir.file("out.y4m");
        write_file(in, serialise({f, {noisy}}));
        std::vector<std::string> args = strength;
        args.insert(args.end(), {"--quiet", in, out});
        const RunResult r = run_velmora(args);
        EXPECT_EQ(r.status, 0) << r.err;
        const Stream result = read_stream(out);
        if (result.frames.size() != 1) continue;
        const double luma_gain = luma_psnr(f, clean, result.frames[0]) - luma_psnr(f, clean, noisy);
        const double all_gain =
            velmora::psnr(f, clean, result.frames[0]) - velmora::psnr(f, clean, noisy);
        std::printf("  %-20s sigma %4.1f %-12s luma %+.2f dB, all planes %+.2f dB\n", name, sigma,
                    strength[0].c_str(), luma_gain, all_gain);
        total.luma += luma_gain;
        total.all_planes += all_gain;
        ++count;
    }
    if (count > 0) {
        total.luma /= count;
        total.all_planes /= count;
    }
    std::printf("  average: luma %+.2f dB, all planes %+.2f dB\n", total.luma, total.all_planes);
    return total;
}

TEST(QualityOnPhotographs, TrueNoiseLevel) {
    const Gains five = measure(5.0, {"--sigma", "5"});
    EXPECT_GE(five.luma, 2.3);
    const Gains ten = measure(10.0, {"--sigma", "10"});
    EXPECT_GE(ten.luma, 3.8);
}

TEST(QualityOnPhotographs, EstimatedNoiseLevel) {
    const Gains five = measure(5.0, {"--auto"});
    EXPECT_GE(five.luma, 2.2);
    const Gains ten = measure(10.0, {"--auto"});
    EXPECT_GE(ten.luma, 3.6);
}

}  // namespace
