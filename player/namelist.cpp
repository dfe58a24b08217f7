#include "player/namelist.h"

#include "base/fileutil.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>

namespace marlix {
namespace {

bool IsDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string Lower(std::string s)
{
    std::string out;
    for (char c : s)
        if (c != ' ')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const size_t ei = std::min(a.find_first_not_of("0123456789", i), a.size());
            const size_t ej = std::min(b.find_first_not_of("0123456789", j), b.size());
            std::string_view x = std::string_view(a).substr(i, ei - i), y = std::string_view(b).substr(j, ej - j);
            x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
            y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> ExpandNames(const std::vector<std::string>& names, const std::string& extensions,
                                     bool keepOthers, const std::function<bool(size_t found)>& step)
{
    const std::string exts = Lower(extensions);
    std::vector<std::string> out;
    bool stopped = false;
    const auto goOn = [&](size_t found) {
        if (step && !stopped)
            stopped = !step(found);
        return !stopped;
    };
    for (const std::string& name : names) {
        if (!goOn(out.size()))
            break;
        std::error_code ec;
        if (!name.empty() && std::filesystem::is_directory(name, ec)) {
            std::vector<std::string> files;
            std::function<bool()> entryStep;
            if (step)
                entryStep = [&] { return goOn(out.size() + files.size()); };
            ListFolder(name, files, true, exts, entryStep);
            std::sort(files.begin(), files.end(), NaturalLess);
            out.insert(out.end(), files.begin(), files.end());
        } else if (keepOthers || std::filesystem::is_regular_file(name, ec)) {
            out.push_back(name);
        }
    }
    return out;
}

} // namespace marlix
