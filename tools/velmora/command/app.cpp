#include "tools/velmora/command/app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <system_error>

#include "tools/velmora/command/console.h"
#include "tools/velmora/command/options.h"
#include "tools/velmora/files/interrupts.h"
#include "tools/velmora/files/output_file.h"
#include "tools/velmora/preview/curve_plot.h"
#include "tools/velmora/preview/preview.h"
#include "tools/velmora/stream/foreign_formats.h"
#include "tools/velmora/stream/frame_pipeline.h"
#include "tools/velmora/stream/y4m.h"
#include "velmora/velmora.h"

namespace velmora {

namespace {

// Frames in a regular file, assuming plain FRAME headers (for the progress line); none for a
// pipe.
std::optional<int64_t> estimated_frames(int fd, int64_t header_bytes, size_t frame_bytes) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return (st.st_size - header_bytes) / static_cast<int64_t>(frame_bytes + 6);
}

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

[[noreturn]] void start_beyond_stream(const Options& o, const Y4mReader& reader) {
    throw UsageError("--start " + std::to_string(o.start) + ": the stream has only " +
                     std::to_string(reader.frames_read()) + " frames");
}

// The checks that need the stream's header, made before any output is created.
void check_against_stream(const Options& o, const StreamFormat& format, int fd, Y4mReader& reader,
                          int64_t preview_frame) {
    if (const std::optional<Region> r = o.preview_crop;
        r && (r->x + r->width > format.width || r->y + r->height > format.height))
        throw UsageError(
            "--preview-crop " + std::to_string(r->width) + "x" + std::to_string(r->height) + "+" +
            std::to_string(r->x) + "+" + std::to_string(r->y) + " does not fit into the " +
            std::to_string(format.width) + "x" + std::to_string(format.height) + " picture");
    for (int64_t i = 0; i < o.start; ++i)
        if (!reader.skip_frame(format)) start_beyond_stream(o, reader);
    // In a file the frames can be counted now; from a pipe only the run tells.
    const std::optional<int64_t> offset = reader.file_offset();
    if (!offset) return;
    if (o.start > 0 && frames_in_file(fd, *offset, format.frame_bytes(), 1) == 0)
        start_beyond_stream(o, reader);
    if (o.preview.empty()) return;
    const int64_t wanted = preview_frame - o.start + 1;
    const std::optional<int64_t> found = frames_in_file(fd, *offset, format.frame_bytes(), wanted);
    if (found && *found < wanted)
        throw UsageError("--preview-frame " + std::to_string(preview_frame) +
                         ": the stream has only " + std::to_string(o.start + *found) + " frames");
}

// The preview picture of one frame, before and after, and below them the noise curves
// measured for it where there are any.
RgbImage preview_of(const Options& o, const StreamFormat& format, const RgbImage& before,
                    const Frame& after, const NoiseCurves& curves) {
    RgbImage left = before;
    RgbImage right =
        o.view_coefficients ? plane_to_grey(format, after, 0) : frame_to_rgb(format, after);
    if (const std::optional<Region> r = o.preview_crop) {
        left = crop(left, r->x, r->y, r->width, r->height);
        right = crop(right, r->x, r->y, r->width, r->height);
    }
    RgbImage picture = side_by_side(left, right);
    if (o.preview_difference) picture = side_by_side(picture, difference(left, right));
    const bool measured = std::any_of(curves.begin(), curves.end(),
                                      [](const std::vector<double>& c) { return !c.empty(); });
    return measured ? above(picture, noise_curve_plot(curves, picture.width)) : picture;
}

// Which of the standard descriptors were closed when velmora started. Each closed one is opened
// on /dev/null instead, so that no file opened later takes its number and is taken for it.
struct ClosedStreams {
    bool input = false, output = false;
};

ClosedStreams fill_closed_standard_streams() {
    bool closed[3] = {};
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed[fd] = true;
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return {closed[0], closed[1]};
}

// The command's streams as the run would use them, refused before anything is read or written.
void check_streams(const Options& o, ClosedStreams closed) {
    if (o.input == "-" && closed.input)
        throw UsageError("standard input is closed; give an input file or a pipe");
    if (o.input == "-" && ::isatty(STDIN_FILENO))
        throw UsageError("refusing to read video from a terminal; give an input file or a pipe");
    if (o.output == "-" && closed.output)
        throw UsageError("standard output is closed; give an output file or a pipe");
    if (o.output == "-" && ::isatty(STDOUT_FILENO))
        throw UsageError("refusing to write video to a terminal; give an output file or a pipe");
    if (o.preview.empty()) return;
    for (const auto& [name, what] : {std::pair{o.input, "input"}, std::pair{o.output, "output"}})
        if (name != "-" && same_file(o.preview, name))
            throw UsageError("--preview '" + o.preview + "' is the " + what +
                             "; the picture would replace it");
}

// What ran short (memory, or what a thread needs), with what needs less.
std::string out_of_resources(const std::string& what, const Options& o,
                             const StreamFormat& format) {
    const size_t mib = (format.frame_bytes() + (size_t{1} << 20) - 1) >> 20;
    const velmora_settings s = settings_of(o);
    const velmora_format f = format.library_format();
    size_t working = 0;
    velmora_memory_needed(&f, &s, &working);
    return what + " for " + std::to_string(format.width) + "x" + std::to_string(format.height) +
           " frames (" + std::to_string(mib) + " MiB each) with --temporal " +
           std::to_string(velmora_temporal_radius(&s)) + " on " +
           (o.threads ? std::to_string(o.threads) + " threads" : std::string("every processor")) +
           " (" + std::to_string((working + (size_t{1} << 20) - 1) >> 20) +
           " MiB of working memory); a smaller --temporal radius (0: none), fewer --threads or a "
           "smaller frame needs less";
}

// The library's messages: errors kept for the caller, the rest said as notices.
struct LogTarget {
    Console& console;
    std::string error;

