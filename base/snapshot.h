#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace marlix {

// A value handed from one writer thread to one reader thread as immutable versions.
// The writer builds a whole new version and publishes it; the reader takes the newest
// with Acquire and may use it until its next Acquire or Release. The reader neither
// locks, allocates nor frees: retired versions are freed on the writer's thread, once
// the reader has moved past them.
//
// Thread use: one writer (Publish, Collect) and one reader (Acquire, Release, Peek) at a
// time. Either role may pass to another thread when a thread start or join orders the
// two. Version may be read by anyone.
//
// The reader announces the version it uses in InUse and checks that it is still the
// newest; the writer frees only retired versions that InUse does not name. Every
// operation on Current and InUse is sequentially consistent, which this check needs.
template <class T> class TSnapshot {
public:
    explicit TSnapshot(T initial = T{}) : Current(new T(std::move(initial))) {}
    ~TSnapshot()
    {
        delete Current.load();
        Retired.clear();
    }
    TSnapshot(const TSnapshot&) = delete;
    TSnapshot& operator=(const TSnapshot&) = delete;

    // Writer: makes `value` the newest version and frees what the reader has left.
    void Publish(T value)
    {
        Retired.emplace_back(Current.exchange(new T(std::move(value))));
        Serial.fetch_add(1, std::memory_order_acq_rel);
        Collect();
    }

    // Writer: frees the retired versions the reader is not using.
    void Collect()
    {
        const T* used = InUse.load();
        std::erase_if(Retired, [used](const std::unique_ptr<const T>& v) { return v.get() != used; });
    }

    // Writer: a copy of the newest version, for editing into the next one.
    T Edit() const { return *Current.load(); }
    // Writer: the newest version itself (only the writer replaces it).
    const T& Newest() const { return *Current.load(); }

    // Reader: the newest version, valid until the next Acquire or Release.
    const T* Acquire() const
    {
        const T* p = Current.load();
        for (;;) {
            InUse.store(p);
            const T* q = Current.load();
            if (q == p)
                return p;
            p = q;
        }
    }
    // Reader: uses no version any more.
    void Release() const { InUse.store(nullptr); }

    // Counts publications: a reader compares it to decide whether to look again.
    uint64_t Version() const { return Serial.load(std::memory_order_acquire); }
    // Writer: versions waiting to be freed (for tests).
    size_t RetiredCount() const { return Retired.size(); }

private:
    std::atomic<const T*> Current;
    mutable std::atomic<const T*> InUse{nullptr};
    std::atomic<uint64_t> Serial{0};
    std::vector<std::unique_ptr<const T>> Retired;
};

} // namespace marlix
