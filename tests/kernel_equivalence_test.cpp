// Every vector kernel table against the plain one, bit for bit, over many lengths, counts,
// offsets, strides and awkward values: one comparison for each kernel of VELMORA_KERNELS, handed
// that kernel's plain and vector forms and nothing else. Also the store's conversions for every
// table.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "kernels/lifting_constants.h"
#include "tests/wavelet_test_support.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Index of the first float that differs, NaNs of any payload counting as equal (which NaN an
// operation passes on depends on its operands' order, which the compiler may swap in the plain
// forms); -1 when all agree.
long first_difference_but_nan(const float* a, const float* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (a[i] != a[i] && b[i] != b[i]) continue;
        if (bits_of(a[i]) != bits_of(b[i])) return static_cast<long>(i);
    }
    return -1;
}

// Box sums, gains and energies see coefficients, their squares and sums of those: a mix of
// ordinary magnitudes with zeros of both signs, tiny and huge values, infinities and NaN.
float shrink_value(SplitMix64& rng) {
    switch (rng.uniform(0, 19)) {
    case 0:
        return kNaN;
    case 1:
        return rng.uniform(0, 1) ? kInf : -kInf;
    case 2:
        return -0.0f;
    case 3:
        return 0.0f;
    case 4:
        return 1.0e-40f;
    case 5:
        return 3.0e38f;
    default:
        return mixed_value(rng);
    }
}

std::vector<float> shrink_values(SplitMix64& rng, size_t count) {
    std::vector<float> v(count);
    for (float& f : v) f = shrink_value(rng);
    return v;
}

// Planar samples: zeros, the largest sample and anything between.
template <class Sample>
std::vector<Sample> planar_samples(SplitMix64& rng, size_t count) {
    const int top = std::numeric_limits<Sample>::max();
    std::vector<Sample> v(count);
    for (Sample& s : v) {
        const int kind = rng.uniform(0, 4);
        s = static_cast<Sample>(kind == 0 ? 0 : kind == 1 ? top : rng.uniform(0, top));
    }
    return v;
}

// What the stores convert: ties, values a hair below integers, the 16-bit wrap, values past the
// largest sample, the ends of the 32-bit range, NaN and infinities, among ordinary values.
std::vector<float> store_values(SplitMix64& rng, size_t count) {
    const float awkward[] = {
        0.5f,           -0.5f,         1.5f,      -1.5f,     2.5f,       -2.5f,    3.5f,
        -3.7f,          2.7f,          -2.7f,     99.99999f, -99.99999f, 32767.5f, -32768.5f,
        32768.0f,       40000.0f,      -40000.7f, 65535.5f,  1.0e9f,     -1.0e9f,  2147483520.0f,
        -2147483648.0f, 2147483648.0f, 3.0e9f,    -3.0e9f,   kNaN,       kInf,     -kInf,
        -0.0f,          0.49999997f,   7.5f,      8.0f,      4087.5f,    4088.0f,  1023.5f};
    std::vector<float> v(count);
    for (float& f : v) {
        f = rng.uniform(0, 2) ? awkward[rng.uniform(0, std::size(awkward) - 1)]
                              : (unit(rng) - 0.5f) * 70000.0f;
    }
    return v;
}

// ---- compare_<kernel>(plain form, vector form), one for each kernel of the list ----------

// In place and from one row into another, which leaves the source as it was.
using RowKernel = decltype(KernelSet::forward_row);
void compare_rows(RowKernel plain, RowKernel vec, uint64_t seed) {
    SplitMix64 rng{seed};
    for (int n = 1; n <= 400; ++n) {
        SCOPED_TRACE(testing::Message() << "n = " << n);
        AlignedFloats a(2 * n), b(2 * n), da(2 * n), db(2 * n), e(n), o(n);
        for (int in_place = 0; in_place < 2; ++in_place) {
            for (int i = 0; i < 2 * n; ++i) a[i] = b[i] = mixed_value(rng);
            const std::vector<float> source(a.data(), a.data() + 2 * n);
            float* to_a = in_place ? a.data() : da.data();
            float* to_b = in_place ? b.data() : db.data();
            plain(a.data(), to_a, n, e.data(), o.data());
            vec(b.data(), to_b, n, e.data(), o.data());
            ASSERT_EQ(first_difference(to_a, to_b, 2 * n), -1) << "in place " << in_place;
            if (!in_place) {
                ASSERT_EQ(first_difference(b.data(), source.data(), 2 * n), -1);
            }
        }
    }
}
void compare_forward_row(RowKernel plain, RowKernel vec) { compare_rows(plain, vec, 11); }
void compare_inverse_row(RowKernel plain, RowKernel vec) { compare_rows(plain, vec, 12); }

// A row already split into its halves, every length.
using SplitRowKernel = decltype(KernelSet::forward_row_split);
void compare_forward_row_split(SplitRowKernel plain, SplitRowKernel vec) {
    SplitMix64 rng{20};
    for (int n = 1; n <= 400; ++n) {
        SCOPED_TRACE(testing::Message() << "n = " << n);
        AlignedFloats ea(n), oa(n), eb(n), ob(n), da(2 * n), db(2 * n);
        for (int k = 0; k < n; ++k) {
            ea[k] = eb[k] = mixed_value(rng);
            oa[k] = ob[k] = mixed_value(rng);
        }
        plain(ea.data(), oa.data(), da.data(), n);
        vec(eb.data(), ob.data(), db.data(), n);
        ASSERT_EQ(first_difference(da.data(), db.data(), 2 * n), -1);
    }
}

// Strips of every width the vector forms take and the columns left over, from unaligned starts,
// with scratch from the least the plain form needs (where no strip fits) through room for
// lifting strips in place to room for copying the widest one; the row padding stays as it was.
using ColumnKernel = decltype(KernelSet::forward_columns);
void compare_columns(ColumnKernel plain, ColumnKernel vec, uint64_t seed) {
    SplitMix64 rng{seed};
    for (int n : {1, 2, 3, 5, 8, 13, 24}) {
        for (int count : {1, 3, 4, 5, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 135}) {
            const int stride = count + rng.uniform(0, 5);
            const size_t size = static_cast<size_t>(2 * n) * stride + 4;
            std::vector<float> original(size);
            for (float& v : original) v = mixed_value(rng);
            for (int per_pair : {2, 8, 24, 64, 128}) {
                const int offset = rng.uniform(0, 3);
                SCOPED_TRACE(testing::Message() << "n " << n << " count " << count << " stride "
                                                << stride << " scratch " << per_pair << " n");
                std::vector<float> a = original, b = original;
                AlignedFloats scratch(static_cast<size_t>(per_pair) * n);
                plain(a.data() + offset, stride, count, n, scratch.data(), per_pair * n);
                vec(b.data() + offset, stride, count, n, scratch.data(), per_pair * n);
                ASSERT_EQ(first_difference(a.data(), b.data(), size), -1) << "offset " << offset;
            }
        }
    }
}
void compare_forward_columns(ColumnKernel plain, ColumnKernel vec) {
    compare_columns(plain, vec, 25);
}
void compare_inverse_columns(ColumnKernel plain, ColumnKernel vec) {
    compare_columns(plain, vec, 26);
}

