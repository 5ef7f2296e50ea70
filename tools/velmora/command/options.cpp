#include "tools/velmora/command/options.h"

#include <algorithm>
#include <charconv>
#include <tuple>

#include "tools/velmora/stream/foreign_formats.h"
#include "tools/velmora/stream/y4m.h"

namespace velmora {

namespace {

[[noreturn]] void usage(const std::string& what) { throw UsageError(what); }

double parse_number(const std::string& option, const std::string& text, double lo, double hi) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !(v >= lo && v <= hi))
        usage(option + ": '" + text + "' is not a number from " + std::to_string(int(lo)) + " to " +
              std::to_string(int(hi)));
    return v;
}

int64_t parse_count(const std::string& option, const std::string& text, int64_t lo, int64_t hi) {
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi)
        usage(option + ": '" + text + "' is not a whole number " +
              (hi == INT64_MAX ? "of " + std::to_string(lo) + " or more"
                               : "from " + std::to_string(lo) + " to " + std::to_string(hi)));
    return v;
}

// "WxH+X+Y".
Region parse_region(const std::string& option, const std::string& text) {
    const size_t by = text.find('x'), plus = text.find('+'), second = text.find('+', plus + 1);
    if (by == text.npos || plus == text.npos || second == text.npos || by > plus)
        usage(option + ": '" + text + "' is not WIDTHxHEIGHT+X+Y");
    const auto part = [&](size_t from, size_t to, int64_t lo) {
        return static_cast<int>(
            parse_count(option, text.substr(from, to - from), lo, kMaxDimension));
    };
    return {part(0, by, 1), part(by + 1, plus, 1), part(plus + 1, second, 0),
            part(second + 1, text.size(), 0)};
}

// Noise levels given or measured are one way; --tracks and --learn are the others.
void set_source(Options& o, StrengthSource source, bool& explicit_source) {
    const auto family = [](StrengthSource s) {
        return s == StrengthSource::automatic ? StrengthSource::sigma : s;
    };
    if (explicit_source && family(o.strength) != family(source))
        usage("choose one way of setting the strength: --sigma*/--auto, --tracks or --learn");
    o.strength = source;
    explicit_source = true;
}

// "L0,L1,...,L7": a level per brightness bin, darkest first; '-' for a bin without one.
NoiseCurveLevels parse_curve(const std::string& option, const std::string& text) {
    NoiseCurveLevels levels;
    size_t at = 0, given = 0;
    for (size_t b = 0; b < levels.size(); ++b) {
        const size_t comma = text.find(',', at);
        if ((comma == text.npos) != (b + 1 == levels.size()))
            usage(option + ": '" + text + "' is neither a level nor " +
                  std::to_string(levels.size()) +
                  " levels by brightness (L0,...,L7; '-' for none)");
        const std::string item = text.substr(at, comma == text.npos ? text.npos : comma - at);
        levels[b] = item == "-" ? -1.0 : parse_number(option, item, 0, 255);
        given += levels[b] > 0.0 ? 1 : 0;
        at = comma + 1;
    }
    if (given < 2) usage(option + ": '" + text + "' gives fewer than two bins a level above 0");
    return levels;
}

// A plane kind's level as given: "auto", a number of 8-bit steps, or levels by brightness.
struct Level {
    bool measure = false;
    std::optional<double> sigma;
    std::optional<NoiseCurveLevels> curve;
};

Level parse_level(const std::string& option, const std::string& text) {
    Level level;
    level.measure = text == "auto";
    if (level.measure) return level;
    if (text.find(',') != text.npos)
        level.curve = parse_curve(option, text);
    else
        level.sigma = parse_number(option, text, 0, 255);
    return level;
}

// The options that take no value and turn something on.
struct Flag {
    const char* name;
    const char* short_name;
    bool Options::*member;
};

