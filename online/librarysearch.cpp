#include "online/librarysearch.h"

#include "online/libraryendpoints.h"
#include "player/pending.h"
#include "settings/inifile.h"

#include <filesystem>

namespace marlix {

bool TLibrarySearch::Search(const TLibraryEndpoints& endpoints, const std::string& query,
                            const std::string& resultFile, bool append, const TInetLimits& limits)
{
    std::vector<std::string> lines;
    if (!InetFetchLines(endpoints.SearchBaseUrl + "/search?" + query, lines, limits))
        return false;
    std::string text;
    if (append) {
        std::vector<uint8_t> old;
        if (ReadFileBytes(resultFile, old))
            text.assign(old.begin(), old.end());
        if (!text.empty() && text.back() != '\n')
            text += "\r\n";
    }
    for (const std::string& line : lines)
        text += PercentDecode(line) + "\r\n";
    return WriteFileAtomic(resultFile, text);
}

std::vector<TLibrarySearch::TResult> TLibrarySearch::Results(const std::string& resultFile)
{
    std::vector<TResult> out;
    if (!std::filesystem::exists(resultFile))
        return out;
    const TIniFile ini(resultFile);
    for (const std::string& s : ini.ReadSections()) {
        if (s.empty())
            continue;
        out.push_back({s, ini.ReadString(s, "Title", ""), ini.ReadString(s, "Artist", ""), ini.ReadString(s, "MP3", ""),
                       ini.ReadString(s, "Home", "")});
    }
    return out;
}

void TLibrarySearch::AddResults(const std::string& resultFile, TPendingAdditions& pending)
{
    for (const TResult& r : Results(resultFile))
        pending.Add(r.Title + "*" + r.Mp3);
}

bool TLibrarySearch::IsLibraryId(const std::string& section)
{
    return section.size() == 16 && section.find('.') == std::string::npos;
}

} // namespace marlix
