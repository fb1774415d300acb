#pragma once
// The displays' own frame memory: one zeroed 64-byte aligned block, so rows
// handed to worker threads start on cache lines and SIMD stores never split.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace lumo::Framebuffer {

class FrameMemory {
public:
    FrameMemory() = default;
    ~FrameMemory() { std::free(data_); }
    FrameMemory(const FrameMemory&) = delete;
    FrameMemory& operator=(const FrameMemory&) = delete;

    // False when the block cannot be allocated; the old block is gone either way.
    bool allocate(std::size_t bytes) {
        release();
        std::size_t rounded = (bytes + 63) / 64 * 64;
        data_ = static_cast<std::uint8_t*>(std::aligned_alloc(64, rounded ? rounded : 64));
        if (!data_)
            return false;
        std::memset(data_, 0, rounded);
        size_ = bytes;
        return true;
    }
    void release() {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
    }
    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Largest frame side a display accepts; bigger requests are refused at open.
constexpr int kMaxFrameSide = 16384;

} // namespace lumo::Framebuffer