const Flag* find_flag(const std::string& arg) {
    static constexpr Flag kFlags[] = {
        {"--help", "-h", &Options::help},
        {"--version", nullptr, &Options::version},
        {"--learn-every-frame", nullptr, &Options::learn_every_frame},
        {"--preview-diff", nullptr, &Options::preview_difference},
        {"--keep-partial", nullptr, &Options::keep_partial},
        {"--force-y4m", nullptr, &Options::force_y4m},
        {"--force", "-f", &Options::force},
        {"--quiet", "-q", &Options::quiet},
        {"--verbose", "-v", &Options::verbose},
        {"--noise-curve", nullptr, &Options::noise_curve},
    };
    for (const Flag& f : kFlags)
        if (arg == f.name || (f.short_name && arg == f.short_name)) return &f;
    return nullptr;
}

const velmora_settings& defaults() {
    static const velmora_settings d = [] {
        velmora_settings s;
        velmora_default_settings(&s);
        return s;
    }();
    return d;
}

}  // namespace

Options::Options()
    : mode(defaults().mode),
      k(defaults().k),
      auto_window(defaults().measure_window),
      auto_every(defaults().measure_every),
      learn_size(defaults().learn_size) {}

Options parse_options(const std::vector<std::string>& args) {
    Options o;
    bool explicit_source = false;
    bool auto_every_given = false;
    std::optional<velmora_mode> mode;
    std::optional<Level> luma, chroma;  // the last one given for each plane kind
    bool auto_given = false, sigma_given = false, k_given = false, view_given = false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "--") {
            positional.insert(positional.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (arg.size() < 2 || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
            continue;
        }
        std::string value;
        bool has_value = false;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            has_value = true;
        }
        auto take = [&]() -> std::string {
            if (has_value) return value;
            if (i + 1 >= args.size()) usage(arg + " needs a value");
            return args[++i];
        };
        if (const Flag* flag = find_flag(arg)) {
            if (has_value) usage(arg + " takes no value");
            o.*(flag->member) = true;
            continue;
        }
        if (arg == "--sigma" || arg == "--sigma-luma" || arg == "--sigma-chroma") {
            set_source(o, StrengthSource::sigma, explicit_source);
            const Level level = parse_level(arg, take());
            if (arg != "--sigma-chroma") luma = level;
            if (arg != "--sigma-luma") chroma = level;
            if (arg == "--sigma") sigma_given = true;
        } else if (arg == "--k") {
            o.k = parse_number(arg, take(), 0, 100);
            k_given = true;
        } else if (arg == "--mode") {
            const std::string name = take();
            if (name == "best")
                mode = VELMORA_MODE_BEST;
            else if (name == "exact")
                mode = VELMORA_MODE_EXACT;
            else
                usage("--mode '" + name + "': expected best or exact");
        } else if (arg == "--auto") {
            if (has_value) usage(arg + " takes no value");
            set_source(o, StrengthSource::automatic, explicit_source);
            auto_given = true;
        } else if (arg == "--auto-every") {
            set_source(o, StrengthSource::automatic, explicit_source);
            o.auto_every = parse_count(arg, take(), 1, INT64_MAX);
            auto_every_given = true;
        } else if (arg == "--tracks") {
            set_source(o, StrengthSource::tracks, explicit_source);
            int plane = 0;
            Tracks row;
            std::string error;
            const std::string text = take();
            if (!parse_tracks(text, plane, row, error)) usage("--tracks '" + text + "': " + error);
            if (o.tracks[plane]) usage("--tracks given twice for plane " + std::to_string(plane));
            o.tracks[plane] = row;
        } else if (arg == "--learn") {
            set_source(o, StrengthSource::learn, explicit_source);
            const std::string text = take();
            const size_t comma = text.find(',');
            const size_t second = comma == text.npos ? text.npos : text.find(',', comma + 1);
            if (comma == text.npos) usage("--learn '" + text + "': expected X,Y or X,Y,SIZE");
            o.learn_x = static_cast<int>(parse_count(arg, text.substr(0, comma), 0, 16384));
            o.learn_y = static_cast<int>(
                parse_count(arg, text.substr(comma + 1, second - comma - 1), 0, 16384));
            if (second != text.npos)
                o.learn_size =
                    static_cast<int>(parse_count(arg, text.substr(second + 1), 2, 16384));
        } else if (arg == "--view") {
            const std::string what = take();
            if (what == "coefficients")
                o.view_coefficients = true;
            else if (what != "denoised")
                usage("--view '" + what + "': expected 'coefficients' or 'denoised'");
            view_given = o.view_coefficients;
        } else if (arg == "--preview") {
            o.preview = take();
            if (o.preview.empty()) usage("--preview needs a file name");
        } else if (arg == "--preview-frame") {
            o.preview_frame = parse_count(arg, take(), 0, INT64_MAX);
        } else if (arg == "--preview-crop") {
            o.preview_crop = parse_region(arg, take());
        } else if (arg == "--temporal") {
            o.temporal = static_cast<int>(parse_count(arg, take(), 0, VELMORA_MAX_TEMPORAL_RADIUS));
            o.temporal_given = true;
        } else if (arg == "--start") {
            o.start = parse_count(arg, take(), 0, INT64_MAX);
        } else if (arg == "--frames") {
            o.frames = parse_count(arg, take(), 1, INT64_MAX);
        } else if (arg == "--progress") {
            const std::string mode = take();
            if (mode == "auto")
                o.progress = ProgressMode::automatic;
            else if (mode == "always")
                o.progress = ProgressMode::always;
            else if (mode == "machine")
                o.progress = ProgressMode::machine;
            else if (mode == "never")
                o.progress = ProgressMode::never;
            else
                usage("--progress '" + mode + "': expected auto, always, machine or never");
        } else if (arg == "--threads") {
            o.threads = static_cast<int>(parse_count(arg, take(), 1, 256));
        } else {
            usage("unknown option '" + arg + "' (see --help)");
        }
    }
    if (o.help || o.version) return o;
    if (o.learn_every_frame && o.strength != StrengthSource::learn)
        usage("--learn-every-frame needs --learn X,Y");
    // The levels: --auto measures every plane kind not given its own level.
    if (auto_given && sigma_given)
        usage(
            "--auto and --sigma both set every plane's level; use --sigma-luma or "
            "--sigma-chroma to give one kind of plane its own");
    const bool levels =
        o.strength == StrengthSource::automatic || o.strength == StrengthSource::sigma;
    const bool nothing_given = !luma && !chroma;
    if (luma)
        std::tie(o.measure_luma, o.sigma_luma, o.curve_luma) =
            std::tie(luma->measure, luma->sigma, luma->curve);
    else
        o.measure_luma = levels && (auto_given || nothing_given);
    if (chroma)
        std::tie(o.measure_chroma, o.sigma_chroma, o.curve_chroma) =
            std::tie(chroma->measure, chroma->sigma, chroma->curve);
    else
        o.measure_chroma = levels && (auto_given || nothing_given);
    if (levels)
        o.strength =
            o.measure_luma || o.measure_chroma ? StrengthSource::automatic : StrengthSource::sigma;
    if (auto_every_given && o.strength != StrengthSource::automatic)
        usage("--auto-every goes with --auto or a level of 'auto'");
    if (o.noise_curve && o.strength != StrengthSource::automatic)
        usage("--noise-curve goes with --auto or a level of 'auto'");
    // The mode: exact-mode options choose exact mode, and are refused with best mode.
    const char* exact_only = o.strength == StrengthSource::tracks ? "--tracks"
                             : view_given                         ? "--view coefficients"
                             : k_given                            ? "--k"
                                                                  : nullptr;
    if (mode == VELMORA_MODE_BEST && exact_only)
        usage(std::string(exact_only) +
              " belongs to --mode exact (the plug-in's thresholds); best mode takes noise levels "
              "only");
    // --learn is the plug-in's learning unless best mode is asked for.
    const bool plug_in = exact_only || o.strength == StrengthSource::learn;
    o.mode = mode.value_or(plug_in ? VELMORA_MODE_EXACT : VELMORA_MODE_BEST);
    if (o.mode == VELMORA_MODE_EXACT && (o.curve_luma || o.curve_chroma))
        usage(
            "levels by brightness belong to best mode; --mode exact takes one level per plane "
            "kind");
    if (positional.size() != 2)
        usage("expected an input and an output (a file or '-' for each), got " +
              (positional.empty()       ? std::string("none")
               : positional.size() == 1 ? "only '" + positional[0] + "'"
                                        : std::to_string(positional.size()) + " names"));
    o.input = positional[0];
    o.output = positional[1];
    for (const auto& [given, name] : {std::pair{o.preview_frame.has_value(), "--preview-frame"},
                                      std::pair{o.preview_crop.has_value(), "--preview-crop"},
                                      std::pair{o.preview_difference, "--preview-diff"}})
        if (given && o.preview.empty()) usage(std::string(name) + " needs --preview FILE.png");
    if (o.preview_difference && o.view_coefficients)
        usage(
            "--preview-diff shows what the filter changed; with --view coefficients the frame "
            "is not filtered");
    if (o.temporal_given && o.temporal > 0) {
        if (o.view_coefficients)
            usage(
                "--temporal averages frames before filtering; --view coefficients shows one "
                "frame's coefficients (add --temporal 0)");
        if (o.strength == StrengthSource::tracks ||
            (o.strength == StrengthSource::learn && o.mode == VELMORA_MODE_EXACT))
            usage(
                "--temporal needs a noise level (--sigma*, --auto, or --learn in best mode), not "
                "--tracks or exact mode's --learn");
    }
    const int64_t end = o.frames ? o.start + std::min(*o.frames, INT64_MAX - o.start) : INT64_MAX;
    if (o.preview_frame && (*o.preview_frame < o.start || *o.preview_frame >= end))
        usage("--preview-frame " + std::to_string(*o.preview_frame) +
              " is not one of the frames filtered (" + std::to_string(o.start) + " to " +
              (o.frames ? std::to_string(end - 1) : "the end") + ")");
    if (const std::string container = container_of_name(o.output);
        !container.empty() && !o.force_y4m)
        usage("'" + o.output + "' would hold a YUV4MPEG2 stream, not " + container +
              "; encode it with ffmpeg: " + encode_hint(o.input, o.output) +
              " (or --force-y4m to write the stream under that name)");
    return o;
}

