#include "tools/velmora/app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "tools/velmora/options.h"
#include "tools/velmora/output_file.h"
#include "tools/velmora/plane_engine.h"
#include "tools/velmora/preview.h"
#include "tools/velmora/strength.h"
#include "tools/velmora/y4m.h"

namespace velmora {

namespace {

constexpr const char* kPlaneNames[3] = {"Y", "Cb", "Cr"};

// Messages and the progress line on standard error. The progress line is drawn only on a
// terminal and is cleared before any message.
class Console {
public:
    explicit Console(bool quiet) : quiet_(quiet), terminal_(!quiet && ::isatty(STDERR_FILENO)) {}

    void message(const std::string& text) {
        clear();
        std::fprintf(stderr, "velmora: %s\n", text.c_str());
    }
    void info(const std::string& text) {
        if (!quiet_) message(text);
    }

    void progress(int64_t frames, std::optional<int64_t> total, bool force = false) {
        if (!terminal_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(250)) return;
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double fps = seconds > 0 ? frames / seconds : 0.0;
        char line[160];
        int n = std::snprintf(line, sizeof line, "\rframe %lld", static_cast<long long>(frames));
        if (total && *total > 0)
            n += std::snprintf(line + n, sizeof line - n, "/%lld", static_cast<long long>(*total));
        n += std::snprintf(line + n, sizeof line - n, "  %.1f fps", fps);
        if (total && *total > frames && fps > 0) {
            const long long eta = static_cast<long long>((*total - frames) / fps + 0.5);
            n += std::snprintf(line + n, sizeof line - n, "  ETA %lld:%02lld", eta / 60, eta % 60);
        }
        std::fprintf(stderr, "%s\033[K", line);
        shown_ = true;
    }

    // Leaves the last progress line standing as the summary.
    void finish() {
        if (shown_) std::fprintf(stderr, "\n");
        shown_ = false;
    }

private:
    void clear() {
        if (!shown_) return;
        std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

    bool quiet_;
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last_ = start_;
};

std::string fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// Frames in a regular file, assuming plain FRAME headers; none for a pipe.
std::optional<int64_t> frames_in_file(int fd, int64_t header_bytes, size_t frame_bytes) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return (st.st_size - header_bytes) / static_cast<int64_t>(frame_bytes + 6);
}

class Denoiser {
public:
    Denoiser(const Options& o, const StreamFormat& f, Console& console)
        : o_(o), f_(f), console_(console) {
        if (o.strength == StrengthSource::sigma) {
            for (int p = 0; p < f.planes(); ++p) {
                const std::optional<double>& s = p == 0 ? o.sigma_luma : o.sigma_chroma;
                rows_[p] = s ? row_for_sigma(*s, o.k, f.format) : ThresholdRow{};
            }
        } else if (o.strength == StrengthSource::tracks) {
            for (int p = 0; p < f.planes(); ++p)
                rows_[p] = o.tracks[p] ? row_from_tracks(*o.tracks[p], f.format) : ThresholdRow{};
        }
        const int size = o.learn_size;
        if (o.strength == StrengthSource::learn &&
            (o.learn_x + size > f.width || o.learn_y + size > f.height))
            throw UsageError("--learn " + std::to_string(o.learn_x) + "," +
                             std::to_string(o.learn_y) + ": the " + std::to_string(size) + "x" +
                             std::to_string(size) + " box does not fit into the " +
                             std::to_string(f.width) + "x" + std::to_string(f.height) + " picture");
    }

