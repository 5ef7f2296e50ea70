// One colour plane of the frame through the whole pipeline.
#pragma once

#include <cstdint>

#include "engine/plane_view.h"
#include "sdk/aviutl_filter.h"

// The component frame_geometry.current_plane of the frame, filtered in place. Returns 1 when
// the plane was drawn as the coefficient view instead (the frame handler then stops), else 0.
int32_t ProcessPlane(FILTER* fp, FILTER_PROC_INFO* fpip, int32_t levels);

// The plug-in's frame as a plane: component p of every PIXEL_YC.
velmora::PlaneView component_view(FILTER_PROC_INFO* fpip, int32_t p);
