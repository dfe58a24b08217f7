// marlixaudio-library: the online library's server.
//   marlixaudio-library [--db FILE] [--port N] [--bind ADDRESS] [--news FILE]
//   marlixaudio-library [--db FILE] import FOLDER
#include "server/catalogue.h"
#include "server/libraryserver.h"
#include "server/tagreader.h"

#include <csignal>
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
    std::cerr << "usage: marlixaudio-library [--db FILE] [--port N] [--bind ADDRESS] [--news FILE]\n"
                 "       marlixaudio-library [--db FILE] import FOLDER\n";
    return 2;
}

const char* const kDefaultNews = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Information</title>"
                                 "</head><body><p>Tonkara</p></body></html>\n";

int Import(marlix::TCatalogue& catalogue, const std::string& folder)
{
    std::vector<std::string> skipped;
    const auto tracks = marlix::ReadFolderTags(folder, skipped);
    for (const auto& s : skipped)
        std::cerr << "skipped (not readable): " << s << "\n";
    if (!catalogue.Store(tracks)) {
        std::cerr << "import failed; the catalogue is unchanged\n";
        return 1;
    }
    for (const auto& t : tracks)
        std::cout << t.Id << '\t' << t.Artist << '\t' << t.Title << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string db = "library.db", bind = "127.0.0.1", newsFile, importFolder;
    int port = 8080;
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
            try {
                port = std::stoi(argv[++i]);
            } catch (...) {
                return Usage();
            }
            if (port < 0 || port > 65535)
                return Usage();
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
        marlix::TLibraryServer server(catalogue, news);
        const int bound = server.Bind(bind, port);
        if (bound < 0) {
            std::cerr << "cannot listen on " << bind << ":" << port << "\n";
            return 1;
        }
        gServer = &server;
        std::signal(SIGTERM, StopOnSignal);
        std::signal(SIGINT, StopOnSignal);
        std::cout << "listening on " << bind << ":" << bound << std::endl;
        server.Listen();
        gServer = nullptr;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
