// The stages of one plane, each one call of the executor over all worker threads.
#pragma once

#include "plugin/stage_workers.h"

typedef BOOL (*ExecMultiThread)(MULTI_THREAD_FUNC func, void* param1, void* param2);

void run_load(ExecMultiThread exec, WorkerParams* params);
void run_forward(ExecMultiThread exec, WorkerParams* params, int levels);
void run_threshold(ExecMultiThread exec, WorkerParams* params, int levels);
void run_inverse(ExecMultiThread exec, WorkerParams* params, int levels);
void run_store(ExecMultiThread exec, WorkerParams* params);

// The number of threads the executor runs each worker on.
int probe_thread_count(ExecMultiThread exec);
