// The thresholded coefficients drawn as a grey picture: each detail block at its place in the
// coefficient layout, magnitudes scaled per level, the coarsest low-low block scaled down.
#pragma once

#include "engine/plane_view.h"
#include "wavelet/transform_plane.h"

namespace velmora {

// Writes samples of `canvas` (format s16; its width and height bound what is drawn) from the
// coefficients of `levels` levels: at level g, positions in the H, V and D blocks get
// |c * scale| * 256 / 2^g, and at the coarsest level the low-low block gets |c * scale| / 2^levels,
// each truncated and kept to its low 16 bits. `scale` brings a plane working at another scale
// back to the plug-in's (1 for the plug-in itself).
void draw_coefficient_view(const TransformPlane& plane, int levels, float scale,
                           const PlaneView& canvas);

}  // namespace velmora
