#pragma once
// A fixed-size, zero-filled, 64-byte aligned array: the renderer's pools and
// buffers are allocated once and only their contents change per frame.

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

namespace lumo {

template <typename T>
class AlignedArray {
    static_assert(std::is_trivially_destructible_v<T>, "pool entries are plain data");

public:
    AlignedArray() = default;
    explicit AlignedArray(std::size_t count) : size_(count) {
        if (count > 0) {
            data_ = static_cast<T*>(::operator new(count * sizeof(T), std::align_val_t(64)));
            std::memset(static_cast<void*>(data_), 0, count * sizeof(T));
        }
    }
    AlignedArray(const AlignedArray&) = delete;
    AlignedArray& operator=(const AlignedArray&) = delete;
    AlignedArray(AlignedArray&& o) noexcept : data_(o.data_), size_(o.size_) {
        o.data_ = nullptr;
        o.size_ = 0;
    }
    AlignedArray& operator=(AlignedArray&& o) noexcept {
        if (this != &o) {
            release();
            data_ = o.data_;
            size_ = o.size_;
            o.data_ = nullptr;
            o.size_ = 0;
        }
        return *this;
    }
    ~AlignedArray() { release(); }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

private:
    void release() {
        if (data_) {
            ::operator delete(static_cast<void*>(data_), std::align_val_t(64));
        }
        data_ = nullptr;
        size_ = 0;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace lumo
