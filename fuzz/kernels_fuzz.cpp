// Every vector kernel against its scalar form on lines, strips, bands and blocks of random sizes
// and contents: one comparison for each kernel of VELMORA_KERNELS, handed that kernel's two
// forms. Any difference in the bits is a finding.
#include <algorithm>
#include <vector>

#include "kernels/kernel_set.h"
#include "standin/fuzz_input.h"

namespace {

// What the comparisons of one input share: rows of 2n samples, strips of `count` columns
// `stride` floats apart, and floats of every kind to take inputs from, enough for 2n rows of the
// strip and for eight rows of n.
struct Shared {
    int n, count, stride;
    const uint8_t* data;
    size_t size;
    std::vector<float> source;

    // The input's bytes read round and round, so that inputs much shorter than what is made of
    // them still fill it all.
    uint8_t byte(size_t i) const { return size ? data[i % size] : 0; }
    // The first `count` source floats, to work on.
    std::vector<float> head(size_t count) const { return {source.begin(), source.begin() + count}; }
    // `count` integers from the bytes from `from` on.
    template <class T>
    __attribute__((no_sanitize("coverage"))) std::vector<T> values(size_t count,
                                                                   size_t from) const {
        std::vector<T> v(count);
        for (T& x : v) {
            uint64_t bits = 0;
            for (size_t i = 0; i < sizeof(T); ++i) bits |= uint64_t{byte(from++)} << (8 * i);
            x = static_cast<T>(bits);
        }
        return v;
    }
};

// Mostly short lines and narrow strips, sometimes long and wide ones. The source floats are a
// quarter any bit pattern (NaN, infinities, subnormals), the rest integers of up to 20 bits.
__attribute__((no_sanitize("coverage"))) Shared shared(FuzzInput& in) {
    Shared s{};
    s.n = in.range(1, in.byte() & 1 ? 160 : 24);
    s.count = in.range(1, in.byte() & 1 ? 70 : 20);
    s.stride = s.count + in.range(0, 9);
    s.data = in.data;
    s.size = in.size;
    const size_t floats = std::max(2 * s.n * s.stride, 8 * s.n) + 16;
    const std::vector<uint32_t> bits = s.values<uint32_t>(floats, 0);
    s.source.resize(floats);
    for (size_t i = 0; i < floats; ++i)
        s.source[i] = (bits[i] & 3) == 0 ? __builtin_bit_cast(float, bits[i])
                                         : static_cast<float>(static_cast<int32_t>(bits[i]) >> 12);
    return s;
}

float* aligned(std::vector<float>& v) {
    float* p = v.data();
    while (reinterpret_cast<std::uintptr_t>(p) % 16) ++p;
    return p;
}

void check(bool same) {
    if (!same) __builtin_trap();
}

// The same bits, except that any NaN equals any NaN: which NaN's payload an operation passes
// on depends on the order of its operands, which the compiler may swap in the plain forms.
__attribute__((no_sanitize("coverage"))) bool same_bits(const std::vector<float>& a,
                                                        const std::vector<float>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != a[i] && b[i] != b[i]) continue;
        if (__builtin_bit_cast(uint32_t, a[i]) != __builtin_bit_cast(uint32_t, b[i])) return false;
    }
    return true;
}

// ---- compare_<kernel>(input, shared, plain form, vector form) ------------------------------

// In place or into another row.
using RowKernel = decltype(KernelSet::forward_row);
void compare_rows(FuzzInput& in, const Shared& s, RowKernel plain, RowKernel vec) {
    const int n = s.n;
    std::vector<float> a = s.head(2 * n + 8), b = a, ea(2 * n + 8), eb(2 * n + 8);
    std::vector<float> da(2 * n + 8), db(2 * n + 8);
    const bool in_place = in.byte() & 1;
    plain(aligned(a), in_place ? aligned(a) : aligned(da), n, aligned(ea),
          aligned(ea) + n + 4 - (n % 4));
    vec(aligned(b), in_place ? aligned(b) : aligned(db), n, aligned(eb),
        aligned(eb) + n + 4 - (n % 4));
    check(same_bits(a, b));
    check(same_bits(da, db));
}
constexpr auto compare_forward_row = compare_rows;
constexpr auto compare_inverse_row = compare_rows;

