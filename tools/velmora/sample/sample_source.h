// Test material: pictures turned into Y'CbCr frames, deterministic Gaussian noise, and the
// peak signal-to-noise ratio between frames.
#pragma once

#include <cstdint>

#include "tools/velmora/preview/preview.h"
#include "tools/velmora/stream/y4m.h"

namespace velmora {

// Bilinear resampling to width x height.
RgbImage resize(const RgbImage& image, int width, int height);

// A smooth synthetic picture (gradients, discs, a few edges), the same for the same seed.
RgbImage synthetic_picture(int width, int height, uint64_t seed);

// The picture as a frame of `format` (size taken from the format), limited range, with the
// matrix frame_to_rgb uses; chroma is the mean of the luma positions each sample covers.
Frame frame_from_rgb(const StreamFormat& format, const RgbImage& image);

// Adds Gaussian noise of `sigma` 8-bit sample steps to every sample of every plane, rounding
// and clamping to the sample range. The same seed gives the same noise.
void add_noise(const StreamFormat& format, Frame& frame, double sigma, uint64_t seed);

// Sum of squared differences over every sample of every plane, and the number of samples.
struct ErrorSum {
    double squared = 0;
    double samples = 0;
    ErrorSum& operator+=(const ErrorSum& o) {
        squared += o.squared;
        samples += o.samples;
        return *this;
    }
};
ErrorSum error_sum(const StreamFormat& format, const Frame& a, const Frame& b);

// 10 log10(peak^2 / mean squared error), peak being the largest sample value; infinite for no
// error.
double psnr(const StreamFormat& format, const ErrorSum& error);
inline double psnr(const StreamFormat& format, const Frame& a, const Frame& b) {
    return psnr(format, error_sum(format, a, b));
}

}  // namespace velmora
