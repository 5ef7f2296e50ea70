// Every vector kernel table against the plain one, bit for bit, over many lengths, counts,
// offsets, strides and awkward values. Also the store's conversions for every table.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "kernels/lifting_constants.h"
#include "tests/wavelet_test_support.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Each vector table in turn as `vec`, skipped when the processor lacks it.
class VectorKernels : public ::testing::TestWithParam<Isa> {
protected:
    void SetUp() override {
        vec = kernels_for(GetParam());
        if (!vec) GTEST_SKIP() << "instruction set not available";
    }
    const KernelSet* vec = nullptr;
    const KernelSet& plain = scalar_kernels;
};

// In place and from one row into another, which leaves the source as it was.
TEST_P(VectorKernels, RowLiftingMatchesForEveryLength) {
    SplitMix64 rng{11};
    for (int n = 1; n <= 400; ++n) {
        SCOPED_TRACE(testing::Message() << "n = " << n);
        AlignedFloats a(2 * n), b(2 * n), da(2 * n), db(2 * n), e(n), o(n);
        for (int inverse = 0; inverse < 2; ++inverse) {
            for (int in_place = 0; in_place < 2; ++in_place) {
                for (int i = 0; i < 2 * n; ++i) a[i] = b[i] = mixed_value(rng);
                const std::vector<float> source(a.data(), a.data() + 2 * n);
                float* to_a = in_place ? a.data() : da.data();
                float* to_b = in_place ? b.data() : db.data();
                auto row = inverse ? plain.inverse_row : plain.forward_row;
                row(a.data(), to_a, n, e.data(), o.data());
                row = inverse ? vec->inverse_row : vec->forward_row;
                row(b.data(), to_b, n, e.data(), o.data());
                ASSERT_EQ(first_difference(to_a, to_b, 2 * n), -1)
                    << "inverse " << inverse << ", in place " << in_place;
                if (!in_place) {
                    ASSERT_EQ(first_difference(b.data(), source.data(), 2 * n), -1);
                }
            }
        }
    }
}

// A row already split into its halves, every length.
TEST_P(VectorKernels, SplitRowLiftingMatchesForEveryLength) {
    SplitMix64 rng{20};
    for (int n = 1; n <= 400; ++n) {
        SCOPED_TRACE(testing::Message() << "n = " << n);
        AlignedFloats ea(n), oa(n), eb(n), ob(n), da(2 * n), db(2 * n);
        for (int k = 0; k < n; ++k) {
            ea[k] = eb[k] = mixed_value(rng);
            oa[k] = ob[k] = mixed_value(rng);
        }
        plain.forward_row_split(ea.data(), oa.data(), da.data(), n);
        vec->forward_row_split(eb.data(), ob.data(), db.data(), n);
        ASSERT_EQ(first_difference(da.data(), db.data(), 2 * n), -1);
    }
}

// Planar samples split for the row lifting, every count of pairs from any start, with the
// extremes of each sample size.
TEST_P(VectorKernels, SplitSampleLoadsMatchForCountsAndShifts) {
    SplitMix64 rng{21};
    for (int pairs = 0; pairs <= 70; ++pairs) {
        for (int offset : {0, 1, 3}) {
            std::vector<uint8_t> bytes(2 * pairs + offset + 1);
            std::vector<uint16_t> words(2 * pairs + offset + 1);
            for (auto& v : bytes)
                v = static_cast<uint8_t>(rng.uniform(0, 3) ? rng.uniform(0, 255) : 255);
            for (auto& v : words)
                v = static_cast<uint16_t>(rng.uniform(0, 3) ? rng.uniform(0, 65535) : 65535);
            for (int shift : {0, 2, 4}) {
                SCOPED_TRACE(testing::Message()
                             << "pairs " << pairs << " offset " << offset << " shift " << shift);
                std::vector<float> ea(pairs + 1, -7.0f), oa = ea, eb = ea, ob = ea;
                plain.split_u8(bytes.data() + offset, ea.data(), oa.data(), pairs, shift);
                vec->split_u8(bytes.data() + offset, eb.data(), ob.data(), pairs, shift);
                ASSERT_EQ(first_difference(ea.data(), eb.data(), ea.size()), -1);
                ASSERT_EQ(first_difference(oa.data(), ob.data(), oa.size()), -1);
                plain.split_u16(words.data() + offset, ea.data(), oa.data(), pairs, shift);
                vec->split_u16(words.data() + offset, eb.data(), ob.data(), pairs, shift);
                ASSERT_EQ(first_difference(ea.data(), eb.data(), ea.size()), -1);
                ASSERT_EQ(first_difference(oa.data(), ob.data(), oa.size()), -1);
            }
        }
    }
}

