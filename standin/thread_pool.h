// The host's multi-thread service on a pool of worker threads, as the editor offers it: run a
// function once for every thread index 0..n-1 and return when all have finished.
#pragma once

#include "sdk/aviutl_filter.h"

// Sets the number of threads (at least 1); the pool is (re)built on the next call.
void set_pool_threads(int threads);
int pool_threads();

// The host's exec_multi_thread_func. The calling thread runs index 0 itself.
BOOL pool_exec(MULTI_THREAD_FUNC func, void* param1, void* param2);
