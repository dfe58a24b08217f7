#include "online/downloadlist.h"

#include "online/librarysearch.h"
#include "platform/inet/inet.h"
#include "settings/inifile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace marlix {

TDownloadRequest TDownloadRequest::Split(const std::string& request)
{
    const auto star = request.find('*');
    if (star == std::string::npos)
        return {UrlFileName(request), request};
    return {request.substr(0, star), request.substr(star + 1)};
}

std::string TDownloadRequest::DisplayName() const
{
    const auto cut = RelativeName.find_last_of("/\\");
    return cut == std::string::npos ? RelativeName : RelativeName.substr(cut + 1);
}

bool TDownloadRequest::SafeName() const
{
    const std::string& n = RelativeName;
    if (n.empty() || n[0] == '/' || n[0] == '\\' || (n.size() >= 2 && n[1] == ':'))
        return false;
    if (std::any_of(n.begin(), n.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
        return false;
    size_t start = 0;
    while (start <= n.size()) {
        const auto end = std::min(n.find_first_of("/\\", start), n.size());
        const std::string part = n.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

void TDownloadlist::Add(std::string request)
{
    {
        std::lock_guard lock(Mutex);
        TDownloadItem item;
        item.Request = std::move(request);
        item.Serial = NextSerial++;
        Entries.push_back(std::move(item));
    }
    ++ChangeCount;
    if (OnAdd)
        OnAdd();
}

size_t TDownloadlist::Count() const
{
    std::lock_guard lock(Mutex);
    return Entries.size();
}

std::optional<TDownloadItem> TDownloadlist::Item(size_t index) const
{
    std::lock_guard lock(Mutex);
    if (index >= Entries.size())
        return std::nullopt;
    return Entries[index];
}

std::vector<TDownloadItem> TDownloadlist::Items() const
{
    std::lock_guard lock(Mutex);
    return Entries;
}

size_t TDownloadlist::CountSelected() const
{
    std::lock_guard lock(Mutex);
    return static_cast<size_t>(std::count_if(Entries.begin(), Entries.end(), [](const auto& i) { return i.Selected; }));
}

void TDownloadlist::SetSelected(size_t index, bool selected)
{
    std::lock_guard lock(Mutex);
    if (index < Entries.size())
        Entries[index].Selected = selected;
}

void TDownloadlist::SelectAll(bool selected)
{
    std::lock_guard lock(Mutex);
    for (auto& i : Entries)
        i.Selected = selected;
}

void TDownloadlist::InvertSelection()
{
    std::lock_guard lock(Mutex);
    for (auto& i : Entries)
        i.Selected = !i.Selected;
}

void TDownloadlist::RemoveSelected()
{
    {
        std::lock_guard lock(Mutex);
        std::erase_if(Entries, [](const TDownloadItem& i) { return i.Selected; });
    }
    ++ChangeCount;
}

void TDownloadlist::Clear()
{
    {
        std::lock_guard lock(Mutex);
        Entries.clear();
    }
    ++ChangeCount;
}

std::optional<TDownloadItem> TDownloadlist::FirstPending() const
{
    std::lock_guard lock(Mutex);
    for (const auto& i : Entries)
        if (!i.Done && !i.Failed)
            return i;
    return std::nullopt;
}

void TDownloadlist::MarkOutcome(uint64_t serial, bool failed)
{
    std::lock_guard lock(Mutex);
    for (auto& i : Entries)
        if (i.Serial == serial) {
            (failed ? i.Failed : i.Done) = true;
            return;
        }
}

bool TDownloadlist::NameQueued(const std::string& relativeName) const
{
    std::lock_guard lock(Mutex);
    return std::any_of(Entries.begin(), Entries.end(), [&](const TDownloadItem& i) {
        return !i.Failed && TDownloadRequest::Split(i.Request).RelativeName == relativeName;
    });
}

bool TDownloadlist::SaveUnfinished(const std::string& file) const
{
    std::string text;
    for (const auto& i : Items())
        if (!i.Done && !i.Failed)
            text += i.Request + "\n";
    return text.empty() || WriteFileAtomic(file, text);
}

void TDownloadlist::LoadUnfinished(const std::string& file)
{
    std::ifstream in(file);
    if (!in)
        return;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            Add(line);
    }
    in.close();
    std::error_code ec;
    std::filesystem::remove(file, ec);
}

namespace {

std::string FileNamePart(std::string s)
{
    for (char& c : s)
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos ||
            static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return s;
}

// A folder or file name that is nothing but dots (or nothing) would leave its folder.
std::string PathPart(std::string s)
{
    s = FileNamePart(std::move(s));
    if (s.find_first_not_of('.') == std::string::npos)
        s = "_" + s;
    return s;
}

// At most `bytes` bytes, never ending inside a UTF-8 character.
std::string CutUtf8(std::string s, size_t bytes)
{
    if (s.size() <= bytes)
        return s;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
        --end;
    s.resize(end);
    return s;
}

// A name part leaves room for "_n" and the hidden partial file's "." and ".part" within
// the 255 bytes a file system allows.
constexpr size_t kNamePartBytes = 200;
constexpr size_t kExtensionBytes = 32;

bool Exists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

} // namespace

void MakeDownloadRequests(const std::vector<std::string>& candidates, const std::string& resultFile,
                          const std::string& folder, TDownloadlist& list)
{
    const auto results = TLibrarySearch::Results(resultFile);
    for (const std::string& url : candidates) {
        std::string artist = "Unknown", title = UrlFileName(url);
        const auto hit = std::find_if(results.begin(), results.end(), [&](const auto& r) { return r.Mp3 == url; });
        if (hit != results.end()) {
            if (!hit->Artist.empty())
                artist = hit->Artist;
            if (!hit->Title.empty())
                title = hit->Title;
        }
        const std::string file = UrlFileName(url);
        const auto dot = file.rfind('.');
        std::string ext = dot == std::string::npos ? std::string() : file.substr(dot);
        if (!ext.empty() && title.size() > ext.size() && title.ends_with(ext))
            title.resize(title.size() - ext.size());
        artist = PathPart(CutUtf8(artist, kNamePartBytes));
        ext = FileNamePart(CutUtf8(ext, kExtensionBytes));
        title = CutUtf8(title, kNamePartBytes - ext.size());
        const std::string stem = artist + "/" + PathPart(title);
        std::string name = stem + ext;
        for (int n = 1; Exists(folder + name) || list.NameQueued(name); ++n)
            name = stem + "_" + std::to_string(n) + ext;
        list.Add(name + "*" + url);
    }
    ++list.ChangeCount;
}

} // namespace marlix
