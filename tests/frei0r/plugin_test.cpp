// velmora.so as the hosts load it: dlopen'ed and driven only through its f0r_* entry points, the
// way ffmpeg and MLT call them (constructs at any size, values out of range, many instances on
// many threads, one instance from several threads at once as MLT's slice mode does).
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "frei0r/frame_filter.h"
#include "frei0r/frei0r_api.h"
#include "frei0r/instance.h"
#include "tools/velmora/preview/preview.h"
#include "tools/velmora/sample/split_mix64.h"

namespace {

struct Plugin {
    void* library = nullptr;
    int (*init)() = nullptr;
    void (*deinit)() = nullptr;
    void (*plugin_info)(f0r_plugin_info_t*) = nullptr;
    void (*param_info)(f0r_param_info_t*, int) = nullptr;
    f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
    void (*destruct)(f0r_instance_t) = nullptr;
    void (*set)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*get)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;

    template <class F>
    void bind(F& f, const char* name) {
        f = reinterpret_cast<F>(dlsym(library, name));
    }

    Plugin() {
        library = dlopen(VELMORA_FREI0R_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        bind(init, "f0r_init");
        bind(deinit, "f0r_deinit");
        bind(plugin_info, "f0r_get_plugin_info");
        bind(param_info, "f0r_get_param_info");
        bind(construct, "f0r_construct");
        bind(destruct, "f0r_destruct");
        bind(set, "f0r_set_param_value");
        bind(get, "f0r_get_param_value");
        bind(update, "f0r_update");
    }

    bool complete() const {
        return init && deinit && plugin_info && param_info && construct && destruct && set && get &&
               update;
    }

    void set_double(f0r_instance_t i, int index, double v) const { set(i, &v, index); }
    double get_double(f0r_instance_t i, int index) const {
        double v = -123.0;
        get(i, &v, index);
        return v;
    }
    void set_string(f0r_instance_t i, int index, const char* text) const {
        char* p = const_cast<char*>(text);
        set(i, &p, index);
    }
    std::string get_string(f0r_instance_t i, int index) const {
        char* p = nullptr;
        get(i, &p, index);
        return p ? p : "(null)";
    }
};

const Plugin& plugin() {
    static const Plugin p;
    return p;
}

enum { kAuto, kStrength, kChroma, kMode };

// Settings as a host passes them; the mode stays as constructed unless named.
struct Settings {
    double automatic, strength, chroma;
    const char* mode = nullptr;
};

void apply(f0r_instance_t i, const Settings& s) {
    plugin().set_double(i, kAuto, s.automatic);
    plugin().set_double(i, kStrength, s.strength);
    plugin().set_double(i, kChroma, s.chroma);
    if (s.mode) plugin().set_string(i, kMode, s.mode);
}

// A frame in a buffer of exactly its size, so that AddressSanitizer sees any overrun.
using Frame = std::vector<uint32_t>;

// A picture with edges, gradients and noise, and alpha that varies; `seed` varies the noise.
Frame picture(unsigned w, unsigned h, uint64_t seed, int32_t spread = 10) {
    SplitMix64 rng{seed};
    Frame f(static_cast<size_t>(w) * h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            const int32_t base[3] = {static_cast<int32_t>((x * 3 + y) % 200) + 20,
                                     ((x / 11 + y / 7) % 2) ? 190 : 60,
                                     static_cast<int32_t>(y * 160 / h) + 40};
            uint32_t px = static_cast<uint32_t>(rng.uniform(0, 255)) << 24;
            for (int c = 0; c < 3; ++c) {
                const int32_t v = base[c] + rng.uniform(-spread, spread) +
                                  rng.uniform(-spread, spread) + rng.uniform(-spread, spread);
                px |= static_cast<uint32_t>(std::min(255, std::max(0, v))) << (8 * c);
            }
            f[static_cast<size_t>(y) * w + x] = px;
        }
    return f;
}

// One instance, one thread, frames in order: what every other way of calling must give.
std::vector<Frame> run_alone(unsigned w, unsigned h, const Settings& s,
                             const std::vector<Frame>& frames) {
    f0r_instance_t inst = plugin().construct(w, h);
    apply(inst, s);
    std::vector<Frame> out;
    for (size_t k = 0; k < frames.size(); ++k) {
        out.emplace_back(frames[k].size());
        plugin().update(inst, k / 25.0, frames[k].data(), out.back().data());
    }
    plugin().destruct(inst);
    return out;
}

double squared_error(const Frame& a, const Frame& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int c = 0; c < 3; ++c) {
            const double d = double((a[i] >> (8 * c)) & 0xFF) - double((b[i] >> (8 * c)) & 0xFF);
            sum += d * d;
        }
    return sum;
}

