#pragma once
// The bridge: one foreign LADSPA plug-in behind the effect plug-in exports.
//
// It is told its plug-in once, through the 260-byte block of aep.h (1, 1, 0, 0 and the
// library's path without ".so"), and then names itself "LADSPA|" + the plug-in's name.
// Until then, and when the library does not load, it has no name and passes audio
// through untouched. Every other SetData block is the plug-in's control values.
#include "plugins/vstrack/ladspacontrols.h"
#include "plugins/vstrack/ladspalibrary.h"
#include "plugins/vstrack/ladsparack.h"

#include <atomic>
#include <memory>
#include <string>

namespace marlix::plugins {

class TBridge {
public:
    ~TBridge() { Destroy(); }

    // Main thread.
    void SetData(const void* data, int32_t size);
    void GetData(void** data, int32_t* size);
    const char* Name() const { return name_.c_str(); }
    void Destroy();

    // Pipeline thread.
    void Clear();
    void Process(float** channels, int32_t rate, int32_t channelCount, int32_t count);

private:
    void Load(const std::string& path);

    TLadspaLibrary library_;
    std::unique_ptr<TLadspaControls> controls_;
    std::unique_ptr<TLadspaRack> rack_;
    std::string name_;
    std::vector<uint8_t> state_;
    // Set once the plug-in is ready to run; the pipeline thread does nothing before.
    std::atomic<bool> ready_{false};
};

} // namespace marlix::plugins
