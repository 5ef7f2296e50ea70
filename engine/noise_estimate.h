// The noise level of a decomposed plane, from its finest diagonal details.
#pragma once

#include <cstdint>

#include "wavelet/transform_plane.h"

namespace velmora {

// The median magnitude of the finest D block over the positions that lie inside the visible
// width x height (the upper median for an even count), divided by 0.6745: the standard
// deviation of Gaussian noise, in working units.
float estimate_noise(const TransformPlane& plane, int32_t width, int32_t height);

}  // namespace velmora