    static void say(void* self, velmora_log_level level, const char* text) {
        LogTarget& t = *static_cast<LogTarget*>(self);
        if (level == VELMORA_LOG_ERROR)
            t.error = text;
        else
            t.console.info(text);
    }
};

// A denoiser of the library for the stream, closed when the run ends.
class StreamDenoiser {
public:
    StreamDenoiser(const Options& o, const StreamFormat& format, Console& console)
        : log_{console, {}} {
        const velmora_settings s = settings_of(o, &LogTarget::say, &log_);
        const velmora_format f = format.library_format();
        check(velmora_open(&d_, &f, &s));
    }
    ~StreamDenoiser() { velmora_close(&d_); }
    StreamDenoiser(const StreamDenoiser&) = delete;
    StreamDenoiser& operator=(const StreamDenoiser&) = delete;

    int latency() const { return velmora_latency(d_); }
    void send(Frame& frame, const StreamFormat& format) {
        const velmora_picture picture = frame.picture(format);
        check(velmora_send(d_, &picture));
    }
    // The next frame finished, null when none is.
    Frame* receive() {
        velmora_picture picture;
        const velmora_status status = velmora_receive(d_, &picture);
        if (status == VELMORA_AGAIN) return nullptr;
        check(status);
        return static_cast<Frame*>(picture.user);
    }
    void drain() { check(velmora_drain(d_)); }

    // The noise curves of the measured planes from their last windows.
    NoiseCurves curves() const {
        NoiseCurves out;
        for (int p = 0; p < 3; ++p) {
            velmora_noise_curve c;
            if (velmora_measured_curve(d_, p, &c) == VELMORA_OK)
                out[p].assign(std::begin(c.sigma), std::end(c.sigma));
        }
        return out;
    }

