#pragma once
// Waits on stop paths that must not hang: a component that does not let go by its
// deadline is reported and left behind (leaked) by the caller instead.
#include <chrono>
#include <cstdio>
#include <thread>

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

} // namespace marlix
