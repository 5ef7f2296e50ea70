#include "tools/velmora/temporal_filter.h"

#include <algorithm>

#include "kernels/sample_conversion.h"

namespace velmora {

namespace {

bool interlaced(FieldOrder order) { return order != FieldOrder::progressive; }

}  // namespace

TemporalFilter::TemporalFilter(int radius, const StreamFormat& format, Denoiser& denoiser,
                               int threads)
    : radius_(radius),
      f_(format),
      denoiser_(denoiser),
      pool_(threads),
      slots_(static_cast<size_t>(2 * radius + 1)) {}

PlaneView TemporalFilter::view(Frame& frame, int p, int parity) {
    const PlaneView plane = frame.plane(f_, p);
    return parity < 0 ? plane : field_of(plane, parity);
}

void TemporalFilter::make_pilot(Slot& s, int64_t index) {
    const Executor ex = pool_.executor();
    s.pilot.header = s.noisy.header;
    s.pilot.data = s.noisy.data;
    const int pictures = interlaced(s.order) ? 2 : 1;
    for (int k = 0; k < pictures; ++k) {
        const int parity = interlaced(s.order) ? k : -1;
        for (int p = 0; p < f_.planes(); ++p) {
            const PlaneView v = view(s.noisy, p, parity);
            const ErrorMapLayout layout =
                error_map_layout(v.width, v.height, f_.shift_x(p), f_.shift_y(p));
            // A plane left unfiltered is its own pilot, with no error predicted.
            s.pictures[k].error[p].assign(static_cast<size_t>(error_map_floats(layout)), 0.0f);
        }
    }
    denoiser_.filter(s.pilot, index, [&](int p, int parity, PlaneEngine& engine, double sigma) {
        const PlaneView v = view(s.pilot, p, parity);
        const ErrorMapLayout layout =
            error_map_layout(v.width, v.height, f_.shift_x(p), f_.shift_y(p));
        engine.error_map(static_cast<float>(sigma), layout,
                         s.pictures[parity < 0 ? 0 : parity].error[p].data());
    });
    s.rows = denoiser_.thresholds();
    for (int k = 0; k < pictures; ++k) {
        const PlaneView luma = view(s.pilot, 0, interlaced(s.order) ? k : -1);
        Picture& picture = s.pictures[k];
        picture.pyramid_memory.resize(
            static_cast<size_t>(motion_pyramid_bytes(luma.width, luma.height)));
        picture.pyramid =
            lay_out_motion_pyramid(picture.pyramid_memory.data(), luma.width, luma.height);
        build_motion_pyramid(luma, picture.pyramid, ex);
    }
}

void TemporalFilter::push(Frame* frame, int64_t index, const Emit& emit) {
    if (first_ < 0) first_ = index;
    last_ = index;
    Slot& s = slot(index);
    s.index = index;
    s.order = frame_field_order(f_, frame->header);
    s.noisy.header = frame->header;
    s.noisy.data = frame->data;
    make_pilot(s, index);
    kept_.emplace_back(frame, index);
    if (index - radius_ >= first_) finish_frame(index - radius_, emit);
}

void TemporalFilter::finish(const Emit& emit) {
    while (!kept_.empty()) finish_frame(kept_.front().second, emit);
}

void TemporalFilter::average_picture(int64_t index, int parity) {
    Slot& c = slot(index);
    const int k = parity < 0 ? 0 : parity;
    TemporalShape shape = {};
    shape.planes = f_.planes();
    TemporalPicture centre = {};
    centre.pyramid = &c.pictures[k].pyramid;
    for (int p = 0; p < f_.planes(); ++p) {
        const PlaneView v = view(c.noisy, p, parity);
        shape.width[p] = v.width;
        shape.height[p] = v.height;
        shape.shift_x[p] = f_.shift_x(p);
        shape.shift_y[p] = f_.shift_y(p);
        shape.averaged[p] = !is_zero(c.rows[p]);
        centre.plane[p] = {v, view(c.pilot, p, parity), c.pictures[k].error[p].data()};
    }
    std::vector<TemporalPicture> neighbours;
    std::vector<int> distances;
    for (int64_t u = std::max(first_, index - radius_); u <= std::min(last_, index + radius_);
         ++u) {
        Slot& n = slot(u);
        if (u == index || interlaced(n.order) != interlaced(c.order)) continue;
        TemporalPicture picture = {};
        picture.pyramid = &n.pictures[k].pyramid;
        for (int p = 0; p < f_.planes(); ++p)
            picture.plane[p] = {view(n.noisy, p, parity), view(n.pilot, p, parity),
                                n.pictures[k].error[p].data()};
        neighbours.push_back(picture);
        distances.push_back(static_cast<int>(u > index ? u - index : index - u));
    }
    const Executor ex = pool_.executor();
    const size_t bytes = static_cast<size_t>(temporal_memory_bytes(shape, ex.threads));
    const size_t units = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    if (memory_.size() < units) memory_.resize(units);
    float* out[3] = {};
    for (int p = 0; p < f_.planes(); ++p) {
        averaged_[p].resize(static_cast<size_t>(shape.width[p]) * shape.height[p]);
        out[p] = averaged_[p].data();
    }
    temporal_average(shape, centre, neighbours.data(), distances.data(),
                     static_cast<int>(neighbours.size()), out, nullptr, memory_.data(), ex);
    // The spatial filter reads whole working values: 16-bit words that hold the working scale
    // up to 12 bits (read as s16) and the samples themselves at 16 bits.
    for (int p = 0; p < f_.planes(); ++p) {
        if (!shape.averaged[p]) continue;
        std::vector<uint16_t>& words = rounded_[k][p];
        words.resize(averaged_[p].size());
        const int32_t top = f_.format == SampleFormat::u16 ? 65535 : 32767;
        for (size_t i = 0; i < words.size(); ++i)
            words[i] = static_cast<uint16_t>(std::clamp(convert_round(averaged_[p][i]), 0, top));
    }
}

void TemporalFilter::finish_frame(int64_t index, const Emit& emit) {
    Slot& c = slot(index);
    const int pictures = interlaced(c.order) ? 2 : 1;
    for (int k = 0; k < pictures; ++k) average_picture(index, interlaced(c.order) ? k : -1);
    Frame* frame = kept_.front().first;
    kept_.pop_front();
    const SampleFormat words =
        f_.format == SampleFormat::u16 ? SampleFormat::u16 : SampleFormat::s16;
    denoiser_.filter_from(*frame, c.order, c.rows, [&](int p, int parity) {
        const PlaneView v = view(c.noisy, p, parity);
        return PlaneView{
            rounded_[parity < 0 ? 0 : parity][p].data(), 1, v.width, v.width, v.height, words};
    });
    emit(frame, index);
}

}  // namespace velmora