// Bands at every place in blocks of every width up to several vectors, with coefficients
// exactly at the threshold, either sign of it and NaN; the mask starts out holding anything.
using StripKernel = decltype(KernelSet::threshold_strip);
void compare_threshold_strip(StripKernel plain, StripKernel vec) {
    SplitMix64 rng{23};
    const float x = 2.0f;
    for (int n = 1; n <= 70; ++n) {
        for (int m : {1, 2, 3, 5, 9}) {
            const int stride = n + 3;
            std::vector<float> original(static_cast<size_t>(m) * stride);
            for (float& v : original) {
                const int kind = rng.uniform(0, 9);
                v = kind == 0   ? kNaN
                    : kind == 1 ? x
                    : kind == 2 ? -x
                                : (unit(rng) - 0.5f) * 2.2f * x;
            }
            for (int r0 = 0; r0 < m; ++r0) {
                for (int r1 = r0 + 1; r1 <= m; ++r1) {
                    std::vector<float> a = original, b = original;
                    std::vector<int32_t> mask_a(3 * (n + 1), -1), mask_b = mask_a;
                    plain(a.data(), stride, mask_a.data(), n + 1, r0, r1, x, n, m);
                    vec(b.data(), stride, mask_b.data(), n + 1, r0, r1, x, n, m);
                    ASSERT_EQ(first_difference(a.data(), b.data(), a.size()), -1)
                        << "n " << n << " m " << m << " rows " << r0 << " to " << r1;
                }
            }
        }
    }
}

using LoadS16Kernel = decltype(KernelSet::load_s16);
void compare_load_s16(LoadS16Kernel plain, LoadS16Kernel vec) {
    SplitMix64 rng{14};
    for (int stride : {1, 3}) {
        for (int component = 0; component < stride; ++component) {
            for (int count = 0; count <= 70; ++count) {
                SCOPED_TRACE(testing::Message() << "stride " << stride << " component " << component
                                                << " count " << count);
                // Exactly the samples of `count` pixels.
                std::vector<int16_t> src(count ? static_cast<size_t>(count) * stride : 1);
                for (int16_t& v : src) {
                    const int kind = rng.uniform(0, 5);
                    v = static_cast<int16_t>(kind == 0   ? -32768
                                             : kind == 1 ? 32767
                                                         : rng.uniform(-32768, 32767));
                }
                std::vector<float> a(count + 4, -7.0f), b(count + 4, -7.0f);
                plain(src.data() + component, stride, a.data(), count);
                vec(src.data() + component, stride, b.data(), count);
                ASSERT_EQ(first_difference(a.data(), b.data(), a.size()), -1);
            }
        }
    }
}

// Every split between rounded and truncated samples; the other components stay as they were.
using StoreS16Kernel = decltype(KernelSet::store_s16);
void compare_store_s16(StoreS16Kernel plain, StoreS16Kernel vec) {
    SplitMix64 rng{15};
    for (int stride : {1, 3}) {
        for (int component = 0; component < stride; ++component) {
            for (int count = 0; count <= 40; ++count) {
                const std::vector<float> src = store_values(rng, count + 1);
                std::vector<int16_t> original(count ? static_cast<size_t>(count) * stride : 1);
                for (int16_t& v : original) v = static_cast<int16_t>(rng.uniform(-32768, 32767));
                for (int rounded = 0; rounded <= count; ++rounded) {
                    SCOPED_TRACE(testing::Message()
                                 << "stride " << stride << " component " << component << " count "
                                 << count << " rounded " << rounded);
                    std::vector<int16_t> a = original, b = original;
                    plain(src.data(), a.data() + component, stride, count, rounded);
                    vec(src.data(), b.data() + component, stride, count, rounded);
                    ASSERT_EQ(a, b);
                    for (size_t i = 0; i < b.size(); ++i) {
                        if (static_cast<int>(i % stride) != component) {
                            ASSERT_EQ(b[i], original[i]) << "other component at " << i;
                        }
                    }
                }
            }
        }
    }
}

using MaxAbsKernel = decltype(KernelSet::max_abs);
void compare_max_abs(MaxAbsKernel plain, MaxAbsKernel vec) {
    SplitMix64 rng{16};
    AlignedFloats values(80);
    for (int round = 0; round < 20; ++round) {
        for (size_t i = 0; i < values.size(); ++i) {
            const int kind = rng.uniform(0, 11);
            values[i] = kind == 0 ? kNaN : kind == 1 ? -0.0f : mixed_value(rng);
        }
        for (int start = 0; start < 4; ++start)
            for (int count = 0; count + start <= 76; ++count)
                ASSERT_EQ(bits_of(plain(values.data() + start, count)),
                          bits_of(vec(values.data() + start, count)))
                    << "start " << start << " count " << count;
    }
}

// Planar samples of every count from unaligned starts, at shifts up to the working scale's;
// nothing past the count is written.
template <class Sample>
void compare_planar_load(void (*plain)(const Sample*, float*, int, int),
                         void (*vec)(const Sample*, float*, int, int), uint64_t seed) {
    SplitMix64 rng{seed};
    for (int count = 0; count <= 70; ++count) {
        for (int offset : {0, 1, 3}) {
            const std::vector<Sample> src = planar_samples<Sample>(rng, count + offset);
            for (int shift : {0, 3, 8}) {
                std::vector<float> a(count + offset + 1, -7.0f), b = a;
                plain(src.data() + offset, a.data() + offset, count, shift);
                vec(src.data() + offset, b.data() + offset, count, shift);
                ASSERT_EQ(first_difference(a.data(), b.data(), a.size()), -1)
                    << "count " << count << " offset " << offset << " shift " << shift;
            }
        }
    }
}
using LoadU8Kernel = decltype(KernelSet::load_u8);
void compare_load_u8(LoadU8Kernel plain, LoadU8Kernel vec) { compare_planar_load(plain, vec, 27); }
using LoadU16Kernel = decltype(KernelSet::load_u16);
void compare_load_u16(LoadU16Kernel plain, LoadU16Kernel vec) {
    compare_planar_load(plain, vec, 28);
}

