#include "player/browsercore.h"

#include "base/fileutil.h"
#include "player/history.h"
#include "settings/inifile.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <set>
#include <unordered_map>

namespace marlix {

namespace {

// A chain of single sub-folders deeper than this is a link loop, not music.
constexpr int kMaxSkipDepth = 64;

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string EntryPath(const std::string& entry, const std::string& folder)
{
    const std::string name = !entry.empty() && entry[0] == '!' ? entry.substr(1) : entry;
    return name.find('/') == std::string::npos ? WithSlash(folder) + name : name;
}

// Modification time in seconds; −1 for folders and missing files.
double FileAgeKey(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return -1;
    const auto t = std::filesystem::last_write_time(path, ec);
    if (ec)
        return -1;
    const auto sys = std::chrono::file_clock::to_sys(t);
    return double(std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count());
}

// History keys of one folder's names, read once per run of entries in the same folder.
class THistoryKeys {
public:
    THistoryKeys(const THistory& history, bool byDate) : History(history), ByDate(byDate) {}

    double Key(const std::string& path)
    {
        std::string folder = ParentFolder(path);
        if (folder != CurrentFolder) {
            CurrentFolder = folder;
            Keys.clear();
            for (const auto& e : History.ReadFolder(folder))
                Keys[Lower(e.Name)] = ByDate ? e.Date : e.Count;
        }
        const auto it = Keys.find(Lower(WithoutSlash(path).substr(folder.size())));
        return it == Keys.end() ? 0 : it->second;
    }

private:
    const THistory& History;
    bool ByDate;
    std::string CurrentFolder = "\n";
    std::unordered_map<std::string, double> Keys;
};

} // namespace

std::string WithoutSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string WithSlash(std::string path)
{
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

std::string ParentFolder(const std::string& folder)
{
    const std::string path = WithoutSlash(folder);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || path == "/")
        return {};
    return path.substr(0, slash + 1);
}

bool LessNoCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) < std::tolower(y);
    });
}

void SortListing(std::vector<std::string>& list, const std::string& folder, TBrowserOrder order,
                 const THistory& history)
{
    std::stable_sort(list.begin(), list.end(), LessNoCase);
    if (order.Mode >= 1 && order.Mode <= 3) {
        std::vector<std::pair<double, std::string>> keyed;
        keyed.reserve(list.size());
        THistoryKeys keys(history, order.Mode == 2);
        for (auto& entry : list) {
            const std::string path = EntryPath(entry, folder);
            keyed.emplace_back(order.Mode == 1 ? FileAgeKey(path) : keys.Key(path), std::move(entry));
        }
        std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first > b.first : LessNoCase(a.second, b.second);
        });
        for (size_t i = 0; i < list.size(); ++i)
            list[i] = std::move(keyed[i].second);
    }
    if (order.Inverse)
        std::reverse(list.begin(), list.end());
}

std::vector<std::string> ListOneLevel(const std::string& folder, const std::string& extensions)
{
    std::vector<std::string> list;
    ListFolder(WithSlash(folder), list, false, extensions);
    std::stable_sort(list.begin(), list.end(), LessNoCase);
    return list;
}

std::string TBrowserListingRequest::Key() const
{
    return WithSlash(Folder) + '\n' + Extensions + '\n' + char('0' + SkipSingleFolder) + char('0' + Order.Mode) +
           char('0' + Order.Inverse);
}

TBrowserListing MakeListing(const TBrowserListingRequest& request, const THistory& history)
{
    TBrowserListing result{WithSlash(request.Folder), ListOneLevel(request.Folder, request.Extensions)};
    for (int depth = 0; request.SkipSingleFolder && depth < kMaxSkipDepth && result.Entries.size() == 1 &&
                        result.Entries[0][0] != '!';
         ++depth) {
        result.Folder += result.Entries[0] + '/';
        result.Entries = ListOneLevel(result.Folder, request.Extensions);
    }
    SortListing(result.Entries, result.Folder, request.Order, history);
    return result;
}

TBrowserListing ListParent(const std::string& folder, const std::string& root, const std::string& extensions,
                           bool skipSingleFolder)
{
    const std::string top = WithSlash(root);
    const auto inside = [&](const std::string& f) { return !f.empty() && f.starts_with(top); };
    TBrowserListing result{ParentFolder(folder), {}};
    if (!inside(result.Folder))
        return {};
    result.Entries = ListOneLevel(result.Folder, extensions);
    while (skipSingleFolder && result.Entries.size() == 1 && result.Entries[0][0] != '!') {
        const std::string up = ParentFolder(result.Folder);
        if (!inside(up))
            break;
        result = {up, ListOneLevel(up, extensions)};
    }
    return result;
}

std::string PreviewHint(const std::vector<std::string>& entries, const std::string& help)
{
    std::string hint;
    for (size_t i = 0; i < entries.size() && i < 10; ++i) {
        if (i > 0)
            hint += '\n';
        hint += !entries[i].empty() && entries[i][0] == '!' ? entries[i].substr(1) : entries[i];
    }
    if (entries.size() > 10)
        hint += "\n...";
    return hint + '|' + help;
}

std::vector<std::string> FolderAdditions(const std::string& folder, const std::string& extensions,
                                         TBrowserOrder order, const THistory& history, bool jukeBox)
{
    std::vector<std::string> list;
    if (jukeBox)
        return list;
    ListFolder(WithSlash(folder), list, true, extensions);
    SortListing(list, folder, order, history);
    return list;
}

