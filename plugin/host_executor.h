// The host's multi-thread service as the engine's executor.
#pragma once

#include <cstdint>

#include "engine/executor.h"
#include "sdk/aviutl_filter.h"

// The number of threads the host's exec_multi_thread_func runs a worker on, learned by one call
// of it (at least 1).
int32_t probe_thread_count(const EXFUNC* services);

// Runs every stage the engine hands it as one call of the host's exec_multi_thread_func, which
// calls the stage's worker once on each of the host's threads and returns when all are done.
// `threads` is the count probe_thread_count learned.
velmora::Executor host_executor(EXFUNC* services, int32_t threads);
