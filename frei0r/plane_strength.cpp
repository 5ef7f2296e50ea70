#include "frei0r/plane_strength.h"

namespace velmora {

double plane_factor(const Settings& s, int plane) { return plane == 0 ? 1.0 : 2.0 * s.chroma; }

velmora_settings denoiser_settings(const Settings& s, bool best, int threads) {
    velmora_settings d;
    velmora_default_settings(&d);
    d.mode = best && s.mode == Mode::best ? VELMORA_MODE_BEST : VELMORA_MODE_EXACT;
    // One frame at a time, each on its own.
    d.measure_window = 1;
    d.measure_every = 1;
    d.temporal_radius = 0;
    for (int p = 0; p < 3; ++p) {
        d.noise[p] = s.automatic ? VELMORA_NOISE_MEASURED : sigma_for_strength(s.strength);
        d.noise_factor[p] = plane_factor(s, p);
    }
    d.threads = threads;
    return d;
}

}  // namespace velmora
