#pragma once
#include <atomic>
#include <cstdint>

namespace marlix::bench {

// Heap allocations made by this process so far: operator new always; the C functions
// (malloc, calloc, realloc, memalign, aligned_alloc, posix_memalign, valloc, pvalloc)
// too where no sanitizer brings its own allocator.
extern std::atomic<uint64_t> gAllocations;

inline uint64_t Allocations() { return gAllocations.load(std::memory_order_relaxed); }

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kCountsCAllocations = false;
#else
inline constexpr bool kCountsCAllocations = true;
#endif

} // namespace marlix::bench
