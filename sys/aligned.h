#pragma once
// The one way to get memory that vector code and worker rows may rely on:
// 64-byte aligned, so a block starts on a cache line, no SIMD load or store
// splits one, and two workers' rows never share a line. Mesh blocks grow while
// a file loads; the renderer's pools and the displays' frame memory are sized
// once and only their contents change per frame.

#include <cstddef>
#include <new>
#include <vector>

namespace lumo {

constexpr std::size_t kCacheLine = 64;

template <typename T>
struct AlignedAllocator {
    using value_type = T;
    AlignedAllocator() = default;
    template <typename U>
    AlignedAllocator(const AlignedAllocator<U>&) {}
    T* allocate(std::size_t n) {
        return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(kCacheLine)));
    }
    void deallocate(T* p, std::size_t) { ::operator delete(p, std::align_val_t(kCacheLine)); }
    template <typename U>
    bool operator==(const AlignedAllocator<U>&) const {
        return true;
    }
};

template <typename T>
using AlignedVector = std::vector<T, AlignedAllocator<T>>;

} // namespace lumo
