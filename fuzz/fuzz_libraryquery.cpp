// Arbitrary bytes as the library server's input: as a search query string (parsed, and
// answered from a small catalogue) and as a play report's body. The answer must stay a
// well-formed result file whatever the query was.
#include "server/catalogue.h"
#include "server/libraryquery.h"
#include "server/libraryserver.h"

#include "fuzz/fuzzsupport.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

using marlix::fuzz::Check;

marlix::TCatalogue& Catalogue()
{
    static marlix::TCatalogue catalogue(":memory:");
    static const bool seeded = catalogue.Store({
        {"00000000000000A1", "Alpha", "Bach", "Classical", "1999", "/m/a.mp3", "", 0},
        {"00000000000000A2", "Beta\r\n[X]", "O'Brien %", "Jazz", "2005", "/m/b.wav", "", 0},
        {"00000000000000A3", "曲", "歌手", "jazz", "2001", "http://else/c.mp3", "", 0},
    });
    Check(seeded, "seeding the catalogue");
    return catalogue;
}

// Every line a section header or "Key=value" of printable ASCII.
bool WellFormed(const std::string& answer)
{
    size_t start = 0;
    while (start < answer.size()) {
        const auto end = answer.find("\r\n", start);
        if (end == std::string::npos)
            return false;
        const std::string line = answer.substr(start, end - start);
        for (unsigned char c : line)
            if (c < 0x20 || c >= 0x7f)
                return false;
        if (!(line.starts_with("[") && line.ends_with("]")) && line.find('=') == std::string::npos)
            return false;
        start = end + 2;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    marlix::TLibraryServer server(Catalogue(), "");
    if (const auto q = marlix::TLibraryQuery::Parse(input)) {
        Check(q->Max >= 0 && q->Max <= marlix::TLibraryQuery::MaxResults, "count in range");
        Check(q->RankWeek >= 0 && q->RankWeek <= 7, "week in range");
        const auto answer = server.SearchAnswer(input, "127.0.0.1:8080");
        Check(answer.has_value(), "a readable query is answered");
        Check(WellFormed(*answer), "the answer is a well-formed result file");
        Check(static_cast<int>(std::count(answer->begin(), answer->end(), '[')) <= 3 * 3, "at most the catalogue");
    } else {
        Check(!server.SearchAnswer(input, "h").has_value(), "an unreadable query gets no answer");
    }
    Check(!server.CountReport(input) || input.find('\r') != std::string::npos, "a report needs its two parts");
    return 0;
}
