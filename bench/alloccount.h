#pragma once
#include <atomic>
#include <cstdint>

namespace marlix::bench {

// Heap allocations made by this process so far (operator new is counted).
extern std::atomic<uint64_t> gAllocations;

inline uint64_t Allocations() { return gAllocations.load(std::memory_order_relaxed); }

} // namespace marlix::bench
