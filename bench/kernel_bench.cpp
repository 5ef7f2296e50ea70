// Every vector kernel against its scalar form: checks the bits on random data, then times both.
// One harness for all kernels and instruction sets, in the manner of a SIMD checker.
//
//   velmora-kernels [--width 1920] [--height 1088]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kernels/kernel_set.h"
#include "standin/frame_source.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Buffers {
    std::vector<float> plane, scratch;
    std::vector<int16_t> samples;
    std::vector<int32_t> mask;
    float* aligned_plane() { return align(plane); }
    float* aligned_scratch() { return align(scratch); }
    static float* align(std::vector<float>& v) {
        float* p = v.data();
        while (reinterpret_cast<std::uintptr_t>(p) % 32) ++p;
        return p;
    }
};

// One kernel case: prepares identical inputs, runs the kernel of a table, and gives back the
// bytes it produced.
struct KernelCase {
    const char* name;
    std::function<void(const KernelSet&, Buffers&)> run;
    std::function<std::vector<unsigned char>(Buffers&)> result;
};

std::vector<float> random_plane(size_t n, uint64_t seed) {
    SplitMix64 rng{seed};
    std::vector<float> v(n + 16);
    for (float& f : v) f = static_cast<float>(rng.uniform(-40000, 40000)) / 7.0f;
    return v;
}

template <class T>
std::vector<unsigned char> bytes_of(const T* p, size_t count) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return {b, b + count * sizeof(T)};
}

// The mean of several runs; the inputs are reset before each, outside the clock.
double time_ms(const std::function<void()>& reset, const std::function<void()>& body, int repeats) {
    double total = 0;
    for (int i = 0; i < repeats; ++i) {
        reset();
        const auto start = Clock::now();
        body();
        total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    return total / repeats;
}

}  // namespace

