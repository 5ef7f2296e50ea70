#include "lib/settings.h"

#include <cstring>

#include "lib/enum_value.h"

namespace velmora {

namespace {

// Best mode averages frames unless told otherwise; exact mode, the plug-in's algorithm, filters
// each frame on its own.
constexpr int kBestModeTemporalRadius = 3;

std::string text(double v) {
    std::string s = std::to_string(v);
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    return s;
}

}  // namespace

bool has_noise_curve(const velmora_settings& s, int p) {
    int above = 0;
    for (double level : s.noise_curve[p]) above += level > 0.0 ? 1 : 0;
    return above >= 2;
}

bool measures(const velmora_settings& s, int p) {
    return s.strength == VELMORA_STRENGTH_NOISE && s.noise[p] == VELMORA_NOISE_MEASURED &&
           s.noise_factor[p] != 0.0 && !has_noise_curve(s, p);
}

int temporal_radius(const velmora_settings& s) {
    // Exact mode's thresholds from tracks or a box are the plug-in's, frame by frame; best
    // mode's learnt levels filter a stream as given ones do.
    if ((s.mode == VELMORA_MODE_EXACT && s.strength != VELMORA_STRENGTH_NOISE) ||
        s.view_coefficients)
        return 0;
    if (s.temporal_radius != VELMORA_TEMPORAL_FOR_MODE) return s.temporal_radius;
    return s.mode == VELMORA_MODE_BEST ? kBestModeTemporalRadius : 0;
}

const KernelSet* kernel_table(const velmora_settings& s) {
    switch (s.isa) {
    case VELMORA_ISA_SCALAR:
        return ::kernels_for(Isa::scalar);
    case VELMORA_ISA_SSE41:
        return ::kernels_for(Isa::sse41);
    case VELMORA_ISA_AVX2:
        return ::kernels_for(Isa::avx2);
    default:
        return &preferred_kernels();
    }
}

bool check_settings(const velmora_settings& s, const FrameShape& shape, std::string& why) {
    if (!enum_in(s.mode, VELMORA_MODE_BEST, VELMORA_MODE_EXACT))
        why = "the mode is neither best nor exact";
    else if (!enum_in(s.strength, VELMORA_STRENGTH_NOISE, VELMORA_STRENGTH_LEARN))
        why = "the strength is none of noise, tracks and learn";
    else if (!enum_in(s.isa, VELMORA_ISA_AUTO, VELMORA_ISA_AVX2))
        why = "the instruction set is none of auto, scalar, sse41 and avx2";
    else if (!enum_in(s.log_level, VELMORA_LOG_ERROR, VELMORA_LOG_VERBOSE))
        why = "the log level is none of error, info and verbose";
    if (!why.empty()) return false;
    const bool exact = s.mode == VELMORA_MODE_EXACT;
    if (!exact && s.strength == VELMORA_STRENGTH_TRACKS)
        why = "track values belong to exact mode; best mode takes noise levels or learns them";
    else if (!exact && s.view_coefficients)
        why = "the coefficient view belongs to exact mode";
    else if (!(s.k >= 0 && s.k <= 100))
        why = "k " + text(s.k) + " is not from 0 to 100";
    else if (s.measure_window < 1 || s.measure_every < 1)
        why = "the measurement window and its spacing must be 1 frame or more";
    else if (s.temporal_radius != VELMORA_TEMPORAL_FOR_MODE &&
             (s.temporal_radius < 0 || s.temporal_radius > VELMORA_MAX_TEMPORAL_RADIUS))
        why = "the temporal radius " + std::to_string(s.temporal_radius) + " is not from 0 to 8";
    else if (s.threads < 0 || s.threads > 256)
        why = "the thread count " + std::to_string(s.threads) + " is not from 0 to 256";
    else if (s.executor.run && (s.executor.threads < 1 || s.executor.threads > 256))
        why = "the executor's thread count is not from 1 to 256";
    if (!why.empty()) return false;
    for (int p = 0; p < 3; ++p) {
        const double n = s.noise[p];
        if (n != VELMORA_NOISE_MEASURED && !(n >= 0 && n <= 255)) {
            why = "plane " + std::to_string(p) + "'s noise " + text(n) +
                  " is neither measured nor from 0 to 255";
            return false;
        }
        for (double level : s.noise_curve[p])
            if (!(level <= 255)) {
                why = "plane " + std::to_string(p) + "'s noise curve holds " + text(level) +
                      ", not a level up to 255";
                return false;
            }
        if (exact && has_noise_curve(s, p)) {
            why = "a noise curve belongs to best mode; exact mode takes one level per plane";
            return false;
        }
        if (!(s.noise_factor[p] >= 0 && s.noise_factor[p] <= 16)) {
            why = "plane " + std::to_string(p) + "'s noise factor " + text(s.noise_factor[p]) +
                  " is not from 0 to 16";
            return false;
        }
        for (int32_t track : s.tracks[p])
            if (track < 0 || track > (1 << 26)) {
                why = "a track value of plane " + std::to_string(p) + " is not from 0 to " +
                      std::to_string(1 << 26);
                return false;
            }
    }
    if (s.strength == VELMORA_STRENGTH_LEARN) {
        const int size = s.learn_size;
        if (size < 2 || size > kMaxFrameSide || s.learn_x < 0 || s.learn_y < 0 ||
            s.learn_x + size > shape.width || s.learn_y + size > shape.height) {
            why = "the " + std::to_string(size) + "x" + std::to_string(size) + " learning box at " +
                  std::to_string(s.learn_x) + "," + std::to_string(s.learn_y) +
                  " does not fit into the " + std::to_string(shape.width) + "x" +
                  std::to_string(shape.height) + " picture";
            return false;
        }
    }
    return true;
}

}  // namespace velmora

extern "C" void velmora_default_settings(velmora_settings* s) {
    if (!s) return;
    std::memset(s, 0, sizeof *s);
    s->mode = VELMORA_MODE_BEST;
    s->strength = VELMORA_STRENGTH_NOISE;
    for (double& n : s->noise) n = VELMORA_NOISE_MEASURED;
    for (double& f : s->noise_factor) f = 1.0;
    s->k = 3.0;
    s->measure_window = 5;
    s->measure_every = 25;
    s->temporal_radius = VELMORA_TEMPORAL_FOR_MODE;
    s->learn_size = 128;
    s->threads = 0;
    s->isa = VELMORA_ISA_AUTO;
    s->log_level = VELMORA_LOG_INFO;
}
