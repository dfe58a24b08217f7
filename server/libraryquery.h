#pragma once
#include <optional>
#include <string>

namespace marlix {

// A search request as the library server reads it: "Max=..&Sort=..&Artist=..&Title=..
// &Genre=..&Open=..&Ext=..". Unknown keys are ignored; a value that cannot be read
// rejects the whole query.
struct TLibraryQuery {
    static constexpr int MaxResults = 100;
    enum class TSort { Random, New, Rank };

    int Max = 10;        // clamped to 0..MaxResults
    TSort Sort = TSort::Random;
    int RankWeek = 0;    // 0..7
    std::string Artist, Title, Genre;
    int Open = 3;        // bit 0 library, bit 1 web
    std::string Ext;     // empty, "mp3", "wav", "mpg" or "mid"

    static std::optional<TLibraryQuery> Parse(const std::string& query);
};

// "%XY" escapes to bytes; nullopt on a malformed escape.
std::optional<std::string> QueryDecode(const std::string& text);

} // namespace marlix
