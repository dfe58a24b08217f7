#pragma once
// Shared by the fuzz targets that work on files: a private folder for one run, and a
// check that stops the run loudly.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace marlix::fuzz {

// Removed at exit; in memory where possible, since saving syncs every file.
struct TFolder {
    std::string path;
    explicit TFolder(const char* name)
    {
        const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/" : "/tmp/";
        std::string pattern = base + name + "-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        path = pattern + "/";
    }
    ~TFolder() { std::filesystem::remove_all(path); }
};

inline void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "failed: %s\n", what);
        std::abort();
    }
}

} // namespace marlix::fuzz
