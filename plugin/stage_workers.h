// The workers of the plane pipeline, in the host's multi-thread function form: each runs once
// on every worker thread and does that thread's share of one stage.
#pragma once

#include "engine/plane_view.h"
#include "sdk/aviutl_filter.h"

// The record every worker receives first.
struct WorkerParams {
    FILTER* fp;
    FILTER_PROC_INFO* fpip;
    velmora::PlaneView view;  // the plane that load and store convert
};

// Second parameter: pointer to the plane index.
void LoadPlaneWorker(int t, int T, void* params, void* plane);
void StorePlaneWorker(int t, int T, void* params, void* plane);
// Second parameter: pointer to the level.
void ForwardRowsWorker(int t, int T, void* params, void* level);
void ForwardColumnsWorker(int t, int T, void* params, void* level);
void InverseColumnsWorker(int t, int T, void* params, void* level);
void InverseRowsWorker(int t, int T, void* params, void* level);
// Second parameter: pointer to the level count.
void ThresholdWorker(int t, int T, void* params, void* levels);
