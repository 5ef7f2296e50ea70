// Diagnostic views drawn into the frame: the thresholded coefficients as a grey picture, and
// the SelectionBox outline.
#pragma once

#include <cstdint>

#include "sdk/aviutl_filter.h"

// y := 4095 - y, cb := -cb, cr := -cr, each kept to its low 16 bits: applied twice it restores
// the pixel exactly.
void invert_pixel(PIXEL_YC& pixel);

// Inverts the one-pixel border of the n x n square at (x, y), each border pixel once; pixels
// outside the max_w x max_h buffer are skipped.
void draw_outline(FILTER_PROC_INFO* fpip, int64_t x, int64_t y, int32_t n);

// The WorkingPlane's coefficients as magnitudes in y (cb = cr = 0), scaled per level.
void DrawCoefficientView(FILTER_PROC_INFO* fpip, int levels);

// The SelectionBox, or with the coefficient view on, its image in every subband.
void DrawSelectionOverlay(FILTER* fp, FILTER_PROC_INFO* fpip);