    void filter(Frame& frame, int64_t index) {
        const bool estimate = o_.strength == StrengthSource::automatic &&
                              (index == 0 || (o_.auto_every > 0 && index % o_.auto_every == 0));
        const bool learn =
            o_.strength == StrengthSource::learn && (index == 0 || o_.learn_every_frame);
        std::array<double, 3> sigmas = {};
        bool changed = false;
        for (int p = 0; p < f_.planes(); ++p) {
            const PlaneView view = frame.plane(f_, p);
            if (!estimate && !learn && !o_.view_coefficients && is_zero(rows_[p])) continue;
            engine().analyse(view);
            ThresholdRow row = rows_[p];
            if (estimate) {
                const double working = engine().estimate_noise();
                sigmas[p] = working / working_units_per_8bit(f_.format);
                row = row_for_threshold(o_.k * working);
            } else if (learn) {
                const int size = o_.learn_size;
                row = engine().learn(
                    std::min(o_.learn_x >> f_.shift_x(p), std::max(0, f_.plane_width(p) - size)),
                    std::min(o_.learn_y >> f_.shift_y(p), std::max(0, f_.plane_height(p) - size)),
                    size);
            }
            changed = changed || row != rows_[p];
            rows_[p] = row;
            if (o_.view_coefficients) {
                engine().threshold(row);
                engine().draw_coefficients(view);
            } else if (!is_zero(row)) {
                engine().threshold(row);
                engine().synthesise(view);
            }
        }
        if (estimate) {
            std::string text = "frame " + std::to_string(index) + ": noise sigma";
            for (int p = 0; p < f_.planes(); ++p)
                text += std::string(p ? ", " : " ") + kPlaneNames[p] + " " + fixed(sigmas[p], 2);
            console_.info(text + " (8-bit steps)");
        }
        if (o_.verbose && (changed || index == 0)) {
            console_.info("frame " + std::to_string(index) +
                          ": thresholds in track units (Lv.0 H V D ... Lv.4 H V D)");
            for (int p = 0; p < f_.planes(); ++p)
                console_.info(std::string("  ") + kPlaneNames[p] + ": " +
                              format_tracks(rows_[p], f_.format));
        }
    }

private:
    // Made on the first frame: a stream that ends before one arrives needs no working memory.
    PlaneEngine& engine() {
        if (!engine_) engine_.emplace(f_.plane_width(0), f_.plane_height(0), o_.threads);
        return *engine_;
    }

    const Options& o_;
    const StreamFormat& f_;
    Console& console_;
    std::optional<PlaneEngine> engine_;
    std::array<ThresholdRow, 3> rows_ = {};
};

// The input file, closed when the run ends however it ends; standard input stays open.
class InputFile {
public:
    explicit InputFile(const std::string& name) {
        if (name == "-") return;
        fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw IoError("cannot open '" + name + "': " + strerror(errno));
    }
    ~InputFile() {
        if (fd_ != STDIN_FILENO) ::close(fd_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = STDIN_FILENO;
};

int run(const Options& o, Console& console) {
    const InputFile input(o.input);
    const int in = input.fd();
    if (o.output == "-" && ::isatty(STDOUT_FILENO))
        throw UsageError("refusing to write video to a terminal; give an output file or a pipe");
    Y4mReader reader(in);
    const StreamFormat format = reader.read_header();
    Denoiser denoiser(o, format, console);
    OutputFile output(o.output);
    for (const std::string& path : output.removed())
        console.info("removed '" + path + "', left behind by a run that was killed");
    write_all(output.fd(), format.header.data(), format.header.size());
    const std::optional<int64_t> total =
        frames_in_file(in, reader.bytes_read(), format.frame_bytes());

    std::optional<RgbImage> preview;
    Frame frame;
    bool pipe_closed = false;
    try {
        for (int64_t index = 0; reader.read_frame(format, frame); ++index) {
            const bool capture = !o.preview.empty() && index == o.preview_frame;
            std::optional<RgbImage> before;
            if (capture) before = frame_to_rgb(format, frame);
            denoiser.filter(frame, index);
            if (capture)
                preview =
                    side_by_side(*before, o.view_coefficients ? plane_to_grey(format, frame, 0)
                                                              : frame_to_rgb(format, frame));
            write_all(output.fd(), frame.header.data(), frame.header.size());
            write_all(output.fd(), frame.data.data(), frame.data.size());
            console.progress(index + 1, total);
        }
    } catch (const BrokenPipe&) {
        pipe_closed = true;  // the reader has all it wanted
    }
    console.progress(reader.frames_read(), total, true);
    console.finish();
    if (!pipe_closed) output.commit();
    if (!o.preview.empty()) {
        if (!preview) {
            if (pipe_closed) return 0;
            console.message("--preview-frame " + std::to_string(o.preview_frame) +
                            ": the stream has only " + std::to_string(reader.frames_read()) +
                            " frames; no preview written");
            return 1;
        }
        write_png(o.preview, *preview);
    }
    return 0;
}

}  // namespace

int velmora_main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    install_interrupt_cleanup();
    Options options;
    try {
        options = parse_options(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "velmora: %s\n", e.what());
        return 1;
    }
    if (options.help) {
        std::fputs(help_text().c_str(), stdout);
        return 0;
    }
    Console console(options.quiet);
    try {
        return run(options, console);
    } catch (const InputError& e) {
        console.message("input: " + std::string(e.what()));
        return 2;
    } catch (const BrokenPipe&) {
        return 0;
    } catch (const UsageError& e) {
        console.message(e.what());
        return 1;
    } catch (const IoError& e) {
        console.message(e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        console.message("out of memory");
        return 1;
    }
}

}  // namespace velmora
