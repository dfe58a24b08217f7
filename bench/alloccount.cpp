#include "alloccount.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <unistd.h>

namespace marlix::bench {
std::atomic<uint64_t> gAllocations{0};
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define MARLIX_REPLACES_C_ALLOCATION 1
// The C library's own allocation functions, behind the counted ones below.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* __libc_pvalloc(std::size_t size);
void __libc_free(void* p);
}
#endif

namespace {
void Count()
{
    marlix::bench::gAllocations.fetch_add(1, std::memory_order_relaxed);
}

// Uncounted: operator new counts once for itself.
void* Allocate(std::size_t size)
{
#if MARLIX_REPLACES_C_ALLOCATION
    return __libc_malloc(size);
#else
    return std::malloc(size);
#endif
}

void* AllocateAligned(std::size_t alignment, std::size_t size)
{
#if MARLIX_REPLACES_C_ALLOCATION
    return __libc_memalign(alignment, size);
#else
    void* p = nullptr;
    return posix_memalign(&p, std::max(alignment, sizeof(void*)), size) == 0 ? p : nullptr;
#endif
}
} // namespace

// Every form of operator new and delete is replaced, so that all of them pair up with
// one another (a sanitizer's own forms would not pair with these).
void* operator new(std::size_t size)
{
    Count();
    if (void* p = Allocate(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* operator new(std::size_t size, std::align_val_t alignment)
{
    Count();
    if (void* p = AllocateAligned(static_cast<std::size_t>(alignment), size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    Count();
    return Allocate(size ? size : 1);
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    Count();
    return AllocateAligned(static_cast<std::size_t>(alignment), size ? size : 1);
}

void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t& tag) noexcept
{
    return operator new(size, alignment, tag);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

#if MARLIX_REPLACES_C_ALLOCATION
// The C library's allocation functions, replaced as glibc allows: each one is counted
// and handed to the library's own implementation.
extern "C" {

void* malloc(std::size_t size) noexcept
{
    Count();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    Count();
    return __libc_calloc(count, size);
}

void* realloc(void* p, std::size_t size) noexcept
{
    Count();
    return __libc_realloc(p, size);
}

void free(void* p) noexcept
{
    __libc_free(p);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept
{
    Count();
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* p = __libc_memalign(alignment, size);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

void* valloc(std::size_t size) noexcept
{
    Count();
    return __libc_memalign(static_cast<std::size_t>(getpagesize()), size);
}

void* pvalloc(std::size_t size) noexcept
{
    Count();
    return __libc_pvalloc(size);
}
}
#endif
