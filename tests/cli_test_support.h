// Helpers for the command-line tool's tests: scratch folders, running the built programs as
// child processes, and streams written and read back.
#pragma once

#include <string>
#include <vector>

#include "kernels/kernel_set.h"
#include "lib/frame.h"
#include "lib/plane_engine.h"
#include "lib/workers.h"
#include "tools/velmora/stream/y4m.h"
#include "velmora/velmora.h"

namespace cli_test {

using velmora::PlaneView;
using velmora::SampleFormat;

// The sample format of a stream's samples.
SampleFormat sample_format(const velmora::StreamFormat& f);
// Plane p of a frame, for the engine.
PlaneView plane_view(const velmora::StreamFormat& f, velmora::Frame& frame, int p);

// A plane engine with a pool of its own, on the kernels VELMORA_ISA names (else the widest).
struct OwnWorkers {
    velmora::Workers workers;
    explicit OwnWorkers(int threads) : workers(threads, velmora_executor{}) {}
};
class ReferenceEngine : private OwnWorkers, public velmora::PlaneEngine {
public:
    ReferenceEngine(int width, int height, int threads)
        : OwnWorkers(threads), PlaneEngine(width, height, preferred_kernels(), workers) {}
};

// Settings with noise `sigma` given for every plane (no messages).
velmora_settings given_noise(velmora_mode mode, double sigma, int temporal, int threads);

// The frames through the library's stream denoiser with settings `s`, sent one by one and
// received as they come; checks that they come back in order, each within the latency.
std::vector<velmora::Frame> denoise_stream(const velmora::StreamFormat& f,
                                           const velmora_settings& s,
                                           std::vector<velmora::Frame> frames);

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs `program` with `args`; standard input from `input_file` (or /dev/null when empty),
// standard output and error captured.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input_file = "");
inline RunResult run_velmora(const std::vector<std::string>& args,
                             const std::string& input_file = "") {
    return run(VELMORA_CLI, args, input_file);
}

// Runs velmora with `input` written into its standard input through a pipe.
RunResult run_velmora_piped(const std::vector<std::string>& args, const std::string& input);

// velmora reading standard input from a pipe that stays open after `bytes`, so that it waits
// for more with its output file in place; standard error goes to /dev/null.
class WaitingRun {
public:
    WaitingRun(const std::vector<std::string>& args, const std::string& bytes);
    ~WaitingRun();  // ends it with SIGKILL if still running
    WaitingRun(const WaitingRun&) = delete;
    WaitingRun& operator=(const WaitingRun&) = delete;
    int pid() const { return pid_; }
    // Sends `sig` (none for 0), waits for the end and closes the pipe: the wait status.
    int stop(int sig);
    // Ends the input: the run finishes as it would at the end of a stream.
    void end_input();

private:
    int pid_ = -1;
    int pipe_ = -1;
};

// The first entry of `dir` whose name begins with `prefix`, waited for up to five seconds;
// empty when none came.
std::string wait_for_entry(const TempDir& dir, const std::string& prefix);

// The process id of a process that has ended.
int dead_process_id();

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

// A whole stream: its header line and frames.
struct Stream {
    velmora::StreamFormat format;
    std::vector<velmora::Frame> frames;
};

// The header line (from make_stream_header) parsed, with frames of noisy smooth content in
// the whole sample range of the format.
Stream make_stream(int width, int height, velmora::Subsampling s, SampleFormat f, int frames,
                   uint64_t seed);
std::string serialise(const Stream& stream);
Stream read_stream(const std::string& path);

// PSNR of the luma planes of two frames, in dB (8-bit samples; 99 for equal planes).
double luma_psnr(const velmora::StreamFormat& f, const velmora::Frame& a, const velmora::Frame& b);

// Lines parity, parity + 2, ... of plane p of a frame, copied out into a plane of their own.
struct FieldCopy {
    std::vector<uint8_t> samples;
    int width = 0, height = 0;
    SampleFormat format = SampleFormat::u8;
    PlaneView view() { return {samples.data(), 1, width, width, height, format}; }
};
FieldCopy copy_field(const velmora::StreamFormat& f, velmora::Frame& frame, int p, int parity);
// Puts a field's lines back into the frame.
void put_field(const velmora::StreamFormat& f, velmora::Frame& frame, int p, int parity,
               const FieldCopy& field);

// Plane p of `frame` filtered with `row` by `engine`: as one picture, or with `fields` each
// field as a picture of its own (copied out, filtered and put back).
void filter_plane(velmora::PlaneEngine& engine, const velmora::StreamFormat& f,
                  velmora::Frame& frame, int p, const velmora::ThresholdRow& row, bool fields);

// The same in best mode with noise `sigma` in 8-bit steps (luma settings for plane 0, chroma
// settings for the others).
void filter_plane_best(velmora::PlaneEngine& engine, const velmora::StreamFormat& f,
                       velmora::Frame& frame, int p, double sigma, bool fields);

}  // namespace cli_test
