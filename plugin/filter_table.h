// The filter table the host reads through the plug-in's one export, and the handlers it names.
#pragma once

#include "sdk/aviutl_filter.h"

#if defined(_WIN32)
#define VELMORA_EXPORT extern "C" __declspec(dllexport)
#define VELMORA_STDCALL __stdcall
#else
#define VELMORA_EXPORT extern "C" __attribute__((visibility("default")))
#define VELMORA_STDCALL
#endif

VELMORA_EXPORT FILTER_DLL* VELMORA_STDCALL GetFilterTable(void);

BOOL func_init(FILTER* fp);
BOOL func_exit(FILTER* fp);
BOOL func_update(FILTER* fp, int status);

// Window client size of the filter window.
constexpr int kWindowWidth = 320;
constexpr int kWindowHeight = 592;
