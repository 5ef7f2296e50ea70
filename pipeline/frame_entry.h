// The frame handler: the host calls it once for every frame that reaches the filter.
#pragma once

#include <cstdint>

#include "sdk/aviutl_filter.h"

// Filters the frame in place; 0 refuses it (the frame is left as it came).
BOOL func_proc(FILTER* fp, FILTER_PROC_INFO* fpip);

// Bytes of ycp_temp the frame needs with `threads` worker threads, counted from the buffer's
// address `temp` (its alignment to 16 bytes included).
int64_t working_memory_bytes(std::uintptr_t temp, int32_t W, int32_t H, int32_t threads);
