#pragma once
// The one way to get memory that vector code and worker rows may rely on:
// 64-byte aligned, so a block starts on a cache line, no SIMD load or store
// splits one, and two workers' rows never share a line. Mesh blocks grow while
// a file loads; the renderer's pools and the displays' frame memory are sized
// once and only their contents change per frame.
//
// Blocks of 4 MB and more (colour, depth and blur buffers of large pictures,
// the pools) are whole huge pages, and the kernel is asked to back them so. A
// tile row of a 1920 x 1080 picture spans 60 small pages of colour, a column
// of the blur a thousand; with small pages the processor spends its time
// walking page tables (and under a hypervisor, two levels of them): huge
// pages took a fifth off the blur and a tenth off the scene passes there.

#include <cstddef>
#include <new>
#include <sys/mman.h>
#include <vector>

namespace lumo {

constexpr std::size_t kCacheLine = 64;

constexpr std::size_t kHugePage = std::size_t(2) << 20;

// Where a block of this many bytes starts: a huge page boundary for the large
// ones (which then take whole huge pages), a cache line for the rest.
constexpr std::size_t blockAlignment(std::size_t bytes) {
    return bytes >= 2 * kHugePage ? kHugePage : kCacheLine;
}

template <typename T>
struct AlignedAllocator {
    using value_type = T;
    AlignedAllocator() = default;
    template <typename U>
    AlignedAllocator(const AlignedAllocator<U>&) {}
    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / 2 / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        const std::size_t bytes = n * sizeof(T), alignment = blockAlignment(bytes);
        if (alignment == kCacheLine) {
            return static_cast<T*>(::operator new(bytes, std::align_val_t(alignment)));
        }
        const std::size_t whole = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        void* p = ::operator new(whole, std::align_val_t(alignment));
        // Only a hint: without transparent huge pages the block keeps small ones.
        madvise(p, whole, MADV_HUGEPAGE);
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) {
        ::operator delete(p, std::align_val_t(blockAlignment(n * sizeof(T))));
    }
    template <typename U>
    bool operator==(const AlignedAllocator<U>&) const {
        return true;
    }
};

template <typename T>
using AlignedVector = std::vector<T, AlignedAllocator<T>>;

} // namespace lumo
