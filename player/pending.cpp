#include "player/pending.h"

#include <utility>

namespace marlix {

void TPendingAdditions::Add(std::string entry)
{
    std::lock_guard lock(Lock);
    Entries.push_back(std::move(entry));
}

void TPendingAdditions::Add(const std::vector<std::string>& entries)
{
    std::lock_guard lock(Lock);
    Entries.insert(Entries.end(), entries.begin(), entries.end());
}

std::vector<std::string> TPendingAdditions::Take()
{
    std::lock_guard lock(Lock);
    return std::exchange(Entries, {});
}

void TPendingAdditions::Clear()
{
    std::lock_guard lock(Lock);
    Entries.clear();
}

bool TPendingAdditions::Empty() const
{
    std::lock_guard lock(Lock);
    return Entries.empty();
}

size_t TPendingAdditions::Count() const
{
    std::lock_guard lock(Lock);
    return Entries.size();
}

TPendingAdditions& PendingAdditions()
{
    static TPendingAdditions pending;
    return pending;
}

} // namespace marlix