velmora_settings settings_of(const Options& o, void (*log)(void*, velmora_log_level, const char*),
                             void* user) {
    velmora_settings s = defaults();
    s.mode = o.mode;
    s.strength = o.strength == StrengthSource::tracks  ? VELMORA_STRENGTH_TRACKS
                 : o.strength == StrengthSource::learn ? VELMORA_STRENGTH_LEARN
                                                       : VELMORA_STRENGTH_NOISE;
    for (int p = 0; p < 3; ++p) {
        const std::optional<double>& sigma = p == 0 ? o.sigma_luma : o.sigma_chroma;
        const bool measure = p == 0 ? o.measure_luma : o.measure_chroma;
        const std::optional<NoiseCurveLevels>& curve = p == 0 ? o.curve_luma : o.curve_chroma;
        s.noise[p] = measure ? VELMORA_NOISE_MEASURED : sigma.value_or(curve ? 1.0 : 0.0);
        if (curve) std::copy(curve->begin(), curve->end(), s.noise_curve[p]);
        if (o.tracks[p]) std::copy(o.tracks[p]->begin(), o.tracks[p]->end(), s.tracks[p]);
    }
    s.k = o.k;
    s.measure_window = static_cast<int>(o.auto_window);
    // A window every 2^31 frames or more: only the first, in any stream there is.
    s.measure_every = static_cast<int>(std::min<int64_t>(o.auto_every, INT32_MAX));
    if (o.temporal_given) s.temporal_radius = o.temporal;
    s.learn_x = o.learn_x;
    s.learn_y = o.learn_y;
    s.learn_size = o.learn_size;
    s.learn_every_frame = o.learn_every_frame;
    s.view_coefficients = o.view_coefficients;
    s.threads = o.threads;
    s.first_frame = o.start;
    s.log = log;
    s.log_user = user;
    s.log_level = o.verbose ? VELMORA_LOG_VERBOSE : VELMORA_LOG_INFO;
    return s;
}

