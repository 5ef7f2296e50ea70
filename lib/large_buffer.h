// Memory for the library's large buffers (frames, the engine's planes). Each is asked of the
// system in 2 MiB pages where it offers them: a 1080p 16-bit 4:4:4 run touches some 100 MB
// of fresh buffers in its first frames, which in 4 KiB pages costs tens of thousands of page
// faults, a good part of a short run's time.
#pragma once

#include <cstddef>

namespace velmora {

// `bytes` of memory aligned to 64 bytes (to 2 MiB when large), uninitialised; throws
// std::bad_alloc. Freed with free_large().
void* allocate_large(size_t bytes);
void free_large(void* p) noexcept;

// The bytes allocate_large(bytes) takes, its rounding included.
size_t large_allocation_bytes(size_t bytes);

}  // namespace velmora
