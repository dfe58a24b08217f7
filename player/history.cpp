#include "player/history.h"

#include "base/programfolder.h"
#include "player/playerstate.h"
#include "settings/inifile.h"
#include "settings/settings.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace marlix {

namespace {

constexpr const char* CountSection = "Count";
constexpr const char* DateSection = "Date";

// Splits a path into its folder and its name; a trailing "/" is ignored.
std::pair<std::string, std::string> SplitPath(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

} // namespace

double ToDateTime(std::chrono::system_clock::time_point when)
{
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(when);
    const std::time_t t = system_clock::to_time_t(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    const year_month_day date{year{local.tm_year + 1900}, month{static_cast<unsigned>(local.tm_mon + 1)},
                              day{static_cast<unsigned>(local.tm_mday)}};
    const year_month_day epoch{year{1899}, month{12}, day{30}};
    const double days = (sys_days{date} - sys_days{epoch}).count();
    const double secondOfDay = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
                               duration<double>(when - seconds).count();
    return days + secondOfDay / 86400.0;
}

double DateTimeNow() { return ToDateTime(std::chrono::system_clock::now()); }

THistory::THistory(std::string folder) : HistoryFolder(std::move(folder)) {}

THistory::THistory() : THistory(ProgramFolder() + "history/") {}

std::string THistory::FileFor(const std::string& folder) const
{
    std::string key = folder;
    while (!key.empty() && key.back() == '/')
        key.pop_back();
    std::replace(key.begin(), key.end(), '/', '_');
    std::replace(key.begin(), key.end(), ':', '_');
    return HistoryFolder + key + ".ini";
}

bool THistory::CountPlay(const std::string& path, double when)
{
    std::error_code ec;
    std::filesystem::create_directories(HistoryFolder, ec);
    const auto [folder, name] = SplitPath(path);
    TIniFile ini(FileFor(folder));
    const int count = ini.ReadInteger(CountSection, name, 0);
    return ini.WriteInteger(CountSection, name, count + 1) && ini.WriteFloat(DateSection, name, when) &&
           ini.UpdateFile();
}

bool THistory::RecordTrackPlay(const std::string& path, double when)
{
    const bool counted = CountPlay(path, when);
    std::ofstream log(LogFile(), std::ios::binary | std::ios::app);
    log << FormatFloat(when) << ',' << path << '\n';
    log.flush();
    return counted && log.good();
}

int THistory::Count(const std::string& path) const
{
    const auto [folder, name] = SplitPath(path);
    return TIniFile(FileFor(folder)).ReadInteger(CountSection, name, 0);
}

double THistory::Date(const std::string& path) const
{
    const auto [folder, name] = SplitPath(path);
    return TIniFile(FileFor(folder)).ReadFloat(DateSection, name, 0);
}

std::vector<THistoryEntry> THistory::ReadFolder(const std::string& folder) const
{
    const TIniFile ini(FileFor(folder));
    std::vector<THistoryEntry> entries;
    auto find = [&](const std::string& name) {
        return std::find_if(entries.begin(), entries.end(),
                            [&](const THistoryEntry& e) { return e.Name == name; });
    };
    for (const auto& name : ini.ReadSection(CountSection))
        entries.push_back({name, ini.ReadInteger(CountSection, name, 0), ini.ReadFloat(DateSection, name, 0)});
    for (const auto& name : ini.ReadSection(DateSection))
        if (find(name) == entries.end())
            entries.push_back({name, 0, ini.ReadFloat(DateSection, name, 0)});
    return entries;
}

void RecordOpenedTrack(const std::string& file)
{
    if (!Settings().Function.bSaveHistory)
        return;
    THistory history;
    std::error_code ec;
    std::filesystem::create_directories(history.Folder(), ec);
    if (!PlayerState().BGMActive && std::filesystem::is_regular_file(file, ec))
        history.RecordTrackPlay(file);
}

void THistory::Clear() const
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(Folder(), ec))
        if (entry.is_regular_file(ec) && entry.path().extension() == ".ini")
            std::filesystem::remove(entry.path(), ec);
    std::filesystem::remove(LogFile(), ec);
}

} // namespace marlix
