#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace marlix {

// The format record of a decoded stream, laid out byte for byte as the 18-byte
// WAVEFORMATEX: tag 1 (PCM), channels, rate, byte rate, block align, bits, extra size.
#pragma pack(push, 1)
struct TWaveFormatEx {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);

// Receives the decoded PCM: interleaved samples in the stream's format, `timeSeconds`
// being the time of the block's first frame. Called on the decoding thread; it may block.
class TDSDCallBack {
public:
    virtual ~TDSDCallBack() = default;
    virtual void Deliver(double timeSeconds, const void* pcm, int bytes) = 0;

    std::atomic<bool> Active{false};
};

struct TDSDStream;
using TDSDHandle = TDSDStream*;

// Starts opening and decoding a file or an http(s) URL on a thread of its own; null when
// the thread cannot start. Whether the source opened is told by dsdGetWaveFormatEx.
TDSDHandle dsdCreate(const char* name, int flags, TDSDCallBack* callback);
// Stops decoding and releases the handle; no Deliver call runs after it returns.
void dsdFree(TDSDHandle handle);
// Waits for the open to finish; the stream's format (16-bit PCM at the source's rate and
// channel count), or null when it cannot be played. Valid until dsdFree.
const TWaveFormatEx* dsdGetWaveFormatEx(TDSDHandle handle);
// Length in milliseconds, 0 when unknown.
double dsdGetLength(TDSDHandle handle);
// Time of the end of the last block delivered, in milliseconds.
double dsdGetPosition(TDSDHandle handle);
// Moves decoding to `ms` (done on the decoding thread, also after the end was reached).
void dsdSetPosition(TDSDHandle handle, double ms);
// 1 once the last block has been delivered, else 0.
int32_t dsdGetFinished(TDSDHandle handle);

// What a local file holds, read without decoding: "format" (the container's name),
// "codec", "sample_rate", "channels", "duration_ms" and "bit_rate" where known, then
// every tag as "tag:<name>". False when the file cannot be read (URLs are not read).
bool dsdReadTags(const std::string& name, std::vector<std::pair<std::string, std::string>>& info);
// The decoding library's version, or empty without the module.
std::string dsdVersion();

// The module's side of dsdReadTags: "key\tvalue\n" lines into `buffer` (cut to `size`
// with a terminating zero); the length of the whole text, or -1.
int32_t GetTags(const char* name, char* buffer, int32_t size);

} // namespace marlix
