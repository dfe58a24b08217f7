#include "dsp/efxslot.h"

namespace marlix {

std::string PlugDisplayName(const std::string& name)
{
    const auto bar = name.find('|');
    return bar == std::string::npos ? name : name.substr(bar + 1);
}

} // namespace marlix
