#include "online/playall.h"

#include <algorithm>

namespace marlix {

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The link that ends at the line's first ".mp3", or empty when that ".mp3" closes no link.
std::string LinkOf(const std::string& line)
{
    const std::string lower = Lower(line);
    const auto mp3 = lower.find(".mp3");
    if (mp3 == std::string::npos)
        return {};
    const std::string after = lower.substr(mp3 + 4, 2);
    if (!(after.starts_with(">") || after == "\">"))
        return {};
    std::string link = line.substr(0, mp3 + 4);
    for (auto href = Lower(link).find("href="); href != std::string::npos; href = Lower(link).find("href="))
        link.erase(0, href + 5);
    if (link.starts_with("\""))
        link.erase(0, 1);
    return link;
}

bool Acceptable(const std::string& url)
{
    if (std::count(url.begin(), url.end(), '/') < 3)
        return false;
    for (const char* bad : {".cgi", "<", ">", "*", "=", "＊"})
        if (url.find(bad) != std::string::npos)
            return false;
    return true;
}

} // namespace

std::vector<std::string> PlayAllLinks(const std::vector<std::string>& pageLines, const std::string& location)
{
    const std::string base = location.substr(0, location.rfind('/') + 1);
    std::vector<std::string> links;
    for (const std::string& line : pageLines) {
        std::string link = LinkOf(line);
        if (link.empty())
            continue;
        if (!link.starts_with("http://")) {
            if (link.starts_with("./"))
                link.erase(0, 2);
            else if (link.starts_with("/"))
                link.erase(0, 1);
            link = base + link;
        }
        if (Acceptable(link))
            links.push_back(link);
    }
    return links;
}

namespace {

// The URL's path: after the scheme's "//" and the host, before any query or fragment.
std::string UrlPath(const std::string& url)
{
    size_t start = 0;
    if (const auto scheme = url.find("://"); scheme != std::string::npos) {
        start = url.find_first_of("/?#", scheme + 3);
        if (start == std::string::npos || url[start] != '/')
            return {};
    }
    return url.substr(start, url.find_first_of("?#", start) - start);
}

} // namespace

bool IsAudioLink(const std::string& url)
{
    const std::string path = Lower(UrlPath(url));
    for (const char* ext : {".mp3", ".wav", ".mpg", ".mid"})
        if (path.ends_with(ext))
            return true;
    return false;
}

} // namespace marlix
