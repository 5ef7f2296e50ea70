// The best mode against a plain statement of its arithmetic, bit for bit, with and without a
// noise ratio map, an error map and another source; the same bits for every thread count,
// executor and kernel table; planes smaller than the moves; what noise levels leave a plane
// alone; and the noise gains it is built on.
#include "engine/best_mode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "engine/plane_io.h"
#include "kernels/lifting_constants.h"
#include "tests/wavelet_test_support.h"
#include "threads/thread_pool.h"
#include "wavelet/band_shrink.h"

namespace {

using namespace velmora;

// ---- a plain statement of the best mode ------------------------------------------------------
//
// Written from the algorithm's description alone: its own symmetric extension, its own lifting
// (with the ends as mirrored neighbours), whole-array phases with clamped windows, and its own
// store. Only the constants are shared.
namespace plain_best {

using namespace lifting;

int mirrored(int i, int n) {
    if (n == 1) return 0;
    i = i < 0 ? -i : i;
    const int period = 2 * (n - 1);
    i %= period;
    return i < n ? i : period - i;
}

// One lifting step over a line split into evens and odds, the neighbour past either end being
// its mirror image.
void predict(std::vector<float>& o, const std::vector<float>& e, float c) {
    const int n = static_cast<int>(e.size());
    for (int k = 0; k < n; ++k) o[k] = o[k] + (e[k] + e[k + 1 < n ? k + 1 : k]) * c;
}
void update(std::vector<float>& e, const std::vector<float>& o, float c) {
    const int n = static_cast<int>(e.size());
    for (int k = 0; k < n; ++k) e[k] = e[k] + (o[k > 0 ? k - 1 : 0] + o[k]) * c;
}

void analyse(std::vector<float>& line) {
    const size_t n = line.size() / 2;
    std::vector<float> e(n), o(n);
    for (size_t k = 0; k < n; ++k) e[k] = line[2 * k], o[k] = line[2 * k + 1];
    predict(o, e, kAlpha);
    update(e, o, kBeta);
    predict(o, e, kGamma);
    update(e, o, kDelta);
    for (size_t k = 0; k < n; ++k) line[k] = e[k] * kK, line[n + k] = o[k] * kInvK;
}

void synthesise(std::vector<float>& line) {
    const size_t n = line.size() / 2;
    std::vector<float> e(n), o(n);
    for (size_t k = 0; k < n; ++k) e[k] = line[k] * kInvK, o[k] = line[n + k] * kK;
    update(e, o, -kDelta);
    predict(o, e, -kGamma);
    update(e, o, -kBeta);
    predict(o, e, -kAlpha);
    for (size_t k = 0; k < n; ++k) line[2 * k] = e[k], line[2 * k + 1] = o[k];
}

struct Grid {
    int W, H;
    std::vector<float> v;
    Grid(int w, int h) : W(w), H(h), v(static_cast<size_t>(w) * h) {}
    float& at(int x, int y) { return v[static_cast<size_t>(y) * W + x]; }
};

// Rows then columns at each level going down; columns then rows coming back.
void transform(Grid& g, bool forward) {
    for (int step = 0; step < 5; ++step) {
        const int l = forward ? step : 4 - step;
        const int w = g.W >> l, h = g.H >> l;
        for (int pass = 0; pass < 2; ++pass) {
            const bool rows = (pass == 0) == forward;
            const int lines = rows ? h : w, length = rows ? w : h;
            for (int i = 0; i < lines; ++i) {
                std::vector<float> line(length);
                for (int j = 0; j < length; ++j) line[j] = rows ? g.at(j, i) : g.at(i, j);
                forward ? analyse(line) : synthesise(line);
                for (int j = 0; j < length; ++j) (rows ? g.at(j, i) : g.at(i, j)) = line[j];
            }
        }
    }
}

// The two-step shrink of one n x m block whose (0, 0) is at (x0, y0); each coefficient's noise
// energies times ratio(j, i) where there is a ratio map, its gain kept in `gains`.
void shrink(Grid& g, int x0, int y0, int n, int m, int r, float inv_window, float sn2, float asn2,
            Grid* ratio, Grid& gains) {
    auto c = [&](int i, int j) -> float& { return g.at(x0 + j, y0 + i); };
    auto cl = [](int i, int size) { return i < 0 ? 0 : i >= size ? size - 1 : i; };
    Grid s1(n, m), p(n, m), s2(n, m);
    for (int i = 0; i < m; ++i)  // A
        for (int j = 0; j < n; ++j) {
            float s = c(i, cl(j - r, n)) * c(i, cl(j - r, n));
            for (int k = -r + 1; k <= r; ++k) s = s + c(i, cl(j + k, n)) * c(i, cl(j + k, n));
            s1.at(j, i) = s;
        }
    for (int i = 0; i < m; ++i)  // B
        for (int j = 0; j < n; ++j) {
            float s = s1.at(j, cl(i - r, m));
            for (int k = -r + 1; k <= r; ++k) s = s + s1.at(j, cl(i + k, m));
            const float mean = s * inv_window;
            const float noise = ratio ? sn2 * ratio->at(j, i) : sn2;
            const float sx2 = std::max(mean - noise, 0.0f);
            const float pilot = c(i, j) * (sx2 / (sx2 + noise));
            p.at(j, i) = pilot * pilot;
        }
    for (int i = 0; i < m; ++i)  // C
        for (int j = 0; j < n; ++j)
            s2.at(j, i) = (p.at(cl(j - 1, n), i) + p.at(j, i)) + p.at(cl(j + 1, n), i);
    for (int i = 0; i < m; ++i)  // D
        for (int j = 0; j < n; ++j) {
            const float mean =
                ((s2.at(j, cl(i - 1, m)) + s2.at(j, i)) + s2.at(j, cl(i + 1, m))) * 0.11111111f;
            const float noise = ratio ? asn2 * ratio->at(j, i) : asn2;
            const float gain = mean / (mean + noise);
            gains.at(x0 + j, y0 + i) = gain;
            c(i, j) = c(i, j) * gain;
        }
}

// What a call gives besides the plane: a noise ratio per sample (w x h), and an error map of
// blocks of bw x bh samples (scaled by the ratio where there is one).
struct Extras {
    const std::vector<float>* ratio = nullptr;
    const BandFactors* factors = nullptr;  // each block's noise times its factor
    std::vector<float>* error = nullptr;
    int bw = 8, bh = 8;
};

// The ratio map of level l of a W x H plane moved by (dy, dx): means of 2 x 2.
Grid ratio_level(const std::vector<float>& ratio, int w, int h, int W, int H, int dy, int dx,
                 int l) {
    if (l < 0) {  // the samples' ratios at the moved places
        Grid g(W, H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                g.at(x, y) =
                    ratio[static_cast<size_t>(mirrored(y - dy, h)) * w + mirrored(x - dx, w)];
        return g;
    }
    Grid below = ratio_level(ratio, w, h, W, H, dy, dx, l - 1);
    Grid g(W >> (l + 1), H >> (l + 1));
    for (int i = 0; i < g.H; ++i)
        for (int j = 0; j < g.W; ++j)
            g.at(j, i) = ((below.at(2 * j, 2 * i) + below.at(2 * j + 1, 2 * i)) +
                          (below.at(2 * j, 2 * i + 1) + below.at(2 * j + 1, 2 * i + 1))) *
                         0.25f;
    return g;
}

// The error of the block [x0, x1) x [y0, y1) of the picture from the gains of a move: the
// gains of the coefficients covering it, each times the samples it covers (counted one by one),
// per band, scaled by the band's squared noise gain over its span.
float block_error(Grid& gains, int dy, int dx, int x0, int x1, int y0, int y1, float sigma,
                  const BandFactors* factors) {
    const uint32_t gain_bits[2][5] = {{0x3F8171D6, 0x3F86F5E0, 0x3F80E2CA, 0x3F7BBAAF, 0x3F79BBC0},
                                      {0x3F7BA2D7, 0x3F8F2FA8, 0x3F85AC35, 0x3F80794E, 0x3F7D7408}};
    float sum = 0.0f;
    for (int l = 0; l < 5; ++l) {
        const int span = 2 << l, n = gains.W >> (l + 1), m = gains.H >> (l + 1);
        for (int o = 0; o < 3; ++o) {
            const int bx = o == 1 ? 0 : n, by = o == 0 ? 0 : m;
            float covered = 0.0f;
            for (int i = (y0 + dy) / span; i * span < y1 + dy; ++i)
                for (int j = (x0 + dx) / span; j * span < x1 + dx; ++j) {
                    int count = 0;
                    for (int y = y0; y < y1; ++y)
                        for (int x = x0; x < x1; ++x)
                            count += (y + dy) / span == i && (x + dx) / span == j;
                    covered = covered + gains.at(bx + j, by + i) * static_cast<float>(count);
                }
            float g = float_from_bits(gain_bits[o == 2][l]);
            if (factors) g = g * factors->f[l][o];
            sum = sum + covered * (g * g * (1.0f / static_cast<float>(span * span)));
        }
    }
    const float low = float_from_bits(0x3F761172);
    return (sum / static_cast<float>((x1 - x0) * (y1 - y0)) + low * low * (1.0f / 1024.0f)) *
           (sigma * sigma);
}

// Samples of a w x h plane (row-major, any unsigned depth) filtered with noise `sigma` in
// working units.
std::vector<uint16_t> filter(const std::vector<uint16_t>& s, int w, int h, SampleFormat f,
                             float sigma, bool chroma, const Extras& extras = {}) {
    const int W = (w + 3 + 31) / 32 * 32, H = (h + 3 + 31) / 32 * 32;
    const int up = working_shift(f);
    const int shifts[4][2] = {{0, 0}, {1, 1}, {2, 3}, {3, 2}};
    const uint32_t gains[2][5] = {{0x3F8171D6, 0x3F86F5E0, 0x3F80E2CA, 0x3F7BBAAF, 0x3F79BBC0},
                                  {0x3F7BA2D7, 0x3F8F2FA8, 0x3F85AC35, 0x3F80794E, 0x3F7D7408}};
    const int r = chroma ? 3 : 2;
    const float inv_window = chroma ? 1.0f / 49.0f : 1.0f / 25.0f;
    const float alpha = chroma ? 1.0f : 0.8f;
    Grid acc(w, h);
    for (int k = 0; k < 4; ++k) {
        const int dy = shifts[k][0], dx = shifts[k][1];
        Grid g(W, H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                g.at(x, y) = static_cast<float>(
                    s[static_cast<size_t>(mirrored(y - dy, h)) * w + mirrored(x - dx, w)] << up);
        transform(g, true);
        Grid kept(W, H);
        for (int l = 0; l < 5; ++l) {
            const int n = W >> (l + 1), m = H >> (l + 1);
            Grid ratio =
                extras.ratio ? ratio_level(*extras.ratio, w, h, W, H, dy, dx, l) : Grid(0, 0);
            for (int o = 0; o < 3; ++o) {
                float sb = sigma * float_from_bits(gains[o == 2][l]);
                if (extras.factors) sb = sb * extras.factors->f[l][o];
                const float sn2 = sb * sb;
                shrink(g, o == 1 ? 0 : n, o == 0 ? 0 : m, n, m, r, inv_window, sn2, alpha * sn2,
                       extras.ratio ? &ratio : nullptr, kept);
            }
        }
        transform(g, false);
        if (extras.error && k == 0) {  // the map of the picture not moved
            const float unit = f == SampleFormat::u16 ? 256.0f : 16.0f;
            const int columns = (w + extras.bw - 1) / extras.bw;
            for (int y0 = 0; y0 < h; y0 += extras.bh)
                for (int x0 = 0; x0 < w; x0 += extras.bw) {
                    const float e =
                        block_error(kept, dy, dx, x0, std::min(x0 + extras.bw, w), y0,
                                    std::min(y0 + extras.bh, h), sigma / unit, extras.factors);
                    float& out = (*extras.error)[static_cast<size_t>(y0 / extras.bh) * columns +
                                                 x0 / extras.bw];
                    // The local noise: the ratio at the block's first sample.
                    out = extras.ratio ? e * (*extras.ratio)[static_cast<size_t>(y0) * w + x0] : e;
                }
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                acc.at(x, y) = k == 0 ? g.at(x + dx, y + dy) : acc.at(x, y) + g.at(x + dx, y + dy);
    }
    std::vector<uint16_t> out(s.size());
    const int32_t top = sample_maximum(f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto v = static_cast<int32_t>(std::nearbyint(acc.at(x, y) * 0.25f));
            const int32_t back = (v + ((1 << up) >> 1)) >> up;
            out[static_cast<size_t>(y) * w + x] = static_cast<uint16_t>(back < 0     ? 0
                                                                        : back > top ? top
                                                                                     : back);
        }
    return out;
}

}  // namespace plain_best

// ---- the engine's best mode -----------------------------------------------------------------

std::vector<uint16_t> noisy_samples(int w, int h, SampleFormat f, uint64_t seed) {
    SplitMix64 rng{seed};
    const int32_t top = sample_maximum(f), step = top / 255;
    std::vector<uint16_t> s(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Gradients, an edge, noise and a few clipped samples.
            int32_t v =
                (x * 5 + y * 3) * step + (x > w / 2 ? 60 * step : 0) + rng.uniform(-12, 12) * step;
            if (rng.uniform(0, 40) == 0) v = rng.uniform(0, 1) ? 0 : top;
            s[static_cast<size_t>(y) * w + x] = static_cast<uint16_t>(std::clamp(v, 0, top));
        }
    return s;
}

// The samples as the view wants them: bytes for u8, words otherwise.
struct Samples {
    SampleFormat format;
    int w, h;
    std::vector<uint8_t> bytes;
    std::vector<uint16_t> words;
    Samples(const std::vector<uint16_t>& s, int w_, int h_, SampleFormat f)
        : format(f), w(w_), h(h_), words(s) {
        if (f == SampleFormat::u8) bytes.assign(s.begin(), s.end());
    }
    PlaneView view() {
        void* base = format == SampleFormat::u8 ? static_cast<void*>(bytes.data()) : words.data();
        return {base, 1, w, w, h, format};
    }
    std::vector<uint16_t> values() const {
        return format == SampleFormat::u8 ? std::vector<uint16_t>(bytes.begin(), bytes.end())
                                          : words;
    }
};

// Filters with its own exactly sized memory, with slack on both sides that must stay as it was.
// With `extras`, also with a noise ratio map, into an error map (blocks bw x bh), and read from
// a copy of the samples as working values when `from_words` (s16; u16 for 16-bit samples).
std::vector<uint16_t> engine_filter(const std::vector<uint16_t>& s, int w, int h, SampleFormat f,
                                    float sigma, PlaneKind kind, const KernelSet& k, int threads,
                                    bool pool = true, const plain_best::Extras& extras = {},
                                    bool from_words = false, const uint16_t* weights = nullptr) {
    const size_t floats = static_cast<size_t>(best_mode_memory_floats(w, h, threads));
    constexpr size_t kSlack = 64;
    constexpr float kCanary = -12345.5f;
    AlignedFloats memory(floats + 2 * kSlack);
    for (size_t i = 0; i < memory.size(); ++i) memory[i] = kCanary;
    BestMode b = make_best_mode(k, memory.data() + kSlack, w, h, threads);
    if (weights) b.speeds = lopsided_pass_speeds(weights, threads);
    Samples samples(s, w, h, f);
    BestModeExtras x;
    x.noise_ratio = extras.ratio ? extras.ratio->data() : nullptr;
    x.band_factors = extras.factors;
    if (extras.error) {
        x.error_map = extras.error->data();
        x.error_layout = {extras.bw, extras.bh, (w + extras.bw - 1) / extras.bw,
                          (h + extras.bh - 1) / extras.bh};
        x.error_unit = f == SampleFormat::u16 ? 256.0f : 16.0f;
    }
    std::vector<uint16_t> words;
    PlaneView source;
    if (from_words) {  // 16-bit samples are their own working values, read as u16
        for (uint16_t v : s) words.push_back(static_cast<uint16_t>(v << working_shift(f)));
        source = {words.data(),
                  1,
                  w,
                  w,
                  h,
                  f == SampleFormat::u16 ? SampleFormat::u16 : SampleFormat::s16};
        x.source = &source;
        for (uint16_t& v : samples.words) v = static_cast<uint16_t>(~v);  // overwritten
        for (uint8_t& v : samples.bytes) v = static_cast<uint8_t>(~v);
    }
    if (pool) {
        ThreadPool workers(threads);
        denoise_best(b, samples.view(), sigma, kind, workers.executor(), x);
    } else {
        denoise_best(b, samples.view(), sigma, kind, serial_executor(threads), x);
    }
    for (size_t i = 0; i < kSlack; ++i) {
        EXPECT_EQ(memory[i], kCanary) << "before the memory, at " << i;
        EXPECT_EQ(memory[kSlack + floats + i], kCanary) << "after the memory, at " << i;
    }
    return samples.values();
}

struct Size {
    int w, h;
};

// Planes smaller than the largest move, single lines and columns, odd sizes, sizes at and
// around the multiples of 32 where the working size grows.
constexpr Size kSizes[] = {{1, 1},   {1, 7},   {9, 1},   {2, 3},   {3, 2},  {5, 4},
                           {29, 29}, {30, 28}, {33, 17}, {61, 35}, {64, 32}};

TEST(BestMode, EqualsThePlainStatementBitForBit) {
    int filtered = 0;
    for (const Size size : kSizes) {
        for (SampleFormat f : {SampleFormat::u8, SampleFormat::u10, SampleFormat::u16}) {
            const std::vector<uint16_t> s = noisy_samples(size.w, size.h, f, size.w * 100 + size.h);
            // 6 and 10 8-bit steps in working units (16-bit: 256 per step).
            const float unit = f == SampleFormat::u16 ? 256.0f : 16.0f;
            for (const auto& [sigma, kind] : {std::pair{6.0f * unit, PlaneKind::luma},
                                              std::pair{10.0f * unit, PlaneKind::chroma}}) {
                SCOPED_TRACE(testing::Message()
                             << size.w << "x" << size.h << " " << sample_bits(f) << " bits, sigma "
                             << sigma << (kind == PlaneKind::chroma ? " chroma" : ""));
                const std::vector<uint16_t> want =
                    plain_best::filter(s, size.w, size.h, f, sigma, kind == PlaneKind::chroma);
                const std::vector<uint16_t> got =
                    engine_filter(s, size.w, size.h, f, sigma, kind, scalar_kernels, 2);
                ASSERT_EQ(got, want);
                filtered += want != s;
            }
        }
    }
    EXPECT_GT(filtered, 50) << "the planes came back unchanged";
}

// A noise ratio map (the noise of a temporal average: 1/7 to 1, varying over the picture), an
// error map of luma's or 4:2:0 chroma's blocks, and samples read from working values: the
// plain statement's bits, for every thread count and kernel table.
TEST(BestMode, RatioMapsErrorMapsAndSourcesEqualThePlainStatement) {
    for (const Size size : {Size{1, 1}, Size{3, 2}, Size{29, 29}, Size{61, 35}, Size{64, 32}}) {
        for (SampleFormat f : {SampleFormat::u8, SampleFormat::u16}) {
            const std::vector<uint16_t> s = noisy_samples(size.w, size.h, f, size.w + 7 * size.h);
            SplitMix64 rng{static_cast<uint64_t>(size.w * size.h)};
            std::vector<float> ratio(s.size());
            for (float& m : ratio) m = 1.0f / static_cast<float>(rng.uniform(1, 7));
            const float sigma = f == SampleFormat::u16 ? 2560.0f : 160.0f;
            for (PlaneKind kind : {PlaneKind::luma, PlaneKind::chroma}) {
                const bool chroma = kind == PlaneKind::chroma;
                plain_best::Extras want_x, got_x;
                want_x.bw = got_x.bw = chroma ? 4 : 8;
                want_x.bh = got_x.bh = chroma ? 4 : 8;
                const size_t blocks = static_cast<size_t>((size.w + want_x.bw - 1) / want_x.bw) *
                                      ((size.h + want_x.bh - 1) / want_x.bh);
                std::vector<float> want_map(blocks, -1.0f), got_map(blocks, -2.0f);
                SCOPED_TRACE(testing::Message() << size.w << "x" << size.h << " " << sample_bits(f)
                                                << " bits" << (chroma ? " chroma" : ""));
                // The error map, read from the plane itself and from working values.
                want_x.error = &want_map;
                got_x.error = &got_map;
                const std::vector<uint16_t> want =
                    plain_best::filter(s, size.w, size.h, f, sigma, chroma, want_x);
                for (bool words : {false, true}) {
                    ASSERT_EQ(engine_filter(s, size.w, size.h, f, sigma, kind, scalar_kernels, 2,
                                            true, got_x, words),
                              want);
                    ASSERT_EQ(got_map, want_map);
                }
                for (float e : want_map) EXPECT_GT(e, 0.0f);
                // The ratio map, for every table and thread count.
                plain_best::Extras ratio_x;
                ratio_x.ratio = &ratio;
                const std::vector<uint16_t> with_ratio =
                    plain_best::filter(s, size.w, size.h, f, sigma, chroma, ratio_x);
                for (const KernelSet* table : available_tables())
                    for (int threads : {1, 3})
                        ASSERT_EQ(engine_filter(s, size.w, size.h, f, sigma, kind, *table, threads,
                                                false, ratio_x),
                                  with_ratio)
                            << table->name << ", " << threads << " threads";
            }
        }
    }
}

// Band factors (each detail block's noise times its own factor), alone and with a ratio map,
// and the error map they give: the plain statement's bits, for every thread count and kernel
// table.
TEST(BestMode, BandFactorsEqualThePlainStatement) {
    for (const Size size : {Size{3, 2}, Size{29, 29}, Size{61, 35}, Size{64, 32}}) {
        for (SampleFormat f : {SampleFormat::u8, SampleFormat::u16}) {
            const std::vector<uint16_t> s = noisy_samples(size.w, size.h, f, size.w + 3 * size.h);
            SplitMix64 rng{static_cast<uint64_t>(size.w * 31 + size.h)};
            BandFactors factors;
            for (auto& level : factors.f)
                for (float& v : level) v = 0.5f + static_cast<float>(rng.uniform(0, 20)) * 0.1f;
            std::vector<float> ratio(s.size());
            for (float& m : ratio) m = 1.0f / static_cast<float>(rng.uniform(1, 5));
            const float sigma = f == SampleFormat::u16 ? 1536.0f : 96.0f;
            for (PlaneKind kind : {PlaneKind::luma, PlaneKind::chroma}) {
                const bool chroma = kind == PlaneKind::chroma;
                for (bool with_ratio : {false, true}) {
                    SCOPED_TRACE(testing::Message()
                                 << size.w << "x" << size.h << " " << sample_bits(f) << " bits"
                                 << (chroma ? " chroma" : "") << (with_ratio ? " ratio" : ""));
                    const size_t blocks =
                        static_cast<size_t>((size.w + 7) / 8) * ((size.h + 7) / 8);
                    std::vector<float> want_map(blocks, -1.0f), got_map(blocks, -2.0f);
                    plain_best::Extras x;
                    x.factors = &factors;
                    x.ratio = with_ratio ? &ratio : nullptr;
                    x.error = &want_map;
                    const std::vector<uint16_t> want =
                        plain_best::filter(s, size.w, size.h, f, sigma, chroma, x);
                    x.error = &got_map;
                    if (size.w > 8) {
                        ASSERT_NE(want, plain_best::filter(s, size.w, size.h, f, sigma, chroma,
                                                           {x.ratio}))
                            << "the factors changed nothing";
                    }
                    for (const KernelSet* table : available_tables())
                        for (int threads : {1, 3})
                            ASSERT_EQ(engine_filter(s, size.w, size.h, f, sigma, kind, *table,
                                                    threads, threads == 1, x),
                                      want)
                                << table->name << ", " << threads << " threads";
                    EXPECT_EQ(got_map, want_map);
                }
            }
        }
    }
}

// A ratio of 1 is no ratio; a ratio of 1/4 everywhere is the noise level halved, bit for bit
// (powers of two scale every product exactly); the error map of a Wiener gain lies between
// that of removing every detail and that of keeping every one.
TEST(BestMode, RatiosOfOneAndAQuarterAndTheErrorMapsBounds) {
    const int w = 77, h = 45;
    const std::vector<uint16_t> s = noisy_samples(w, h, SampleFormat::u8, 12);
    const std::vector<float> ones(s.size(), 1.0f), quarters(s.size(), 0.25f);
    for (PlaneKind kind : {PlaneKind::luma, PlaneKind::chroma}) {
        const std::vector<uint16_t> plain =
            engine_filter(s, w, h, SampleFormat::u8, 192.0f, kind, best_kernels(), 2);
        plain_best::Extras x;
        x.ratio = &ones;
        EXPECT_EQ(
            engine_filter(s, w, h, SampleFormat::u8, 192.0f, kind, best_kernels(), 2, true, x),
            plain);
        x.ratio = &quarters;
        EXPECT_EQ(
            engine_filter(s, w, h, SampleFormat::u8, 192.0f, kind, best_kernels(), 2, true, x),
            engine_filter(s, w, h, SampleFormat::u8, 96.0f, kind, best_kernels(), 2));
    }
    std::vector<float> map(10 * 6);
    plain_best::Extras x;
    x.error = &map;
    engine_filter(s, w, h, SampleFormat::u8, 192.0f, PlaneKind::luma, best_kernels(), 2, true, x);
    const float low = float_from_bits(0x3F761172);
    for (float e : map) {
        EXPECT_GT(e, 144.0f * low * low / 1024.0f);  // every detail removed: the low band's
        EXPECT_LT(e, 144.0f * 1.1f);                 // every one kept: about sigma^2
    }
}

// The error map predicts the error the result has, in 8-bit steps squared: on a smooth picture
// with an edge and Gaussian noise of 6 and 12 steps, its mean is at least three quarters of the
// mean squared difference between the result and the clean picture and at most 1.6 times it
// (the mean of four moves removes more noise than one move's gains tell).
TEST(BestMode, TheErrorMapPredictsTheErrorOfTheResult) {
    const int w = 160, h = 128;
    SplitMix64 rng{31};
    std::vector<double> clean(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            clean[static_cast<size_t>(y) * w + x] =
                100 + 40 * std::sin(x * 0.11) * std::cos(y * 0.07) + (x + y > 150 ? 50 : 0);
    for (double sigma : {6.0, 12.0}) {
        std::vector<uint16_t> s(clean.size());
        for (size_t i = 0; i < s.size(); ++i) {
            double g = -6;  // the sum of twelve uniform values: nearly Gaussian
            for (int k = 0; k < 12; ++k)
                g += static_cast<double>(rng.next() >> 11) / 9007199254740992.0;
            s[i] = static_cast<uint16_t>(std::clamp(std::lround(clean[i] + sigma * g), 0L, 255L));
        }
        plain_best::Extras x;
        std::vector<float> map(20 * 16);
        x.error = &map;
        const std::vector<uint16_t> out =
            engine_filter(s, w, h, SampleFormat::u8, static_cast<float>(16 * sigma),
                          PlaneKind::luma, best_kernels(), 2, true, x);
        double error = 0, predicted = 0;
        for (size_t i = 0; i < out.size(); ++i) error += std::pow(out[i] - clean[i], 2);
        for (float e : map) predicted += e;
        error /= static_cast<double>(out.size());
        predicted /= static_cast<double>(map.size());
        EXPECT_GT(predicted, 0.75 * error) << "sigma " << sigma;
        EXPECT_LT(predicted, 1.6 * error) << "sigma " << sigma;
    }
}

// Threads 1 to 5 through the pool and through the serial executor, on every kernel table, give
// the plain table's bits on one thread.
TEST(BestMode, SameBitsForEveryThreadCountExecutorAndKernelTable) {
    for (const Size size : {Size{77, 45}, Size{160, 33}, Size{13, 70}}) {
        const std::vector<uint16_t> s = noisy_samples(size.w, size.h, SampleFormat::u8, 5);
        for (PlaneKind kind : {PlaneKind::luma, PlaneKind::chroma}) {
            const std::vector<uint16_t> reference =
                engine_filter(s, size.w, size.h, SampleFormat::u8, 128.0f, kind, scalar_kernels, 1);
            ASSERT_NE(reference, s) << "nothing was filtered";
            for (const KernelSet* table : available_tables())
                for (int threads = 1; threads <= 5; ++threads)
                    for (bool pool : {true, false})
                        ASSERT_EQ(engine_filter(s, size.w, size.h, SampleFormat::u8, 128.0f, kind,
                                                *table, threads, pool),
                                  reference)
                            << size.w << "x" << size.h << " " << table->name << ", " << threads
                            << (pool ? " pooled" : " serial") << " threads";
        }
    }
}

// The rows shared by lopsided thread speeds (and by those the mode learns as it goes), with
// the bits of equal shares.
TEST(BestMode, SharesByThreadSpeedGiveTheSameBits) {
    const int w = 150, h = 130;
    const std::vector<uint16_t> s = noisy_samples(w, h, SampleFormat::u10, 8);
    const std::vector<uint16_t> reference =
        engine_filter(s, w, h, SampleFormat::u10, 128.0f, PlaneKind::luma, scalar_kernels, 1);
    const uint16_t lopsided[][4] = {{64, 4096, 64, 4096}, {4096, 64, 1024, 700}};
    for (int threads : {2, 3, 4})
        for (const auto& weights : lopsided)
            for (bool pool : {true, false})
                ASSERT_EQ(engine_filter(s, w, h, SampleFormat::u10, 128.0f, PlaneKind::luma,
                                        best_kernels(), threads, pool, {}, false, weights),
                          reference)
                    << threads << (pool ? " pooled" : " serial") << " threads";
}

// Memory for a larger maximum serves smaller planes too, and two engines filter at once on
// their own threads with the bits of each alone.
TEST(BestMode, EnginesRunConcurrentlyAndReuseTheirMemory) {
    const std::vector<uint16_t> a = noisy_samples(120, 90, SampleFormat::u10, 8);
    const std::vector<uint16_t> b = noisy_samples(47, 31, SampleFormat::u8, 9);
    const std::vector<uint16_t> alone_a =
        engine_filter(a, 120, 90, SampleFormat::u10, 100.0f, PlaneKind::luma, best_kernels(), 2);
    const std::vector<uint16_t> alone_b =
        engine_filter(b, 47, 31, SampleFormat::u8, 70.0f, PlaneKind::chroma, scalar_kernels, 3);
    auto repeat = [](const std::vector<uint16_t>& s, int w, int h, SampleFormat f, float sigma,
                     PlaneKind kind, const KernelSet& k, int threads, int times) {
        AlignedFloats memory(static_cast<size_t>(best_mode_memory_floats(200, 100, threads)));
        const BestMode mode = make_best_mode(k, memory.data(), 200, 100, threads);
        ThreadPool pool(threads);
        std::vector<uint16_t> out;
        for (int i = 0; i < times; ++i) {
            Samples samples(s, w, h, f);
            denoise_best(mode, samples.view(), sigma, kind, pool.executor());
            out = samples.values();
        }
        return out;
    };
    std::vector<uint16_t> together_a, together_b;
    std::thread first([&] {
        together_a =
            repeat(a, 120, 90, SampleFormat::u10, 100.0f, PlaneKind::luma, best_kernels(), 2, 6);
    });
    std::thread second([&] {
        together_b =
            repeat(b, 47, 31, SampleFormat::u8, 70.0f, PlaneKind::chroma, scalar_kernels, 3, 15);
    });
    first.join();
    second.join();
    EXPECT_EQ(together_a, alone_a);
    EXPECT_EQ(together_b, alone_b);
}

// A noise level of 0, a negative, infinite or NaN one, or one whose noise energy underflows or
// overflows leaves the samples as they are; a huge level still filters.
TEST(BestMode, NoiseLevelsWithoutMeaningLeaveThePlaneAlone) {
    const std::vector<uint16_t> s = noisy_samples(40, 24, SampleFormat::u8, 4);
    for (float sigma : {0.0f, -16.0f, std::numeric_limits<float>::infinity(),
                        std::numeric_limits<float>::quiet_NaN(), 1.0e-30f, 3.0e19f})
        EXPECT_EQ(
            engine_filter(s, 40, 24, SampleFormat::u8, sigma, PlaneKind::luma, best_kernels(), 2),
            s)
            << sigma;
    for (float sigma : {64.0f, 1.0e18f})
        EXPECT_NE(
            engine_filter(s, 40, 24, SampleFormat::u8, sigma, PlaneKind::luma, best_kernels(), 2),
            s)
            << sigma;
    EXPECT_FALSE(shrink_is_defined(shrink_settings(1.0e-30f, false)));
    EXPECT_TRUE(shrink_is_defined(shrink_settings(1.0e-18f, true)));
}

// An interlaced field is a view with twice the row stride: its rows are filtered as a picture
// of their own and the other field's rows stay as they were.
TEST(BestMode, FiltersAViewWithStrides) {
    const int w = 50, h = 20;
    const std::vector<uint16_t> frame = noisy_samples(w, 2 * h, SampleFormat::u8, 6);
    std::vector<uint16_t> field(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        std::copy_n(frame.begin() + static_cast<ptrdiff_t>(2 * y + 1) * w, w,
                    field.begin() + static_cast<ptrdiff_t>(y) * w);
    const std::vector<uint16_t> want =
        plain_best::filter(field, w, h, SampleFormat::u8, 96.0f, false);
    std::vector<uint8_t> bytes(frame.begin(), frame.end());
    AlignedFloats memory(static_cast<size_t>(best_mode_memory_floats(w, h, 2)));
    const BestMode b = make_best_mode(best_kernels(), memory.data(), w, h, 2);
    ThreadPool pool(2);
    denoise_best(b, {bytes.data() + w, 1, 2 * w, w, h, SampleFormat::u8}, 96.0f, PlaneKind::luma,
                 pool.executor());
    for (int y = 0; y < 2 * h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t at = static_cast<size_t>(y) * w + x;
            ASSERT_EQ(bytes[at], y % 2 ? want[static_cast<size_t>(y / 2) * w + x] : frame[at])
                << x << "," << y;
        }
}

// ---- noise gains ----------------------------------------------------------------------------

// The noise gain of a block is the norm of the analysis weights of one of its coefficients: for
// the separable transform, the product of the norms along rows and along columns. Each 1-D
// norm comes from the responses to unit impulses of a long line, computed in double precision
// with the same lifting steps.
double line_norm_squared(int level, bool high) {
    constexpr int kLength = 1024;
    const int position =
        high ? (kLength >> (level + 1)) + (kLength >> (level + 2)) : kLength >> (level + 2);
    double sum = 0;
    for (int s = 0; s < kLength; ++s) {
        std::vector<double> line(kLength, 0.0);
        line[s] = 1.0;
        for (int l = 0; l <= level; ++l) {
            const int n = kLength >> (l + 1);
            std::vector<double> e(n), o(n);
            for (int k = 0; k < n; ++k) e[k] = line[2 * k], o[k] = line[2 * k + 1];
            auto predict = [&](double c) {
                for (int k = 0; k < n; ++k) o[k] += c * (e[k] + e[k + 1 < n ? k + 1 : k]);
            };
            auto update = [&](double c) {
                for (int k = 0; k < n; ++k) e[k] += c * (o[k > 0 ? k - 1 : 0] + o[k]);
            };
            predict(lifting::kAlpha);
            update(lifting::kBeta);
            predict(lifting::kGamma);
            update(lifting::kDelta);
            for (int k = 0; k < n; ++k)
                line[k] = e[k] * lifting::kK, line[n + k] = o[k] * lifting::kInvK;
        }
        sum += line[position] * line[position];
    }
    return sum;
}

TEST(NoiseGains, AreTheNormsOfTheAnalysisWeights) {
    for (int l = 0; l < kLevels; ++l) {
        const double low = line_norm_squared(l, false), high = line_norm_squared(l, true);
        EXPECT_NEAR(noise_gain(l, 0), std::sqrt(high * low), 2e-6) << "level " << l << " H";
        EXPECT_EQ(noise_gain(l, 1), noise_gain(l, 0)) << "level " << l << " V";
        EXPECT_NEAR(noise_gain(l, 2), std::sqrt(high * high), 2e-6) << "level " << l << " D";
    }
}

}  // namespace
