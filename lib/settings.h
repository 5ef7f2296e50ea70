// A denoiser's settings: their defaults (the one home of every default), their checks, and what
// they come to for a stream.
#pragma once

#include <string>

#include "kernels/kernel_set.h"
#include "lib/frame.h"
#include "velmora/velmora.h"

namespace velmora {

// Checks `s` for frames of `shape`; false with `why` set when they cannot go together.
bool check_settings(const velmora_settings& s, const FrameShape& shape, std::string& why);

// The temporal radius in effect: the mode's by default, and 0 where frames are filtered on
// their own (thresholds from tracks or a learning box, or the coefficient view).
int temporal_radius(const velmora_settings& s);

// Whether plane p's noise is given as a curve by brightness (two bins or more above 0).
bool has_noise_curve(const velmora_settings& s, int p);

// Whether plane p's noise is measured (a plane whose noise factor is 0 is not, nor one given a
// curve).
bool measures(const velmora_settings& s, int p);

// The kernel table of the settings' instruction set; null when this processor lacks it.
// VELMORA_ISA_AUTO honours the VELMORA_ISA environment variable (for checks of a narrower set).
const KernelSet* kernel_table(const velmora_settings& s);

}  // namespace velmora
