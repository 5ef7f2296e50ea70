// From the filter's parameters to the denoiser's settings for one frame filtered on its own.
//
// Each plane's noise level is the strength's (25 * strength^2 8-bit steps) or, with auto, the
// level the denoiser measures on that plane of this very frame (the hosts hand an instance any
// subset of the frames, MLT one instance per rendering thread, so nothing measured may carry over
// to another frame), times the plane's factor: 1 for luma, 2 * chroma for Cb and Cr. The
// denoiser's rules do the rest: no noise below its least measured level, exact mode's thresholds
// at its k (3) times the level in whole track units. So strength s filters a 12-bit 4:4:4 plane
// exactly as `velmora --sigma 25s^2` does.
//
// With auto the frame is measured as the library measures a single picture: its noise by
// brightness, which best mode follows sample by sample, a level corrected for fine texture, and
// in best mode the noise of each detail band where the picture shows a camera's correlated noise.
#pragma once

#include "frei0r/parameters.h"
#include "velmora/velmora.h"

namespace velmora {

// The plane's factor: 1 for luma (plane 0), 2 * chroma for Cb and Cr.
double plane_factor(const Settings& s, int plane);

// The denoiser's settings for frames filtered with `s` on `threads` workers; without `best`,
// exact mode filters the frames set to best as well.
velmora_settings denoiser_settings(const Settings& s, bool best, int threads);

}  // namespace velmora