bool same_alpha(const Frame& a, const Frame& b) {
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] >> 24) != (b[i] >> 24)) return false;
    return true;
}

class Frei0rPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(plugin().library, nullptr) << dlerror();
        ASSERT_TRUE(plugin().complete()) << "an f0r_* entry point is missing";
        ASSERT_EQ(plugin().init(), 1);
    }
    void TearDown() override { plugin().deinit(); }
};

TEST_F(Frei0rPlugin, DescribesItselfAndItsParametersInOrder) {
    f0r_plugin_info_t info;
    std::memset(&info, 0xAB, sizeof info);
    plugin().plugin_info(&info);
    EXPECT_STREQ(info.name, "velmora");
    EXPECT_TRUE(info.author && *info.author);
    EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    ASSERT_TRUE(info.explanation);
    // It tells what the defaults do first, then the other mode.
    const std::string explanation = info.explanation;
    EXPECT_LT(explanation.find("mode best"), explanation.find("mode exact")) << explanation;
    EXPECT_NE(explanation.find("mode exact"), std::string::npos) << explanation;
    ASSERT_EQ(info.num_params, 4);
    const struct {
        const char* name;
        int type;
    } want[] = {{"auto", F0R_PARAM_BOOL},
                {"strength", F0R_PARAM_DOUBLE},
                {"chroma", F0R_PARAM_DOUBLE},
                {"mode", F0R_PARAM_STRING}};
    for (int i = 0; i < 4; ++i) {
        f0r_param_info_t p;
        std::memset(&p, 0xAB, sizeof p);
        plugin().param_info(&p, i);
        EXPECT_STREQ(p.name, want[i].name);
        EXPECT_EQ(p.type, want[i].type) << want[i].name;
        EXPECT_TRUE(p.explanation && *p.explanation) << want[i].name;
    }
    // Indices out of range leave the record alone.
    for (int i : {-1, 4, 1000}) {
        f0r_param_info_t p;
        std::memset(&p, 0xAB, sizeof p);
        f0r_param_info_t before = p;
        plugin().param_info(&p, i);
        EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << i;
    }
}

