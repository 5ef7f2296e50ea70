#include "engine/order_statistic.h"

#include <cstring>

namespace velmora {

namespace {

uint32_t magnitude_bits(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits & 0x7FFFFFFFu;
}

// The magnitude bits split into three digits, most significant first: 11, 10 and 10 bits.
constexpr int kShift[3] = {20, 10, 0};
constexpr uint32_t kDigits[3] = {2048, 1024, 1024};

}  // namespace

float kth_smallest_magnitude(const float* data, int64_t stride, int32_t cols, int32_t rows,
                             int64_t k) {
    uint32_t prefix = 0;  // the digits found so far, in place
    uint32_t prefix_mask = 0;
    for (int pass = 0; pass < 3; ++pass) {
        uint32_t count[2048] = {};
        const uint32_t digit_mask = kDigits[pass] - 1;
        for (int32_t y = 0; y < rows; ++y) {
            const float* row = data + y * stride;
            for (int32_t x = 0; x < cols; ++x) {
                const uint32_t bits = magnitude_bits(row[x]);
                if ((bits & prefix_mask) == prefix) ++count[(bits >> kShift[pass]) & digit_mask];
            }
        }
        uint32_t digit = 0;
        while (k >= count[digit]) k -= count[digit++];
        prefix |= digit << kShift[pass];
        prefix_mask |= digit_mask << kShift[pass];
    }
    float v;
    std::memcpy(&v, &prefix, sizeof v);
    return v;
}

}  // namespace velmora
