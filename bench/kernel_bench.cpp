// Every vector kernel against its scalar form: checks the bits on random data, then times both.
// One harness for all kernels and instruction sets, in the manner of a SIMD checker: each kernel
// of VELMORA_KERNELS has one case or more here, and a kernel without one fails the run.
//
//   velmora-kernels [--width 1920] [--height 1088]   (widths a multiple of 16, two rows or more)
#include <algorithm>
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
    std::vector<float> plane, scratch, out;
    std::vector<int16_t> samples;
    std::vector<uint16_t> words;
    std::vector<uint8_t> bytes;
    std::vector<int32_t> mask, sads;
    std::vector<uint32_t> marks;
    float* aligned_plane() { return align(plane); }
    float* aligned_scratch() { return align(scratch); }
    static float* align(std::vector<float>& v) {
        float* p = v.data();
        while (reinterpret_cast<std::uintptr_t>(p) % 32) ++p;
        return p;
    }
};

// The kernels of the list by name, for the cases to say which one each measures.
#define VELMORA_KERNEL_ID(kernel) kernel,
enum class Kernel { VELMORA_KERNELS(VELMORA_KERNEL_ID) };
#undef VELMORA_KERNEL_ID

// One kernel case: prepares identical inputs, runs the kernel of a table (after others it
// needs, which `how` names), and gives back the bytes it produced.
struct KernelCase {
    Kernel kernel;
    const char* how;
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

// The fastest of several runs, the one other work on the machine disturbed least; the inputs
// are reset before each, outside the clock.
double time_ms(const std::function<void()>& reset, const std::function<void()>& body, int repeats) {
    double best = 0;
    for (int i = 0; i < repeats; ++i) {
        reset();
        const auto start = Clock::now();
        body();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (i == 0 || ms < best) best = ms;
    }
    return best;
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
    // Widths of the working planes, whose rows start on 16-byte boundaries as the row kernels
    // ask; at least two rows, for the kernels that read the rows on either side.
    if (W < 16 || W % 16 || H < 2) {
        std::fprintf(stderr, "usage: %s [--width 16, 32, ...] [--height 2 or more]\n", argv[0]);
        return 2;
    }
    const size_t plane_size = static_cast<size_t>(W) * H;
    const int words = (W + 31) / 32;  // mark words of a row
    const std::vector<float> source = random_plane(plane_size, 1);
    auto fresh = [&](Buffers& b) {
        b.plane = source;
        // The column strips' scratch, and room for the row kernels' pair of halves.
        b.scratch.assign(std::max(static_cast<size_t>(32) * H, static_cast<size_t>(2) * W) + 64,
                         0.0f);
        b.mask.assign(static_cast<size_t>(3) * W, 0);
        b.out.assign(plane_size + 16, 0.0f);
        SplitMix64 rng{2};
        b.samples.resize(plane_size * 3);
        for (int16_t& v : b.samples) v = static_cast<int16_t>(rng.uniform(-32768, 32767));
        b.words.resize(plane_size);
        for (uint16_t& v : b.words) v = static_cast<uint16_t>(rng.uniform(0, 65535));
        b.bytes.resize(plane_size);
        for (uint8_t& v : b.bytes) v = static_cast<uint8_t>(rng.uniform(0, 255));
        b.marks.assign(static_cast<size_t>(H) * words + 8, 0);
        b.sads.assign(static_cast<size_t>(H) * W / 2, 0);
    };
    // A row kernel over every row of the plane, through the scratch pair.
    auto every_row = [&](Buffers& b,
                         void (*row_kernel)(const float*, float*, int, float*, float*)) {
        float* p = b.aligned_plane();
        for (int y = 0; y < H; ++y)
            row_kernel(p + static_cast<size_t>(y) * W, p + static_cast<size_t>(y) * W, W / 2,
                       b.aligned_scratch(), b.aligned_scratch() + W);
    };
    auto row = [&](Buffers& b, int y) { return b.aligned_plane() + static_cast<size_t>(y) * W; };
    // The plane's rows as a sliding window: the column step at pair p lifts rows of pairs
    // p-3 .. p in place and puts its outputs into `out`.
    auto every_pair = [&](Buffers& b, const KernelSet& k, bool inverse, bool streamed = false) {
        for (int p = 3; p < H / 2; ++p) {
            auto even = [&](int q) { return row(b, 2 * q); };
            auto odd = [&](int q) { return row(b, 2 * q + 1); };
            if (inverse) {
                float* const lines[6] = {even(p),    odd(p),      even(p - 1),
                                         odd(p - 1), even(p - 2), odd(p - 2)};
                k.inverse_column_step(lines, W);
            } else {
                float* const lines[6] = {even(p),     even(p - 1), odd(p - 1),
                                         even(p - 2), odd(p - 2),  odd(p - 3)};
                float* out = Buffers::align(b.out) + static_cast<size_t>(p) * W;
                (streamed ? k.forward_column_step_streaming : k.forward_column_step)(
                    lines, out, out + W / 2, W / 2);
            }
        }
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
    // The blends of six neighbours, every `step` rows: the weights the float rows after row y,
    // the output and its ratio rows y and y + 1 of `out`.
    auto blend_rows = [&](Buffers& b, int step, auto blend) {
        for (int y = 0; y + step <= H; y += step) {
            const float* w[6];
            for (int u = 0; u < 6; ++u) w[u] = row(b, y + 1 + u);
            blend(y, w, b.out.data() + static_cast<size_t>(y) * W);
        }
    };
    auto plane_and_out = [&](Buffers& b) {
        auto v = bytes_of(b.aligned_plane(), plane_size);
        const auto out = bytes_of(b.out.data(), b.out.size());
        v.insert(v.end(), out.begin(), out.end());
        return v;
    };
    auto out_bytes = [&](Buffers& b) { return bytes_of(b.out.data(), b.out.size()); };
    auto sample_bytes = [&](Buffers& b) { return bytes_of(b.samples.data(), b.samples.size()); };
    const std::vector<KernelCase> cases = {
        {Kernel::forward_row, "in place",
         [&](const KernelSet& k, Buffers& b) { every_row(b, k.forward_row); }, plane_bytes},
        {Kernel::forward_columns, "",
         [&](const KernelSet& k, Buffers& b) {
             k.forward_columns(b.aligned_plane(), W, W, H / 2, b.aligned_scratch(), 32 * H);
         },
         plane_bytes},
        {Kernel::inverse_columns, "",
         [&](const KernelSet& k, Buffers& b) {
             k.inverse_columns(b.aligned_plane(), W, W, H / 2, b.aligned_scratch(), 32 * H);
         },
         plane_bytes},
        {Kernel::inverse_row, "",
         [&](const KernelSet& k, Buffers& b) { every_row(b, k.inverse_row); }, plane_bytes},
        {Kernel::threshold_strip, "",
         [&](const KernelSet& k, Buffers& b) {
             k.threshold_strip(b.aligned_plane(), W, b.mask.data(), W, 0, H, 3000.0f, W, H);
         },
         plane_bytes},
        {Kernel::load_s16, "every third sample",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y < H; ++y)
                 k.load_s16(b.samples.data() + 3 * static_cast<size_t>(y) * W + 1, 3,
                            p + static_cast<size_t>(y) * W, W);
         },
         plane_bytes},
        {Kernel::store_s16, "every third sample",
         [&](const KernelSet& k, Buffers& b) {
             const float* p = b.aligned_plane();
             for (int y = 0; y < H; ++y)
                 k.store_s16(p + static_cast<size_t>(y) * W,
                             b.samples.data() + 3 * static_cast<size_t>(y) * W + 2, 3, W, W & ~15);
         },
         sample_bytes},
        {Kernel::forward_row, "to another row",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.forward_row(row(b, y), b.out.data() + static_cast<size_t>(y) * W, W / 2,
                               b.aligned_scratch(), b.aligned_scratch() + W);
         },
         out_bytes},
        {Kernel::lift_lines, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 1; y + 1 < H; y += 2)
                 k.lift_lines(row(b, y), row(b, y - 1), row(b, y + 1), -1.5861343f, W);
         },
         plane_bytes},
        {Kernel::forward_column_step, "",
         [&](const KernelSet& k, Buffers& b) { every_pair(b, k, false); }, plane_and_out},
        {Kernel::forward_column_step_streaming, "",
         [&](const KernelSet& k, Buffers& b) { every_pair(b, k, false, true); }, plane_and_out},
        {Kernel::inverse_column_step, "",
         [&](const KernelSet& k, Buffers& b) { every_pair(b, k, true); }, plane_bytes},
        {Kernel::mark_reaches, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.mark_reaches(row(b, y), W, 3000.0f,
                                b.marks.data() + static_cast<size_t>(y) * words);
         },
         [&](Buffers& b) { return bytes_of(b.marks.data(), b.marks.size()); }},
        {Kernel::keep_scaled, "after mark_reaches",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.mark_reaches(row(b, y), W, 3000.0f,
                                b.marks.data() + static_cast<size_t>(y) * words);
             for (int y = 1; y + 1 < H; ++y) {
                 const uint32_t* m = b.marks.data() + static_cast<size_t>(y) * words;
                 k.keep_scaled(row(b, y), m - words, m, m + words, 0.8698644f,
                               b.out.data() + static_cast<size_t>(y) * W, W);
             }
         },
         out_bytes},
        {Kernel::load_u16, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.load_u16(b.words.data() + static_cast<size_t>(y) * W, row(b, y), W, 0);
         },
         plane_bytes},
        {Kernel::store_u16, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.store_u16(row(b, y), b.words.data() + static_cast<size_t>(y) * W, W, W & ~15, 0,
                             65535);
         },
         [&](Buffers& b) { return bytes_of(b.words.data(), b.words.size()); }},
        {Kernel::forward_row_split, "after split_u16",
         [&](const KernelSet& k, Buffers& b) {
             float* e = b.aligned_scratch();
             for (int y = 0; y < H; ++y) {
                 k.split_u16(b.words.data() + static_cast<size_t>(y) * W, e, e + W, W / 2, 0);
                 k.forward_row_split(e, e + W, row(b, y), W / 2);
             }
         },
         plane_bytes},
        {Kernel::load_u8, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.load_u8(b.bytes.data() + static_cast<size_t>(y) * W, row(b, y), W, 4);
         },
         plane_bytes},
        {Kernel::store_u8, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.store_u8(row(b, y), b.bytes.data() + static_cast<size_t>(y) * W, W, W & ~15, 4);
         },
         [&](Buffers& b) { return bytes_of(b.bytes.data(), b.bytes.size()); }},
        {Kernel::square_row, "",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 1 < H; y += 2)
                 k.square_row(p + static_cast<size_t>(y) * W, p + static_cast<size_t>(y + 1) * W,
                              W);
         },
         plane_bytes},
        {Kernel::box_sum_row, "radius 2",
         [&](const KernelSet& k, Buffers& b) { every_box_row(b, k, 2); }, plane_bytes},
        {Kernel::box_sum_row, "radius 1",
         [&](const KernelSet& k, Buffers& b) { every_box_row(b, k, 1); }, plane_bytes},
        {Kernel::box_sum_rows, "five rows",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 5 < H; ++y) {
                 const float* rows[5];
                 for (int r = 0; r < 5; ++r) rows[r] = p + static_cast<size_t>(y + 1 + r) * W;
                 k.box_sum_rows(rows, 5, p + static_cast<size_t>(y) * W, W);
             }
         },
         plane_bytes},
        {Kernel::pilot_energy_row, "",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 2 < H; y += 2)
                 k.pilot_energy_row(p + static_cast<size_t>(y) * W,
                                    p + static_cast<size_t>(y + 1) * W,
                                    p + static_cast<size_t>(y) * W, W, 0.04f, 6400.0f);
         },
         plane_bytes},
        {Kernel::wiener_row, "",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 1 < H; y += 2)
                 k.wiener_row(p + static_cast<size_t>(y) * W, p + static_cast<size_t>(y + 1) * W, W,
                              0.11111111f, 5120.0f);
         },
         plane_bytes},
        {Kernel::pilot_energy_ratio_row, "",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 3 < H; y += 3)
                 k.pilot_energy_ratio_row(p + static_cast<size_t>(y) * W,
                                          p + static_cast<size_t>(y + 1) * W,
                                          p + static_cast<size_t>(y + 2) * W,
                                          p + static_cast<size_t>(y) * W, W, 0.04f, 6400.0f);
         },
         plane_bytes},
        {Kernel::wiener_gain_row, "",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 3 < H; y += 3)
                 k.wiener_gain_row(p + static_cast<size_t>(y) * W,
                                   p + static_cast<size_t>(y + 1) * W,
                                   p + static_cast<size_t>(y + 2) * W,
                                   p + static_cast<size_t>(y) * W, W, 0.11111111f, 5120.0f);
         },
         plane_bytes},
        {Kernel::accumulate_row, "",
         [&](const KernelSet& k, Buffers& b) {
             float* p = b.aligned_plane();
             for (int y = 0; y + 1 < H; y += 2)
                 k.accumulate_row(p + static_cast<size_t>(y) * W,
                                  p + static_cast<size_t>(y + 1) * W + 1, W - 1, 0.25f);
         },
         plane_bytes},
        {Kernel::split_u8, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.split_u8(b.bytes.data() + static_cast<size_t>(y) * W, row(b, y),
                            row(b, y) + W / 2, W / 2, 4);
         },
         plane_bytes},
        {Kernel::split_u16, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.split_u16(b.words.data() + static_cast<size_t>(y) * W, row(b, y),
                             row(b, y) + W / 2, W / 2, 0);
         },
         plane_bytes},
        {Kernel::lift_line_end, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 1; y < H; y += 2)
                 k.lift_line_end(row(b, y), row(b, y - 1), -3.1722686f, W);
         },
         plane_bytes},
        {Kernel::scale_line, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y < H; ++y)
                 k.scale_line(row(b, y), b.out.data() + static_cast<size_t>(y) * W, 1.1496044f, W);
         },
         out_bytes},
        {Kernel::block_sads, "8 x 8 candidates",
         [&](const KernelSet& k, Buffers& b) {
             // blocks of 8 (4 on planes too low for them) against the candidates right and below
             const int side = H >= 16 ? 8 : 4, rows = std::min(8, H - side + 1), count = 8;
             int32_t* sads = b.sads.data();
             for (int y = 0; y + rows + side - 1 <= H; y += 2 * side) {
                 for (int x = 0; x + count + side + 30 < W; x += 16) {
                     const uint8_t* at = b.bytes.data() + static_cast<size_t>(y) * W + x;
                     k.block_sads(at, W, at, W, side, count, rows, sads);
                     sads += rows * count;
                 }
             }
         },
         [&](Buffers& b) { return bytes_of(b.sads.data(), b.sads.size()); }},
        {Kernel::keep_least_pair_sads, "11 x 11 candidates",
         [&](const KernelSet& k, Buffers& b) {
             // the rows of 2 x 2 blocks of a quarter-size search three pictures apart, against
             // the plane's next rows
             const int n = (W - 12) / 2;
             uint16_t* least = reinterpret_cast<uint16_t*>(b.sads.data());
             uint16_t* chosen = least + n;
             for (int y = 0; y + 13 <= H; y += 2) {
                 std::fill_n(least, n, uint16_t{0x7FFF});
                 const uint8_t* cur = b.bytes.data() + static_cast<size_t>(y) * W;
                 for (int i = 0; i < 121; ++i) {
                     const uint8_t* ref = cur + static_cast<size_t>(i / 11) * W + i % 11;
                     k.keep_least_pair_sads(cur, cur + W, ref, ref + W, n, least, chosen,
                                            static_cast<uint16_t>(i));
                 }
             }
         },
         [&](Buffers& b) { return bytes_of(b.sads.data(), b.sads.size()); }},
        {Kernel::least_cost, "11 x 11 windows",
         [&](const KernelSet& k, Buffers& b) {
             // windows of a quarter-size search three pictures apart, over the plane's bytes
             const int width = 11, window = width * width;
             int32_t* best = b.sads.data();
             for (size_t at = 0; at + 2 * window <= b.bytes.size(); at += 2 * window) {
                 int32_t sads[width * width];
                 for (int i = 0; i < window; ++i) sads[i] = b.bytes[at + i];
                 *best++ = k.least_cost(sads, width, -5, static_cast<int32_t>(at % 7) - 3, 0);
             }
         },
         [&](Buffers& b) { return bytes_of(b.sads.data(), b.sads.size()); }},
        {Kernel::difference_square_row, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y + 1 < H; y += 2)
                 k.difference_square_row(row(b, y), row(b, y + 1), row(b, y), W, 0.25f);
         },
         plane_bytes},
        {Kernel::difference_box_u8, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y + 1 < H; y += 2)
                 k.difference_box_u8(b.bytes.data() + static_cast<size_t>(y) * W,
                                     b.bytes.data() + static_cast<size_t>(y + 1) * W,
                                     b.out.data() + static_cast<size_t>(y) * W, W, 1.0f);
         },
         [&](Buffers& b) { return bytes_of(b.out.data(), b.out.size()); }},
        {Kernel::temporal_weight_row, "",
         [&](const KernelSet& k, Buffers& b) {
             int64_t guard = 0;
             for (int y = 0; y + 5 <= H; y += 5)
                 guard += k.temporal_weight_row(
                     row(b, y), row(b, y + 1), row(b, y + 2), row(b, y + 3), row(b, y + 4),
                     b.out.data() + static_cast<size_t>(y) * W, W, 1.0f / 9.0f, 1.0e-6f);
             std::memcpy(b.mask.data(), &guard, sizeof guard);
         },
         [&](Buffers& b) {
             auto v = bytes_of(b.out.data(), b.out.size());
             const auto guard = bytes_of(b.mask.data(), 2);
             v.insert(v.end(), guard.begin(), guard.end());
             return v;
         }},
        {Kernel::temporal_blend_row, "6 neighbours, with the ratio",
         [&](const KernelSet& k, Buffers& b) {
             blend_rows(b, 14, [&](int y, const float* const* w, float* out) {
                 const float* v[6];
                 for (int u = 0; u < 6; ++u) v[u] = row(b, y + 7 + u);
                 k.temporal_blend_row(row(b, y), w, v, 6, out, out + W, W);
             });
         },
         [&](Buffers& b) { return bytes_of(b.out.data(), b.out.size()); }},
        {Kernel::temporal_blend_u8, "6 neighbours, with the ratio",
         [&](const KernelSet& k, Buffers& b) {
             blend_rows(b, 7, [&](int y, const float* const* w, float* out) {
                 const uint8_t* v[6];
                 for (int u = 0; u < 6; ++u)
                     v[u] = b.bytes.data() + static_cast<size_t>(y + 1 + u) * W;
                 k.temporal_blend_u8(b.bytes.data() + static_cast<size_t>(y) * W, w, v, 6, 4, out,
                                     out + W, W);
             });
         },
         [&](Buffers& b) { return bytes_of(b.out.data(), b.out.size()); }},
        {Kernel::covered_mean_row, "",
         [&](const KernelSet& k, Buffers& b) {
             for (int y = 0; y + 3 <= H; y += 3)
                 k.covered_mean_row(row(b, y), row(b, y + 1), row(b, y + 2), W / 2);
         },
         plane_bytes},
        {Kernel::max_abs, "",
         [&](const KernelSet& k, Buffers& b) {
             float m = 0;
             for (int y = 0; y < H; ++y)
                 m += k.max_abs(b.aligned_plane() + static_cast<size_t>(y) * W + 3, W - 3);
             b.mask[0] = static_cast<int32_t>(m);
         },
         [](Buffers& b) { return bytes_of(b.mask.data(), 1); }},
    };

    std::printf("%dx%d plane; times in ms per whole plane\n", W, H);
    std::printf("%-48s %10s", "kernel", "scalar");
    const Isa vector_isas[] = {Isa::sse41, Isa::avx2};
    for (Isa isa : vector_isas)
        if (const KernelSet* k = kernels_for(isa)) std::printf(" %10s %7s", k->name, "speedup");
    std::printf("\n");
    bool all_equal = true, all_measured = true;
    for (int kernel = 0; kernel < kKernelCount; ++kernel) {
        bool measured = false;
        for (const KernelCase& c : cases) {
            if (static_cast<int>(c.kernel) != kernel) continue;
            measured = true;
            Buffers b;
            fresh(b);
            c.run(scalar_kernels, b);
            const auto reference = c.result(b);
            const double scalar_ms =
                time_ms([&] { fresh(b); }, [&] { c.run(scalar_kernels, b); }, 5);
            const std::string name =
                std::string(kKernelNames[kernel]) + (*c.how ? ", " : "") + c.how;
            std::printf("%-48s %10.3f", name.c_str(), scalar_ms);
            for (Isa isa : vector_isas) {
                const KernelSet* k = kernels_for(isa);
                if (!k) continue;
                fresh(b);
                c.run(*k, b);
                const bool equal = c.result(b) == reference;
                all_equal = all_equal && equal;
                const double ms = time_ms([&] { fresh(b); }, [&] { c.run(*k, b); }, 11);
                std::printf(" %10.3f %6.1fx%s", ms, scalar_ms / ms, equal ? "" : " DIFFERENT BITS");
            }
            std::printf("\n");
        }
        if (!measured)
            std::printf("%-48s NO CASE: neither checked nor timed\n", kKernelNames[kernel]);
        all_measured = all_measured && measured;
    }
    if (!all_measured) std::printf("some kernel has no case in this benchmark\n");
    std::printf(all_equal ? "every vector kernel gives the scalar form's bits\n"
                          : "some vector kernel differs from its scalar form\n");
    return all_equal && all_measured ? 0 : 1;
}
