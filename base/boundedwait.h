#pragma once
// Waits on stop paths that must not hang: a component that does not let go by its
// deadline is reported and left behind (leaked) by the caller instead.
#include <chrono>
#include <cstdio>
#include <thread>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace marlix {

// Asks `done` every millisecond until it answers true (returns true) or `timeout` has
// passed (returns false).
template <class F>
bool WaitUntilDone(F done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The one line said when a wait gives up.
inline void ReportAbandoned(const char* what, std::chrono::milliseconds timeout)
{
    std::fprintf(stderr, "marlixaudio: %s did not stop within %lld ms; left behind\n", what,
                 static_cast<long long>(timeout.count()));
}

// Keeps what a wait gave up on alive for good; a leak checker is told that this is meant.
template <class T>
T* LeaveBehind(T* p)
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan_ignore_object(p);
#endif
    return p;
}

} // namespace marlix
