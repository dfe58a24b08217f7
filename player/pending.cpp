#include "player/pending.h"

#include <utility>

namespace marlix {

void TPendingAdditions::Add(std::string entry)
{
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

void TPendingAdditions::Add(const std::vector<std::string>& entries)
{
    std::lock_guard lock(mutex_);
    entries_.insert(entries_.end(), entries.begin(), entries.end());
}

std::vector<std::string> TPendingAdditions::Take()
{
    std::lock_guard lock(mutex_);
    return std::exchange(entries_, {});
}

void TPendingAdditions::Clear()
{
    std::lock_guard lock(mutex_);
    entries_.clear();
}

bool TPendingAdditions::Empty() const
{
    std::lock_guard lock(mutex_);
    return entries_.empty();
}

size_t TPendingAdditions::Count() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

TPendingAdditions& PendingAdditions()
{
    static TPendingAdditions pending;
    return pending;
}

} // namespace marlix
