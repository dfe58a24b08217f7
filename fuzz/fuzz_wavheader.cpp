// Feeds arbitrary bytes to the WAV reader as a file: open, read to the end in blocks of
// varying size, seek to the middle and read again; also as both files of a two-file side.
#include "base/flexfilebuf.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void WriteFile(const std::string& name, const uint8_t* data, size_t size)
{
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        if (size > 0)
            std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

void Drain(marlix::TFlexFileBuf& buf)
{
    static const int kSizes[] = {1, 7, 100, 4096, 3};
    for (int i = 0; buf.ReadBlock(kSizes[i % 5]) > 0; ++i) {
    }
}

void Exercise(const std::vector<std::string>& names, int fileCount)
{
    marlix::TFlexFileBuf buf;
    if (buf.OpenFile(marlix::TFlexFileBuf::ReadSide, names, 0, 0, fileCount, fileCount) != 0)
        return;
    Drain(buf);
    buf.SeekFrame(marlix::TFlexFileBuf::ReadSide, buf.GetFileLength(0) / 2);
    Drain(buf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string name = "/tmp/marlix-fuzz-" + std::to_string(::getpid()) + "-wavheader.wav";
    WriteFile(name, data, size);
    Exercise({name}, 0);
    Exercise({name, name}, 2);
    std::remove(name.c_str());
    return 0;
}