    // Says each measured plane's noise curve once for every window it comes from.
    void say_curves(Console& console) {
        static constexpr const char* kNames[3] = {"Y", "Cb", "Cr"};
        for (int p = 0; p < 3; ++p) {
            velmora_noise_curve c;
            if (velmora_measured_curve(d_, p, &c) != VELMORA_OK || c.first_frame == curve_said_[p])
                continue;
            curve_said_[p] = c.first_frame;
            std::string text = c.first_frame == c.last_frame
                                   ? "frame " + std::to_string(c.first_frame)
                                   : "frames " + std::to_string(c.first_frame) + "-" +
                                         std::to_string(c.last_frame);
            text += std::string(": noise curve ") + kNames[p] +
                    " by brightness 0-31, 32-63, ..., 224-255 (8-bit steps):";
            // As --sigma-luma and --sigma-chroma take it back.
            for (int b = 0; b < VELMORA_CURVE_BINS; ++b) {
                char number[32];
                std::snprintf(number, sizeof number, "%.2f", c.sigma[b]);
                text += b ? ',' : ' ';
                text += c.sigma[b] < 0.0 ? "-" : number;
            }
            console.info(text);
            velmora_noise_bands b;
            if (velmora_measured_bands(d_, p, &b) != VELMORA_OK) continue;
            text = std::string("  noise bands ") + kNames[p] +
                   " by level 0-3, H V D (times white noise's; *: not measured):";
            for (int l = 0; l < 4; ++l) {
                text += l ? " |" : "";
                for (int o = 0; o < 3; ++o) {
                    char number[32];
                    std::snprintf(number, sizeof number, " %.2f%s", b.factor[l][o],
                                  b.blocks[l][o] > 0 || (l == 0 && o == 2) ? "" : "*");
                    text += number;
                }
            }
            console.info(text);
        }
    }

private:
    // Turns a failed call into what the run reports.
    void check(velmora_status status) {
        if (status >= VELMORA_OK) return;
        const std::string why = d_ ? velmora_last_error(d_) : log_.error;
        if (status == VELMORA_ERROR_MEMORY) throw std::bad_alloc();
        if (status == VELMORA_ERROR_RESOURCES)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    why);
        throw UsageError(why.empty() ? velmora_status_text(status) : why);
    }

    LogTarget log_;
    VelmoraDenoiser* d_ = nullptr;
    long long curve_said_[3] = {-1, -1, -1};
};

int filter_stream(const Options& o, Console& console, Y4mReader& reader, int in,
                  const StreamFormat& format);

int run(const Options& o, Console& console, ClosedStreams closed) {
    check_streams(o, closed);
    const InputFile input(o.input);
    const int in = input.fd();
    Y4mReader reader(in);
    const StreamFormat format = reader.read_header();
    try {
        return filter_stream(o, console, reader, in, format);
    } catch (const std::bad_alloc&) {
        throw IoError(out_of_resources("out of memory", o, format));
    } catch (const std::system_error& e) {  // a thread that cannot be started
        throw IoError(
            out_of_resources(std::string("cannot start a thread (") + e.what() + ")", o, format));
    }
}

