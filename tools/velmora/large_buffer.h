// Memory for the tool's large buffers (frames, the engine's planes). Each is asked of the
// system in 2 MiB pages where it offers them: a 1080p 16-bit 4:4:4 run touches some 100 MB
// of fresh buffers in its first frames, which in 4 KiB pages costs tens of thousands of page
// faults, a good part of a short run's time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace velmora {

// `bytes` of memory aligned to 64 bytes (to 2 MiB when large), uninitialised; throws
// std::bad_alloc. Freed with free_large().
void* allocate_large(size_t bytes);
void free_large(void* p) noexcept;

// A standard allocator on allocate_large() that leaves new elements uninitialised: frame
// buffers are filled by reading into them, and clearing them first would be one more pass
// over every buffer.
template <class T>
struct LargeBufferAllocator {
    using value_type = T;
    LargeBufferAllocator() = default;
    template <class U>
    LargeBufferAllocator(const LargeBufferAllocator<U>&) noexcept {}

    T* allocate(size_t n) { return static_cast<T*>(allocate_large(n * sizeof(T))); }
    void deallocate(T* p, size_t) noexcept { free_large(p); }
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const LargeBufferAllocator<U>&) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const LargeBufferAllocator<U>&) const noexcept {
        return false;
    }
};

using FrameBytes = std::vector<uint8_t, LargeBufferAllocator<uint8_t>>;

}  // namespace velmora
