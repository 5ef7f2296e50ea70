// The SelectionBox: the 128 x 128 square of frame pixels whose top-left corner the "Pos.X" and
// "Pos.Y" tracks give, and the ranges those tracks take.
#pragma once

#include <cstdint>

constexpr int32_t kSelectionSize = 128;

// The run-time minimum of both position tracks.
constexpr int32_t kPosMinimum = 33;

// The maximum of a position track for a frame (or the host's largest frame) `size` pixels
// across: its size rounded down to a multiple of 32, less 129.
inline int32_t pos_maximum(int32_t size) { return (size & ~31) - 129; }
