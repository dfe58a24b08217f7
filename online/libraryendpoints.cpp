#include "online/libraryendpoints.h"

#include <cstdlib>

namespace marlix {

TLibraryEndpoints TLibraryEndpoints::For(const std::string& host)
{
    TLibraryEndpoints e;
    e.Host = host;
    e.BaseUrl = "http://" + host + "/tonkara/";
    e.CountPath = "/tonkara/center2.tks";
    e.SearchBaseUrl = e.BaseUrl + "center2.tks";
    return e;
}

TLibraryEndpoints TLibraryEndpoints::FromEnvironment()
{
    const char* env = std::getenv("MARLIX_LIBRARY_HOST");
    return For(env && *env ? env : kLibraryHost);
}

} // namespace marlix
