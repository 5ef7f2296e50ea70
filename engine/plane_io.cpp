#include "engine/plane_io.h"

namespace velmora {

namespace {

const char* sample_row(const PlaneView& view, int32_t y) {
    return static_cast<const char*>(view.base) + y * view.row_stride * sample_bytes(view.format);
}

float* plane_row(const TransformPlane& plane, int32_t y) {
    return plane.data + static_cast<int64_t>(y) * plane.W;
}

// The working value of sample i of a row, as the load kernels compute it.
float working_value(const PlaneView& view, const char* row, int32_t i) {
    const int32_t at = i * view.sample_stride;
    switch (view.format) {
    case SampleFormat::s16:
        return static_cast<float>(reinterpret_cast<const int16_t*>(row)[at]);
    case SampleFormat::u8:
        return static_cast<float>(int32_t{reinterpret_cast<const uint8_t*>(row)[at]}
                                  << working_shift(view.format));
    default:
        return static_cast<float>(int32_t{reinterpret_cast<const uint16_t*>(row)[at]}
                                  << working_shift(view.format));
    }
}

// The first `count` samples of a row (count <= width).
void load_row(const KernelSet& k, const PlaneView& view, const char* src, float* dst,
              int32_t count) {
    const int shift = working_shift(view.format);
    switch (view.format) {
    case SampleFormat::s16:
        k.load_s16(reinterpret_cast<const int16_t*>(src), view.sample_stride, dst, count);
        break;
    case SampleFormat::u8:
        k.load_u8(reinterpret_cast<const uint8_t*>(src), dst, count, shift);
        break;
    default:
        k.load_u16(reinterpret_cast<const uint16_t*>(src), dst, count, shift);
        break;
    }
}

// Row y of the view from `src`: the first `rounded` values rounded to nearest even, the others
// truncated, then brought back to the format's samples.
void store_samples(const KernelSet& k, const PlaneView& view, int32_t y, const float* src,
                   int32_t rounded) {
    const int32_t w = view.width;
    const int shift = working_shift(view.format);
    char* dst = const_cast<char*>(sample_row(view, y));
    switch (view.format) {
    case SampleFormat::s16:
        k.store_s16(src, reinterpret_cast<int16_t*>(dst), view.sample_stride, w, rounded);
        break;
    case SampleFormat::u8:
        k.store_u8(src, reinterpret_cast<uint8_t*>(dst), w, rounded, shift);
        break;
    default:
        k.store_u16(src, reinterpret_cast<uint16_t*>(dst), w, rounded, shift,
                    sample_maximum(view.format));
        break;
    }
}

}  // namespace

int32_t mirror_index(int32_t i, int32_t n) {
    if (n <= 1) return 0;
    const int32_t period = 2 * (n - 1);
    i %= period;
    return i < n ? i : period - i;
}

int32_t symmetric_index(int32_t i, int32_t n) { return mirror_index(i < 0 ? -i : i, n); }

// A 32-bit sum: an area of at most 2^15 samples of at most 2^16 - 1 fits, and its conversion
// to float is one SSE instruction in a 32-bit build too (a 64-bit one would take x87's).
template <typename Sample>
int32_t area_sum(const PlaneView& view, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    int32_t sum = 0;
    const int32_t step = view.sample_stride;
    for (int32_t y = y0; y < y1; ++y) {
        const Sample* row = static_cast<const Sample*>(view.base) + y * view.row_stride;
        // Whole numbers: any order gives the same sum. A block's row of 8 in one go.
        if (step == 1 && x1 - x0 == 8)
            for (int32_t j = 0; j < 8; ++j) sum += row[x0 + j];
        else if (step == 1)
            for (int32_t x = x0; x < x1; ++x) sum += row[x];
        else
            for (int32_t x = x0; x < x1; ++x) sum += row[x * step];
    }
    return sum;
}

float area_mean(const PlaneView& view, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    int32_t sum;
    switch (view.format) {
    case SampleFormat::s16:
        sum = area_sum<int16_t>(view, x0, y0, x1, y1);
        break;
    case SampleFormat::u8:
        sum = area_sum<uint8_t>(view, x0, y0, x1, y1);
        break;
    default:
        sum = area_sum<uint16_t>(view, x0, y0, x1, y1);
    }
    return static_cast<float>(sum * (int32_t{1} << working_shift(view.format))) /
           static_cast<float>((y1 - y0) * (x1 - x0));
}

void load_shifted_row(const KernelSet& k, const PlaneView& view, int32_t W, int32_t y, int32_t dy,
                      int32_t dx, float* line) {
    const int32_t w = view.width;
    const char* src = sample_row(view, symmetric_index(y - dy, view.height));
    const int32_t end = dx + w < W ? dx + w : W;
    for (int32_t x = 0; x < dx && x < W; ++x)
        line[x] = working_value(view, src, symmetric_index(x - dx, w));
    if (end > dx) load_row(k, view, src, line + dx, end - dx);
    for (int32_t x = end; x < W; ++x)
        line[x] = working_value(view, src, symmetric_index(x - dx, w));
}

void load_shifted_plane_band(const KernelSet& k, const PlaneView& view, const TransformPlane& plane,
                             int32_t dy, int32_t dx, int t, int T) {
    const ItemRange rows = thread_share(plane.H, t, T);
    for (int32_t y = rows.begin; y < rows.end; ++y)
        load_shifted_row(k, view, plane.W, y, dy, dx, plane_row(plane, y));
}

void store_rounded_row(const KernelSet& k, const PlaneView& view, int32_t y, const float* src) {
    store_samples(k, view, y, src, view.width);
}

void load_padded_row(const KernelSet& k, const PlaneView& view, int32_t W, int32_t y, float* line) {
    const char* src = sample_row(view, mirror_index(y, view.height));
    load_row(k, view, src, line, view.width);
    for (int32_t x = view.width; x < W; ++x)
        line[x] = working_value(view, src, mirror_index(x, view.width));
}

void load_split_row(const KernelSet& k, const PlaneView& view, int32_t W, int32_t y, float* e,
                    float* o) {
    const char* src = sample_row(view, mirror_index(y, view.height));
    const int32_t w = view.width, pairs = w / 2;
    const int shift = working_shift(view.format);
    if (view.format == SampleFormat::u8)
        k.split_u8(reinterpret_cast<const uint8_t*>(src), e, o, pairs, shift);
    else
        k.split_u16(reinterpret_cast<const uint16_t*>(src), e, o, pairs, shift);
    for (int32_t x = 2 * pairs; x < W; ++x) {
        // Two plain stores: GCC 12 at -O0 with the sanitizers miscompiles a conditional
        // array as the target of this assignment.
        const float v = working_value(view, src, mirror_index(x, w));
        if (x & 1)
            o[x / 2] = v;
        else
            e[x / 2] = v;
    }
}

void store_row(const KernelSet& k, const PlaneView& view, int32_t y, const float* line) {
    store_samples(k, view, y, line, view.width & ~15);
}

MemoryRange sample_row_memory(const PlaneView& view, int32_t y) {
    if (y < 0 || y >= view.height) return {nullptr, 0};
    return {sample_row(view, y),
            static_cast<int64_t>(view.width) * view.sample_stride * sample_bytes(view.format)};
}

void load_plane_band(const KernelSet& k, const PlaneView& view, const TransformPlane& plane, int t,
                     int T) {
    const int32_t w = view.width, h = view.height;
    const ItemRange rows = thread_share(h, t, T);
    for (int32_t y = rows.begin; y < rows.end; ++y)
        load_padded_row(k, view, plane.W, y, plane_row(plane, y));
    // The bottom padding reads only the frame, so it needs nothing from the other threads.
    const ItemRange columns = thread_share(plane.W, t, T);
    for (int32_t y = h; y < plane.H; ++y) {
        const char* src = sample_row(view, mirror_index(y, h));
        float* dst = plane_row(plane, y);
        for (int32_t x = columns.begin; x < columns.end; ++x)
            dst[x] = working_value(view, src, mirror_index(x, w));
    }
}

void store_plane_band(const KernelSet& k, const PlaneView& view, const TransformPlane& plane, int t,
                      int T) {
    const ItemRange rows = thread_share(view.height, t, T);
    for (int32_t y = rows.begin; y < rows.end; ++y) store_row(k, view, y, plane_row(plane, y));
}

}  // namespace velmora
