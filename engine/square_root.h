// The square root of a float, correctly rounded (to nearest, ties to even), computed with
// integers: the result does not depend on a platform's maths library.
#pragma once

namespace velmora {

// sqrt(v) rounded to the nearest float; 0 for v <= 0 or NaN, v itself for +infinity.
float square_root(float v);

}  // namespace velmora