TEST_F(Frei0rPlugin, DefaultsAndClampingOfEveryParameter) {
    const Plugin& f = plugin();
    f0r_instance_t inst = f.construct(720, 576);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(f.get_double(inst, kAuto), 1.0);
    EXPECT_EQ(f.get_double(inst, kStrength), 0.4);
    EXPECT_EQ(f.get_double(inst, kChroma), 0.5);
    EXPECT_EQ(f.get_string(inst, kMode), "best");

    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int index : {kStrength, kChroma}) {
        const double fallback = f.get_double(inst, index);
        const struct {
            double in, out;
        } cases[] = {{0.0, 0.0}, {0.25, 0.25}, {1.0, 1.0},       {-5.0, 0.0},    {7.0, 1.0},
                     {inf, 1.0}, {-inf, 0.0},  {1e-300, 1e-300}, {nan, fallback}};
        for (const auto& c : cases) {
            f.set_double(inst, index, c.in);
            EXPECT_EQ(f.get_double(inst, index), c.out) << "parameter " << index << " set " << c.in;
        }
    }
    const struct {
        double in, out;
    } bools[] = {{0.0, 0.0}, {0.49, 0.0}, {0.5, 1.0}, {0.7, 1.0},
                 {2.5, 1.0}, {-1.0, 0.0}, {inf, 1.0}, {nan, 1.0}};
    for (const auto& c : bools) {
        f.set_double(inst, kAuto, c.in);
        EXPECT_EQ(f.get_double(inst, kAuto), c.out) << "auto set " << c.in;
    }
    // Mode names: the known ones are kept, anything else (or null) gives the default; the text
    // is copied, not kept.
    char name[16] = "exact";
    f.set_string(inst, kMode, name);
    std::memset(name, 'x', sizeof name - 1);
    EXPECT_EQ(f.get_string(inst, kMode), "exact");
    for (const char* odd : {"", "EXACT", "best-ever", static_cast<const char*>(nullptr)}) {
        f.set_string(inst, kMode, "exact");
        f.set_string(inst, kMode, odd);
        EXPECT_EQ(f.get_string(inst, kMode), "best");
    }

    // Bad indices and null values change nothing.
    f.set_double(inst, kStrength, 0.3);
    f.set_double(inst, kChroma, 0.7);
    f.set_double(inst, kAuto, 0.0);
    double probe = 0.9;
    f.set(inst, &probe, -1);
    f.set(inst, &probe, 4);
    f.set(inst, nullptr, kStrength);
    f.get(inst, &probe, 4);
    f.get(inst, nullptr, kStrength);
    EXPECT_EQ(probe, 0.9);
    EXPECT_EQ(f.get_double(inst, kStrength), 0.3);
    EXPECT_EQ(f.get_double(inst, kChroma), 0.7);
    EXPECT_EQ(f.get_double(inst, kAuto), 0.0);
    f.destruct(inst);
}

TEST_F(Frei0rPlugin, StrengthZeroWithAutoOffGivesEveryFrameBackExactly) {
    for (const auto& [w, h] : {std::pair{1u, 1u}, {64u, 48u}, {451u, 300u}, {3u, 500u}}) {
        f0r_instance_t inst = plugin().construct(w, h);
        apply(inst, {0.0, 0.0, 1.0});
        Frame in = picture(w, h, w * 7 + h), out(in.size());
        // Every byte value in every channel, alpha included.
        for (size_t i = 0; i < in.size(); ++i)
            in[i] ^= static_cast<uint32_t>(i % 256) * 0x01010101u;
        plugin().update(inst, 0.0, in.data(), out.data());
        EXPECT_EQ(out, in) << w << "x" << h;
        plugin().destruct(inst);
    }
}

// A photograph (scikit-image's, Debian package python3-skimage) as RGBA, with noise of about
// `spread` steps (the sum of three uniform draws from -spread..spread) on every channel.
Frame photograph(const char* name, int32_t spread, unsigned& w, unsigned& h) {
    const std::string path = std::string("/usr/lib/python3/dist-packages/skimage/data/") + name;
    if (!std::filesystem::exists(path)) {
        ADD_FAILURE() << path << " is missing: scripts/setup.sh installs python3-skimage";
        return {};
    }
    const velmora::RgbImage image = velmora::read_png(path);
    w = static_cast<unsigned>(image.width);
    h = static_cast<unsigned>(image.height);
    SplitMix64 rng{42};
    Frame f(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < f.size(); ++i) {
        uint32_t px = static_cast<uint32_t>(i * 29 % 251) << 24;
        for (int c = 0; c < 3; ++c) {
            const int32_t v = image.pixels[3 * i + c] + rng.uniform(-spread, spread) +
                              rng.uniform(-spread, spread) + rng.uniform(-spread, spread);
            px |= static_cast<uint32_t>(std::min(255, std::max(0, v))) << (8 * c);
        }
        f[i] = px;
    }
    return f;
}