bool parse_tracks(std::string_view text, int& plane, Tracks& tracks, std::string& error) {
    const size_t colon = text.find(':');
    if (colon == text.npos) {
        error = "expected P:v0,...,v14";
        return false;
    }
    const std::string_view name = text.substr(0, colon);
    if (name == "0" || name == "y" || name == "Y") {
        plane = 0;
    } else if (name == "1" || name == "cb" || name == "Cb" || name == "u" || name == "U") {
        plane = 1;
    } else if (name == "2" || name == "cr" || name == "Cr" || name == "v" || name == "V") {
        plane = 2;
    } else {
        error = "plane '" + std::string(name) + "' is not 0, 1 or 2";
        return false;
    }
    std::string_view values = text.substr(colon + 1);
    for (size_t i = 0; i < tracks.size(); ++i) {
        const size_t comma = values.find(',');
        const std::string_view item = values.substr(0, comma);
        int32_t v = 0;
        const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
        if (ec != std::errc() || end != item.data() + item.size() || v < 0 || v > (1 << 26)) {
            error = "track value " + std::to_string(i) + " '" + std::string(item) +
                    "' is not a whole number from 0 to " + std::to_string(1 << 26);
            return false;
        }
        tracks[i] = v;
        if ((comma == values.npos) != (i + 1 == tracks.size())) {
            error = "expected exactly 15 values";
            return false;
        }
        if (comma != values.npos) values.remove_prefix(comma + 1);
    }
    return true;
}