using SplitRowKernel = decltype(KernelSet::forward_row_split);
void compare_forward_row_split(FuzzInput&, const Shared& s, SplitRowKernel plain,
                               SplitRowKernel vec) {
    const int n = s.n;
    std::vector<float> ea = s.head(n + 8), oa(s.source.begin() + n, s.source.begin() + 2 * n + 8);
    std::vector<float> eb = ea, ob = oa, da(2 * n + 8), db(2 * n + 8);
    plain(aligned(ea), aligned(oa), aligned(da), n);
    vec(aligned(eb), aligned(ob), aligned(db), n);
    check(same_bits(da, db));
}

// The strip from an unaligned start, with scratch from the least the plain form needs to room
// for copying the widest strip.
using ColumnKernel = decltype(KernelSet::forward_columns);
void compare_columns(FuzzInput& in, const Shared& s, ColumnKernel plain, ColumnKernel vec) {
    const int offset = in.range(0, 3), scratch_floats = in.range(2, 130) * s.n;
    std::vector<float> a = s.head(2 * s.n * s.stride + 4), b = a, scratch(scratch_floats);
    plain(a.data() + offset, s.stride, s.count, s.n, scratch.data(), scratch_floats);
    vec(b.data() + offset, s.stride, s.count, s.n, scratch.data(), scratch_floats);
    check(same_bits(a, b));
}
constexpr auto compare_forward_columns = compare_columns;
constexpr auto compare_inverse_columns = compare_columns;

// A band of a block of 2n rows of the strip.
using StripKernel = decltype(KernelSet::threshold_strip);
void compare_threshold_strip(FuzzInput& in, const Shared& s, StripKernel plain, StripKernel vec) {
    const int m = 2 * s.n, r0 = in.range(0, m - 1), r1 = in.range(r0, m);
    const float x = static_cast<float>(in.range(0, 40000)) / 4.0f;
    std::vector<float> a = s.head(m * s.stride), b = a;
    std::vector<int32_t> mask(3 * s.stride + 8);
    plain(a.data(), s.stride, mask.data(), s.stride, r0, r1, x, s.count, m);
    vec(b.data(), s.stride, mask.data(), s.stride, r0, r1, x, s.count, m);
    check(same_bits(a, b));
}

// Samples of the command line: every third one of `count` pixels.
using LoadS16Kernel = decltype(KernelSet::load_s16);
void compare_load_s16(FuzzInput& in, const Shared& s, LoadS16Kernel plain, LoadS16Kernel vec) {
    const std::vector<int16_t> samples = s.values<int16_t>(3 * s.count + 3, in.u16());
    std::vector<float> a(s.count), b(s.count);
    plain(samples.data() + 2, 3, a.data(), s.count);
    vec(samples.data() + 2, 3, b.data(), s.count);
    check(same_bits(a, b));
}

using StoreS16Kernel = decltype(KernelSet::store_s16);
void compare_store_s16(FuzzInput& in, const Shared& s, StoreS16Kernel plain, StoreS16Kernel vec) {
    std::vector<int16_t> a(3 * s.count + 3), b(3 * s.count + 3);
    const int rounded = in.range(0, s.count);
    plain(s.source.data(), a.data() + 1, 3, s.count, rounded);
    vec(s.source.data(), b.data() + 1, 3, s.count, rounded);
    check(a == b);
}

using MaxAbsKernel = decltype(KernelSet::max_abs);
void compare_max_abs(FuzzInput&, const Shared& s, MaxAbsKernel plain, MaxAbsKernel vec) {
    check(__builtin_bit_cast(uint32_t, plain(s.source.data() + 1, s.count)) ==
          __builtin_bit_cast(uint32_t, vec(s.source.data() + 1, s.count)));
}

