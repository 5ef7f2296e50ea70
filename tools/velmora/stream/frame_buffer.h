// Frame buffers in the library's large-page memory (velmora_alloc_buffer), left uninitialised:
// frames are filled by reading into them, and clearing them first would be one more pass over
// every buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "velmora/velmora.h"

namespace velmora {

template <class T>
struct FrameBufferAllocator {
    using value_type = T;
    FrameBufferAllocator() = default;
    template <class U>
    FrameBufferAllocator(const FrameBufferAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        void* p = velmora_alloc_buffer(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { velmora_free_buffer(p); }
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const FrameBufferAllocator<U>&) const noexcept {
        return true;
    }
};

using FrameBytes = std::vector<uint8_t, FrameBufferAllocator<uint8_t>>;

}  // namespace velmora
