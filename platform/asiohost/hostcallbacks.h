#pragma once
// The call shapes shared between the host library's drivers and TASIOThread
// (engine/asiothread.h).
#include <cstdint>

namespace marlix::asiohost {

using TStopPoll = int32_t (*)();
using TBufferCallback = int32_t (*)(int32_t channels, int32_t frames, void** buffers, const int32_t* types);

} // namespace marlix::asiohost
