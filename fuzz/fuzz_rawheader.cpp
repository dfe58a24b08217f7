// Feeds arbitrary bytes to the raw-file reader: alone, and as one of two files of a side
// whose other file has the same header and length but different samples.
#include "base/flexfilebuf.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

void Drain(marlix::TFlexFileBuf& buf)
{
    static const int kSizes[] = {1, 7, 100, 4096, 3};
    for (int i = 0; buf.ReadBlock(kSizes[i % 5]) > 0; ++i) {
    }
}

void Exercise(const std::vector<std::string>& names)
{
    marlix::TFlexFileBuf buf;
    const int count = static_cast<int>(names.size());
    if (buf.OpenFile(marlix::TFlexFileBuf::ReadSide, names, 0, 0, count, count) != 0)
        return;
    Drain(buf);
    buf.SeekFrame(marlix::TFlexFileBuf::ReadSide, buf.GetFileLength(0) / 2);
    Drain(buf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string stem = "/tmp/marlix-fuzz-" + std::to_string(::getpid()) + "-rawheader";
    const std::string name = stem + ".raw", other = stem + "-2.raw";
    std::vector<uint8_t> bytes(data, data + size);
    WriteFile(name, bytes);
    for (size_t i = 8; i < bytes.size(); ++i)
        bytes[i] ^= 0xFF;
    WriteFile(other, bytes);
    Exercise({name});
    Exercise({other, name});
    std::remove(name.c_str());
    std::remove(other.c_str());
    return 0;
}