// Planar samples shifted to the working scale and back.
template <class Sample>
void compare_planar_load(FuzzInput& in, const Shared& s,
                         void (*plain)(const Sample*, float*, int, int),
                         void (*vec)(const Sample*, float*, int, int)) {
    const int shift = in.range(0, 8);
    const std::vector<Sample> samples = s.values<Sample>(s.count, in.u16());
    std::vector<float> a(s.count), b(s.count);
    plain(samples.data(), a.data(), s.count, shift);
    vec(samples.data(), b.data(), s.count, shift);
    check(same_bits(a, b));
}
constexpr auto compare_load_u8 = compare_planar_load<uint8_t>;
constexpr auto compare_load_u16 = compare_planar_load<uint16_t>;

using StoreU8Kernel = decltype(KernelSet::store_u8);
void compare_store_u8(FuzzInput& in, const Shared& s, StoreU8Kernel plain, StoreU8Kernel vec) {
    const int rounded = in.range(0, s.count), shift = in.range(0, 7);
    std::vector<uint8_t> a(s.count), b(s.count);
    plain(s.source.data(), a.data(), s.count, rounded, shift);
    vec(s.source.data(), b.data(), s.count, rounded, shift);
    check(a == b);
}
using StoreU16Kernel = decltype(KernelSet::store_u16);
void compare_store_u16(FuzzInput& in, const Shared& s, StoreU16Kernel plain, StoreU16Kernel vec) {
    const int rounded = in.range(0, s.count), shift = in.range(0, 7);
    const int32_t maximum = static_cast<int32_t>(in.u16());
    std::vector<uint16_t> a(s.count), b(s.count);
    plain(s.source.data(), a.data(), s.count, rounded, shift, maximum);
    vec(s.source.data(), b.data(), s.count, rounded, shift, maximum);
    check(a == b);
}

// The band shrink of the best mode: box sums along a line and down lines, the two gains and the
// accumulation.
using SquareKernel = decltype(KernelSet::square_row);
void compare_square_row(FuzzInput&, const Shared& s, SquareKernel plain, SquareKernel vec) {
    std::vector<float> a(s.n + 8), b(s.n + 8);
    plain(s.source.data() + 2, a.data(), s.n);
    vec(s.source.data() + 2, b.data(), s.n);
    check(same_bits(a, b));
}

using BoxRowKernel = decltype(KernelSet::box_sum_row);
void compare_box_sum_row(FuzzInput& in, const Shared& s, BoxRowKernel plain, BoxRowKernel vec) {
    const int radius = in.range(1, 4);
    std::vector<float> a(s.n + 8), b(s.n + 8);
    plain(s.source.data() + 1, a.data(), s.n, radius);
    vec(s.source.data() + 1, b.data(), s.n, radius);
    check(same_bits(a, b));
}

using BoxRowsKernel = decltype(KernelSet::box_sum_rows);
void compare_box_sum_rows(FuzzInput& in, const Shared& s, BoxRowsKernel plain, BoxRowsKernel vec) {
    const int rows = std::min(in.range(1, 7), 2 * s.n);
    const float* lines[7];
    for (int r = 0; r < rows; ++r) lines[r] = s.source.data() + r * s.stride + (r & 1);
    std::vector<float> a(s.count + 8), b(s.count + 8);
    plain(lines, rows, a.data(), s.count);
    vec(lines, rows, b.data(), s.count);
    check(same_bits(a, b));
}

struct Gain {
    float noise, inv_window;
};
Gain gain(FuzzInput& in) {
    const float noise = static_cast<float>(in.range(0, 1 << 20)) / 16.0f;
    return {noise, in.byte() & 1 ? 0.04f : 0.11111111f};
}

using PilotKernel = decltype(KernelSet::pilot_energy_row);
void compare_pilot_energy_row(FuzzInput& in, const Shared& s, PilotKernel plain, PilotKernel vec) {
    const Gain g = gain(in);
    std::vector<float> a(s.n + 8), b(s.n + 8);
    plain(s.source.data() + 3, s.source.data(), a.data(), s.n, g.inv_window, g.noise);
    vec(s.source.data() + 3, s.source.data(), b.data(), s.n, g.inv_window, g.noise);
    check(same_bits(a, b));
}

