#include "server/libraryquery.h"

#include <algorithm>
#include <charconv>

namespace marlix {

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Decimal digits only; anything longer than the limit's digits counts as the limit.
std::optional<int> Count(const std::string& v, int limit)
{
    if (v.empty() || v.size() > 64 || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int n = 0;
    const auto r = std::from_chars(v.data(), v.data() + v.size(), n);
    if (r.ec == std::errc::result_out_of_range || n > limit)
        return limit;
    return n;
}

bool SetSort(TLibraryQuery& q, const std::string& v)
{
    const std::string s = Lower(v);
    if (s == "random")
        q.Sort = TLibraryQuery::TSort::Random;
    else if (s == "new")
        q.Sort = TLibraryQuery::TSort::New;
    else if (s.starts_with("rank") && s.size() <= 5 && (s.size() == 4 || (s[4] >= '0' && s[4] <= '7'))) {
        q.Sort = TLibraryQuery::TSort::Rank;
        q.RankWeek = s.size() == 5 ? s[4] - '0' : 0;
    } else
        return false;
    return true;
}

bool SetField(TLibraryQuery& q, const std::string& key, const std::string& value)
{
    const std::string k = Lower(key);
    if (k == "max") {
        const auto n = Count(value, TLibraryQuery::MaxResults);
        q.Max = n.value_or(-1);
        return n.has_value();
    }
    if (k == "sort")
        return SetSort(q, value);
    if (k == "open") {
        const auto n = Count(value, 4);
        q.Open = n.value_or(0);
        return n && *n >= 1 && *n <= 3;
    }
    if (k == "ext") {
        q.Ext = Lower(value);
        return q.Ext == "mp3" || q.Ext == "wav" || q.Ext == "mpg" || q.Ext == "mid";
    }
    if (k == "artist")
        q.Artist = value;
    else if (k == "title")
        q.Title = value;
    else if (k == "genre")
        q.Genre = value;
    return true;
}

} // namespace

std::optional<std::string> QueryDecode(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] != '%') {
            out += text[i];
        } else {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
            if (hi < 0 || lo < 0 || (hi == 0 && lo == 0))
                return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        }
    }
    return out;
}

std::optional<TLibraryQuery> TLibraryQuery::Parse(const std::string& query)
{
    if (query.size() > 4096)
        return std::nullopt;
    TLibraryQuery q;
    size_t start = 0;
    while (start < query.size()) {
        const auto end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        start = end + 1;
        if (pair.empty())
            continue;
        const auto eq = pair.find('=');
        const auto key = QueryDecode(pair.substr(0, eq));
        const auto value = QueryDecode(eq == std::string::npos ? std::string() : pair.substr(eq + 1));
        if (!key || !value || value->size() > 256 || !SetField(q, *key, *value))
            return std::nullopt;
    }
    return q;
}

} // namespace marlix
