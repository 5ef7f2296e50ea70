// The host's exec_multi_thread_func on persistent Win32 threads.
#pragma once

#include "sdk/aviutl_filter.h"

void set_win32_threads(int threads);
BOOL win32_exec(MULTI_THREAD_FUNC func, void* param1, void* param2);