using WienerKernel = decltype(KernelSet::wiener_row);
void compare_wiener_row(FuzzInput& in, const Shared& s, WienerKernel plain, WienerKernel vec) {
    const Gain g = gain(in);
    std::vector<float> a = s.head(s.n + 8), b = a;
    plain(s.source.data() + 4, a.data(), s.n, g.inv_window, g.noise);
    vec(s.source.data() + 4, b.data(), s.n, g.inv_window, g.noise);
    check(same_bits(a, b));
}

// With each coefficient's noise scaled by a ratio.
using PilotRatioKernel = decltype(KernelSet::pilot_energy_ratio_row);
void compare_pilot_energy_ratio_row(FuzzInput& in, const Shared& s, PilotRatioKernel plain,
                                    PilotRatioKernel vec) {
    const Gain g = gain(in);
    const float* ratio = s.source.data() + 6;
    std::vector<float> a(s.n + 8), b(s.n + 8);
    plain(s.source.data() + 3, s.source.data(), ratio, a.data(), s.n, g.inv_window, g.noise);
    vec(s.source.data() + 3, s.source.data(), ratio, b.data(), s.n, g.inv_window, g.noise);
    check(same_bits(a, b));
}

// ... and the gains kept.
using WienerGainKernel = decltype(KernelSet::wiener_gain_row);
void compare_wiener_gain_row(FuzzInput& in, const Shared& s, WienerGainKernel plain,
                             WienerGainKernel vec) {
    const Gain g = gain(in);
    const float* ratio = s.source.data() + 6;
    std::vector<float> ca = s.head(s.n + 8), cb = ca;
    std::vector<float> a(s.n + 8), b(s.n + 8);
    plain(s.source.data() + 4, ca.data(), ratio, a.data(), s.n, g.inv_window, g.noise);
    vec(s.source.data() + 4, cb.data(), ratio, b.data(), s.n, g.inv_window, g.noise);
    check(same_bits(ca, cb));
    check(same_bits(a, b));
}

using AccumulateKernel = decltype(KernelSet::accumulate_row);
void compare_accumulate_row(FuzzInput& in, const Shared& s, AccumulateKernel plain,
                            AccumulateKernel vec) {
    const float scale = in.byte() & 1 ? 1.0f : 0.25f;
    std::vector<float> a = s.head(s.n + 8), b = a;
    plain(a.data(), s.source.data() + 5, s.n, scale);
    vec(b.data(), s.source.data() + 5, s.n, scale);
    check(same_bits(a, b));
}

// The temporal averaging: block motion over 8-bit samples, the weights and their sums.
using SadsKernel = decltype(KernelSet::block_sads);
void compare_block_sads(FuzzInput& in, const Shared& s, SadsKernel plain, SadsKernel vec) {
    // mostly few candidates, sometimes as many as the kernel takes
    const int side = 4 << in.range(0, 1), count = in.range(1, in.byte() & 1 ? 64 : 12);
    const int rows = in.range(1, in.byte() & 1 ? 64 : 12);
    const int ref_stride = count + side - 1 + in.range(0, 40), cur_stride = side + in.range(0, 8);
    // room for what the vector forms read past the last candidate
    const std::vector<uint8_t> ref =
        s.values<uint8_t>(static_cast<size_t>(rows + side) * ref_stride + 64, in.u16());
    const std::vector<uint8_t> cur = s.values<uint8_t>(side * cur_stride, in.u16());
    // with the room past the last sum that the vector forms may write
    std::vector<int32_t> a(rows * count + 7), b(rows * count + 7);
    plain(cur.data(), cur_stride, ref.data(), ref_stride, side, count, rows, a.data());
    vec(cur.data(), cur_stride, ref.data(), ref_stride, side, count, rows, b.data());
    check(std::equal(a.begin(), a.end() - 7, b.begin()));
}

