#include "engine/light.h"

#include "engine/plane_io.h"

namespace velmora {

float light_mean(const Light& light, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int32_t w = light.plane.width, h = light.plane.height;
    const int32_t right = x1 << light.shift_x, bottom = y1 << light.shift_y;
    return area_mean(light.plane, x0 << light.shift_x, y0 << light.shift_y, right < w ? right : w,
                     bottom < h ? bottom : h);
}

}  // namespace velmora
