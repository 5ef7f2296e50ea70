// The temporal weights' sums of squared pilot differences, one place at a time: the arithmetic of
// difference_box_u8 that every kernel table shares for the places its vectors do not cover.
#pragma once

#include <cstdint>

// ((a[i] - b[i]) * scale)^2 at i clamped to 0 .. n - 1.
inline float difference_square_at(const uint8_t* a, const uint8_t* b, int n, float scale, int i) {
    i = i < 0 ? 0 : i >= n ? n - 1 : i;
    const float t = (static_cast<float>(a[i]) - static_cast<float>(b[i])) * scale;
    return t * t;
}

// (d[j - 1] + d[j]) + d[j + 1], edges repeated.
inline float difference_box_at(const uint8_t* a, const uint8_t* b, int n, float scale, int j) {
    return (difference_square_at(a, b, n, scale, j - 1) + difference_square_at(a, b, n, scale, j)) +
           difference_square_at(a, b, n, scale, j + 1);
}
