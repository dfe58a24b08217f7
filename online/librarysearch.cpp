#include "online/librarysearch.h"

#include "online/libraryendpoints.h"
#include "player/pending.h"
#include "settings/inifile.h"

#include <filesystem>

namespace marlix {

bool TLibrarySearch::Search(const TLibraryEndpoints& endpoints, const std::string& query,
                            const std::string& resultFile, bool append, const TInetLimits& limits)
{
    // Only a whole answer replaces the results: one cut by the cap or the time limit is a
    // failure, and the file stays as it was.
    std::string body;
    if (!InetFetchWhole(endpoints.SearchBaseUrl + "/search?" + query, body, limits))
        return false;
    std::string text;
    if (append) {
        std::vector<uint8_t> old;
        if (ReadFileBytes(resultFile, old))
            text.assign(old.begin(), old.end());
        if (!text.empty() && text.back() != '\n')
            text += "\r\n";
    }
    for (const std::string& line : SplitLines(body))
        text += PercentDecode(line) + "\r\n";
    return WriteFileAtomic(resultFile, text);
}

std::vector<TLibrarySearch::TResult> TLibrarySearch::Results(const std::string& resultFile)
{
    std::vector<TResult> out;
    std::error_code ec;
    if (!std::filesystem::exists(resultFile, ec))
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