int main(int argc, char** argv) {
    int W = 1920, H = 1088;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--width"))
            W = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--height"))
            H = std::atoi(argv[i + 1]);
    }
    const size_t plane_size = static_cast<size_t>(W) * H;
    const std::vector<float> source = random_plane(plane_size, 1);
    auto fresh = [&](Buffers& b) {
        b.plane = source;
        b.scratch.assign(static_cast<size_t>(32) * H + 64, 0.0f);
        b.mask.assign(static_cast<size_t>(3) * W, 0);
        SplitMix64 rng{2};
        b.samples.resize(plane_size * 3);
        for (int16_t& v : b.samples) v = static_cast<int16_t>(rng.uniform(-32768, 32767));
    };
    // A row kernel over every row of the plane, through the scratch pair.
    auto every_row = [&](Buffers& b, void (*row_kernel)(float*, int, float*, float*)) {
        float* p = b.aligned_plane();
        for (int y = 0; y < H; ++y)
            row_kernel(p + static_cast<size_t>(y) * W, W / 2, b.aligned_scratch(),
                       b.aligned_scratch() + W);
    };
    // A box sum along each row into the scratch, copied back over the row.
    auto every_box_row = [&](Buffers& b, const KernelSet& k, int radius) {
        float* p = b.aligned_plane();
        for (int y = 0; y < H; ++y) {
            float* row = p + static_cast<size_t>(y) * W;
            k.box_sum_row(row, b.aligned_scratch(), W, radius);
            std::memcpy(row, b.aligned_scratch(), static_cast<size_t>(W) * sizeof(float));
        }
    };
    auto plane_bytes = [&](Buffers& b) { return bytes_of(b.aligned_plane(), plane_size); };
    auto sample_bytes = [&](Buffers& b) { return bytes_of(b.samples.data(), b.samples.size()); };
    const std::vector<KernelCase> cases = {
        {"forward rows", [&](const KernelSet& k, Buffers& b) { every_row(b, k.forward_row); },
         plane_bytes},
        {"forward columns",
         [&](const KernelSet& k, Buffers& b) {
             k.forward_columns(b.aligned_plane(), W, W, H / 2, b.aligned_scratch(), 32 * H);
         },
         plane_bytes},
        {"inverse columns",
         [&](const KernelSet& k, Buffers& b) {
             k.inverse_columns(b.aligned_plane(), W, W, H / 2, b.aligned_scratch(), 32 * H);
         },
         plane_bytes},
        {"inverse rows", [&](const KernelSet& k, Buffers& b) { every_row(b, k.inverse_row); },
         plane_bytes},
        {"threshold strip",
         [&](const KernelSet& k, Buffers& b) {
             k.threshold_strip(b.aligned_plane(), W, b.mask.data(), W, 0, H, 3000.0f, W, H);
         },
         plane_bytes},
        {"load s16 x3",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y < H; ++y)
                 k.load_s16(b.samples.data() + 3 * static_cast<size_t>(y) * W + 1, 3,
                            p + static_cast<size_t>(y) * W, W);
         },
         plane_bytes},
        {"store s16 x3",
         [&](const KernelSet& k, Buffers& b) {
             const float* p = b.aligned_plane();
             for (int y = 0; y < H; ++y)
                 k.store_s16(p + static_cast<size_t>(y) * W,
                             b.samples.data() + 3 * static_cast<size_t>(y) * W + 2, 3, W, W & ~15);
         },
         sample_bytes},
        {"square rows",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 1 < H; y += 2)
                 k.square_row(p + static_cast<size_t>(y) * W, p + static_cast<size_t>(y + 1) * W,
                              W);
         },
         plane_bytes},
        {"box sum rows r2", [&](const KernelSet& k, Buffers& b) { every_box_row(b, k, 2); },
         plane_bytes},
        {"box sum rows r1", [&](const KernelSet& k, Buffers& b) { every_box_row(b, k, 1); },
         plane_bytes},
        {"box sum cols x5",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 5 < H; ++y) {
                 const float* rows[5];
                 for (int r = 0; r < 5; ++r) rows[r] = p + static_cast<size_t>(y + 1 + r) * W;
                 k.box_sum_rows(rows, 5, p + static_cast<size_t>(y) * W, W);
             }
         },
         plane_bytes},
        {"pilot energy",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 2 < H; y += 2)
                 k.pilot_energy_row(p + static_cast<size_t>(y) * W,
                                    p + static_cast<size_t>(y + 1) * W,
                                    p + static_cast<size_t>(y) * W, W, 0.04f, 6400.0f);
         },
         plane_bytes},
        {"wiener gain",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 1 < H; y += 2)
                 k.wiener_row(p + static_cast<size_t>(y) * W, p + static_cast<size_t>(y + 1) * W, W,
                              0.11111111f, 5120.0f);
         },
         plane_bytes},
        {"pilot energy, ratio",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 3 < H; y += 3)
                 k.pilot_energy_ratio_row(p + static_cast<size_t>(y) * W,
                                          p + static_cast<size_t>(y + 1) * W,
                                          p + static_cast<size_t>(y + 2) * W,
                                          p + static_cast<size_t>(y) * W, W, 0.04f, 6400.0f);
         },
         plane_bytes},
        {"wiener gain, ratio, kept",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 3 < H; y += 3)
                 k.wiener_gain_row(p + static_cast<size_t>(y) * W,
                                   p + static_cast<size_t>(y + 1) * W,
                                   p + static_cast<size_t>(y + 2) * W,
                                   p + static_cast<size_t>(y) * W, W, 0.11111111f, 5120.0f);
         },
         plane_bytes},
        {"accumulate",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 1 < H; y += 2)
                 k.accumulate_row(p + static_cast<size_t>(y) * W,
                                  p + static_cast<size_t>(y + 1) * W + 1, W - 1, 0.25f);
         },
         plane_bytes},
        {"max abs",
         [&](const KernelSet& k, Buffers& b) {
             float m = 0;
             for (int y = 0; y < H; ++y)
                 m += k.max_abs(b.aligned_plane() + static_cast<size_t>(y) * W + 3, W - 3);
             b.mask[0] = static_cast<int32_t>(m);
         },
         [](Buffers& b) { return bytes_of(b.mask.data(), 1); }},
    };

    std::printf("%dx%d plane; times in ms per whole plane\n", W, H);
    std::printf("%-16s %10s", "kernel", "scalar");
    const Isa vector_isas[] = {Isa::sse41, Isa::avx2};
    for (Isa isa : vector_isas)
        if (const KernelSet* k = kernels_for(isa)) std::printf(" %10s %7s", k->name, "speedup");
    std::printf("\n");
    bool all_equal = true;
    for (const KernelCase& c : cases) {
        Buffers b;
        fresh(b);
        c.run(scalar_kernels, b);
        const auto reference = c.result(b);
        const double scalar_ms = time_ms([&] { fresh(b); }, [&] { c.run(scalar_kernels, b); }, 3);
        std::printf("%-16s %10.3f", c.name, scalar_ms);
        for (Isa isa : vector_isas) {
            const KernelSet* k = kernels_for(isa);
            if (!k) continue;
            fresh(b);
            c.run(*k, b);
            const bool equal = c.result(b) == reference;
            all_equal = all_equal && equal;
            const double ms = time_ms([&] { fresh(b); }, [&] { c.run(*k, b); }, 5);
            std::printf(" %10.3f %6.1fx%s", ms, scalar_ms / ms, equal ? "" : " DIFFERENT BITS");
        }
        std::printf("\n");
    }
    std::printf(all_equal ? "every vector kernel gives the scalar form's bits\n"
                          : "some vector kernel differs from its scalar form\n");
    return all_equal ? 0 : 1;
}
