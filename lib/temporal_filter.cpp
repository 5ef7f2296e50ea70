#include "lib/temporal_filter.h"

#include <algorithm>
#include <cstring>

#include "lib/large_buffer.h"
#include "wavelet/transform_plane.h"

namespace velmora {

namespace {

static_assert(VELMORA_MAX_TEMPORAL_RADIUS <= kMostMotionDistance,
              "the block motion is searched as far as the farthest neighbour");

bool interlaced(velmora_field_order order) { return order != VELMORA_PROGRESSIVE; }

// An averaged plane rounded to the whole working values the spatial filter reads, by rows
// shared among the threads.
struct Rounding {
    const KernelSet* k;
    const float* from;
    uint16_t* to;
    int32_t width, height;
    int32_t top;  // the largest value
};

void round_rows(int t, int T, void* context) {
    const Rounding& r = *static_cast<Rounding*>(context);
    const ItemRange rows = thread_share(r.height, t, T);
    for (int32_t y = rows.begin; y < rows.end; ++y) {
        const int64_t at = static_cast<int64_t>(y) * r.width;
        r.k->store_u16(r.from + at, r.to + at, r.width, r.width, 0, r.top);
    }
}

}  // namespace

TemporalFilter::TemporalFilter(int radius, const FrameShape& shape, const KernelSet& kernels,
                               Denoiser& denoiser, Workers& workers)
    : radius_(radius),
      f_(shape),
      kernels_(kernels),
      denoiser_(denoiser),
      workers_(workers),
      slots_(static_cast<size_t>(2 * radius + 1)) {}

PlaneView TemporalFilter::view(const FrameView& frame, int p, int parity) {
    return parity < 0 ? frame.plane[p] : field_of(frame.plane[p], parity);
}

void TemporalFilter::make_pilot(Slot& s, int64_t index) {
    s.pilot.assign(s.noisy.view(), f_);
    const int pictures = interlaced(s.order) ? 2 : 1;
    for (int k = 0; k < pictures; ++k) {
        const int parity = interlaced(s.order) ? k : -1;
        for (int p = 0; p < f_.planes(); ++p) {
            const PlaneView v = view(s.noisy.view(), p, parity);
            const ErrorMapLayout layout =
                error_map_layout(v.width, v.height, f_.shift_x(p), f_.shift_y(p));
            // A plane left unfiltered is its own pilot, with no error predicted.
            s.pictures[k].error[p].assign(static_cast<size_t>(error_map_floats(layout)), 0.0f);
        }
    }
    denoiser_.filter(s.pilot.view(), index, [&](int p, int parity) {
        return s.pictures[parity < 0 ? 0 : parity].error[p].data();
    });
    s.levels = denoiser_.levels();
    for (int k = 0; k < pictures; ++k) {
        const PlaneView luma = view(s.pilot.view(), 0, interlaced(s.order) ? k : -1);
        Picture& picture = s.pictures[k];
        picture.pyramid_memory.resize(
            static_cast<size_t>(motion_pyramid_bytes(luma.width, luma.height)));
        picture.pyramid =
            lay_out_motion_pyramid(picture.pyramid_memory.data(), luma.width, luma.height);
        build_motion_pyramid(luma, picture.pyramid, workers_.executor(luma.width, luma.height));
    }
}

void TemporalFilter::push(const FrameView& frame, int64_t index, const Emit& emit) {
    if (first_ < 0) first_ = index;
    last_ = index;
    Slot& s = slot(index);
    s.index = index;
    s.order = frame.order;
    s.noisy.assign(frame, f_);
    make_pilot(s, index);
    kept_.emplace_back(frame, index);
    if (index - radius_ >= first_) finish_frame(index - radius_, emit);
}

void TemporalFilter::finish(const Emit& emit) {
    while (!kept_.empty()) finish_frame(kept_.front().second, emit);
}

int TemporalFilter::average_picture(int64_t index, int parity) {
    Slot& c = slot(index);
    const int k = parity < 0 ? 0 : parity;
    TemporalShape shape = {};
    shape.planes = f_.planes();
    shape.format = f_.format;
    TemporalPicture centre = {};
    centre.pyramid = &c.pictures[k].pyramid;
    for (int p = 0; p < f_.planes(); ++p) {
        const PlaneView v = view(c.noisy.view(), p, parity);
        shape.width[p] = v.width;
        shape.height[p] = v.height;
        shape.shift_x[p] = f_.shift_x(p);
        shape.shift_y[p] = f_.shift_y(p);
        shape.averaged[p] = c.levels.filtered(p);
        centre.plane[p] = {v, view(c.pilot.view(), p, parity), c.pictures[k].error[p].data()};
    }
    std::vector<TemporalPicture>& neighbours = neighbours_;
    std::vector<int>& distances = distances_;
    neighbours.clear();
    distances.clear();
    for (int64_t u = std::max(first_, index - radius_); u <= std::min(last_, index + radius_);
         ++u) {
        Slot& n = slot(u);
        if (u == index || interlaced(n.order) != interlaced(c.order)) continue;
        TemporalPicture picture = {};
        picture.pyramid = &n.pictures[k].pyramid;
        for (int p = 0; p < f_.planes(); ++p)
            picture.plane[p] = {view(n.noisy.view(), p, parity), view(n.pilot.view(), p, parity),
                                n.pictures[k].error[p].data()};
        neighbours.push_back(picture);
        distances.push_back(static_cast<int>(u > index ? u - index : index - u));
    }
    const Executor ex = workers_.executor(shape.width[0], shape.height[0]);
    const size_t bytes = static_cast<size_t>(
        temporal_memory_bytes(shape, static_cast<int>(neighbours.size()), ex.threads));
    const size_t units = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    if (memory_.size() < units) memory_.resize(units);
    float* out[3] = {};
    float* ratio[3] = {};
    const bool best = c.levels.mode == VELMORA_MODE_BEST;  // exact mode's thresholds take no ratio
    for (int p = 0; p < f_.planes(); ++p) {
        const size_t samples = static_cast<size_t>(shape.width[p]) * shape.height[p];
        averaged_[p].resize(samples);
        out[p] = averaged_[p].data();
        ratio_[k][p].resize(best ? samples : 0);
        ratio[p] = best ? ratio_[k][p].data() : nullptr;
    }
    const int used =
        temporal_average(kernels_, shape, centre, neighbours.data(), distances.data(),
                         static_cast<int>(neighbours.size()), out, ratio, memory_.data(), ex);
    if (used == 0) return 0;
    // The spatial filter reads whole working values: 16-bit words that hold the working scale
    // up to 12 bits (read as s16) and the samples themselves at 16 bits.
    for (int p = 0; p < f_.planes(); ++p) {
        if (!shape.averaged[p]) continue;
        std::vector<uint16_t>& words = rounded_[k][p];
        words.resize(averaged_[p].size());
        Rounding rounding = {&kernels_,       averaged_[p].data(),
                             words.data(),    shape.width[p],
                             shape.height[p], f_.format == SampleFormat::u16 ? 65535 : 32767};
        const Executor plane = workers_.executor(shape.width[p], shape.height[p]);
        plane.run(plane.self, round_rows, &rounding);
    }
    return used;
}

void TemporalFilter::finish_frame(int64_t index, const Emit& emit) {
    Slot& c = slot(index);
    const FrameView frame = kept_.front().first;
    kept_.pop_front();
    const SampleFormat words =
        f_.format == SampleFormat::u16 ? SampleFormat::u16 : SampleFormat::s16;
    const int pictures = interlaced(c.order) ? 2 : 1;
    for (int k = 0; k < pictures; ++k) {
        const int parity = interlaced(c.order) ? k : -1;
        const bool averaged = average_picture(index, parity) > 0;
        for (int p = 0; p < f_.planes(); ++p) {
            if (!c.levels.filtered(p)) continue;
            const PlaneView target = view(frame, p, parity);
            if (target.height == 0) continue;  // the second field of a one-line plane
            if (!averaged) {
                // Exact mode's pilot is the frame filtered; best mode's made half the moves.
                if (c.levels.mode == VELMORA_MODE_EXACT)
                    copy_plane(view(c.pilot.view(), p, parity), target);
                else
                    denoiser_.filter_picture(view(c.noisy.view(), p, parity), target,
                                             view(frame, 0, parity), p, c.levels, nullptr);
                continue;
            }
            const PlaneView source = {rounded_[k][p].data(), 1,    target.width, target.width,
                                      target.height,         words};
            denoiser_.filter_picture(source, target, view(frame, 0, parity), p, c.levels,
                                     ratio_[k][p].empty() ? nullptr : ratio_[k][p].data());
        }
    }
    emit(frame, index);
}

int64_t TemporalFilter::memory_bytes(int radius, const FrameShape& f, int threads) {
    // Each slot's frames and, per picture (the frame, or each of its fields), its error maps and
    // motion pyramid; then the averaging's planes and memory for one picture at a time.
    int64_t most = 0;
    for (const int pictures : {1, 2}) {
        int64_t slot = 2 * static_cast<int64_t>(large_allocation_bytes(f.frame_bytes()));
        int64_t picture = 0;
        TemporalShape shape = {};
        shape.planes = f.planes();
        shape.format = f.format;
        for (int k = 0; k < pictures; ++k) {
            const int32_t luma_height = (f.plane_height(0) + 1 - k) / pictures;
            slot += motion_pyramid_bytes(f.plane_width(0), luma_height);
            for (int p = 0; p < f.planes(); ++p) {
                const int32_t width = f.plane_width(p);
                const int32_t height = (f.plane_height(p) + 1 - k) / pictures;
                const int64_t samples = static_cast<int64_t>(width) * height;
                const ErrorMapLayout layout =
                    error_map_layout(width, height, f.shift_x(p), f.shift_y(p));
                slot += error_map_floats(layout) * static_cast<int64_t>(sizeof(float));
                // The average, its rounded words and its noise ratio.
                picture += samples * static_cast<int64_t>(2 * sizeof(float) + sizeof(uint16_t));
                shape.width[p] = width;
                shape.height[p] = height;
                shape.shift_x[p] = f.shift_x(p);
                shape.shift_y[p] = f.shift_y(p);
                shape.averaged[p] = true;
            }
        }
        const int64_t bytes =
            (2 * radius + 1) * slot + picture + temporal_memory_bytes(shape, 2 * radius, threads);
        most = std::max(most, bytes);
    }
    return most;
}

}  // namespace velmora