TEST_F(Frei0rPlugin, DenoisesAPhotographWithTheDefaultsAndWithAStrength) {
    unsigned w = 0, h = 0;
    const Frame clean = photograph("astronaut.png", 0, w, h);
    const Frame noisy = photograph("astronaut.png", 8, w, h);
    ASSERT_FALSE(clean.empty());
    const double before = squared_error(clean, noisy);
    const Settings defaults_as_constructed = {1.0, 0.4, 0.5};
    // Noise of 8.5 steps on R, G, B is about 6.4 in luma; strength 0.6 is a level of 9.
    const Settings cases[] = {defaults_as_constructed,
                              {0.0, 0.6, 0.5},
                              {1.0, 0.4, 0.5, "exact"},
                              {0.0, 0.6, 0.5, "exact"}};
    double best_error = 0.0, exact_error = 0.0;
    for (const Settings& s : cases) {
        const Frame out = run_alone(w, h, s, {noisy})[0];
        // At least 3 dB closer to the clean picture (exact mode 3.6 dB when this was written).
        const double error = squared_error(clean, out);
        EXPECT_LT(error, 0.5 * before) << "auto " << s.automatic << " strength " << s.strength
                                       << " mode " << (s.mode ? s.mode : "default");
        EXPECT_TRUE(same_alpha(out, noisy));
        if (s.automatic != 0.0) (s.mode ? exact_error : best_error) = error;
    }
    // The default mode is the better one.
    EXPECT_LT(best_error, exact_error);
    // An instance left at its defaults filters as the defaults say.
    f0r_instance_t inst = plugin().construct(w, h);
    Frame out(noisy.size());
    plugin().update(inst, 0.0, noisy.data(), out.data());
    plugin().destruct(inst);
    EXPECT_EQ(out, run_alone(w, h, defaults_as_constructed, {noisy})[0]);
}

TEST_F(Frei0rPlugin, AnySizeFromOnePixelAndFramesItCannotTakePassThrough) {
    const std::pair<unsigned, unsigned> sizes[] = {{1, 1},   {1, 7},    {7, 1},    {2, 2},
                                                   {3, 5},   {1, 300},  {300, 1},  {17, 9},
                                                   {33, 31}, {129, 67}, {640, 360}};
    for (const auto& [w, h] : sizes) {
        for (double automatic : {0.0, 1.0}) {
            const Frame in = picture(w, h, w * 131 + h);
            const Settings s = {automatic, 0.7, 0.5};
            const std::vector<Frame> twice = run_alone(w, h, s, {in, in});
            EXPECT_EQ(twice[0], twice[1]) << w << "x" << h;
            EXPECT_TRUE(same_alpha(twice[0], in)) << w << "x" << h;
        }
    }
    // Wider than the filter works on: an instance all the same, and the frame unchanged.
    for (const auto& [w, h] : {std::pair{16385u, 1u}, {1u, 16385u}}) {
        const Frame in = picture(w, h, 3);
        EXPECT_EQ(run_alone(w, h, {0.0, 1.0, 1.0}, {in})[0], in);
    }
}

TEST_F(Frei0rPlugin, ConstructsAndDestructsManyTimesAtChangingSizes) {
    const Plugin& f = plugin();
    std::vector<uint8_t> first, again;
    for (int k = 0; k < 1000; ++k) {
        const unsigned w = 1 + k % 97, h = 1 + (k * 7) % 61;
        f0r_instance_t a = f.construct(w, h), b = f.construct(8, 8);
        ASSERT_TRUE(a && b);
        if (k % 5 == 0) {
            const Frame in = picture(w, h, k);
            Frame out(in.size());
            apply(a, {k % 2 ? 1.0 : 0.0, 0.5, 0.5});
            f.update(a, 0.0, in.data(), out.data());
        }
        f.destruct(b);
        f.destruct(a);
    }
    // The same size again after others (a host resizing) filters as before.
    const Frame in = picture(64, 48, 99);
    const Frame before = run_alone(64, 48, {1.0, 0.4, 0.5}, {in})[0];
    run_alone(640, 360, {1.0, 0.4, 0.5}, {picture(640, 360, 1)});
    run_alone(1, 1, {1.0, 0.4, 0.5}, {picture(1, 1, 1)});
    EXPECT_EQ(run_alone(64, 48, {1.0, 0.4, 0.5}, {in})[0], before);
}

// Each job: its own size, settings and frames, as the instances of MLT's render threads have.
struct Job {
    unsigned w, h;
    Settings s;
    std::vector<Frame> frames, alone, together;
};