using PairSadsKernel = decltype(KernelSet::keep_least_pair_sads);
void compare_keep_least_pair_sads(FuzzInput& in, const Shared& s, PairSadsKernel plain,
                                  PairSadsKernel vec) {
    const int n = in.range(1, in.byte() & 1 ? 300 : 40);
    const std::vector<uint8_t> rows = s.values<uint8_t>(static_cast<size_t>(8 * n), in.u16());
    // the least so far from a narrow range (ties and changes) or a wide one, and one past
    // the blocks that must stay
    std::vector<uint16_t> least = s.values<uint16_t>(static_cast<size_t>(n + 1), in.u16());
    const int spread = in.byte() & 1 ? 64 : 32768;
    for (uint16_t& v : least) v = static_cast<uint16_t>(v % spread);
    std::vector<uint16_t> chosen(static_cast<size_t>(n + 1), 7), least_b = least, chosen_b = chosen;
    const uint8_t* r = rows.data();
    const uint16_t candidate = in.u16();
    plain(r, r + 2 * n, r + 4 * n, r + 6 * n, n, least.data(), chosen.data(), candidate);
    vec(r, r + 2 * n, r + 4 * n, r + 6 * n, n, least_b.data(), chosen_b.data(), candidate);
    check(least == least_b && chosen == chosen_b);
}

using LeastCostKernel = decltype(KernelSet::least_cost);
void compare_least_cost(FuzzInput& in, const Shared& s, LeastCostKernel plain,
                        LeastCostKernel vec) {
    // costs from a narrow range or a wide one: ties, and sums as large as 8 x 8 blocks make
    const int width = 2 * in.range(0, 31) + 1, penalty = in.range(0, 4);
    // past the window, values the vector forms read and must not take
    std::vector<int32_t> sads = s.values<int32_t>(static_cast<size_t>(width) * width + 7, in.u16());
    const int32_t spread = in.byte() & 1 ? 4 : 16321;
    for (size_t i = 0; i + 7 < sads.size(); ++i) sads[i] = (sads[i] % spread + spread) % spread;
    const int32_t y = in.range(0, 2 * width) - width, x = in.range(0, 2 * width) - width;
    check(plain(sads.data(), width, y, x, penalty) == vec(sads.data(), width, y, x, penalty));
}

// Into a row of its own or over either input.
using DifferenceKernel = decltype(KernelSet::difference_square_row);
void compare_difference_square_row(FuzzInput& in, const Shared& s, DifferenceKernel plain,
                                   DifferenceKernel vec) {
    const int n = s.n, into = in.range(0, 2);
    const float scale = in.byte() & 1 ? 1.0f : 0.25f;
    std::vector<float> a = s.head(3 * n + 8), b = a;
    for (std::vector<float>* m : {&a, &b}) {
        float* const first = m->data() + 1;
        float* const second = m->data() + n + 3;
        float* const out = into == 0 ? first : into == 1 ? second : m->data() + 2 * n + 6;
        (m == &a ? plain : vec)(first, second, out, n, scale);
    }
    check(same_bits(a, b));
}

using DifferenceBoxKernel = decltype(KernelSet::difference_box_u8);
void compare_difference_box_u8(FuzzInput& in, const Shared& s, DifferenceBoxKernel plain,
                               DifferenceBoxKernel vec) {
    const int n = s.n;
    const float scale = in.byte() & 1 ? 1.0f : 0.25f;
    const std::vector<uint8_t> a = s.values<uint8_t>(n, 0), b = s.values<uint8_t>(n, n + 1);
    std::vector<float> x(n), y(n);
    plain(a.data(), b.data(), x.data(), n, scale);
    vec(a.data(), b.data(), y.data(), n, scale);
    check(same_bits(x, y));
}

using WeightKernel = decltype(KernelSet::temporal_weight_row);
void compare_temporal_weight_row(FuzzInput&, const Shared& s, WeightKernel plain,
                                 WeightKernel vec) {
    const int n = s.n;
    const float* row = s.source.data();
    std::vector<float> a(n + 8), b(n + 8);
    const int64_t sum_a = plain(row, row + n + 1, row + 2 * n + 2, row + 3 * n + 3, row + 4 * n + 4,
                                a.data(), n, 1.0f / 9.0f, 1.0e-6f);
    const int64_t sum_b = vec(row, row + n + 1, row + 2 * n + 2, row + 3 * n + 3, row + 4 * n + 4,
                              b.data(), n, 1.0f / 9.0f, 1.0e-6f);
    check(same_bits(a, b));
    check(sum_a == sum_b);
}

