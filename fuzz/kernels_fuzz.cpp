// Every vector kernel against its scalar form on lines, strips and bands of random sizes and
// contents, the band shrink's box sums and gains too: any difference in the bits is a finding.
#include <algorithm>
#include <vector>

#include "kernels/kernel_set.h"
#include "standin/fuzz_input.h"

namespace {

// The loops over every sample are kept out of coverage tracing, which would cost more than the
// kernels themselves.
__attribute__((no_sanitize("coverage"))) std::vector<float> floats(FuzzInput& in, size_t count) {
    std::vector<float> v(count + 8);
    for (float& f : v) {
        const uint32_t bits = in.u32();
        f = (bits & 3) == 0 ? __builtin_bit_cast(float, bits)
                            : static_cast<float>(static_cast<int32_t>(bits) >> 12);
    }
    return v;
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

void compare(const KernelSet& k, FuzzInput& in) {
    // Mostly short lines and narrow strips, sometimes long and wide ones.
    const int n = in.range(1, in.byte() & 1 ? 160 : 24);
    const int count = in.range(1, in.byte() & 1 ? 70 : 20);
    const int stride = count + in.range(0, 9);
    const std::vector<float> source = floats(in, static_cast<size_t>(2 * n) * stride + 8);
    // rows, in place and into another row
    for (int inverse = 0; inverse < 2; ++inverse) {
        std::vector<float> a = source, b = source, ea(2 * n + 8), eb(2 * n + 8);
        std::vector<float> da(2 * n + 8), db(2 * n + 8);
        const bool in_place = in.byte() & 1;
        auto* row = inverse ? k.inverse_row : k.forward_row;
        auto* reference = inverse ? scalar_kernels.inverse_row : scalar_kernels.forward_row;
        reference(aligned(a), in_place ? aligned(a) : aligned(da), n, aligned(ea),
                  aligned(ea) + n + 4 - (n % 4));
        row(aligned(b), in_place ? aligned(b) : aligned(db), n, aligned(eb),
            aligned(eb) + n + 4 - (n % 4));
        check(same_bits(a, b));
        check(same_bits(da, db));
    }
    // a row already split, and planar samples split for it
    {
        std::vector<float> ea(source.begin(), source.begin() + n + 8),
            oa(source.begin() + n, source.begin() + 2 * n + 8), eb = ea, ob = oa, da(2 * n + 8),
                                                                db(2 * n + 8);
        scalar_kernels.forward_row_split(aligned(ea), aligned(oa), aligned(da), n);
        k.forward_row_split(aligned(eb), aligned(ob), aligned(db), n);
        check(same_bits(da, db));
        const int shift = in.range(0, 8);
        std::vector<uint16_t> words(2 * n);
        for (uint16_t& v : words) v = in.u16();
        const std::vector<uint8_t> bytes(words.begin(), words.end());
        std::vector<float> fa(2 * n), fb(2 * n);
        scalar_kernels.split_u16(words.data(), fa.data(), fa.data() + n, n, shift);
        k.split_u16(words.data(), fb.data(), fb.data() + n, n, shift);
        check(same_bits(fa, fb));
        scalar_kernels.split_u8(bytes.data(), fa.data(), fa.data() + n, n, shift);
        k.split_u8(bytes.data(), fb.data(), fb.data() + n, n, shift);
        check(same_bits(fa, fb));
    }
    // lines and the sliding window's column steps, at offsets from one another
    {
        const int line = 2 * n + 8;
        std::vector<float> a = source, b = source;
        a.resize(8 * line + 8);
        b.resize(8 * line + 8);
        int offsets[8];
        for (int& o : offsets) o = in.range(0, 7);
        const float c = static_cast<float>(static_cast<int32_t>(in.u32())) * 1.0e-9f;
        const int kind = in.range(0, 5);
        for (std::vector<float>* m : {&a, &b}) {
            const KernelSet& t = m == &a ? scalar_kernels : k;
            float* lines[8];
            for (int i = 0; i < 8; ++i) lines[i] = m->data() + i * line + offsets[i];
            if (kind == 0)
                t.lift_lines(lines[0], lines[1], lines[2], c, 2 * n);
            else if (kind == 1)
                t.lift_line_end(lines[0], lines[1], c, 2 * n);
            else if (kind == 2)
                t.scale_line(lines[1], lines[0], c, 2 * n);
            else if (kind == 3)
                t.forward_column_step(lines, lines[6], lines[7], 2 * n);
            else if (kind == 4)
                t.forward_column_step_streaming(lines, lines[6], lines[7], 2 * n);
            else
                t.inverse_column_step(lines, 2 * n);
        }
        check(same_bits(a, b));
    }
    // a row's marks and its thresholded copy
    {
        const float x = static_cast<float>(in.range(0, 40000)) / 4.0f;
        const int words = (2 * n + 31) / 32;
        std::vector<uint32_t> ma(words), mb(words);
        scalar_kernels.mark_reaches(source.data() + 1, 2 * n, x, ma.data());
        k.mark_reaches(source.data() + 1, 2 * n, x, mb.data());
        check(ma == mb);
        std::vector<uint32_t> marks[3];
        for (auto& m : marks) {
            m.resize(words);
            for (uint32_t& v : m) v = in.u32();
        }
        std::vector<float> da(2 * n), db(2 * n);
        const float s = in.byte() & 1 ? -1.5f : 0.75f;
        scalar_kernels.keep_scaled(source.data() + 2, marks[0].data(), marks[1].data(),
                                   marks[2].data(), s, da.data(), 2 * n);
        k.keep_scaled(source.data() + 2, marks[0].data(), marks[1].data(), marks[2].data(), s,
                      db.data(), 2 * n);
        check(same_bits(da, db));
    }
    // a band of a block
    const int m = 2 * n, r0 = in.range(0, m - 1), r1 = in.range(r0, m);
    const float x = static_cast<float>(in.range(0, 40000)) / 4.0f;
    std::vector<float> a = source, b = source;
    std::vector<int32_t> mask(3 * stride + 8);
    scalar_kernels.threshold_strip(a.data(), stride, mask.data(), stride, r0, r1, x, count, m);
    k.threshold_strip(b.data(), stride, mask.data(), stride, r0, r1, x, count, m);
    check(same_bits(a, b));
    check(scalar_kernels.max_abs(source.data() + 1, count) == k.max_abs(source.data() + 1, count));
    // samples
    std::vector<int16_t> sa(3 * count + 3), sb(3 * count + 3);
    const int rounded = in.range(0, count);
    scalar_kernels.store_s16(source.data(), sa.data() + 1, 3, count, rounded);
    k.store_s16(source.data(), sb.data() + 1, 3, count, rounded);
    check(sa == sb);
    std::vector<float> la(count), lb(count);
    scalar_kernels.load_s16(sa.data() + 2, 3, la.data(), count);
    k.load_s16(sa.data() + 2, 3, lb.data(), count);
    check(same_bits(la, lb));
    // planar samples of the command line, shifted to the working scale and back
    const int shift = in.range(0, 8), out_shift = in.range(0, 7);
    const int32_t maximum = static_cast<int32_t>(in.u16());
    std::vector<uint8_t> ba(count), bb(count);
    scalar_kernels.store_u8(source.data(), ba.data(), count, rounded, out_shift);
    k.store_u8(source.data(), bb.data(), count, rounded, out_shift);
    check(ba == bb);
    std::vector<uint16_t> wa(count), wb(count);
    scalar_kernels.store_u16(source.data(), wa.data(), count, rounded, out_shift, maximum);
    k.store_u16(source.data(), wb.data(), count, rounded, out_shift, maximum);
    check(wa == wb);
    scalar_kernels.load_u8(ba.data(), la.data(), count, shift);
    k.load_u8(ba.data(), lb.data(), count, shift);
    check(same_bits(la, lb));
    scalar_kernels.load_u16(wa.data(), la.data(), count, shift);
    k.load_u16(wa.data(), lb.data(), count, shift);
    check(same_bits(la, lb));
    // the band shrink of the best mode: box sums along a line and down `rows` lines, the two
    // gains and the accumulation
    const int radius = in.range(1, 4), rows = std::min(in.range(1, 7), 2 * n);
    std::vector<float> xa(std::max(n, count) + 8), xb(xa.size());
    scalar_kernels.box_sum_row(source.data() + 1, xa.data(), n, radius);
    k.box_sum_row(source.data() + 1, xb.data(), n, radius);
    check(same_bits(xa, xb));
    scalar_kernels.square_row(source.data() + 2, xa.data(), n);
    k.square_row(source.data() + 2, xb.data(), n);
    check(same_bits(xa, xb));
    const float* lines[7];
    for (int r = 0; r < rows; ++r) lines[r] = source.data() + r * stride + (r & 1);
    scalar_kernels.box_sum_rows(lines, rows, xa.data(), count);
    k.box_sum_rows(lines, rows, xb.data(), count);
    check(same_bits(xa, xb));
    const float noise = static_cast<float>(in.range(0, 1 << 20)) / 16.0f;
    const float inv_window = in.byte() & 1 ? 0.04f : 0.11111111f;
    scalar_kernels.pilot_energy_row(source.data() + 3, source.data(), xa.data(), n, inv_window,
                                    noise);
    k.pilot_energy_row(source.data() + 3, source.data(), xb.data(), n, inv_window, noise);
    check(same_bits(xa, xb));
    std::vector<float> ca(source.begin(), source.begin() + n + 8), cb = ca;
    scalar_kernels.wiener_row(source.data() + 4, ca.data(), n, inv_window, noise);
    k.wiener_row(source.data() + 4, cb.data(), n, inv_window, noise);
    check(same_bits(ca, cb));
    // with each coefficient's noise scaled by a ratio, the gains kept
    const float* ratio = source.data() + 6;
    scalar_kernels.pilot_energy_ratio_row(source.data() + 3, source.data(), ratio, xa.data(), n,
                                          inv_window, noise);
    k.pilot_energy_ratio_row(source.data() + 3, source.data(), ratio, xb.data(), n, inv_window,
                             noise);
    check(same_bits(xa, xb));
    scalar_kernels.wiener_gain_row(source.data() + 4, ca.data(), ratio, xa.data(), n, inv_window,
                                   noise);
    k.wiener_gain_row(source.data() + 4, cb.data(), ratio, xb.data(), n, inv_window, noise);
    check(same_bits(ca, cb));
    check(same_bits(xa, xb));
    const float scale = in.byte() & 1 ? 1.0f : 0.25f;
    scalar_kernels.accumulate_row(ca.data(), source.data() + 5, n, scale);
    k.accumulate_row(cb.data(), source.data() + 5, n, scale);
    check(same_bits(ca, cb));
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
