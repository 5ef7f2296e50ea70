#include "lib/large_buffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace velmora {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

size_t large_allocation_bytes(size_t bytes) {
    const size_t alignment = bytes >= kHugePage ? kHugePage : 64;
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    return rounded == 0 ? alignment : rounded;
}

void* allocate_large(size_t bytes) {
    const bool large = bytes >= kHugePage;
    const size_t alignment = large ? kHugePage : 64;
    const size_t rounded = large_allocation_bytes(bytes);
    void* p = std::aligned_alloc(alignment, rounded);
    if (p == nullptr) throw std::bad_alloc();
    // Only a hint: without transparent huge pages the memory simply comes in small pages.
    if (large) ::madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

void free_large(void* p) noexcept { std::free(p); }

}  // namespace velmora
