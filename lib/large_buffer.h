// Memory for the library's large buffers (frames, the engine's planes). A large one is aligned
// to 2 MiB, so that a system that gives transparent huge pages to every process can back it
// with them. It is not asked for them (madvise): where the system gives them only on request,
// it then also compacts its memory to find them, and on a machine up for hours that cost a
// 1080p run 1.3 to 1.8 s of system time in its first frames for no measurable gain after.
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
