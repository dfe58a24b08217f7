#pragma once
#include "platform/inet/inet.h"

#include <string>
#include <vector>

namespace marlix {

struct TLibraryEndpoints;
class TPendingAdditions;

// The search against the library server and the result file ("current.ini") it fills:
// one section per result, named by the track's identifier, with "MP3", "Title",
// "Artist" and "Home".
class TLibrarySearch {
public:
    static constexpr const char* FailureMessage =
        "検索に失敗しました。\r\r・正しくインターネットに接続されていることを確認してください。\r"
        "・サーバに何らかの障害が発生している可能性があります。\rしばらく待ってから再度検索を実行してください。";

    // Fetches search base URL + "/search?" + query and writes the decoded lines to the
    // result file (appended when asked and the file exists). On failure, an answer cut by
    // the cap or the time limit among them, the file is left as it was and false is
    // returned.
    static bool Search(const TLibraryEndpoints& endpoints, const std::string& query, const std::string& resultFile,
                       bool append = false, const TInetLimits& limits = {});
    // Appends "Title*MP3" of every section, in order.
    static void AddResults(const std::string& resultFile, TPendingAdditions& pending);

    struct TResult {
        std::string Id, Title, Artist, Mp3, Home;
    };
    static std::vector<TResult> Results(const std::string& resultFile);
    // A section name that is 16 characters long without "." names a track of the library.
    static bool IsLibraryId(const std::string& section);
};

} // namespace marlix
