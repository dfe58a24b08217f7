// Feeds arbitrary bytes to the stream decoder as a file: open, decode to the end, seek
// back once and decode again, then free.
#include "platform/dsdec/dsdec.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

class TCounter : public marlix::TDSDCallBack {
public:
    void Deliver(double, const void* pcm, int bytes) override
    {
        // Touch every byte so a bad pointer or length shows up under the sanitizers.
        const auto* p = static_cast<const uint8_t*>(pcm);
        for (int i = 0; i < bytes; ++i)
            Sum += p[i];
    }
    uint64_t Sum = 0;
};

void WaitFinished(marlix::TDSDHandle h)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (marlix::dsdGetFinished(h) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string name = "/tmp/marlix-fuzz-" + std::to_string(::getpid()) + "-dsdec.bin";
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        if (size > 0)
            std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    TCounter sink;
    marlix::TDSDHandle h = marlix::dsdCreate(name.c_str(), 0, &sink);
    if (h && marlix::dsdGetWaveFormatEx(h)) {
        WaitFinished(h);
        marlix::dsdSetPosition(h, marlix::dsdGetLength(h) / 2);
        WaitFinished(h);
    }
    marlix::dsdFree(h);
    std::remove(name.c_str());
    return 0;
}
