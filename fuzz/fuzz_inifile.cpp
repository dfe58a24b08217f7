// Arbitrary bytes as an INI file: parse, list, read every key as every type, change it,
// save it and check that what was saved reads back the same.
#include "settings/inifile.h"

#include "fuzz/fuzzsupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using marlix::fuzz::Check;

const std::string& Folder()
{
    static const marlix::fuzz::TFolder folder("fuzz_inifile");
    return folder.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace marlix;
    const std::string path = Folder() + "in.ini";
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    TIniFile ini(path);
    const auto sections = ini.ReadSections();
    for (const auto& section : sections) {
        Check(ini.SectionExists(section), "listed section exists");
        for (const auto& key : ini.ReadSection(section)) {
            Check(ini.ValueExists(section, key), "listed key exists");
            ini.ReadString(section, key, "");
            ini.ReadInteger(section, key, 0);
            ini.ReadBool(section, key, false);
            ini.ReadFloat(section, key, 0);
        }
    }

    // Values written are read back as written.
    const bool usable = !sections.empty() && sections.front().find('\r') == std::string::npos;
    const std::string section = usable ? sections.front() : "Fuzz";
    std::string value = text.substr(0, 64);
    std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
    Check(ini.WriteString(section, "FuzzKey", value), "write string");
    Check(ini.ReadString(section, "fuzzkey", "?") == value, "string read back");
    const double quarter = static_cast<double>(size) / 4;
    Check(ini.WriteFloat(section, "FuzzFloat", quarter), "write float");
    Check(ini.ReadFloat(section, "FuzzFloat", -1) == quarter, "float read back");
    if (sections.size() > 1)
        ini.EraseSection(sections[1]);
    ini.DeleteKey(section, "FuzzKey");
    Check(!ini.ValueExists(section, "FuzzKey"), "key deleted");

    Check(ini.UpdateFile(), "saved");
    TIniFile again(path);
    Check(again.Text() == ini.Text(), "saved text reads back");
    Check(again.ReadSections() == ini.ReadSections(), "saved sections read back");
    return 0;
}
