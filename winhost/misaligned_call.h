#pragma once

extern "C" int call_misaligned(void* fn, const int* args, int count, int offset);

// The misalignments the emulator cycles through: the stack pointer 4, 8 or 12 bytes off a
// 16-byte boundary at every call into the plug-in.
int next_misalignment();