// `check(src, count, rounded, shift)` for stores of every count, splits between rounded and
// truncated samples at the vector bodies' ends and between, and every shift.
template <class Check>
void for_planar_stores(uint64_t seed, Check check) {
    SplitMix64 rng{seed};
    for (int count = 0; count <= 70; ++count) {
        const std::vector<float> src = store_values(rng, count);
        for (int rounded : {0, count / 2, count & ~15, count}) {
            for (int shift : {0, 2, 4, 7}) {
                SCOPED_TRACE(testing::Message()
                             << "count " << count << " rounded " << rounded << " shift " << shift);
                check(src, count, rounded, shift);
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    }
}
using StoreU8Kernel = decltype(KernelSet::store_u8);
void compare_store_u8(StoreU8Kernel plain, StoreU8Kernel vec) {
    for_planar_stores(29, [&](const std::vector<float>& src, int count, int rounded, int shift) {
        std::vector<uint8_t> a(count + 2, 0xAB), b = a;
        plain(src.data(), a.data() + 1, count, rounded, shift);
        vec(src.data(), b.data() + 1, count, rounded, shift);
        ASSERT_EQ(a, b);
    });
}
using StoreU16Kernel = decltype(KernelSet::store_u16);
void compare_store_u16(StoreU16Kernel plain, StoreU16Kernel vec) {
    for_planar_stores(30, [&](const std::vector<float>& src, int count, int rounded, int shift) {
        for (int32_t maximum : {255, 1023, 4095, 65535}) {
            std::vector<uint16_t> a(count + 2, 0xABCD), b = a;
            plain(src.data(), a.data() + 1, count, rounded, shift, maximum);
            vec(src.data(), b.data() + 1, count, rounded, shift, maximum);
            ASSERT_EQ(a, b) << "maximum " << maximum;
        }
    });
}

// `check(src, n, start)` for rows of every length through the vector bodies and the ends, at
// unaligned starts; the results are compared past the row too, where nothing may change.
template <class Check>
void for_shrink_rows(uint64_t seed, Check check) {
    SplitMix64 rng{seed};
    for (int n = 1; n <= 70; ++n) {
        for (int start = 0; start < 3; ++start) {
            SCOPED_TRACE(testing::Message() << "n " << n << " start " << start);
            check(shrink_values(rng, n + start + 4), n, start);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

using SquareKernel = decltype(KernelSet::square_row);
void compare_square_row(SquareKernel plain, SquareKernel vec) {
    for_shrink_rows(31, [&](const std::vector<float>& src, int n, int start) {
        std::vector<float> a(n + 8, -7.0f), b(n + 8, -7.0f);
        plain(src.data() + start, a.data() + start, n);
        vec(src.data() + start, b.data() + start, n);
        ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
    });
}

// Every radius, through the clamped ends.
using BoxRowKernel = decltype(KernelSet::box_sum_row);
void compare_box_sum_row(BoxRowKernel plain, BoxRowKernel vec) {
    for_shrink_rows(17, [&](const std::vector<float>& src, int n, int start) {
        for (int radius = 1; radius <= 4; ++radius) {
            std::vector<float> a(n + 8, -7.0f), b(n + 8, -7.0f);
            plain(src.data() + start, a.data() + start, n, radius);
            vec(src.data() + start, b.data() + start, n, radius);
            ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1)
                << "radius " << radius;
        }
    });
}

using BoxRowsKernel = decltype(KernelSet::box_sum_rows);
void compare_box_sum_rows(BoxRowsKernel plain, BoxRowsKernel vec) {
    SplitMix64 rng{18};
    for (int n = 1; n <= 45; ++n) {
        for (int count = 1; count <= 7; ++count) {
            std::vector<std::vector<float>> rows;
            for (int r = 0; r < count; ++r) rows.push_back(shrink_values(rng, n + 1));
            std::vector<const float*> pointers;
            // Offsets differ per row, as rows of a block at any place in a plane do.
            for (int r = 0; r < count; ++r) pointers.push_back(rows[r].data() + (r % 2));
            std::vector<float> a(n + 4, -7.0f), b(n + 4, -7.0f);
            plain(pointers.data(), count, a.data() + 1, n);
            vec(pointers.data(), count, b.data() + 1, n);
            ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1)
                << "n " << n << " count " << count;
        }
    }
}

// The inputs of the gains, which divide: sums whose mean ties with the noise level, sums below
// it (clamped to +0), both zeros, and the awkward values, for noise levels from tiny to large;
// the ratios of a temporal average (1/7 to 1) among awkward ones.
struct GainInputs {
    int n;
    float noise, inv_window;
    std::vector<float> sums, c, ratio;
};

template <class Check>
void for_gain_inputs(uint64_t seed, Check check) {
    SplitMix64 rng{seed};
    for (int n = 1; n <= 45; ++n) {
        for (float noise : {1.0e-30f, 0.75f, 6400.0f, 2.5e7f}) {
            GainInputs in{n,
                          noise,
                          0.0f,
                          shrink_values(rng, n + 1),
                          shrink_values(rng, n + 1),
                          shrink_values(rng, n + 1)};
            for (int j = 0; j < n; j += 3) in.sums[j] = noise * 25.0f;  // mean exactly the noise
            for (int j = 1; j < n; j += 5) in.sums[j] = noise;          // below it
            for (int j = 0; j < n; j += 2) in.ratio[j] = 1.0f / static_cast<float>(1 + j % 7);
            for (float inv_window : {0.04f, 0.11111111f}) {
                SCOPED_TRACE(testing::Message()
                             << "n " << n << " noise " << noise << " window " << inv_window);
                in.inv_window = inv_window;
                check(in);
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    }
}

using PilotKernel = decltype(KernelSet::pilot_energy_row);
void compare_pilot_energy_row(PilotKernel plain, PilotKernel vec) {
    for_gain_inputs(19, [&](const GainInputs& in) {
        std::vector<float> a(in.n + 4, -7.0f), b = a;
        plain(in.sums.data() + 1, in.c.data(), a.data() + 1, in.n, in.inv_window, in.noise);
        vec(in.sums.data() + 1, in.c.data(), b.data() + 1, in.n, in.inv_window, in.noise);
        ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
    });
}

using WienerKernel = decltype(KernelSet::wiener_row);
void compare_wiener_row(WienerKernel plain, WienerKernel vec) {
    for_gain_inputs(32, [&](const GainInputs& in) {
        std::vector<float> p = in.c, q = in.c;
        plain(in.sums.data(), p.data() + 1, in.n, in.inv_window, in.noise);
        vec(in.sums.data(), q.data() + 1, in.n, in.inv_window, in.noise);
        ASSERT_EQ(first_difference_but_nan(p.data(), q.data(), p.size()), -1);
    });
}

using PilotRatioKernel = decltype(KernelSet::pilot_energy_ratio_row);
void compare_pilot_energy_ratio_row(PilotRatioKernel plain, PilotRatioKernel vec) {
    for_gain_inputs(33, [&](const GainInputs& in) {
        std::vector<float> a(in.n + 4, -7.0f), b = a;
        plain(in.sums.data() + 1, in.c.data(), in.ratio.data(), a.data() + 1, in.n, in.inv_window,
              in.noise);
        vec(in.sums.data() + 1, in.c.data(), in.ratio.data(), b.data() + 1, in.n, in.inv_window,
            in.noise);
        ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
    });
}

using WienerGainKernel = decltype(KernelSet::wiener_gain_row);
void compare_wiener_gain_row(WienerGainKernel plain, WienerGainKernel vec) {
    for_gain_inputs(34, [&](const GainInputs& in) {
        std::vector<float> p = in.c, q = in.c, a(in.n + 4, -7.0f), b = a;
        plain(in.sums.data(), p.data() + 1, in.ratio.data() + 1, a.data() + 2, in.n, in.inv_window,
              in.noise);
        vec(in.sums.data(), q.data() + 1, in.ratio.data() + 1, b.data() + 2, in.n, in.inv_window,
            in.noise);
        ASSERT_EQ(first_difference_but_nan(p.data(), q.data(), p.size()), -1);
        ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
    });
}

using AccumulateKernel = decltype(KernelSet::accumulate_row);
void compare_accumulate_row(AccumulateKernel plain, AccumulateKernel vec) {
    SplitMix64 rng{20};
    for (int n = 1; n <= 45; ++n) {
        const std::vector<float> acc = shrink_values(rng, n + 2), src = shrink_values(rng, n + 2);
        for (float scale : {1.0f, 0.25f}) {
            std::vector<float> a = acc, b = acc;
            plain(a.data() + 1, src.data(), n, scale);
            vec(b.data() + 1, src.data(), n, scale);
            ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1)
                << "n " << n << " scale " << scale;
        }
    }
}

// Block sums of absolute differences for every block side, row of candidates and count of
// rows, at odd strides and offsets; the memory past the last candidate is filled as the kernel
// may read it.
using SadsKernel = decltype(KernelSet::block_sads);
void compare_block_sads(SadsKernel plain, SadsKernel vec) {
    SplitMix64 rng{21};
    for (int side : {4, 8}) {
        for (int count = 1; count <= 64; count += (count < 20 ? 1 : 7)) {
            for (int rows : {1, 2, 5, 17}) {
                const int ref_stride = count + side + 37, cur_stride = side + 3;
                std::vector<uint8_t> ref(static_cast<size_t>(rows + side) * ref_stride + 64);
                std::vector<uint8_t> cur(static_cast<size_t>(side) * cur_stride + 1);
                for (uint8_t& v : ref) v = static_cast<uint8_t>(rng.uniform(0, 255));
                for (uint8_t& v : cur) v = static_cast<uint8_t>(rng.uniform(0, 1) ? 0 : 255);
                // with the room past the last sum that the vector forms may write
                std::vector<int32_t> a(static_cast<size_t>(rows) * count + 7, -7);
                std::vector<int32_t> b = a;
                plain(cur.data() + 1, cur_stride, ref.data() + 3, ref_stride, side, count, rows,
                      a.data());
                vec(cur.data() + 1, cur_stride, ref.data() + 3, ref_stride, side, count, rows,
                    b.data());
                a.resize(a.size() - 7);
                b.resize(b.size() - 7);
                ASSERT_EQ(a, b) << "side " << side << " count " << count << " rows " << rows;
            }
        }
    }
}

// Every count of blocks past the vector forms' widths, from rows at odd offsets; the least so
// far above, below and equal to the new sums, and nothing written past the blocks.
using PairSadsKernel = decltype(KernelSet::keep_least_pair_sads);
void compare_keep_least_pair_sads(PairSadsKernel plain, PairSadsKernel vec) {
    SplitMix64 rng{36};
    for (int n = 1; n <= 70; ++n) {
        std::vector<uint8_t> rows(4 * (2 * n + 3));
        for (uint8_t& v : rows)
            v = static_cast<uint8_t>(rng.uniform(0, 1) ? rng.uniform(0, 255) : 0);
        const uint8_t* row[4];
        for (int r = 0; r < 4; ++r) row[r] = rows.data() + r * (2 * n + 3) + (r & 1);
        std::vector<uint16_t> least(n + 1), chosen(n + 1);
        for (uint16_t& v : least)
            v = static_cast<uint16_t>(rng.uniform(0, 1) ? rng.uniform(0, 1100) : 32767);
        for (uint16_t& v : chosen) v = static_cast<uint16_t>(rng.uniform(0, 440));
        std::vector<uint16_t> least_b = least, chosen_b = chosen;
        plain(row[0], row[1], row[2], row[3], n, least.data(), chosen.data(), 441);
        vec(row[0], row[1], row[2], row[3], n, least_b.data(), chosen_b.data(), 441);
        ASSERT_EQ(least, least_b) << "n " << n;
        ASSERT_EQ(chosen, chosen_b) << "n " << n;
    }
}

// Windows of every width, vectors on either side of zero, and sums from a narrow range so that
// many candidates tie for the least cost.
using LeastCostKernel = decltype(KernelSet::least_cost);
void compare_least_cost(LeastCostKernel plain, LeastCostKernel vec) {
    SplitMix64 rng{27};
    for (int width = 1; width <= 63; width += 2)
        for (int penalty : {0, 1, 4})
            for (int spread : {3, 40, 16320}) {
                // and past the window, values the vector forms read and must not take
                std::vector<int32_t> sads(static_cast<size_t>(width) * width + 7, -1);
                for (size_t i = 0; i + 7 < sads.size(); ++i)
                    sads[i] = static_cast<int32_t>(rng.uniform(0, spread));
                const int32_t y = static_cast<int32_t>(rng.uniform(0, 2 * width)) - width;
                const int32_t x = static_cast<int32_t>(rng.uniform(0, 2 * width)) - width;
                ASSERT_EQ(plain(sads.data(), width, y, x, penalty),
                          vec(sads.data(), width, y, x, penalty))
                    << "width " << width << " penalty " << penalty << " spread " << spread;
            }
}

// Into another row, and over either of its inputs.
using DifferenceKernel = decltype(KernelSet::difference_square_row);
void compare_difference_square_row(DifferenceKernel plain, DifferenceKernel vec) {
    SplitMix64 rng{35};
    for (int n = 1; n <= 45; ++n) {
        const std::vector<float> x = shrink_values(rng, n + 1), y = shrink_values(rng, n + 1);
        for (int into = 0; into < 3; ++into) {
            std::vector<float> a[3] = {x, y, shrink_values(rng, n + 2)};
            std::vector<float> b[3] = {a[0], a[1], a[2]};
            // the inputs at offsets 0 and 1; the output over either, or in a row of its own
            auto run = [&](DifferenceKernel k, std::vector<float>* rows) {
                float* const first = rows[0].data();
                float* const second = rows[1].data() + 1;
                k(first, second,
                  into == 0   ? first
                  : into == 1 ? second
                              : rows[2].data() + 1,
                  n, 0.25f);
            };
            run(plain, a);
            run(vec, b);
            for (int i = 0; i < 3; ++i)
                ASSERT_EQ(first_difference_but_nan(a[i].data(), b[i].data(), a[i].size()), -1)
                    << "n " << n << " into " << into << " row " << i;
        }
    }
}

// Samples from 0 to 255 at any offset, scaled by 1 and by steps of larger samples, rows of every
// length about a vector's (their first and last places repeat a neighbour).
using DifferenceBoxKernel = decltype(KernelSet::difference_box_u8);
void compare_difference_box_u8(DifferenceBoxKernel plain, DifferenceBoxKernel vec) {
    SplitMix64 rng{39};
    for (int n = 1; n <= 45; ++n)
        for (int offset : {0, 1, 3}) {
            const std::vector<uint8_t> a = planar_samples<uint8_t>(rng, n + offset);
            const std::vector<uint8_t> b = planar_samples<uint8_t>(rng, n + 1);
            for (float scale : {1.0f, 0.25f, 1.0f / 256.0f}) {
                std::vector<float> x(n + 2, -7.0f), y = x;
                plain(a.data() + offset, b.data() + 1, x.data() + 1, n, scale);
                vec(a.data() + offset, b.data() + 1, y.data() + 1, n, scale);
                ASSERT_EQ(first_difference(x.data(), y.data(), x.size()), -1)
                    << "n " << n << " offset " << offset << " scale " << scale;
            }
        }
}

// The temporal weights divide and clamp: ties at both limits, zeros, and the awkward values;
// the guard sum counts every weight the same way.
using WeightKernel = decltype(KernelSet::temporal_weight_row);
void compare_temporal_weight_row(WeightKernel plain, WeightKernel vec) {
    SplitMix64 rng{22};
    for (int n = 1; n <= 45; ++n) {
        SCOPED_TRACE(testing::Message() << "n " << n);
        std::vector<std::vector<float>> in;
        for (int i = 0; i < 5; ++i) in.push_back(shrink_values(rng, n + 1));
        for (int j = 0; j < n; j += 4) {  // differences at exactly one and three error variances
            in[3][j] = 2.0f;
            in[4][j] = 1.0f;
            in[0][j] = in[1][j] = in[2][j] = j % 8 ? 9.0f : 3.0f;
        }
        std::vector<float> a(n + 4, -7.0f), b(n + 4, -7.0f);
        const int64_t guard_a = plain(in[0].data(), in[1].data() + 1, in[2].data(), in[3].data(),
                                      in[4].data() + 1, a.data() + 1, n, 1.0f / 9.0f, 1.0e-6f);
        const int64_t guard_b = vec(in[0].data(), in[1].data() + 1, in[2].data(), in[3].data(),
                                    in[4].data() + 1, b.data() + 1, n, 1.0f / 9.0f, 1.0e-6f);
        ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
        ASSERT_EQ(guard_a, guard_b);
    }
}

// A neighbour's weights for n samples (and one more for an offset): the clamped range, its ends
// and the awkward values.
std::vector<float> blend_weights(SplitMix64& rng, int n) {
    std::vector<float> w = shrink_values(rng, n + 1);
    for (int j = 0; j < n; j += 2) w[j] = j % 3 ? unit(rng) : float(j % 4 / 2);
    return w;
}

// Weights from no neighbour to more than the window has, every row at its own offset, with the
// ratio and without.
using BlendKernel = decltype(KernelSet::temporal_blend_row);
void compare_temporal_blend_row(BlendKernel plain, BlendKernel vec) {
    SplitMix64 rng{36};
    for (int count = 0; count <= 8; ++count)
        for (int n = 1; n <= 45; ++n) {
            std::vector<std::vector<float>> w, v;
            std::vector<const float*> wp, vp;
            for (int u = 0; u < count; ++u) {
                w.push_back(blend_weights(rng, n));
                v.push_back(shrink_values(rng, n + 1));
                wp.push_back(w[u].data() + u % 2);
                vp.push_back(v[u].data() + (u + 1) % 2);
            }
            const std::vector<float> centre = shrink_values(rng, n + 1);
            for (bool with_ratio : {false, true}) {
                std::vector<float> a(2 * n + 3, -7.0f), b = a;
                plain(centre.data() + 1, wp.data(), vp.data(), count, a.data() + 1,
                      with_ratio ? a.data() + n + 2 : nullptr, n);
                vec(centre.data() + 1, wp.data(), vp.data(), count, b.data() + 1,
                    with_ratio ? b.data() + n + 2 : nullptr, n);
                ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1)
                    << "count " << count << " n " << n << " ratio " << with_ratio;
            }
        }
}

// The same with 8-bit samples of every value and every shift a working scale takes.
using BlendU8Kernel = decltype(KernelSet::temporal_blend_u8);
void compare_temporal_blend_u8(BlendU8Kernel plain, BlendU8Kernel vec) {
    SplitMix64 rng{40};
    for (int count = 0; count <= 8; ++count)
        for (int n = 1; n <= 45; ++n) {
            std::vector<std::vector<float>> w;
            std::vector<std::vector<uint8_t>> v;
            std::vector<const float*> wp;
            std::vector<const uint8_t*> vp;
            for (int u = 0; u < count; ++u) {
                w.push_back(blend_weights(rng, n));
                v.push_back(planar_samples<uint8_t>(rng, n + 1));
            }
            for (int u = 0; u < count; ++u) {
                wp.push_back(w[u].data() + u % 2);
                vp.push_back(v[u].data() + (u + 1) % 2);
            }
            const std::vector<uint8_t> centre = planar_samples<uint8_t>(rng, n + 1);
            for (int shift : {0, 4, 8}) {
                std::vector<float> a(2 * n + 3, -7.0f), b = a;
                const bool with_ratio = shift != 4;
                plain(centre.data() + 1, wp.data(), vp.data(), count, shift, a.data() + 1,
                      with_ratio ? a.data() + n + 2 : nullptr, n);
                vec(centre.data() + 1, wp.data(), vp.data(), count, shift, b.data() + 1,
                    with_ratio ? b.data() + n + 2 : nullptr, n);
                ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1)
                    << "count " << count << " n " << n << " shift " << shift;
            }
        }
}

// Luma weights of the clamped range and the awkward values (zeros of both signs among them), at
// any offset.
using CoveredKernel = decltype(KernelSet::covered_mean_row);
void compare_covered_mean_row(CoveredKernel plain, CoveredKernel vec) {
    SplitMix64 rng{37};
    for (int n = 0; n <= 45; ++n)
        for (int offset : {0, 1}) {
            std::vector<float> top = shrink_values(rng, 2 * n + 2);
            std::vector<float> bottom = shrink_values(rng, 2 * n + 2);
            for (int j = 0; j < 2 * n; j += 3) top[j + offset] = unit(rng);
            for (int j = 1; j < 2 * n; j += 2) bottom[j + offset] = unit(rng);
            std::vector<float> a(n + 2, -7.0f), b = a;
            plain(top.data() + offset, bottom.data() + offset, a.data() + offset, n);
            vec(top.data() + offset, bottom.data() + offset, b.data() + offset, n);
            ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1)
                << "n " << n << " offset " << offset;
        }
}

// Planar samples split for the row lifting, every count of pairs from any start, with the
// extremes of each sample size.
template <class Sample>
void compare_split(void (*plain)(const Sample*, float*, float*, int, int),
                   void (*vec)(const Sample*, float*, float*, int, int), uint64_t seed) {
    SplitMix64 rng{seed};
    for (int pairs = 0; pairs <= 70; ++pairs) {
        for (int offset : {0, 1, 3}) {
            const std::vector<Sample> src = planar_samples<Sample>(rng, 2 * pairs + offset + 1);
            for (int shift : {0, 2, 4}) {
                SCOPED_TRACE(testing::Message()
                             << "pairs " << pairs << " offset " << offset << " shift " << shift);
                std::vector<float> ea(pairs + 1, -7.0f), oa = ea, eb = ea, ob = ea;
                plain(src.data() + offset, ea.data(), oa.data(), pairs, shift);
                vec(src.data() + offset, eb.data(), ob.data(), pairs, shift);
                ASSERT_EQ(first_difference(ea.data(), eb.data(), ea.size()), -1);
                ASSERT_EQ(first_difference(oa.data(), ob.data(), oa.size()), -1);
            }
        }
    }
}
using SplitU8Kernel = decltype(KernelSet::split_u8);
void compare_split_u8(SplitU8Kernel plain, SplitU8Kernel vec) { compare_split(plain, vec, 21); }
using SplitU16Kernel = decltype(KernelSet::split_u16);
void compare_split_u16(SplitU16Kernel plain, SplitU16Kernel vec) { compare_split(plain, vec, 38); }

// Lines of every count from any start, with infinities and NaN among the values:
// `run(kernel, target, a, b, c, count, offset)` with the target already at the offset.
template <class Kernel, class Run>
void compare_lines(Kernel plain, Kernel vec, uint64_t seed, Run run) {
    SplitMix64 rng{seed};
    auto value = [&] {
        const int kind = rng.uniform(0, 19);
        return kind == 0 ? kNaN : kind == 1 ? -kInf : mixed_value(rng);
    };
    for (int count = 0; count <= 70; ++count) {
        for (int offset : {0, 1, 3, 5}) {
            const size_t size = count + 8;
            std::vector<float> target(size), a(size), b(size);
            for (size_t i = 0; i < size; ++i) target[i] = value(), a[i] = value(), b[i] = value();
            std::vector<float> x = target, y = target;
            const float c = mixed_value(rng) * 1.0e-4f;
            run(plain, x.data() + offset, a.data(), b.data(), c, count, offset);
            run(vec, y.data() + offset, a.data(), b.data(), c, count, offset);
            ASSERT_EQ(first_difference(x.data(), y.data(), size), -1)
                << "count " << count << " offset " << offset;
        }
    }
}
using LiftLinesKernel = decltype(KernelSet::lift_lines);
void compare_lift_lines(LiftLinesKernel plain, LiftLinesKernel vec) {
    compare_lines(plain, vec, 17,
                  [](LiftLinesKernel k, float* t, const float* a, const float* b, float c,
                     int count, int offset) { k(t, a + offset, b + 2, c, count); });
}
using LineEndKernel = decltype(KernelSet::lift_line_end);
void compare_lift_line_end(LineEndKernel plain, LineEndKernel vec) {
    compare_lines(plain, vec, 39,
                  [](LineEndKernel k, float* t, const float* a, const float*, float c, int count,
                     int) { k(t, a + 1, c, count); });
}
using ScaleLineKernel = decltype(KernelSet::scale_line);
void compare_scale_line(ScaleLineKernel plain, ScaleLineKernel vec) {
    compare_lines(plain, vec, 40,
                  [](ScaleLineKernel k, float* t, const float* a, const float*, float, int count,
                     int offset) { k(a + offset, t, lifting::kK, count); });
}

// The window's six lines and the two outputs at unrelated offsets, or the outputs aligned for
// the streaming form; every line is compared afterwards, since the next pair's step reads them:
// `run(kernel, lines, low, high, count)`.
template <class Kernel, class Run>
void compare_column_steps(Kernel plain, Kernel vec, uint64_t seed, bool aligned_outputs, Run run) {
    SplitMix64 rng{seed};
    for (int count = 0; count <= 70; ++count) {
        for (int shift = 0; shift < 3; ++shift) {
            SCOPED_TRACE(testing::Message() << "count " << count << " shift " << shift);
            const size_t line = (count + 12 + 7) & ~size_t{7}, size = 8 * line;
            std::vector<float> original(size);
            for (float& v : original) v = mixed_value(rng);
            AlignedFloats a(size + 8), b(size + 8);
            // 32-byte aligned, so that the streaming form's aligned outputs are met
            auto aligned = [](AlignedFloats& m) {
                float* p = m.data();
                while (reinterpret_cast<uintptr_t>(p) % 32) ++p;
                return p;
            };
            float* const bases[2] = {aligned(a), aligned(b)};
            for (int side = 0; side < 2; ++side) {
                float* base = bases[side];
                std::copy(original.begin(), original.end(), base);
                float* lines[6];
                for (int i = 0; i < 6; ++i) lines[i] = base + i * line + (i * shift) % 4;
                float* low = base + 6 * line + (aligned_outputs ? 0 : shift);
                float* high = base + 7 * line + (aligned_outputs ? 0 : 1);
                run(side == 0 ? plain : vec, lines, low, high, count);
            }
            ASSERT_EQ(first_difference(bases[0], bases[1], size), -1);
            if (count > 0) {
                ASSERT_NE(first_difference(bases[0], original.data(), size), -1);
            }
        }
    }
}
using ForwardStepKernel = decltype(KernelSet::forward_column_step);
void forward_step(ForwardStepKernel k, float* const* lines, float* low, float* high, int count) {
    k(lines, low, high, count);
}
void compare_forward_column_step(ForwardStepKernel plain, ForwardStepKernel vec) {
    compare_column_steps(plain, vec, 18, false, forward_step);
}
void compare_forward_column_step_streaming(ForwardStepKernel plain, ForwardStepKernel vec) {
    compare_column_steps(plain, vec, 41, true, forward_step);
}
using InverseStepKernel = decltype(KernelSet::inverse_column_step);
void compare_inverse_column_step(InverseStepKernel plain, InverseStepKernel vec) {
    compare_column_steps(plain, vec, 42, false,
                         [](InverseStepKernel k, float* const* lines, float*, float*, int count) {
                             k(lines, count);
                         });
}

// A row after one guard value, with coefficients reaching the threshold x exactly, either sign
// of it, NaN, and values below it.
std::vector<float> row_around(SplitMix64& rng, int n, float x) {
    std::vector<float> row(n + 1);
    for (float& v : row) {
        const int kind = rng.uniform(0, 11);
        v = kind == 0 ? kNaN : kind == 1 ? x : kind == 2 ? -x : (unit(rng) - 0.5f) * 2.0f * x;
    }
    return row;
}

// Marks of rows of every length, over words filled with other bits before.
using MarkKernel = decltype(KernelSet::mark_reaches);
void compare_mark_reaches(MarkKernel plain, MarkKernel vec) {
    SplitMix64 rng{19};
    const float x = 3.0f;
    for (int n = 1; n <= 150; ++n) {
        SCOPED_TRACE(testing::Message() << "n " << n);
        const std::vector<float> row = row_around(rng, n, x);
        const int words = (n + 31) / 32;
        std::vector<uint32_t> ma(words + 1, 0xA5A5A5A5u), mb = ma;
        plain(row.data() + 1, n, x, ma.data());
        vec(row.data() + 1, n, x, mb.data());
        ASSERT_EQ(ma, mb);
        ASSERT_EQ(ma[words], 0xA5A5A5A5u) << "a word past the row was written";
    }
}

// The thresholded copy with marks of every pattern, for both signs of the scale.
using KeepKernel = decltype(KernelSet::keep_scaled);
void compare_keep_scaled(KeepKernel plain, KeepKernel vec) {
    SplitMix64 rng{43};
    for (int n = 1; n <= 150; ++n) {
        SCOPED_TRACE(testing::Message() << "n " << n);
        const std::vector<float> row = row_around(rng, n, 3.0f);
        std::vector<uint32_t> marks[3];
        for (auto& m : marks) {
            m.resize((n + 31) / 32);
            for (uint32_t& v : m) {
                const int kind = rng.uniform(0, 3);
                v = kind == 0 ? 0 : kind == 1 ? ~0u : static_cast<uint32_t>(rng.next());
            }
        }
        for (float s : {lifting::kK, -lifting::kInvK}) {
            std::vector<float> da(n + 2, 9.0f), db(n + 2, 9.0f);
            plain(row.data() + 1, marks[0].data(), marks[1].data(), marks[2].data(), s,
                  da.data() + 1, n);
            vec(row.data() + 1, marks[0].data(), marks[1].data(), marks[2].data(), s, db.data() + 1,
                n);
            ASSERT_EQ(first_difference(da.data(), db.data(), da.size()), -1) << "scale " << s;
        }
    }
}

// ---- every kernel of the list, in every vector table ---------------------------------------

// The comparison of each kernel of VELMORA_KERNELS, handed that kernel of both tables: a kernel
// the list gains without a compare_<kernel> above does not compile.
using Comparison = void (*)(const KernelSet& plain, const KernelSet& vec);
#define VELMORA_COMPARISON(kernel)                                            \
    [](const KernelSet& plain, const KernelSet& vec) {                        \
        ASSERT_TRUE(plain.kernel&& vec.kernel) << "a table without " #kernel; \
        compare_##kernel(plain.kernel, vec.kernel);                           \
    },
const Comparison kComparisons[] = {VELMORA_KERNELS(VELMORA_COMPARISON)};
#undef VELMORA_COMPARISON

// (vector instruction set, index into the list of kernels)
class KernelEquivalence : public ::testing::TestWithParam<std::tuple<Isa, int>> {};

TEST_P(KernelEquivalence, VectorFormGivesThePlainBits) {
    const KernelSet* vec = kernels_for(std::get<0>(GetParam()));
    if (!vec) GTEST_SKIP() << "instruction set not available";
    kComparisons[std::get<1>(GetParam())](scalar_kernels, *vec);
}

INSTANTIATE_TEST_SUITE_P(EveryKernel, KernelEquivalence,
                         ::testing::Combine(::testing::Values(Isa::sse41, Isa::avx2),
                                            ::testing::Range(0, kKernelCount)),
                         [](const ::testing::TestParamInfo<std::tuple<Isa, int>>& info) {
                             const Isa isa = std::get<0>(info.param);
                             return std::string(isa == Isa::sse41 ? "sse41_" : "avx2_") +
                                    kKernelNames[std::get<1>(info.param)];
                         });

// The store's rounding, truncation and 16-bit wrap, in the vector path (the first 16 samples round)
// and in the truncating remainder (the last 16), for every table.
TEST(SampleStore, RoundsTruncatesAndWraps) {
    struct Case {
        float value;
        int16_t rounded;
        int16_t truncated;
    };
    const Case cases[] = {
        {2.5f, 2, 2},
        {3.5f, 4, 3},
        {-2.5f, -2, -2},
        {-3.7f, -4, -3},
        {2.7f, 3, 2},
        {-2.7f, -3, -2},
        {99.99999f, 100, 99},
        {32768.0f, -32768, -32768},
        {40000.0f, -25536, -25536},
        {kNaN, 0, 0},
        {3.0e9f, 0, 0},
        {-3.0e9f, 0, 0},
    };
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        for (int stride : {1, 3}) {
            for (const Case& c : cases) {
                const std::vector<float> src(32, c.value);
                std::vector<int16_t> dst(32 * stride, 1234);
                table->store_s16(src.data(), dst.data(), stride, 32, 16);
                for (int i = 0; i < 32; ++i)
                    ASSERT_EQ(dst[i * stride], i < 16 ? c.rounded : c.truncated)
                        << "value " << c.value << " sample " << i << " stride " << stride;
            }
        }
    }
}

