// A stand-in host library whose driver streams one period and then never returns, whatever
// the stop poll says, until the test calls StuckHostRelease.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace {
using TStopPoll = int32_t (*)();
using TBufferCallback = int32_t (*)(int32_t, int32_t, void**, const int32_t*);

std::mutex gLock;
std::condition_variable gEvent;
bool gReleased = false;
} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t InitializeASIO(const char*, TStopPoll, TBufferCallback, TBufferCallback)
{
    return 1;
}

__attribute__((visibility("default"))) void testapi(const char*, TStopPoll, TBufferCallback output, TBufferCallback)
{
    float left[64] = {}, right[64] = {};
    void* buffers[2] = {left, right};
    const int32_t types[2] = {19, 19};
    output(2, 64, buffers, types);
    std::unique_lock lock(gLock);
    gEvent.wait(lock, [] { return gReleased; });
}

__attribute__((visibility("default"))) void StuckHostRelease()
{
    {
        std::lock_guard lock(gLock);
        gReleased = true;
    }
    gEvent.notify_all();
}
}