// Lines of every count from any start, with infinities and NaN among the values.
TEST_P(VectorKernels, LineLiftingMatchesForCountsAndOffsets) {
    SplitMix64 rng{17};
    auto value = [&] {
        const int kind = rng.uniform(0, 19);
        return kind == 0 ? kNaN : kind == 1 ? -kInf : mixed_value(rng);
    };
    for (int count = 0; count <= 70; ++count) {
        for (int offset : {0, 1, 3, 5}) {
            SCOPED_TRACE(testing::Message() << "count " << count << " offset " << offset);
            const size_t size = count + 8;
            std::vector<float> target(size), a(size), b(size);
            for (size_t i = 0; i < size; ++i) target[i] = value(), a[i] = value(), b[i] = value();
            for (int kind = 0; kind < 3; ++kind) {
                std::vector<float> x = target, y = target;
                const float c = kind == 2 ? lifting::kK : mixed_value(rng) * 1.0e-4f;
                for (const KernelSet* k : {&plain, vec}) {
                    float* t = (k == &plain ? x : y).data() + offset;
                    if (kind == 0)
                        k->lift_lines(t, a.data() + offset, b.data() + 2, c, count);
                    else if (kind == 1)
                        k->lift_line_end(t, a.data() + 1, c, count);
                    else
                        k->scale_line(a.data() + offset, t, c, count);
                }
                ASSERT_EQ(first_difference(x.data(), y.data(), size), -1) << "kernel " << kind;
            }
        }
    }
}

// The window's six lines and the two outputs at unrelated offsets, the streaming form's outputs
// also aligned; every line is compared afterwards, since the next pair's step reads them.
TEST_P(VectorKernels, ColumnStepsMatchForCountsAndOffsets) {
    SplitMix64 rng{18};
    for (int count = 0; count <= 70; ++count) {
        for (int shift = 0; shift < 3; ++shift) {
            SCOPED_TRACE(testing::Message() << "count " << count << " shift " << shift);
            const size_t line = (count + 12 + 7) & ~size_t{7}, size = 8 * line;
            std::vector<float> original(size);
            for (float& v : original) v = mixed_value(rng);
            for (int kind = 0; kind < 3; ++kind) {
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
                    const KernelSet* k = side == 0 ? &plain : vec;
                    float* low = base + 6 * line + (kind == 2 ? 0 : shift);
                    float* high = base + 7 * line + (kind == 2 ? 0 : 1);
                    if (kind == 0)
                        k->inverse_column_step(lines, count);
                    else if (kind == 1)
                        k->forward_column_step(lines, low, high, count);
                    else
                        k->forward_column_step_streaming(lines, low, high, count);
                }
                ASSERT_EQ(first_difference(bases[0], bases[1], size), -1) << "kind " << kind;
                if (count > 0) {
                    ASSERT_NE(first_difference(bases[0], original.data(), size), -1);
                }
            }
        }
    }
}

// Marks of rows of every length with thresholds reached exactly, over words filled with other
// bits before; the thresholded copy with marks of every pattern, for both signs of the scale.
TEST_P(VectorKernels, MarksAndKeptCopiesMatchForEveryLength) {
    SplitMix64 rng{19};
    for (int n = 1; n <= 150; ++n) {
        SCOPED_TRACE(testing::Message() << "n " << n);
        const float x = 3.0f;
        std::vector<float> row(n + 1);
        for (float& v : row) {
            const int kind = rng.uniform(0, 11);
            v = kind == 0 ? kNaN : kind == 1 ? x : kind == 2 ? -x : (unit(rng) - 0.5f) * 2.0f * x;
        }
        const int words = (n + 31) / 32;
        std::vector<uint32_t> ma(words + 1, 0xA5A5A5A5u), mb = ma;
        plain.mark_reaches(row.data() + 1, n, x, ma.data());
        vec->mark_reaches(row.data() + 1, n, x, mb.data());
        ASSERT_EQ(ma, mb);
        ASSERT_EQ(ma[words], 0xA5A5A5A5u) << "a word past the row was written";
        std::vector<uint32_t> marks[3];
        for (auto& m : marks) {
            m.resize(words);
            for (uint32_t& v : m) {
                const int kind = rng.uniform(0, 3);
                v = kind == 0 ? 0 : kind == 1 ? ~0u : static_cast<uint32_t>(rng.next());
            }
        }
        for (float s : {lifting::kK, -lifting::kInvK}) {
            std::vector<float> da(n + 2, 9.0f), db(n + 2, 9.0f);
            plain.keep_scaled(row.data() + 1, marks[0].data(), marks[1].data(), marks[2].data(), s,
                              da.data() + 1, n);
            vec->keep_scaled(row.data() + 1, marks[0].data(), marks[1].data(), marks[2].data(), s,
                             db.data() + 1, n);
            ASSERT_EQ(first_difference(da.data(), db.data(), da.size()), -1) << "scale " << s;
        }
    }
}

