// A stand-in host library. Driver "steady" streams periods of 64 frames until the stop
// poll says stop or the library's state is destroyed. Any other driver streams one
// period and then never returns, whatever the stop poll says, until the test calls
// StuckHostRelease; then it calls the output once more (77 frames) and returns.
// DestroyASIO destroys the library's global state, as a real driver's release would.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

namespace {
using TStopPoll = int32_t (*)();
using TBufferCallback = int32_t (*)(int32_t, int32_t, void**, const int32_t*);

std::mutex gLock;
std::condition_variable gEvent;
bool gReleased = false;
std::atomic<bool> gDestroyed{false};
std::atomic<int32_t> gDestroyCount{0};

void Period(TBufferCallback output, int32_t frames)
{
    float left[128] = {}, right[128] = {};
    void* buffers[2] = {left, right};
    const int32_t types[2] = {19, 19};
    output(2, frames, buffers, types);
}
} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t InitializeASIO(const char*, TStopPoll, TBufferCallback, TBufferCallback)
{
    gDestroyed.store(false);
    return 1;
}

__attribute__((visibility("default"))) void testapi(const char* driver, TStopPoll stop, TBufferCallback output,
                                                    TBufferCallback)
{
    if (std::strcmp(driver, "steady") == 0) {
        while (!stop() && !gDestroyed.load()) {
            Period(output, 64);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return;
    }
    Period(output, 64);
    {
        std::unique_lock lock(gLock);
        gEvent.wait(lock, [] { return gReleased; });
    }
    Period(output, 77);
}

__attribute__((visibility("default"))) void DestroyASIO()
{
    gDestroyed.store(true);
    gDestroyCount.fetch_add(1);
}

// Notified under the lock: the driver's thread, once woken, may unload this library
// (and its condition variable) as soon as it has the lock.
__attribute__((visibility("default"))) void StuckHostRelease()
{
    std::lock_guard lock(gLock);
    gReleased = true;
    gEvent.notify_all();
}

__attribute__((visibility("default"))) int32_t StuckHostDestroyCount()
{
    return gDestroyCount.load();
}
}