// Up to three neighbours (every row of n + 1 source floats apart), with the ratio or without.
using BlendKernel = decltype(KernelSet::temporal_blend_row);
void compare_temporal_blend_row(FuzzInput& in, const Shared& s, BlendKernel plain,
                                BlendKernel vec) {
    const int n = s.n, count = in.range(0, 3);
    const bool with_ratio = in.byte() & 1;
    const float* rows = s.source.data();
    const float* w[3];
    const float* v[3];
    for (int u = 0; u < count; ++u) {
        w[u] = rows + (1 + 2 * u) * (n + 1);
        v[u] = rows + (2 + 2 * u) * (n + 1);
    }
    std::vector<float> a(2 * n + 2, -7.0f), b = a;
    plain(rows, w, v, count, a.data(), with_ratio ? a.data() + n + 1 : nullptr, n);
    vec(rows, w, v, count, b.data(), with_ratio ? b.data() + n + 1 : nullptr, n);
    check(same_bits(a, b));
}

using BlendU8Kernel = decltype(KernelSet::temporal_blend_u8);
void compare_temporal_blend_u8(FuzzInput& in, const Shared& s, BlendU8Kernel plain,
                               BlendU8Kernel vec) {
    const int n = s.n, count = in.range(0, 3), shift = in.range(0, 8);
    const float* rows = s.source.data();
    const std::vector<uint8_t> samples = s.values<uint8_t>(4 * n, in.u16());
    const float* w[3];
    const uint8_t* v[3];
    for (int u = 0; u < count; ++u) {
        w[u] = rows + u * (n + 1);
        v[u] = samples.data() + (u + 1) * n;
    }
    std::vector<float> a(2 * n + 2, -7.0f), b = a;
    plain(samples.data(), w, v, count, shift, a.data(), a.data() + n + 1, n);
    vec(samples.data(), w, v, count, shift, b.data(), b.data() + n + 1, n);
    check(same_bits(a, b));
}

using CoveredKernel = decltype(KernelSet::covered_mean_row);
void compare_covered_mean_row(FuzzInput&, const Shared& s, CoveredKernel plain, CoveredKernel vec) {
    const int n = s.n;
    const float* rows = s.source.data();
    std::vector<float> a(n + 2, -7.0f), b = a;
    plain(rows + 1, rows + 2 * n + 2, a.data() + 1, n);
    vec(rows + 1, rows + 2 * n + 2, b.data() + 1, n);
    check(same_bits(a, b));
}

// Planar samples split for the row lifting.
template <class Sample>
void compare_split(FuzzInput& in, const Shared& s,
                   void (*plain)(const Sample*, float*, float*, int, int),
                   void (*vec)(const Sample*, float*, float*, int, int)) {
    const int n = s.n, shift = in.range(0, 8);
    const std::vector<Sample> samples = s.values<Sample>(2 * n, in.u16());
    std::vector<float> a(2 * n), b(2 * n);
    plain(samples.data(), a.data(), a.data() + n, n, shift);
    vec(samples.data(), b.data(), b.data() + n, n, shift);
    check(same_bits(a, b));
}
constexpr auto compare_split_u8 = compare_split<uint8_t>;
constexpr auto compare_split_u16 = compare_split<uint16_t>;

