#pragma once
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace marlix {

// A heap array aligned for SIMD loads, owned, fixed in size, zero-filled unless asked not to be.
template <class T>
class AlignedArray {
public:
    AlignedArray() = default;
    explicit AlignedArray(size_t count) { Reset(count); }
    ~AlignedArray() { std::free(Data); }
    AlignedArray(AlignedArray&& other) noexcept : Data(other.Data), Size(other.Size)
    {
        other.Data = nullptr;
        other.Size = 0;
    }
    AlignedArray& operator=(AlignedArray&& other) noexcept
    {
        std::swap(Data, other.Data);
        std::swap(Size, other.Size);
        return *this;
    }
    AlignedArray(const AlignedArray&) = delete;
    AlignedArray& operator=(const AlignedArray&) = delete;

    void Reset(size_t count)
    {
        ResetUninitialised(count);
        if (Data)
            std::memset(static_cast<void*>(Data), 0, Bytes(count));
    }
    // For scratch space that is always written before it is read: the pages are touched
    // only where it is used.
    void ResetUninitialised(size_t count)
    {
        std::free(Data);
        Data = nullptr;
        Size = count;
        if (count == 0)
            return;
        Data = static_cast<T*>(std::aligned_alloc(kAlign, Bytes(count)));
        if (!Data)
            throw std::bad_alloc();
    }
    void Zero() { std::memset(static_cast<void*>(Data), 0, Size * sizeof(T)); }

    T* data() { return Data; }
    const T* data() const { return Data; }
    size_t size() const { return Size; }
    T& operator[](size_t i) { return Data[i]; }
    const T& operator[](size_t i) const { return Data[i]; }

private:
    static constexpr size_t kAlign = 64;
    static size_t Bytes(size_t count) { return (count * sizeof(T) + kAlign - 1) / kAlign * kAlign; }
    T* Data = nullptr;
    size_t Size = 0;
};

} // namespace marlix
