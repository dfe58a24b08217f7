#pragma once
// A LADSPA plug-in library and its first plug-in.
#include <ladspa.h>

#include <string>

namespace marlix::plugins {

class TLadspaLibrary {
public:
    TLadspaLibrary() = default;
    ~TLadspaLibrary();
    TLadspaLibrary(const TLadspaLibrary&) = delete;
    TLadspaLibrary& operator=(const TLadspaLibrary&) = delete;

    // Loads `file` and takes its first descriptor. False, with nothing held, when the
    // file does not load or offers no usable descriptor.
    bool Open(const std::string& file);
    void Close();
    const LADSPA_Descriptor* Descriptor() const { return descriptor_; }

private:
    void* handle_ = nullptr;
    const LADSPA_Descriptor* descriptor_ = nullptr;
};

} // namespace marlix::plugins
