#pragma once
// Loading plug-ins and libraries straight from the build for their tests.
#include "plugins/aep.h"
#include "support/testutil.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace marlix::test {

inline std::string TestPluginFile(const std::string& name) { return std::string(MARLIX_TEST_PLUGIN_DIR) + name; }
inline std::string ProgramFile(const std::string& name) { return std::string(MARLIX_TEST_BIN_DIR) + name; }

// One dlopen of a file, closed with the object.
class Library {
public:
    explicit Library(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
    {
        if (!handle_)
            ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
    }
    ~Library()
    {
        if (handle_)
            dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Has(const char* name) const { return handle_ && dlsym(handle_, name); }
    // The named export; fails the test when it is missing.
    template <class F> F Get(const char* name) const
    {
        void* f = handle_ ? dlsym(handle_, name) : nullptr;
        if (!f)
            ADD_FAILURE() << "missing export " << name;
        return reinterpret_cast<F>(f);
    }

private:
    void* handle_;
};

inline std::string CopyInto(const std::string& folder, const std::string& source, const std::string& name)
{
    std::filesystem::copy_file(source, folder + name);
    return folder + name;
}

// A private copy of a file, loaded: its globals are this test's own.
class PrivateCopy {
public:
    explicit PrivateCopy(const std::string& source)
        : path_(CopyInto(dir_.Path(), source, std::filesystem::path(source).filename().string())), library_(path_)
    {
    }
    const std::string& Path() const { return path_; }
    const std::string& Folder() const { return dir_.Path(); }
    const Library& Lib() const { return library_; }
    template <class F> F Get(const char* name) const { return library_.Get<F>(name); }

private:
    TempDir dir_;
    std::string path_;
    Library library_;
};

// Planar float channels and the pointer array PostWave takes.
struct Block {
    Block(int channels, int count) : Data(channels, std::vector<float>(count)) { Point(); }
    Block(const Block& other) : Data(other.Data) { Point(); }
    Block& operator=(const Block&) = delete;
    float** Channels() { return Pointers.data(); }
    std::vector<std::vector<float>> Data;
    std::vector<float*> Pointers;

private:
    void Point()
    {
        for (auto& c : Data)
            Pointers.push_back(c.data());
    }
};

// The library's exported (dynamic, defined) symbols, as nm lists them: "T GetPlugName".
inline std::vector<std::string> DynamicSymbols(const std::string& path)
{
    std::vector<std::string> symbols;
    const std::string out = RunCommand("nm -D --defined-only '" + path + "'");
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        const std::string line = out.substr(start, end - start);
        // "<address> <type> <name>"
        if (const size_t space = line.find(' '); space != std::string::npos)
            symbols.push_back(line.substr(space + 1));
        start = end + 1;
    }
    return symbols;
}

} // namespace marlix::test
