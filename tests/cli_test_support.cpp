#include "tests/cli_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "lib/strength.h"
#include "standin/frame_source.h"

extern char** environ;

namespace cli_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-cli-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

// Runs `program` with standard input from `input_fd` (or `input_file`, or /dev/null), standard
// output and error captured; `feed` runs while the program does.
template <typename Feed>
RunResult spawn_and_wait(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input_file, int input_fd, int close_in_child,
                         Feed feed) {
    TempDir capture;
    const std::string out_path = capture.file("stdout"), err_path = capture.file("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, input_fd, 0);
    else
        posix_spawn_file_actions_addopen(
            &actions, 0, input_file.empty() ? "/dev/null" : input_file.c_str(), O_RDONLY, 0);
    if (close_in_child >= 0) posix_spawn_file_actions_addclose(&actions, close_in_child);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot run " + program);
    feed();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}

}  // namespace

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input_file) {
    return spawn_and_wait(program, args, input_file, -1, -1, [] {});
}

RunResult run_velmora_piped(const std::vector<std::string>& args, const std::string& input) {
    std::signal(SIGPIPE, SIG_IGN);  // velmora may stop reading before the end
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    return spawn_and_wait(VELMORA_CLI, args, "", fds[0], fds[1], [&] {
        ::close(fds[0]);
        for (size_t done = 0; done < input.size();) {
            const ssize_t n = ::write(fds[1], input.data() + done, input.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(fds[1]);
    });
}

WaitingRun::WaitingRun(const std::vector<std::string>& args, const std::string& bytes) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv = {const_cast<char*>(VELMORA_CLI)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, VELMORA_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    pipe_ = fds[1];
    if (rc != 0) throw std::runtime_error("cannot run velmora");
    if (::write(pipe_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("cannot feed velmora");
}

WaitingRun::~WaitingRun() {
    if (pid_ > 0) stop(SIGKILL);
}

int WaitingRun::stop(int sig) {
    if (sig != 0) ::kill(pid_, sig);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
    }
    pid_ = -1;
    end_input();
    return status;
}

void WaitingRun::end_input() {
    if (pipe_ >= 0) ::close(pipe_);
    pipe_ = -1;
}

std::string wait_for_entry(const TempDir& dir, const std::string& prefix) {
    for (int i = 0; i < 500; ++i) {
        for (const std::string& e : dir.entries())
            if (e.starts_with(prefix)) return e;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

int dead_process_id() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

Stream make_stream(int width, int height, velmora::Subsampling s, SampleFormat f, int frames,
                   uint64_t seed) {
    Stream stream;
    const std::string header =
        velmora::make_stream_header(width, height, s, velmora::sample_bits(f), 25, 1);
    stream.format = velmora::parse_stream_header(header.substr(0, header.size() - 1));
    stream.format.header = header;
    const velmora::StreamFormat& format = stream.format;
    SplitMix64 rng{seed};
    const int32_t maximum = sample_maximum(f);
    for (int i = 0; i < frames; ++i) {
        velmora::Frame frame;
        frame.header = "FRAME\n";
        frame.data.assign(format.frame_bytes(), 0);
        for (int p = 0; p < format.planes(); ++p) {
            const int w = format.plane_width(p), h = format.plane_height(p);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    // A ramp across the whole range with a bright band that clips, plus noise.
                    int64_t v = int64_t(maximum) * (x + 2 * y + 7 * p) / (w + 2 * h) +
                                rng.uniform(-maximum / 40, maximum / 40);
                    if (y > h / 3 && y < h / 2) v = maximum - rng.uniform(0, maximum / 50);
                    frame.set_sample(format, p, x, y,
                                     static_cast<uint32_t>(std::clamp<int64_t>(v, 0, maximum)));
                }
            }
        }
        stream.frames.push_back(std::move(frame));
    }
    return stream;
}

std::string serialise(const Stream& stream) {
    std::string bytes = stream.format.header;
    for (const velmora::Frame& f : stream.frames) {
        bytes += f.header;
        bytes.append(reinterpret_cast<const char*>(f.data.data()), f.data.size());
    }
    return bytes;
}

Stream read_stream(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    Stream stream;
    velmora::Y4mReader reader(fd);
    stream.format = reader.read_header();
    velmora::Frame frame;
    while (reader.read_frame(stream.format, frame)) stream.frames.push_back(frame);
    ::close(fd);
    return stream;
}

FieldCopy copy_field(const velmora::StreamFormat& f, velmora::Frame& frame, int p, int parity) {
    FieldCopy field;
    field.width = f.plane_width(p);
    field.height = (f.plane_height(p) + 1 - parity) / 2;
    field.format = sample_format(f);
    const size_t line = size_t(field.width) * velmora::sample_bytes(sample_format(f));
    field.samples.resize(line * field.height);
    for (int y = 0; y < field.height; ++y)
        std::memcpy(&field.samples[y * line], frame.plane_data(f, p) + (2 * y + parity) * line,
                    line);
    return field;
}

void put_field(const velmora::StreamFormat& f, velmora::Frame& frame, int p, int parity,
               const FieldCopy& field) {
    const size_t line = size_t(field.width) * velmora::sample_bytes(sample_format(f));
    for (int y = 0; y < field.height; ++y)
        std::memcpy(frame.plane_data(f, p) + (2 * y + parity) * line, &field.samples[y * line],
                    line);
}

void filter_plane(velmora::PlaneEngine& engine, const velmora::StreamFormat& f,
                  velmora::Frame& frame, int p, const velmora::ThresholdRow& row, bool fields) {
    if (!fields) {
        const PlaneView view = plane_view(f, frame, p);
        engine.analyse(view);
        engine.threshold(row);
        engine.synthesise(view);
        return;
    }
    for (int parity : {0, 1}) {
        FieldCopy field = copy_field(f, frame, p, parity);
        if (field.height == 0) continue;
        engine.analyse(field.view());
        engine.threshold(row);
        engine.synthesise(field.view());
        put_field(f, frame, p, parity, field);
    }
}

double luma_psnr(const velmora::StreamFormat& f, const velmora::Frame& a, const velmora::Frame& b) {
    double sum = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const double d = double(a.sample(f, 0, x, y)) - b.sample(f, 0, x, y);
            sum += d * d;
        }
    return sum == 0 ? 99.0
                    : 10.0 * std::log10(255.0 * 255.0 / (sum / (double(f.width) * f.height)));
}

void filter_plane_best(velmora::PlaneEngine& engine, const velmora::StreamFormat& f,
                       velmora::Frame& frame, int p, double sigma, bool fields) {
    const float working =
        static_cast<float>(sigma * velmora::working_units_per_8bit(sample_format(f)));
    const velmora::PlaneKind kind = p == 0 ? velmora::PlaneKind::luma : velmora::PlaneKind::chroma;
    if (!fields) {
        engine.denoise_best(plane_view(f, frame, p), working, kind);
        return;
    }
    for (int parity : {0, 1}) {
        FieldCopy field = copy_field(f, frame, p, parity);
        if (field.height == 0) continue;
        engine.denoise_best(field.view(), working, kind);
        put_field(f, frame, p, parity, field);
    }
}

SampleFormat sample_format(const velmora::StreamFormat& f) {
    SampleFormat format = SampleFormat::u8;
    velmora::sample_format_for_depth(f.bits, format);
    return format;
}

PlaneView plane_view(const velmora::StreamFormat& f, velmora::Frame& frame, int p) {
    return {frame.plane_data(f, p), 1, f.plane_width(p), f.plane_width(p), f.plane_height(p),
            sample_format(f)};
}

velmora_settings given_noise(velmora_mode mode, double sigma, int temporal, int threads) {
    velmora_settings s;
    velmora_default_settings(&s);
    s.mode = mode;
    for (double& n : s.noise) n = sigma;
    s.temporal_radius = temporal;
    s.threads = threads;
    return s;
}

std::vector<velmora::Frame> denoise_stream(const velmora::StreamFormat& f,
                                           const velmora_settings& s,
                                           std::vector<velmora::Frame> frames) {
    const velmora_format format = f.library_format();
    VelmoraDenoiser* d = nullptr;
    EXPECT_EQ(velmora_open(&d, &format, &s), VELMORA_OK);
    if (!d) return {};
    const int latency = velmora_latency(d);
    std::vector<velmora::Frame> out;
    const auto receive = [&](int64_t sent) {
        velmora_picture done;
        while (velmora_receive(d, &done) == VELMORA_OK) {
            EXPECT_EQ(done.user, &frames[out.size()]);  // in order, filtered in place
            out.push_back(*static_cast<velmora::Frame*>(done.user));
        }
        EXPECT_GE(static_cast<int64_t>(out.size()), sent - latency);
    };
    for (size_t i = 0; i < frames.size(); ++i) {
        const velmora_picture picture = frames[i].picture(f);
        EXPECT_EQ(velmora_send(d, &picture), VELMORA_OK) << velmora_last_error(d);
        receive(static_cast<int64_t>(i) + 1);
    }
    EXPECT_EQ(velmora_drain(d), VELMORA_OK);
    receive(static_cast<int64_t>(frames.size()) + latency);
    EXPECT_EQ(out.size(), frames.size());
    velmora_close(&d);
    return out;
}

}  // namespace cli_test
