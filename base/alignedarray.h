#pragma once
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace marlix {

// A zero-filled heap array aligned for SIMD loads, owned, fixed in size.
template <class T>
class AlignedArray {
public:
    AlignedArray() = default;
    explicit AlignedArray(size_t count) { Reset(count); }
    ~AlignedArray() { std::free(data_); }
    AlignedArray(AlignedArray&& other) noexcept : data_(other.data_), size_(other.size_)
    {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    AlignedArray& operator=(AlignedArray&& other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        return *this;
    }
    AlignedArray(const AlignedArray&) = delete;
    AlignedArray& operator=(const AlignedArray&) = delete;

    void Reset(size_t count)
    {
        std::free(data_);
        data_ = nullptr;
        size_ = count;
        if (count == 0)
            return;
        const size_t bytes = (count * sizeof(T) + kAlign - 1) / kAlign * kAlign;
        data_ = static_cast<T*>(std::aligned_alloc(kAlign, bytes));
        if (!data_)
            throw std::bad_alloc();
        std::memset(static_cast<void*>(data_), 0, bytes);
    }
    void Zero() { std::memset(static_cast<void*>(data_), 0, size_ * sizeof(T)); }

    T* data() { return data_; }
    const T* data() const { return data_; }
    size_t size() const { return size_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }

private:
    static constexpr size_t kAlign = 64;
    T* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace marlix
