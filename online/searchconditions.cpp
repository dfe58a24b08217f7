#include "online/searchconditions.h"

#include "settings/inifile.h"

#include <algorithm>
#include <filesystem>

namespace marlix {

namespace {

const char* const kSection = "Favorite";

// Bytes that would end or bend the query (separators, blanks, escapes, non-ASCII) as
// "%XY"; plain text stays as typed.
std::string QueryValue(const std::string& value)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if (c <= 0x20 || c >= 0x7f || std::string_view("%&=+#?").find(static_cast<char>(c)) != std::string_view::npos) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

const std::vector<std::string>& TSearchConditions::Targets()
{
    static const std::vector<std::string> targets{"mp3", "wav", "mpg", "mid"};
    return targets;
}

int TSearchConditions::Open() const
{
    return (Library ? 1 : 0) | (Web ? 2 : 0);
}

std::string TSearchConditions::Query() const
{
    std::string q = "Max=" + std::to_string(Max);
    switch (Order) {
    case TOrder::New: q += "&Sort=New"; break;
    case TOrder::Rank: q += "&Sort=Rank" + std::to_string(RankWeek); break;
    default: q += "&Sort=Random"; break;
    }
    if (!Artist.empty())
        q += "&Artist=" + QueryValue(Artist);
    if (!Title.empty())
        q += "&Title=" + QueryValue(Title);
    if (!Genre.empty())
        q += "&Genre=" + QueryValue(Genre);
    q += "&Open=" + std::to_string(Open());
    if (Target > 0 && Target < static_cast<int>(Targets().size()))
        q += "&Ext=" + Targets()[static_cast<size_t>(Target)];
    return q;
}

void TSearchConditions::LoadFavourite(const std::string& file)
{
    const TIniFile ini(file);
    const auto& targets = Targets();
    const auto it = std::find(targets.begin(), targets.end(), ini.ReadString(kSection, "Target", ""));
    Target = it == targets.end() ? 0 : static_cast<int>(it - targets.begin());
    const int open = ini.ReadInteger(kSection, "Open", 3);
    Library = (open & 1) != 0;
    Web = (open & 2) != 0;
    Artist = ini.ReadString(kSection, "Artist", "");
    Title = ini.ReadString(kSection, "Title", "");
    Genre = ini.ReadString(kSection, "Genre", "");
    Order = static_cast<TOrder>(std::clamp(ini.ReadInteger(kSection, "Sort", 0), 0, 2));
    RankWeek = std::clamp(ini.ReadInteger(kSection, "Rank", 0), 0, 7);
    Max = std::clamp(ini.ReadInteger(kSection, "Max", 100), 0, MaxCount);
}

bool TSearchConditions::SaveFavourite(const std::string& file) const
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
    TIniFile ini(file);
    ini.WriteString(kSection, "Target", Targets()[static_cast<size_t>(std::clamp(Target, 0, 3))]);
    ini.WriteInteger(kSection, "Open", Open());
    ini.WriteString(kSection, "Artist", Artist);
    ini.WriteString(kSection, "Title", Title);
    ini.WriteString(kSection, "Genre", Genre);
    ini.WriteInteger(kSection, "Sort", static_cast<int>(Order));
    ini.WriteInteger(kSection, "Rank", RankWeek);
    ini.WriteInteger(kSection, "Max", Max);
    return ini.UpdateFile();
}

} // namespace marlix
