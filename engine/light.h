// Where a plane's brightness is read. A camera's noise grows with the light that fell on the
// sensor; in a chroma plane that light is the luma's, not the plane's own samples (which say the
// colour, near the middle of the range whatever the light). So luma reads its own samples and a
// chroma plane the luma samples each of its samples covers.
#pragma once

#include <cstdint>

#include "engine/plane_view.h"

namespace velmora {

struct Light {
    PlaneView plane;               // the plane brightness is read from
    int shift_x = 0, shift_y = 0;  // its samples per sample of the plane read for, as powers of 2
};

// A plane's own light.
inline Light own_light(const PlaneView& plane) { return {plane, 0, 0}; }

// The mean brightness of the plane's samples in columns [x0, x1) of rows [y0, y1), in working
// units: area_mean (engine/plane_io.h) of the light's samples they cover, cut at its edges.
float light_mean(const Light& light, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

}  // namespace velmora
