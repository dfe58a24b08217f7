#pragma once
#include <string>
#include <vector>

namespace marlix {

// Names given to the player (dropped, or on the command line) as playlist entries, in
// order: a folder becomes the files below it whose extension is in `extensions` (the
// comma-separated "BrowseExts"), in natural order ("2 two" before "10 ten"); an
// existing file stays itself. Other names (URLs, files that do not exist) are kept
// when `keepOthers` is set and dropped otherwise.
std::vector<std::string> ExpandNames(const std::vector<std::string>& names, const std::string& extensions,
                                     bool keepOthers);

// Names with numbers in their natural order.
bool NaturalLess(const std::string& a, const std::string& b);

} // namespace marlix
