#pragma once
#include <string>
#include <vector>

namespace marlix::cli {

// plan ORDER complex|real forward|inverse: measures one transform plan and prints its
// wisdom (the transform library's background measuring runs this). plan --common:
// measures the sizes the chain uses most, for the install. Not listed in the usage.
int Plan(const std::vector<std::string>& args);

} // namespace marlix::cli