// Eight lines of 2n samples at offsets from one another, with a lifting constant:
// `run(kernel, lines, c, count)`.
template <class Kernel, class Run>
void compare_lines(FuzzInput& in, const Shared& s, Kernel plain, Kernel vec, Run run) {
    const int line = 2 * s.n + 8;
    // eight lines take more than the source holds when the strip is narrow
    std::vector<float> a = s.head(std::min(s.source.size(), size_t{8} * line + 8));
    a.resize(8 * line + 8);
    std::vector<float> b = a;
    int offsets[8];
    for (int& o : offsets) o = in.range(0, 7);
    const float c = static_cast<float>(static_cast<int32_t>(in.u32())) * 1.0e-9f;
    for (std::vector<float>* m : {&a, &b}) {
        float* lines[8];
        for (int i = 0; i < 8; ++i) lines[i] = m->data() + i * line + offsets[i];
        run(m == &a ? plain : vec, lines, c, 2 * s.n);
    }
    check(same_bits(a, b));
}
using LiftLinesKernel = decltype(KernelSet::lift_lines);
void compare_lift_lines(FuzzInput& in, const Shared& s, LiftLinesKernel plain,
                        LiftLinesKernel vec) {
    compare_lines(in, s, plain, vec, [](LiftLinesKernel k, float** l, float c, int count) {
        k(l[0], l[1], l[2], c, count);
    });
}
using LineEndKernel = decltype(KernelSet::lift_line_end);
void compare_lift_line_end(FuzzInput& in, const Shared& s, LineEndKernel plain, LineEndKernel vec) {
    compare_lines(in, s, plain, vec,
                  [](LineEndKernel k, float** l, float c, int count) { k(l[0], l[1], c, count); });
}
using ScaleLineKernel = decltype(KernelSet::scale_line);
void compare_scale_line(FuzzInput& in, const Shared& s, ScaleLineKernel plain,
                        ScaleLineKernel vec) {
    compare_lines(in, s, plain, vec, [](ScaleLineKernel k, float** l, float c, int count) {
        k(l[1], l[0], c, count);
    });
}
// The sliding window's column steps: six lines and the two outputs.
using ForwardStepKernel = decltype(KernelSet::forward_column_step);
void compare_forward_steps(FuzzInput& in, const Shared& s, ForwardStepKernel plain,
                           ForwardStepKernel vec) {
    compare_lines(in, s, plain, vec, [](ForwardStepKernel k, float** l, float, int count) {
        k(l, l[6], l[7], count);
    });
}
constexpr auto compare_forward_column_step = compare_forward_steps;
constexpr auto compare_forward_column_step_streaming = compare_forward_steps;
using InverseStepKernel = decltype(KernelSet::inverse_column_step);
void compare_inverse_column_step(FuzzInput& in, const Shared& s, InverseStepKernel plain,
                                 InverseStepKernel vec) {
    compare_lines(in, s, plain, vec,
                  [](InverseStepKernel k, float** l, float, int count) { k(l, count); });
}

// A row's marks and its thresholded copy.
using MarkKernel = decltype(KernelSet::mark_reaches);
void compare_mark_reaches(FuzzInput& in, const Shared& s, MarkKernel plain, MarkKernel vec) {
    const float x = static_cast<float>(in.range(0, 40000)) / 4.0f;
    const int n = 2 * s.n, words = (n + 31) / 32;
    std::vector<uint32_t> a(words), b(words);
    plain(s.source.data() + 1, n, x, a.data());
    vec(s.source.data() + 1, n, x, b.data());
    check(a == b);
}
using KeepKernel = decltype(KernelSet::keep_scaled);
void compare_keep_scaled(FuzzInput& in, const Shared& s, KeepKernel plain, KeepKernel vec) {
    const int n = 2 * s.n, words = (n + 31) / 32;
    std::vector<uint32_t> marks[3];
    for (auto& m : marks) m = s.values<uint32_t>(words, in.u16());
    const float scale = in.byte() & 1 ? -1.5f : 0.75f;
    std::vector<float> a(n), b(n);
    plain(s.source.data() + 2, marks[0].data(), marks[1].data(), marks[2].data(), scale, a.data(),
          n);
    vec(s.source.data() + 2, marks[0].data(), marks[1].data(), marks[2].data(), scale, b.data(), n);
    check(same_bits(a, b));
}

// Every kernel of the list, in its order: a kernel the list gains without a compare_<kernel>
// above does not compile.
void compare(const KernelSet& k, FuzzInput& in) {
    const Shared s = shared(in);
#define VELMORA_FUZZ_COMPARISON(kernel) compare_##kernel(in, s, scalar_kernels.kernel, k.kernel);
    VELMORA_KERNELS(VELMORA_FUZZ_COMPARISON)
#undef VELMORA_FUZZ_COMPARISON
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (Isa isa : {Isa::sse41, Isa::avx2}) {
        const KernelSet* k = kernels_for(isa);
        if (!k) continue;
        FuzzInput in{data, size};
        compare(*k, in);
    }
    return 0;
}
