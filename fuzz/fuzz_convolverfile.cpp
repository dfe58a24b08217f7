// Arbitrary bytes as a convolver file: loaded, saved and loaded again, which must give
// the same record and the same bytes.
#include "settings/settingconvolver.h"

#include "fuzz/fuzzsupport.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const std::string& Folder()
{
    static const marlix::fuzz::TFolder folder("fuzz_convolverfile");
    return folder.path;
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace marlix;
    const std::string input = Folder() + "in.convolver";
    const std::string output = Folder() + "out.convolver";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    TSettingConvolver first;
    first.Load(input);
    for (const auto& c : first.Conv)
        if (c.HasIR && (c.IR.empty() || c.IR.size() != static_cast<size_t>(c.IRLength)))
            std::abort();
    if (!first.Save(output))
        std::abort();
    TSettingConvolver second;
    second.Load(output);
    if (!(second == first) || second.Serialize() != ReadFile(output))
        std::abort();
    return 0;
}
