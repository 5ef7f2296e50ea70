// Order statistics of coefficient magnitudes without copying them: a radix selection over the
// bit patterns, whose order is the order of non-negative floats.
#pragma once

#include <cstdint>

namespace velmora {

// The k-th smallest (k from 0) magnitude among `rows` rows of `cols` floats at `data`, rows
// `stride` floats apart. k must be below cols * rows. A NaN counts above every number.
float kth_smallest_magnitude(const float* data, int64_t stride, int32_t cols, int32_t rows,
                             int64_t k);

}  // namespace velmora