TEST(MaxAbs, IsTheLargestMagnitude) {
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        AlignedFloats v(19);
        for (int i = 0; i < 19; ++i) v[i] = static_cast<float>(i % 5);
        for (int at : {0, 3, 8, 15, 18}) {
            v[at] = -250.5f;
            EXPECT_EQ(table->max_abs(v.data(), 19), 250.5f) << "at " << at;
            v[at] = 1.0f;
        }
        EXPECT_EQ(table->max_abs(v.data(), 0), 0.0f);
    }
}

// The plain forms compute what they state: clamped boxes summed left to right, the pilot's
// positive part taken as +0, the gains as written.
TEST(ShrinkKernels, StateTheirArithmetic) {
    for (const KernelSet* table : available_tables()) {
        SCOPED_TRACE(table->name);
        // 9 values: the vector bodies take some, the ends the rest.
        const std::vector<float> src = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        std::vector<float> out(9);
        table->box_sum_row(src.data(), out.data(), 9, 2);
        EXPECT_EQ(out, (std::vector<float>{1 + 1 + 1 + 2 + 3, 1 + 1 + 2 + 3 + 4, 15, 20, 25, 30, 35,
                                           6 + 7 + 8 + 9 + 9, 7 + 8 + 9 + 9 + 9}));
        table->box_sum_row(src.data(), out.data(), 1, 3);
        EXPECT_EQ(out[0], 7.0f);  // a one-value row: seven times its value
        // Left to right: (1 + 1e8) - 1e8 loses the 1 in single precision; the other order
        // would keep it.
        const std::vector<float> order = {1.0f, 1.0e8f, -1.0e8f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
        table->box_sum_row(order.data(), out.data(), 8, 1);
        EXPECT_EQ(out[1], 0.0f);
        const float* rows[3] = {order.data(), order.data() + 1, order.data() + 2};
        table->box_sum_rows(rows, 3, out.data(), 1);
        EXPECT_EQ(out[0], 0.0f);

        // sums 25 * 9 = mean 9 over a 5 x 5 box, noise 4: v = 5, gain 5/9; c = 3 -> p = 15/9.
        const std::vector<float> sums(8, 225.0f), c(8, 3.0f);
        std::vector<float> energy(8);
        table->pilot_energy_row(sums.data(), c.data(), energy.data(), 8, 0.04f, 4.0f);
        const float p = 3.0f * (5.0f / 9.0f);
        EXPECT_EQ(energy[0], p * p);
        EXPECT_EQ(energy[7], p * p);
        // A mean below the noise gives a zero pilot, of either sign of c.
        const std::vector<float> low(8, 25.0f), signs = {-3, 3, -3, 3, -3, 3, -3, 3};
        table->pilot_energy_row(low.data(), signs.data(), energy.data(), 8, 0.04f, 4.0f);
        for (float e : energy) EXPECT_EQ(bits_of(e), 0u);

        std::vector<float> coefficients(8, 6.0f);
        table->wiener_row(sums.data(), coefficients.data(), 8, 0.04f, 1.0f);
        EXPECT_EQ(coefficients[3], 6.0f * (9.0f / 10.0f));

        // Each coefficient's noise scaled by its ratio: noise 8 x 0.5 is the noise 4 above; a
        // ratio of 1 is the plain gain, and the gain is kept.
        const std::vector<float> halves(8, 0.5f), ones(8, 1.0f);
        table->pilot_energy_ratio_row(sums.data(), c.data(), halves.data(), energy.data(), 8, 0.04f,
                                      8.0f);
        EXPECT_EQ(energy[0], p * p);
        EXPECT_EQ(energy[7], p * p);
        std::vector<float> kept(8, -1.0f), again(8, 6.0f);
        table->wiener_gain_row(sums.data(), again.data(), ones.data(), kept.data(), 8, 0.04f, 1.0f);
        EXPECT_EQ(again, coefficients);
        EXPECT_EQ(kept[6], 9.0f / 10.0f);
        table->wiener_gain_row(sums.data(), again.data(), halves.data(), kept.data(), 8, 0.04f,
                               18.0f);
        EXPECT_EQ(kept[2], 0.5f);  // mean 9, noise 18 x 0.5
        EXPECT_EQ(again[2], 6.0f * 0.9f * 0.5f);

        std::vector<float> acc(8, 10.0f);
        table->accumulate_row(acc.data(), c.data(), 8, 0.25f);
        EXPECT_EQ(acc[5], 3.25f);
    }
}

}  // namespace