std::vector<Job> jobs(int count) {
    SplitMix64 rng{11};
    std::vector<Job> out;
    for (int j = 0; j < count; ++j) {
        Job job;
        job.w = 1 + static_cast<unsigned>(rng.uniform(0, 380));
        job.h = 1 + static_cast<unsigned>(rng.uniform(0, 300));
        job.s = {double(j % 2), rng.uniform(0, 100) / 100.0, rng.uniform(0, 100) / 100.0};
        for (int k = 0; k < 4; ++k) job.frames.push_back(picture(job.w, job.h, j * 10 + k));
        out.push_back(std::move(job));
    }
    return out;
}

TEST_F(Frei0rPlugin, ManyInstancesOnManyThreadsGiveWhatEachGivesAlone) {
    std::vector<Job> all = jobs(8);
    for (Job& j : all) j.alone = run_alone(j.w, j.h, j.s, j.frames);
    std::vector<std::thread> threads;
    for (Job& j : all)
        threads.emplace_back([&j] { j.together = run_alone(j.w, j.h, j.s, j.frames); });
    for (std::thread& t : threads) t.join();
    for (const Job& j : all) EXPECT_EQ(j.together, j.alone) << j.w << "x" << j.h;

    // Two instances used in turn on one thread, as one chain with the filter twice: nothing of
    // one may reach the other.
    Job& a = all[0];
    Job& b = all[1];
    f0r_instance_t ia = plugin().construct(a.w, a.h), ib = plugin().construct(b.w, b.h);
    apply(ia, a.s);
    apply(ib, b.s);
    for (size_t k = 0; k < a.frames.size(); ++k) {
        Frame oa(a.frames[k].size()), ob(b.frames[k].size());
        plugin().update(ia, 0.0, a.frames[k].data(), oa.data());
        plugin().update(ib, 0.0, b.frames[k].data(), ob.data());
        EXPECT_EQ(oa, a.alone[k]);
        EXPECT_EQ(ob, b.alone[k]);
    }
    plugin().destruct(ia);
    plugin().destruct(ib);
}

TEST_F(Frei0rPlugin, EachFrameStandsAlone) {
    // MLT hands each render thread's instance an arbitrary subset of the frames: a new instance
    // given frame k must give what one that saw frames 0..k gives.
    for (double automatic : {1.0, 0.0}) {
        const Settings s = {automatic, 0.5, 0.5};
        std::vector<Frame> frames;
        for (int k = 0; k < 4; ++k) frames.push_back(picture(48, 40, 700 + k, 4 + 6 * k));
        const std::vector<Frame> in_order = run_alone(48, 40, s, frames);
        for (int k = 3; k >= 0; --k)
            EXPECT_EQ(run_alone(48, 40, s, {frames[k]})[0], in_order[k]) << k;
    }
}

TEST_F(Frei0rPlugin, OneInstanceUpdatedFromSeveralThreadsAtOnce) {
    // MLT's slice mode: one instance, each thread with frames of the constructed size.
    const unsigned w = 300, h = 240;
    const Settings s = {1.0, 0.4, 0.8};
    f0r_instance_t inst = plugin().construct(w, h);
    apply(inst, s);
    const int kThreads = 4, kFrames = 6;
    std::vector<std::vector<Frame>> in(kThreads), out(kThreads);
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kFrames; ++k) in[t].push_back(picture(w, h, 900 + 10 * t + k));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (const Frame& f : in[t]) {
                out[t].emplace_back(f.size());
                apply(inst, s);  // MLT sets every parameter before each update
                plugin().update(inst, 0.0, f.data(), out[t].back().data());
            }
        });
    for (std::thread& th : threads) th.join();
    plugin().destruct(inst);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(out[t], run_alone(w, h, s, in[t])) << t;
}

size_t thread_count() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

TEST_F(Frei0rPlugin, WorkersEndWithTheirInstance) {
    // ffmpeg unloads the library after destroying its instances: no thread may be left to run
    // its code. The count is taken after a first instance, so that threads a sanitizer's
    // run-time starts with the first thread of the process are in it.
    const auto run_one = [](int k) {
        f0r_instance_t inst = plugin().construct(640, 360);
        const Frame in = picture(640, 360, k);
        Frame out(in.size());
        plugin().update(inst, 0.0, in.data(), out.data());
        plugin().destruct(inst);
    };
    run_one(0);
    const size_t before = thread_count();
    for (int k = 1; k < 4; ++k) {
        run_one(k);
        EXPECT_EQ(thread_count(), before);
    }
}

