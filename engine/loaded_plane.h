// Where an engine puts the plane it loads: shared by the stage-by-stage form (engine.cpp) and
// the fused form (fused_forms.cpp), which live apart so that a caller of the stages alone links
// none of the fused passes.
#pragma once

#include "engine/engine.h"

namespace velmora {

// Records the view's size and format in `e` and lays out the plane of its padded size in the
// engine's memory; an engine over a caller's plane keeps that plane.
void lay_out_loaded_plane(Engine& e, const PlaneView& view);

}  // namespace velmora
