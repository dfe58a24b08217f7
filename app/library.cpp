// marlixaudio-library: the online library's server.
//   marlixaudio-library [--db FILE|URI] [--port N] [--bind ADDRESS] [--news FILE]
//                       [--max-connections N] [--max-per-address N]
//   marlixaudio-library [--db FILE|URI] import FOLDER
#include "server/catalogue.h"
#include "server/libraryserver.h"
#include "server/tagreader.h"

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

marlix::TLibraryServer* gServer = nullptr;

void StopOnSignal(int)
{
    if (gServer)
        gServer->Stop();
}

int Usage()
{
    std::cerr << "usage: marlixaudio-library [--db FILE|postgresql://...] [--port N] [--bind ADDRESS] [--news FILE]\n"
                 "                           [--max-connections N] [--max-per-address N]\n"
                 "       marlixaudio-library [--db FILE|postgresql://...] import FOLDER\n";
    return 2;
}

const char* const kDefaultNews = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Information</title>"
                                 "</head><body><p>Tonkara</p></body></html>\n";

int Import(marlix::TCatalogue& catalogue, const std::string& folder)
{
    std::vector<std::string> skipped;
    const auto tracks = marlix::ReadFolderTags(folder, skipped);
    for (const auto& s : skipped)
        std::cerr << "skipped (not readable, or outside the folder): " << s << "\n";
    std::error_code ec;
    if (!catalogue.Store(tracks, std::filesystem::canonical(folder, ec).string())) {
        std::cerr << "import failed; the catalogue is unchanged\n";
        return 1;
    }
    for (const auto& t : tracks)
        std::cout << t.Id << '\t' << t.Artist << '\t' << t.Title << '\n';
    return 0;
}

// A whole number in [low, high], or -1.
int Count(const char* text, int low, int high)
{
    try {
        size_t used = 0;
        const int n = std::stoi(text, &used);
        return text[used] == 0 && n >= low && n <= high ? n : -1;
    } catch (...) {
        return -1;
    }
}

// Room for every connection the server may hold, within what the system allows.
void RaiseFileLimit(unsigned connections)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, connections + 64);
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = wanted;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string db = "library.db", bind = "127.0.0.1", newsFile, importFolder;
    int port = 8080;
    marlix::THttpLimits limits;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--db" && more)
            db = argv[++i];
        else if (a == "--bind" && more)
            bind = argv[++i];
        else if (a == "--news" && more)
            newsFile = argv[++i];
        else if (a == "--port" && more) {
            if ((port = Count(argv[++i], 0, 65535)) < 0)
                return Usage();
        } else if ((a == "--max-connections" || a == "--max-per-address") && more) {
            const int n = Count(argv[++i], 1, 100000);
            if (n < 0)
                return Usage();
            (a == "--max-connections" ? limits.MaxConnections : limits.MaxPerAddress) = static_cast<unsigned>(n);
        } else if (a == "import" && more)
            importFolder = argv[++i];
        else
            return Usage();
    }
    try {
        marlix::TCatalogue catalogue(db);
        if (!importFolder.empty())
            return Import(catalogue, importFolder);
        std::string news = kDefaultNews;
        if (!newsFile.empty()) {
            std::ifstream in(newsFile, std::ios::binary);
            if (!in) {
                std::cerr << "cannot read " << newsFile << "\n";
                return 1;
            }
            std::ostringstream text;
            text << in.rdbuf();
            news = text.str();
        }
        RaiseFileLimit(limits.MaxConnections);
        std::signal(SIGPIPE, SIG_IGN);
        marlix::TLibraryServer server(catalogue, news, limits);
        const int bound = server.Bind(bind, port);
        if (bound < 0) {
            std::cerr << "cannot listen on " << bind << ":" << port << "\n";
            return 1;
        }
        gServer = &server;
        std::signal(SIGTERM, StopOnSignal);
        std::signal(SIGINT, StopOnSignal);
        std::cout << "listening on " << bind << ":" << bound << std::endl;
        const bool served = server.Listen();
        gServer = nullptr;
        if (!served) {
            std::cerr << "cannot start the server\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