TEST_F(Frei0rPlugin, HostFloatingPointModesChangeNoBitAndAreRestored) {
    // Large enough for the instance's workers, which are started under the host's call.
    const unsigned w = 320, h = 240;
    const Frame in = picture(w, h, 5);
    const Frame want = run_alone(w, h, {1.0, 0.4, 0.5}, {in})[0];
    // Flush to zero, denormals are zero, round toward zero, as a host may leave them.
    const unsigned saved = _mm_getcsr();
    const unsigned host = (saved & ~0x6000u) | 0x8040u | 0x6000u;
    _mm_setcsr(host);
    const Frame got = run_alone(w, h, {1.0, 0.4, 0.5}, {in})[0];
    const unsigned after = _mm_getcsr();
    _mm_setcsr(saved);
    EXPECT_EQ(got, want);
    EXPECT_EQ(after & ~0x3Fu, host & ~0x3Fu);
}

TEST_F(Frei0rPlugin, EveryKernelTableGivesTheSameBits) {
    const unsigned w = 333, h = 211;
    const Frame in = picture(w, h, 8);
    const char* saved = std::getenv("VELMORA_ISA");
    const std::string keep = saved ? saved : "";
    std::vector<Frame> results;
    for (const char* isa : {"scalar", "sse41", "avx2"}) {
        setenv("VELMORA_ISA", isa, 1);
        results.push_back(run_alone(w, h, {1.0, 0.4, 0.7}, {in})[0]);
    }
    if (saved)
        setenv("VELMORA_ISA", keep.c_str(), 1);
    else
        unsetenv("VELMORA_ISA");
    EXPECT_NE(results[0], in);
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(results[2], results[0]);
}

// What an instance gave for frames in a child process, and what it wrote to standard error.
struct ChildRun {
    std::vector<Frame> out;
    std::string error_output;
};

// The process's private writable memory (VmData), as RLIMIT_DATA counts it.
uint64_t data_bytes() {
    unsigned long long kib = 0;
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmData: %llu kB", &kib) == 1) break;
    if (status) std::fclose(status);
    return kib * 1024;
}

