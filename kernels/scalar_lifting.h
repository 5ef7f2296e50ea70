// The lifting steps in their plain form, as the scalar table computes them. Every term is
// (a + b) * c added to its target, each operation rounded to single precision; the end terms
// use the exactly doubled constant.
#pragma once

#include "kernels/lifting_constants.h"

namespace scalar_lifting {

// o[k] += c * (e[k] + e[k+1]); o[n-1] += c2 * e[n-1].
inline void predict(float* o, const float* e, int n, float c, float c2) {
    for (int k = 0; k < n - 1; ++k) {
        const float s = e[k] + e[k + 1];
        const float p = s * c;
        o[k] = o[k] + p;
    }
    const float p = e[n - 1] * c2;
    o[n - 1] = o[n - 1] + p;
}

// e[0] += c2 * o[0]; e[k] += c * (o[k-1] + o[k]).
inline void update(float* e, const float* o, int n, float c, float c2) {
    const float p0 = o[0] * c2;
    e[0] = e[0] + p0;
    for (int k = 1; k < n; ++k) {
        const float s = o[k - 1] + o[k];
        const float p = s * c;
        e[k] = e[k] + p;
    }
}

// The same terms across lines: target[i] += c * (a[i] + b[i]), and the end term
// target[i] += c2 * a[i].
inline void lift_lines(float* target, const float* a, const float* b, float c, int count) {
    for (int i = 0; i < count; ++i) {
        const float s = a[i] + b[i];
        const float p = s * c;
        target[i] = target[i] + p;
    }
}

inline void lift_line_end(float* target, const float* a, float c2, int count) {
    for (int i = 0; i < count; ++i) {
        const float p = a[i] * c2;
        target[i] = target[i] + p;
    }
}

inline void forward_steps(float* e, float* o, int n) {
    using namespace lifting;
    predict(o, e, n, kAlpha, kAlpha2);
    update(e, o, n, kBeta, kBeta2);
    predict(o, e, n, kGamma, kGamma2);
    update(e, o, n, kDelta, kDelta2);
}

inline void inverse_steps(float* e, float* o, int n) {
    using namespace lifting;
    update(e, o, n, -kDelta, -kDelta2);
    predict(o, e, n, -kGamma, -kGamma2);
    update(e, o, n, -kBeta, -kBeta2);
    predict(o, e, n, -kAlpha, -kAlpha2);
}

}  // namespace scalar_lifting
