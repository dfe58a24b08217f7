#pragma once
#include <string>
#include <vector>

namespace marlix::cli {

// "remote ...": hands one command to the running player of this program folder and prints
// its answer. Exit status 0 done, 2 usage, 4 no player answers, 5 the player refused.
int Remote(const std::vector<std::string>& args);

} // namespace marlix::cli
