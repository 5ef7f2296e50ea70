// The values callers store in the interface's enumerations, read as the ints they are: a C caller
// may store any int there, and reading a value outside an enumeration's range through its type
// is undefined in C++. Each is checked this way before it is read as what it names.
#pragma once

#include <cstring>

namespace velmora {

template <class E>
int enum_value(const E& e) {
    static_assert(sizeof(E) == sizeof(int), "the interface's enumerations are ints");
    int v;
    std::memcpy(&v, &e, sizeof v);
    return v;
}

// Whether a caller's value is one of first .. last.
template <class E>
bool enum_in(const E& e, E first, E last) {
    const int v = enum_value(e);
    return v >= static_cast<int>(first) && v <= static_cast<int>(last);
}

}  // namespace velmora