void RecordFolderPlays(THistory& history, std::vector<std::string> added, const std::string& root, double when)
{
    if (root.empty())
        return;
    const std::string top = WithSlash(root);
    std::sort(added.begin(), added.end());
    std::set<std::string> recorded;
    for (const auto& path : added) {
        for (std::string f = ParentFolder(path); f.starts_with(top) && f.size() > top.size() + 1;
             f = ParentFolder(f)) {
            if (!recorded.insert(f).second)
                break; // its parents were counted with it
            history.CountPlay(f, when);
        }
    }
}

std::optional<TBrowserListing> TBrowserCache::Find(const std::string& key) const
{
    std::lock_guard lock(Lock);
    const auto it = Listings.find(key);
    if (it == Listings.end())
        return std::nullopt;
    return it->second;
}

void TBrowserCache::Store(const std::string& key, TBrowserListing listing)
{
    std::lock_guard lock(Lock);
    Listings[key] = std::move(listing);
}

void TBrowserCache::Clear()
{
    std::lock_guard lock(Lock);
    Listings.clear();
}

size_t TBrowserCache::Size() const
{
    std::lock_guard lock(Lock);
    return Listings.size();
}

TBrowserRoots::TBrowserRoots(std::string music, std::string download, std::string favorites)
    : Music(WithSlash(std::move(music)))
    , Download(WithSlash(std::move(download)))
    , Favorites(WithSlash(std::move(favorites)))
{
}

void TBrowserRoots::Load(const TIniFile& ini)
{
    Folders.clear();
    if (!Music.empty())
        Folders.push_back(Music);
    if (!Download.empty() && Download != Music)
        Folders.push_back(Download);
    if (!Favorites.empty())
        Folders.push_back(Favorites);
    FixedCount = Folders.size();
    for (int i = 0; ini.ValueExists(Section, std::to_string(i)); ++i) {
        const std::string folder = ini.ReadString(Section, std::to_string(i), "");
        if (!folder.empty())
            Folders.push_back(WithSlash(folder));
    }
}

void TBrowserRoots::Save(TIniFile& ini) const
{
    ini.EraseSection(Section);
    for (size_t i = FixedCount; i < Folders.size(); ++i)
        ini.WriteString(Section, std::to_string(i - FixedCount), Folders[i]);
}

bool TBrowserRoots::IsUserFolder(int index) const
{
    return index >= int(FixedCount) && index < int(Folders.size());
}

void TBrowserRoots::AddFolder(const std::string& folder)
{
    if (!folder.empty())
        Folders.push_back(WithSlash(folder));
}

bool TBrowserRoots::Remove(int index)
{
    if (!IsUserFolder(index))
        return false;
    Folders.erase(Folders.begin() + index);
    return true;
}

std::string TBrowserRoots::DisplayName(const std::string& path) const
{
    const auto near = [&](const std::string& known) {
        if (known.empty())
            return false;
        const long diff = long(path.size()) - long(known.size());
        return Lower(path).find(Lower(WithoutSlash(known))) != std::string::npos && diff > -2 && diff < 2;
    };
    if (near(Music))
        return "マイミュージック";
    if (near(Download))
        return "ダウンロード済";
    if (!Favorites.empty() && WithSlash(path) == Favorites)
        return "お気に入り検索";
    // A user's folder by its own name: a full path would be cut to its common start.
    const std::string bare = WithoutSlash(path);
    const size_t slash = bare.rfind('/');
    return slash == std::string::npos || bare.size() == 1 ? bare : bare.substr(slash + 1);
}

bool TBrowserRoots::IsFavoritesFolder(const std::string& folder) const
{
    const std::string f = WithSlash(folder);
    return !f.empty() && (f == Download || f == Favorites);
}

int TBrowserGeometry::Rows() const
{
    const int rows = RowHeight > 0 ? Height / RowHeight : 0;
    return Paged ? std::max(1, rows - 1) : rows;
}

int TBrowserGeometry::Columns() const
{
    if (!Paged || ColumnWidth <= 0)
        return 1;
    return std::max(1, (Width + ColumnWidth / 2) / ColumnWidth);
}

int TBrowserGeometry::Pages() const
{
    const int size = std::max(1, PageSize());
    return std::max(0, Count - 1) / size + 1;
}

int TBrowserGeometry::LastPageStart() const { return (Pages() - 1) * PageSize(); }

int TBrowserGeometry::HitTest(int x, int y) const
{
    if (x < 0 || y < 0 || RowHeight <= 0)
        return -1;
    const int row = y / RowHeight;
    if (!Paged) {
        const int index = row + Scroll;
        return index < Count ? index : -1;
    }
    const int cols = Columns();
    const int col = x / ColumnWidth;
    if (col >= cols)
        return -1;
    if (row >= Rows()) {
        if (cols > 2 && col == cols - 1)
            return bnBack;
        if (!NeedsPageButtons())
            return -1;
        if (col == 0 && cols >= 2)
            return bnPrevPage;
        if (col == 1 || (col == 0 && cols == 1))
            return bnNextPage;
        return -1;
    }
    const int index = row + col * Rows() + Scroll;
    return index < Count ? index : -1;
}

bool TBrowserGeometry::InTriangleZone(int x) const
{
    if (!Paged)
        return x >= Width - TriangleZone;
    return ColumnWidth > 0 && x >= 0 && x % ColumnWidth >= ColumnWidth - TriangleZone;
}

int TBrowserGeometry::Navigate(int code) const
{
    switch (code) {
    case bnPrevPage: {
        const int s = Scroll - PageSize();
        return s >= 0 ? s : Scroll == 0 ? LastPageStart() : 0;
    }
    case bnNextPage: {
        const int s = Scroll + PageSize();
        return s >= Count ? 0 : s;
    }
    case bnScrollUp:
        return std::max(0, Scroll - Rows());
    case bnScrollDown:
        return std::max(0, std::min(LastPageStart(), Scroll + Rows()));
    default:
        return Scroll;
    }
}

} // namespace marlix