// One new instance filters `frames` with the defaults in a child process whose private writable
// memory (what RLIMIT_DATA counts) may grow by `room` bytes (0: as much as it likes).
ChildRun run_in_child(unsigned w, unsigned h, const std::vector<Frame>& frames, uint64_t room) {
    size_t pixels = 0;
    for (const Frame& f : frames) pixels += f.size();
    void* shared =
        mmap(nullptr, pixels * 4, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    int error_pipe[2];
    if (shared == MAP_FAILED || pipe(error_pipe) != 0) {
        ADD_FAILURE() << "no shared memory or pipe";
        return {};
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(error_pipe[1], 2);
        rlimit limit;
        getrlimit(RLIMIT_DATA, &limit);
        malloc_trim(0);
        limit.rlim_cur = data_bytes() + room;
        if (room > 0 && setrlimit(RLIMIT_DATA, &limit) != 0) _exit(2);
        f0r_instance_t inst = plugin().construct(w, h);
        uint32_t* out = static_cast<uint32_t*>(shared);
        for (const Frame& f : frames) {
            plugin().update(inst, 0.0, f.data(), out);
            out += f.size();
        }
        plugin().destruct(inst);
        _exit(0);
    }
    close(error_pipe[1]);
    ChildRun run;
    char buffer[4096];
    for (ssize_t n; (n = read(error_pipe[0], buffer, sizeof buffer)) > 0;)
        run.error_output.append(buffer, static_cast<size_t>(n));
    close(error_pipe[0]);
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    const uint32_t* out = static_cast<const uint32_t*>(shared);
    for (const Frame& f : frames) {
        run.out.emplace_back(out, out + f.size());
        out += f.size();
    }
    munmap(shared, pixels * 4);
    return run;
}

TEST_F(Frei0rPlugin, FramesItCannotFilterAsSetAreSaidOnceAndSmallerWorkingSetsTried) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator stops the process when memory cannot be had, where "
                    "the plug-in is to be told so and go on";
#endif
    // Large blocks mapped afresh and unmapped when freed, so that the child's memory grows by
    // what the plug-in allocates, not into free space a heap kept from earlier.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // Tall and narrow: each worker's scratch is as large as the plane, so that fewer workers
    // make a difference the limit can tell apart.
    const unsigned w = 48, h = 16000;
    const int threads = velmora::worker_threads(w, h);
    const auto bytes = [&](int t, bool best) {
        return static_cast<uint64_t>(velmora::workspace_bytes(w, h, {t, best}));
    };
    const uint64_t both_1 = bytes(1, true), exact_1 = bytes(1, false);
    const struct {
        const char* what;
        unsigned w, h;
        uint64_t room;     // between what must fit and what must not
        const char* mode;  // the frames come out as this mode gives them; null: unchanged
        const char* said;
        bool applies;
    } cases[] = {
        {"fewer workers", w, h, (both_1 + bytes(threads, true)) / 2, "best", "with 1 thread",
         threads > 1},
        {"exact mode's memory", w, h, (exact_1 + both_1) / 2, "exact", "in exact mode", true},
        {"nothing fits", w, h, exact_1 / 2, nullptr, "passing them through unfiltered", true},
        {"larger than the filter works on", 16385, 1, 0, nullptr, "passing them through unfiltered",
         true},
    };
    for (const auto& c : cases) {
        if (!c.applies) continue;
        std::vector<Frame> in;
        for (int k = 0; k < 3; ++k) in.push_back(picture(c.w, c.h, 40 + k));
        const ChildRun run = run_in_child(c.w, c.h, in, c.room);
        const std::vector<Frame> want =
            c.mode ? run_alone(c.w, c.h, {1.0, 0.4, 0.5, c.mode}, in) : in;
        if (c.mode) {
            EXPECT_NE(want, in) << c.what;
        }
        EXPECT_EQ(run.out, want) << c.what;
        const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h) + " frames";
        // One line, said once for all the frames.
        EXPECT_EQ(run.error_output.rfind("velmora.so: "), 0u) << c.what << ": " << run.error_output;
        EXPECT_NE(run.error_output.find(size), std::string::npos) << run.error_output;
        EXPECT_NE(run.error_output.find(c.said), std::string::npos) << run.error_output;
    }
}

TEST_F(Frei0rPlugin, WritesNothingToTheHostsOutputAndNoFiles) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("velmora-frei0r-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path old_cwd = fs::current_path();
    fs::current_path(folder);
    const std::string captured = (folder / "..velmora-captured").string();
    std::fflush(stdout);
    std::fflush(stderr);
    const int out_copy = dup(1), err_copy = dup(2);
    const int sink = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(sink, 1);
    dup2(sink, 2);
    for (const auto& [w, h] : {std::pair{1u, 1u}, {320u, 240u}}) {
        f0r_plugin_info_t info;
        plugin().plugin_info(&info);
        f0r_instance_t inst = plugin().construct(w, h);
        apply(inst, {1.0, 2.0, std::nan(""), "nonsense"});
        const Frame in = picture(w, h, 1);
        Frame out(in.size());
        plugin().update(inst, -3.7e20, in.data(), out.data());
        apply(inst, {0.0, 0.3, 0.5, "exact"});
        plugin().update(inst, 0.0, in.data(), out.data());
        plugin().destruct(inst);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(out_copy, 1);
    dup2(err_copy, 2);
    close(out_copy);
    close(err_copy);
    close(sink);
    EXPECT_EQ(fs::file_size(captured), 0u);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path() != captured) left.push_back(entry.path().filename().string());
    EXPECT_TRUE(left.empty()) << left.front();
    fs::current_path(old_cwd);
    fs::remove_all(folder);
}

}  // namespace
