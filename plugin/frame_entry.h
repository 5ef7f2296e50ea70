// The frame handler: the host calls it once for every frame that reaches the filter.
#pragma once

#include <cstdint>

#include "kernels/kernel_set.h"
#include "sdk/aviutl_filter.h"

// Filters the frame in place; 0 refuses it (the frame is left as it came).
BOOL func_proc(FILTER* fp, FILTER_PROC_INFO* fpip);

// The kernel table of the following frames; null: the one VELMORA_ISA names, or the best.
void use_kernels(const KernelSet* kernels);

// Bytes of ycp_temp the frame needs with `threads` worker threads, counted from the buffer's
// address `temp` (its alignment to 16 bytes included).
int64_t working_memory_bytes(std::uintptr_t temp, int32_t W, int32_t H, int32_t threads);
