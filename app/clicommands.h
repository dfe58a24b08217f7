#pragma once
#include <string>
#include <vector>

namespace marlix::cli {

int Info(const std::vector<std::string>& args);
int Render(const std::vector<std::string>& args);
int Play(const std::vector<std::string>& args);
int Measure(const std::vector<std::string>& args);
int Search(const std::vector<std::string>& args);
int Download(const std::vector<std::string>& args);

} // namespace marlix::cli
