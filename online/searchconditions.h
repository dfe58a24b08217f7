#pragma once
#include <string>
#include <vector>

namespace marlix {

// The conditions of a library search, as the search dialog holds them, the query they
// make, and the favourite search files (".mxp") that keep them.
struct TSearchConditions {
    enum class TOrder { Random = 0, New = 1, Rank = 2 };
    static const std::vector<std::string>& Targets(); // "mp3", "wav", "mpg", "mid"
    static constexpr int MaxCount = 100;

    std::string Artist, Title, Genre;
    TOrder Order = TOrder::Random;
    int RankWeek = 0; // 0 latest .. 7 weeks ago
    int Max = 10;
    bool Library = true;
    bool Web = false;
    int Target = 0; // index into Targets()

    // 1 library only, 2 web only, 3 both; 0 when neither is searched.
    int Open() const;
    // "Max=..&Sort=..[&Artist=..][&Title=..][&Genre=..]&Open=..[&Ext=..]"; text values
    // keep plain ASCII as typed and escape the rest.
    std::string Query() const;
    // Reads section "Favorite"; missing keys take the favourite defaults (Open 3, Max 100).
    void LoadFavourite(const std::string& file);
    // Creates the folder when missing; false when the file cannot be written.
    [[nodiscard]] bool SaveFavourite(const std::string& file) const;
};

} // namespace marlix
