// The noise curves of a frame's planes drawn for the preview: each plane's noise level (8-bit
// steps, upwards from 0) over the brightness of its blocks (0 to 255, left to right), a point in
// the middle of each bin that has a level, joined to its neighbours'.
#pragma once

#include <array>
#include <vector>

#include "tools/velmora/preview/preview.h"

namespace velmora {

// Each plane's levels by bin, darkest first (a level below 0: none); empty for a plane not
// measured.
using NoiseCurves = std::array<std::vector<double>, 3>;

// The colours of the planes' curves: Y light grey, Cb blue, Cr red.
constexpr std::array<std::array<uint8_t, 3>, 3> kCurveColours = {
    {{235, 235, 235}, {80, 140, 255}, {255, 90, 90}}};

constexpr int kCurvePlotHeight = 144;

// A plot `width` samples wide (at least 64) and kCurvePlotHeight high on dark grey, its levels
// from 0 up to the highest level rounded up to a whole number of grid steps (1, 2 or 5 times a
// power of ten, at most 8 of them: the horizontal lines); vertical lines at the bins' edges.
RgbImage noise_curve_plot(const NoiseCurves& curves, int width);

}  // namespace velmora
