#pragma once
#include <atomic>

namespace marlix {

// A scalar that one thread edits while another reads it (a setting the device callback
// applies). Unlike std::atomic it copies and compares, so the records holding it keep
// their value semantics (comparisons go through the value); each access is one atomic
// load or store.
template <class T> class TAtomicValue {
public:
    TAtomicValue(T v = T{}) : Value(v) {}
    TAtomicValue(const TAtomicValue& other) : Value(other.Load()) {}
    TAtomicValue& operator=(const TAtomicValue& other)
    {
        Store(other.Load());
        return *this;
    }
    TAtomicValue& operator=(T v)
    {
        Store(v);
        return *this;
    }

    T Load() const { return Value.load(std::memory_order_acquire); }
    void Store(T v) { Value.store(v, std::memory_order_release); }
    operator T() const { return Load(); }

private:
    std::atomic<T> Value;
};

} // namespace marlix
