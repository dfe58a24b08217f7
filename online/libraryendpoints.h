#pragma once
#include "platform/inet/inet.h"

#include <string>

namespace marlix {

// The library server's host when MARLIX_LIBRARY_HOST does not name another.
inline constexpr const char* kLibraryHost = "tonkara.marlix-audio.net";

// Where the online library lives: fixed once at start, read by every request.
struct TLibraryEndpoints {
    std::string Host;          // "name" or "name:port"
    std::string BaseUrl;       // "http://" + host + "/tonkara/"
    std::string CountPath;     // "/tonkara/center2.tks"
    std::string SearchBaseUrl; // base URL + "center2.tks"

    TInetHost InetHost() const { return TInetHost{Host}; }
    static TLibraryEndpoints For(const std::string& host);
    // kLibraryHost, or MARLIX_LIBRARY_HOST when set and not empty.
    static TLibraryEndpoints FromEnvironment();
};

} // namespace marlix
