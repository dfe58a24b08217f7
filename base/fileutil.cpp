#include "base/fileutil.h"

#include <filesystem>
#include <set>
#include <system_error>

namespace marlix {
namespace fs = std::filesystem;
namespace {

std::string LowerExtension(const std::string& name)
{
    const auto dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char& ch : ext) {
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    }
    return ext;
}

bool Accepted(const std::string& name, const std::string& extensions)
{
    if (extensions.empty())
        return true;
    // Built with append: g++ 12 at -O3 warns falsely about chained operator+.
    std::string list(1, ',');
    list.append(extensions).append(1, ',');
    std::string wanted(1, ',');
    wanted.append(LowerExtension(name)).append(1, ',');
    return list.find(wanted) != std::string::npos;
}

class TLister {
public:
    TLister(std::vector<std::string>& list, bool recursive, const std::string& extensions,
            const std::function<bool()>& step)
        : Found(list), Recursive(recursive), Extensions(extensions), Step(step)
    {
    }

    // `folder` ends with "/".
    void List(const std::string& folder)
    {
        std::error_code ec;
        if (Recursive) {
            const fs::path real = fs::canonical(folder, ec);
            if (ec || !Visited.insert(real).second)
                return;
        }
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (Stopped || (Step && !Step())) {
                Stopped = true;
                return;
            }
            Take(folder, *it);
        }
    }

private:
    void Take(const std::string& folder, const fs::directory_entry& entry)
    {
        const std::string name = entry.path().filename().string();
        std::error_code ec;
        if (entry.is_directory(ec)) {
            if (Recursive)
                List(folder + name + "/");
            else
                Found.push_back(name);
        } else if (entry.is_regular_file(ec) && Accepted(name, Extensions)) {
            Found.push_back(Recursive ? folder + name : "!" + name);
        }
    }

    std::vector<std::string>& Found;
    const bool Recursive;
    const std::string& Extensions;
    const std::function<bool()>& Step;
    bool Stopped = false;
    std::set<fs::path> Visited;
};

// Entries are collected first, then removed; links are removed as links.
void RemoveTree(const fs::path& dir)
{
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    for (const auto& entry : entries) {
        std::error_code sec;
        if (entry.symlink_status(sec).type() == fs::file_type::directory)
            RemoveTree(entry.path());
        else
            fs::remove(entry.path(), sec);
    }
    fs::remove(dir, ec);
}

bool Gone(const fs::path& path)
{
    std::error_code ec;
    return fs::symlink_status(path, ec).type() == fs::file_type::not_found;
}

} // namespace

void ListFolder(const std::string& folder, std::vector<std::string>& list, bool recursive,
                const std::string& extensions)
{
    ListFolder(folder, list, recursive, extensions, {});
}

void ListFolder(const std::string& folder, std::vector<std::string>& list, bool recursive,
                const std::string& extensions, const std::function<bool()>& step)
{
    if (folder.empty())
        return;
    TLister(list, recursive, extensions, step).List(folder.back() == '/' ? folder : folder + "/");
}

bool DeleteTree(const std::string& folder)
{
    fs::path path = fs::path(folder).lexically_normal();
    if (!path.has_filename())
        path = path.parent_path();
    const fs::path last = path.filename();
    if (path.relative_path().empty() || last == "." || last == "..")
        return false;
    std::error_code ec;
    switch (fs::symlink_status(path, ec).type()) {
    case fs::file_type::not_found:
        return true;
    case fs::file_type::symlink:
        fs::remove(path, ec);
        break;
    case fs::file_type::directory:
        RemoveTree(path);
        break;
    default:
        return false;
    }
    return Gone(path);
}

} // namespace marlix
