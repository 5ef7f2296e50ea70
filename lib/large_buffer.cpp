#include "lib/large_buffer.h"

#include <cstdlib>
#include <new>

namespace velmora {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t alignment_for(size_t bytes) { return bytes >= kHugePage ? kHugePage : 64; }

}  // namespace

size_t large_allocation_bytes(size_t bytes) {
    const size_t alignment = alignment_for(bytes);
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    return rounded == 0 ? alignment : rounded;
}

void* allocate_large(size_t bytes) {
    void* p = std::aligned_alloc(alignment_for(bytes), large_allocation_bytes(bytes));
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void free_large(void* p) noexcept { std::free(p); }

}  // namespace velmora
