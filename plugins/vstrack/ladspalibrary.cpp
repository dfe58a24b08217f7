#include "plugins/vstrack/ladspalibrary.h"

#include <dlfcn.h>

namespace marlix::plugins {

namespace {

// What the bridge relies on when it runs the plug-in.
bool Usable(const LADSPA_Descriptor* d)
{
    return d && d->instantiate && d->connect_port && d->run && d->cleanup &&
           (d->PortCount == 0 || (d->PortDescriptors && d->PortRangeHints));
}

} // namespace

TLadspaLibrary::~TLadspaLibrary() { Close(); }

bool TLadspaLibrary::Open(const std::string& file)
{
    Close();
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        return false;
    auto entry = reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(handle_, "ladspa_descriptor"));
    descriptor_ = entry ? entry(0) : nullptr;
    if (!Usable(descriptor_)) {
        Close();
        return false;
    }
    return true;
}

void TLadspaLibrary::Close()
{
    descriptor_ = nullptr;
    if (handle_)
        dlclose(handle_);
    handle_ = nullptr;
}

} // namespace marlix::plugins
