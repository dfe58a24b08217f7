#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace marlix {

// Names given to the player (dropped, or on the command line) as playlist entries, in
// order: a folder becomes the files below it whose extension is in `extensions` (the
// comma-separated "BrowseExts"), in natural order ("2 two" before "10 ten"); an
// existing file stays itself. Other names (URLs, files that do not exist) are kept
// when `keepOthers` is set and dropped otherwise. `step`, when given, is asked before
// each folder entry with the number of entries found so far; false stops the expansion
// early, and what it returns then is incomplete.
std::vector<std::string> ExpandNames(const std::vector<std::string>& names, const std::string& extensions,
                                     bool keepOthers, const std::function<bool(size_t found)>& step = {});

// Names with numbers in their natural order.
bool NaturalLess(const std::string& a, const std::string& b);

} // namespace marlix
