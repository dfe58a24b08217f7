// Random write/read scripts against one FIFO in every reader mode; any disagreement
// with the stream model aborts.
#include "fuzz/fifo_script.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string error = marlix::fifoscript::Run(data, size);
    if (!error.empty()) {
        std::fprintf(stderr, "fifo script failed: %s\n", error.c_str());
        std::abort();
    }
    return 0;
}