TEST_P(VectorKernels, SampleLoadMatchesForStridesCountsAndComponents) {
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
                plain.load_s16(src.data() + component, stride, a.data(), count);
                vec->load_s16(src.data() + component, stride, b.data(), count);
                ASSERT_EQ(first_difference(a.data(), b.data(), a.size()), -1);
            }
        }
    }
}

// Ties, values a hair below integers, the 16-bit wrap, the ends of the 32-bit range, NaN and
// infinities, for every split between rounded and truncated samples.
TEST_P(VectorKernels, SampleStoreMatchesForStridesCountsAndSplits) {
    const float awkward[] = {0.5f,          -0.5f,          1.5f,          -1.5f,     2.5f,
                             -2.5f,         3.5f,           -3.7f,         2.7f,      -2.7f,
                             99.99999f,     -99.99999f,     32767.5f,      -32768.5f, 32768.0f,
                             40000.0f,      -40000.7f,      65535.5f,      1.0e9f,    -1.0e9f,
                             2147483520.0f, -2147483648.0f, 2147483648.0f, 3.0e9f,    -3.0e9f,
                             kNaN,          kInf,           -kInf,         -0.0f,     0.49999997f};
    SplitMix64 rng{15};
    for (int stride : {1, 3}) {
        for (int component = 0; component < stride; ++component) {
            for (int count = 0; count <= 40; ++count) {
                std::vector<float> src(count + 1);
                for (float& v : src) {
                    v = rng.uniform(0, 2) ? awkward[rng.uniform(0, std::size(awkward) - 1)]
                                          : (unit(rng) - 0.5f) * 70000.0f;
                }
                std::vector<int16_t> original(count ? static_cast<size_t>(count) * stride : 1);
                for (int16_t& v : original) v = static_cast<int16_t>(rng.uniform(-32768, 32767));
                for (int rounded = 0; rounded <= count; ++rounded) {
                    SCOPED_TRACE(testing::Message()
                                 << "stride " << stride << " component " << component << " count "
                                 << count << " rounded " << rounded);
                    std::vector<int16_t> a = original, b = original;
                    plain.store_s16(src.data(), a.data() + component, stride, count, rounded);
                    vec->store_s16(src.data(), b.data() + component, stride, count, rounded);
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

TEST_P(VectorKernels, MaxAbsMatchesForCountsAndUnalignedStarts) {
    SplitMix64 rng{16};
    AlignedFloats values(80);
    for (int round = 0; round < 20; ++round) {
        for (size_t i = 0; i < values.size(); ++i) {
            const int kind = rng.uniform(0, 11);
            values[i] = kind == 0 ? kNaN : kind == 1 ? -0.0f : mixed_value(rng);
        }
        for (int start = 0; start < 4; ++start)
            for (int count = 0; count + start <= 76; ++count)
                ASSERT_EQ(bits_of(plain.max_abs(values.data() + start, count)),
                          bits_of(vec->max_abs(values.data() + start, count)))
                    << "start " << start << " count " << count;
    }
}

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

// Every length through the vector bodies and the clamped ends, every radius, at unaligned
// starts; nothing past the row may change.
TEST_P(VectorKernels, RowBoxSumsAndSquaresMatchForEveryLengthAndRadius) {
    SplitMix64 rng{17};
    for (int n = 1; n <= 70; ++n) {
        for (int start = 0; start < 3; ++start) {
            const std::vector<float> src = shrink_values(rng, n + start + 4);
            for (int radius = 1; radius <= 4; ++radius) {
                SCOPED_TRACE(testing::Message()
                             << "n " << n << " start " << start << " radius " << radius);
                std::vector<float> a(n + 8, -7.0f), b(n + 8, -7.0f);
                plain.box_sum_row(src.data() + start, a.data() + start, n, radius);
                vec->box_sum_row(src.data() + start, b.data() + start, n, radius);
                ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
            }
            std::vector<float> a(n + 8, -7.0f), b(n + 8, -7.0f);
            plain.square_row(src.data() + start, a.data() + start, n);
            vec->square_row(src.data() + start, b.data() + start, n);
            ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1) << n;
        }
    }
}

TEST_P(VectorKernels, ColumnBoxSumsMatchForEveryLengthAndCount) {
    SplitMix64 rng{18};
    for (int n = 1; n <= 45; ++n) {
        for (int count = 1; count <= 7; ++count) {
            std::vector<std::vector<float>> rows;
            for (int r = 0; r < count; ++r) rows.push_back(shrink_values(rng, n + 1));
            std::vector<const float*> pointers;
            // Offsets differ per row, as rows of a block at any place in a plane do.
            for (int r = 0; r < count; ++r) pointers.push_back(rows[r].data() + (r % 2));
            std::vector<float> a(n + 4, -7.0f), b(n + 4, -7.0f);
            plain.box_sum_rows(pointers.data(), count, a.data() + 1, n);
            vec->box_sum_rows(pointers.data(), count, b.data() + 1, n);
            ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1)
                << "n " << n << " count " << count;
        }
    }
}

// The gains divide: ties at the noise level, sums below it (clamped to +0), both zeros, and
// the awkward values, for noise levels from tiny to large.
TEST_P(VectorKernels, PilotAndWienerGainsMatchForEveryLength) {
    SplitMix64 rng{19};
    for (int n = 1; n <= 45; ++n) {
        for (float noise : {1.0e-30f, 0.75f, 6400.0f, 2.5e7f}) {
            std::vector<float> sums = shrink_values(rng, n + 1), c = shrink_values(rng, n + 1);
            for (int j = 0; j < n; j += 3) sums[j] = noise * 25.0f;  // mean exactly the noise
            for (int j = 1; j < n; j += 5) sums[j] = noise;          // below it
            for (float inv_window : {0.04f, 0.11111111f}) {
                SCOPED_TRACE(testing::Message()
                             << "n " << n << " noise " << noise << " window " << inv_window);
                std::vector<float> a(n + 4, -7.0f), b(n + 4, -7.0f);
                plain.pilot_energy_row(sums.data() + 1, c.data(), a.data() + 1, n, inv_window,
                                       noise);
                vec->pilot_energy_row(sums.data() + 1, c.data(), b.data() + 1, n, inv_window,
                                      noise);
                ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
                std::vector<float> p = c, q = c;
                plain.wiener_row(sums.data(), p.data() + 1, n, inv_window, noise);
                vec->wiener_row(sums.data(), q.data() + 1, n, inv_window, noise);
                ASSERT_EQ(first_difference_but_nan(p.data(), q.data(), p.size()), -1);
                // With each coefficient's own noise: ratios of a temporal average (1/7 to 1)
                // and the awkward values.
                std::vector<float> ratio = shrink_values(rng, n + 1);
                for (int j = 0; j < n; j += 2) ratio[j] = 1.0f / static_cast<float>(1 + j % 7);
                a.assign(n + 4, -7.0f);
                b.assign(n + 4, -7.0f);
                plain.pilot_energy_ratio_row(sums.data() + 1, c.data(), ratio.data(), a.data() + 1,
                                             n, inv_window, noise);
                vec->pilot_energy_ratio_row(sums.data() + 1, c.data(), ratio.data(), b.data() + 1,
                                            n, inv_window, noise);
                ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
                p = c;
                q = c;
                a.assign(n + 4, -7.0f);
                b.assign(n + 4, -7.0f);
                plain.wiener_gain_row(sums.data(), p.data() + 1, ratio.data() + 1, a.data() + 2, n,
                                      inv_window, noise);
                vec->wiener_gain_row(sums.data(), q.data() + 1, ratio.data() + 1, b.data() + 2, n,
                                     inv_window, noise);
                ASSERT_EQ(first_difference_but_nan(p.data(), q.data(), p.size()), -1);
                ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
            }
        }
    }
}

TEST_P(VectorKernels, AccumulationMatchesForEveryLength) {
    SplitMix64 rng{20};
    for (int n = 1; n <= 45; ++n) {
        const std::vector<float> acc = shrink_values(rng, n + 2), src = shrink_values(rng, n + 2);
        for (float scale : {1.0f, 0.25f}) {
            std::vector<float> a = acc, b = acc;
            plain.accumulate_row(a.data() + 1, src.data(), n, scale);
            vec->accumulate_row(b.data() + 1, src.data(), n, scale);
            ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1)
                << "n " << n << " scale " << scale;
        }
    }
}

// Block sums of absolute differences for every block side, row of candidates and count of
// rows, at odd strides and offsets; the memory past the last candidate is filled as the kernel
// may read it.
TEST_P(VectorKernels, BlockSadsMatchForEverySideCountAndRows) {
    SplitMix64 rng{21};
    for (int side : {2, 4, 8}) {
        for (int count = 1; count <= 64; count += (count < 20 ? 1 : 7)) {
            for (int rows : {1, 2, 5, 17}) {
                const int ref_stride = count + side + 37, cur_stride = side + 3;
                std::vector<uint8_t> ref(static_cast<size_t>(rows + side) * ref_stride + 64);
                std::vector<uint8_t> cur(static_cast<size_t>(side) * cur_stride + 1);
                for (uint8_t& v : ref) v = static_cast<uint8_t>(rng.uniform(0, 255));
                for (uint8_t& v : cur) v = static_cast<uint8_t>(rng.uniform(0, 1) ? 0 : 255);
                std::vector<int32_t> a(static_cast<size_t>(rows) * count + 1, -7);
                std::vector<int32_t> b = a;
                plain.block_sads(cur.data() + 1, cur_stride, ref.data() + 3, ref_stride, side,
                                 count, rows, a.data());
                vec->block_sads(cur.data() + 1, cur_stride, ref.data() + 3, ref_stride, side, count,
                                rows, b.data());
                ASSERT_EQ(a, b) << "side " << side << " count " << count << " rows " << rows;
            }
        }
    }
}

// The temporal weights divide and clamp: ties at both limits, zeros, and the awkward values;
// the guard sum counts every weight the same way.
TEST_P(VectorKernels, TemporalWeightsAccumulationAndFinishMatchForEveryLength) {
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
        const int64_t guard_a =
            plain.temporal_weight_row(in[0].data(), in[1].data() + 1, in[2].data(), in[3].data(),
                                      in[4].data() + 1, a.data() + 1, n, 1.0f / 9.0f, 1.0e-6f);
        const int64_t guard_b =
            vec->temporal_weight_row(in[0].data(), in[1].data() + 1, in[2].data(), in[3].data(),
                                     in[4].data() + 1, b.data() + 1, n, 1.0f / 9.0f, 1.0e-6f);
        ASSERT_EQ(first_difference_but_nan(a.data(), b.data(), a.size()), -1);
        ASSERT_EQ(guard_a, guard_b);

        std::vector<float> d = shrink_values(rng, n + 2), e = d;
        plain.difference_square_row(in[0].data(), in[1].data(), d.data() + 1, n, 0.25f);
        vec->difference_square_row(in[0].data(), in[1].data(), e.data() + 1, n, 0.25f);
        ASSERT_EQ(first_difference_but_nan(d.data(), e.data(), d.size()), -1);

        std::vector<std::vector<float>> acc_a;
        for (int i = 0; i < 3; ++i) acc_a.push_back(shrink_values(rng, n + 2));
        std::vector<std::vector<float>> acc_b = acc_a;
        plain.temporal_accumulate_row(a.data() + 1, in[2].data(), acc_a[0].data() + 1,
                                      acc_a[1].data(), acc_a[2].data() + 1, n);
        vec->temporal_accumulate_row(a.data() + 1, in[2].data(), acc_b[0].data() + 1,
                                     acc_b[1].data(), acc_b[2].data() + 1, n);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(first_difference_but_nan(acc_a[i].data(), acc_b[i].data(), n + 2), -1) << i;
        for (bool with_ratio : {false, true}) {
            std::vector<float> sum_a = acc_a[0], sum_b = acc_a[0];
            std::vector<float> ratio_a(n + 2, -7.0f), ratio_b = ratio_a;
            plain.temporal_finish_row(sum_a.data() + 1, acc_a[1].data(), acc_a[2].data() + 1,
                                      with_ratio ? ratio_a.data() + 1 : nullptr, n);
            vec->temporal_finish_row(sum_b.data() + 1, acc_a[1].data(), acc_a[2].data() + 1,
                                     with_ratio ? ratio_b.data() + 1 : nullptr, n);
            ASSERT_EQ(first_difference_but_nan(sum_a.data(), sum_b.data(), n + 2), -1);
            ASSERT_EQ(first_difference_but_nan(ratio_a.data(), ratio_b.data(), n + 2), -1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Isa, VectorKernels, ::testing::Values(Isa::sse41, Isa::avx2),
                         [](const ::testing::TestParamInfo<Isa>& info) {
                             return std::string(info.param == Isa::sse41 ? "sse41" : "avx2");
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