std::string help_text() {
    return R"(Usage: velmora [OPTIONS] INPUT OUTPUT

Removes noise from a YUV4MPEG2 video in the wavelet domain, each plane at its own size. INPUT
and OUTPUT are files or '-' for standard input and output:

  ffmpeg -i in.mkv -f yuv4mpegpipe - | velmora --sigma 4 - - | ffmpeg -f yuv4mpegpipe -i - out.mkv
  velmora in.y4m out.y4m                         (best mode, noise measured)
  velmora --sigma-luma auto --sigma-chroma 0 in.y4m out.y4m
  velmora --preview frame.png --preview-frame 30 in.y4m out.y4m

Mode:
  --mode best          (default) the mean of four shifted transforms, each with a two-step
                       Wiener shrink of its details; needs only the noise level of each plane
  --mode exact         the Velmora plug-in's masked thresholds, with the same results; chosen
                       by --tracks, --learn, --k and --view coefficients

Strength (noise levels, --learn, or in exact mode --tracks; measured when none is given):
  --sigma S            noise level S in 8-bit sample steps, for every plane; 'auto' measures it
  --sigma-luma S       ... for the luma plane only: a number, 0 (untouched) or 'auto'
  --sigma-chroma S     ... for the two chroma planes only (planes without a level stay
                       untouched, unless --auto is given)
                       Best mode also takes a level by brightness, as --noise-curve prints
                       it: eight levels for the blocks of 8 x 8 samples whose brightness (the
                       mean of the luma under them) is 0-31, 32-63, ..., 224-255 8-bit steps,
                       '-' for none (the nearest bin's), as in --sigma-luma 2.5,3,3.5,4,4.5,5,5,5
  --auto               measure the noise level of every plane not given one (the default when
                       no strength is given): from the first 5 frames, and again every 25
  --auto-every N       measure again every N frames (from the N-th frame's window of 5)
  --noise-curve        also print each measured plane's noise by brightness, in 8 bins of 32
                       8-bit steps (darkest first; '-': too few blocks that bright), and in
                       best mode the noise of each detail band of levels 0-3 (H, V, D) over
                       what white noise of the level gives it
  --k K                exact mode: threshold at K times the noise level (default 3)
  --tracks P:v0,...,v14
                       exact mode: the plug-in's fifteen level tracks (Lv.0 H, V, D, ...,
                       Lv.4 D) for plane P (0 = Y, 1 = Cb, 2 = Cr); planes without --tracks
                       stay untouched
  --learn X,Y[,SIZE]   learn the strength from the SIZE x SIZE box (default 128) at (X,Y) on
                       the first frame; put it on a flat, noisy area. Exact mode (chosen by
                       --learn alone): the plug-in's thresholds (chroma planes: the box at X,Y
                       scaled to the plane). --mode best: each plane's noise level and the
                       noise of each detail band, camera noise's correlation included (a box
                       of 256 or more measures the coarser bands too)
  --learn-every-frame  learn again on every frame