int filter_stream(const Options& o, Console& console, Y4mReader& reader, int in,
                  const StreamFormat& format) {
    StreamDenoiser denoiser(o, format, console);
    const int64_t preview_frame = o.preview_frame.value_or(o.start);
    check_against_stream(o, format, in, reader, preview_frame);
    const int64_t end = o.frames ? o.start + std::min(*o.frames, INT64_MAX - o.start) : INT64_MAX;

    // Made now, so that a preview that cannot be written is found before the run.
    std::optional<OutputFile> preview_file;
    try {
        if (!o.preview.empty()) preview_file.emplace(o.preview, o.force);
    } catch (const IoError& e) {
        throw IoError("--preview: " + std::string(e.what()));
    }
    OutputFile output(o.output, o.force);
    for (const OutputFile* file : {preview_file ? &*preview_file : nullptr, &output})
        for (const std::string& path : file ? file->removed() : std::vector<std::string>{})
            console.info("removed '" + path + "', left behind by a run that was killed");
    write_all(output.fd(), format.header.data(), format.header.size());
    std::optional<int64_t> total =
        estimated_frames(in, static_cast<int64_t>(format.header.size()), format.frame_bytes());
    if (total) total = std::min(std::max<int64_t>(*total - o.start, 0), end - o.start);

    std::optional<RgbImage> preview;
    int64_t index = o.start;  // the input's number of the next frame read
    int64_t done = 0;         // frames filtered and handed on to be written
    bool pipe_closed = false;
    try {
        // The denoiser holds frames for its latency (the measurement's look-ahead, the
        // temporal radius): the pipeline's buffers hold all of them at once.
        FramePipeline frames(reader, format, output.fd(), end - o.start, denoiser.latency() + 1);
        std::optional<RgbImage> before;
        const auto write_finished = [&] {
            while (Frame* frame = denoiser.receive()) {
                if (o.noise_curve) denoiser.say_curves(console);
                if (before && o.start + done == preview_frame)
                    preview = preview_of(o, format, *before, *frame,
                                         o.noise_curve ? denoiser.curves() : NoiseCurves{});
                frames.write(frame);
                ++done;
                console.progress(done, total);
            }
        };
        const auto filter_rest = [&] {
            denoiser.drain();
            write_finished();
        };
        try {
            for (; Frame* frame = frames.next(); ++index) {
                if (!o.preview.empty() && index == preview_frame)
                    before = frame_to_rgb(format, *frame);
                denoiser.send(*frame, format);
                write_finished();
            }
            filter_rest();
        } catch (const InputError&) {
            // The frames before the damage are filtered and written out.
            filter_rest();
            frames.drain();
            throw;
        }
        frames.drain();
    } catch (const BrokenPipe&) {
        pipe_closed = true;  // the reader has all it wanted
    } catch (const InputError& e) {
        if (!o.keep_partial) throw;
        // The frames before the damage are good: they stay, and the damage is still an error.
        console.finish();
        output.commit();
        if (preview) write_png(*preview_file, o.preview, *preview);
        console.message("input: " + std::string(e.what()) +
                        (o.output == "-" ? std::string()
                                         : "; the " + std::to_string(done) +
                                               " frames before it are kept in '" + o.output + "'"));
        return 2;
    }
    console.progress(done, total, true);
    console.finish();
    if (o.start > 0 && index == o.start) start_beyond_stream(o, reader);
    if (!pipe_closed) output.commit();
    if (!o.preview.empty()) {
        if (!preview) {
            if (pipe_closed) return 0;
            console.message("--preview-frame " + std::to_string(preview_frame) +
                            ": the stream has only " + std::to_string(index) +
                            " frames; no preview written");
            return 1;
        }
        write_png(*preview_file, o.preview, *preview);
    }
    return 0;
}

// Writes help or version text; fails when standard output cannot take it.
int print(const std::string& text, ClosedStreams closed) {
    const bool written = std::fputs(text.c_str(), stdout) >= 0;
    if (written && std::fflush(stdout) == 0 && !closed.output) return 0;
    std::fprintf(stderr, "velmora: cannot write to standard output: %s\n",
                 closed.output ? "it is closed" : strerror(errno));
    return 1;
}

}  // namespace

int velmora_main(int argc, char** argv) {
    const ClosedStreams closed = fill_closed_standard_streams();
    std::signal(SIGPIPE, SIG_IGN);
    install_interrupt_cleanup();
    if (argc <= 1) {
        std::fputs(short_usage().c_str(), stderr);
        return 1;
    }
    Options options;
    try {
        options = parse_options(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "velmora: %s\n", e.what());
        return 1;
    }
    if (options.help) return print(help_text(), closed);
    if (options.version) return print(version_text(), closed);
    Console console(options.quiet, options.progress);
    try {
        return run(options, console, closed);
    } catch (const ForeignInput& e) {
        console.message("input: " + std::string(e.what()) + "; decode it with ffmpeg first: " +
                        decode_hint(options.input, options.output));
        return 2;
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
