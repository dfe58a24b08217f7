#pragma once
#include <mutex>
#include <string>
#include <vector>

namespace marlix {

// Strings waiting to enter the playlist: locations (file paths or URLs), "title*location"
// entries and "#EXTINF" title lines. Any thread may append; the playlist takes them all
// at once on its tick.
class TPendingAdditions {
public:
    void Add(std::string entry);
    void Add(const std::vector<std::string>& entries);
    // Everything waiting, in the order it was added; the list is empty afterwards.
    std::vector<std::string> Take();
    void Clear();
    bool Empty() const;
    size_t Count() const;

private:
    mutable std::mutex Lock;
    std::vector<std::string> Entries;
};

// The process-wide pending additions.
TPendingAdditions& PendingAdditions();

} // namespace marlix