Frames:
  --start N            filter from frame N on (counted from 0); earlier frames are skipped
  --frames M           filter M frames only; the output holds only the frames filtered
  --temporal R         average each frame with the R frames before and after it (0 to 8;
                       default 3 in best mode, 0 in exact mode: each frame on its own), moved
                       to follow motion and weighted by how well they match, then filter the
                       average; needs noise levels (not --tracks, --learn)
  --keep-partial       when the input is damaged or cut short, keep the frames before the
                       damage in OUTPUT (the error is still reported, exit status 2)

Output:
  --view coefficients  exact mode: write each plane's thresholded wavelet coefficients as a
                       picture
  --preview FILE.png   also write frame N before and after filtering, side by side (with
                       --view coefficients: the luma coefficient picture in grey)
  --preview-frame N    the frame for --preview (default: the first frame filtered)
  --preview-crop WxH+X+Y
                       only the W x H region at (X,Y) of the picture, at full size
  --preview-diff       add the difference picture: mid-grey where nothing changed, each 8-bit
                       step taken away 4 levels brighter (added: darker)
  --force-y4m          write the stream even to a name such as out.mkv (velmora writes only
                       YUV4MPEG2; otherwise such names are refused with a hint)
  -f, --force          replace OUTPUT and the preview even when write-protected (as a shell's
                       '>' would refuse); otherwise such files are left alone

Other:
  --threads N          worker threads (default: the number of processors)
  --verbose            print the noise levels in use (exact mode: the thresholds in the
                       plug-in's track units) and every new measurement
  --quiet              print nothing but errors
  --progress MODE      auto (a progress line on a terminal), always (that line anyway),
                       machine (lines "progress frame=F total=T fps=R elapsed=S eta=S" for
                       programs; total and eta only when known), never
  --help               this text
  --version            the version

Accepted: C420jpeg, C420paldv, C420mpeg2, C420, C411, C422, C444, Cmono, and the 10-, 12- and
16-bit forms (C420p10 ... C444p16, Cmono10 ... Cmono16), up to 16384 x 16384. Stream and frame
headers pass through unchanged. Interlaced frames (It, Ib, or a frame's own I tag in an Im
stream) are filtered field by field; noise measurement and learning use the first field.
Exit status: 0 done, 1 command-line or file error, 2 the input is not a stream velmora can read
(the message names the frame).
)";
}

std::string version_text() { return std::string("velmora ") + VELMORA_VERSION + "\n"; }

std::string short_usage() {
    return "Usage: velmora [OPTIONS] INPUT OUTPUT\nTry 'velmora --help' for the options.\n";
}

}  // namespace velmora
