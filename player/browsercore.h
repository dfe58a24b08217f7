#pragma once
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace marlix {

class THistory;
class TIniFile;

// Browser listings hold a sub-folder as its bare name and a file as "!" + name; the root
// list and recursive listings hold full paths. Folders carry a trailing "/".

// "a/b/" → "a/b"; "/" stays.
std::string WithoutSlash(std::string path);
// "a/b" → "a/b/"; empty stays empty.
std::string WithSlash(std::string path);
// The parent of a folder, with a trailing "/"; empty for "/" or a bare name.
std::string ParentFolder(const std::string& folder);
// Case-insensitive (ASCII) ordering of two texts.
bool LessNoCase(const std::string& a, const std::string& b);

// The order of a listing: "SortMode" 0 name, 1 newest file, 2 last play, 3 play count;
// "SortInv" reverses the result.
struct TBrowserOrder {
    int Mode = 0;
    bool Inverse = false;
    bool operator==(const TBrowserOrder&) const = default;
};

// Sorts a listing of `folder` (entries without "/" are names in it). Keys come from the
// files' modification times or the history files, each history file read once.
void SortListing(std::vector<std::string>& list, const std::string& folder, TBrowserOrder order,
                 const THistory& history);

// `folder` listed one level in name order, filtered by `extensions` ("wav,mp3").
std::vector<std::string> ListOneLevel(const std::string& folder, const std::string& extensions);

// What a hovered folder shows: the folder reached (after skipping folders that hold only
// one sub-folder) and its sorted entries.
struct TBrowserListing {
    std::string Folder; // with a trailing "/"
    std::vector<std::string> Entries;
    bool operator==(const TBrowserListing&) const = default;
};

struct TBrowserListingRequest {
    std::string Folder;
    std::string Extensions;
    bool SkipSingleFolder = true;
    TBrowserOrder Order;
    // One text per distinct request, for caching.
    std::string Key() const;
};

TBrowserListing MakeListing(const TBrowserListingRequest& request, const THistory& history);

// The folder above `folder` in name order, for going back: with `skipSingleFolder` it
// climbs on while the folder holds a single sub-folder, never above `root`. Folder is
// empty when the parent lies outside `root`.
TBrowserListing ListParent(const std::string& folder, const std::string& root, const std::string& extensions,
                           bool skipSingleFolder);

// The hint of a preview: up to 10 entries (files without "!") on lines, "..." after the
// tenth, then "|" and the help text.
std::string PreviewHint(const std::vector<std::string>& entries, const std::string& help);

// Every playable file below `folder`, sorted, for a folder click; nothing in juke-box mode.
std::vector<std::string> FolderAdditions(const std::string& folder, const std::string& extensions,
                                         TBrowserOrder order, const THistory& history, bool jukeBox);

// Counts a play of every folder between the added files and `root` (exclusive) in the
// history file of its parent, once per folder. Nothing when `root` is empty.
void RecordFolderPlays(THistory& history, std::vector<std::string> added, const std::string& root, double when);

// Listings computed off the GUI thread, kept by request key. Safe from any thread.
class TBrowserCache {
public:
    std::optional<TBrowserListing> Find(const std::string& key) const;
    void Store(const std::string& key, TBrowserListing listing);
    // Drops everything, e.g. after plays changed the history or the order changed.
    void Clear();
    size_t Size() const;

private:
    mutable std::mutex Lock;
    std::map<std::string, TBrowserListing> Listings;
};

// The root list: the music folder, the download folder when it differs, the favourites
// folder, then the user's folders kept in section "FolderList" as "0", "1", ….
class TBrowserRoots {
public:
    static constexpr const char* Section = "FolderList";

    TBrowserRoots(std::string music, std::string download, std::string favorites);

    void Load(const TIniFile& ini);
    // Rewrites the section with the user's folders only, numbered from "0".
    void Save(TIniFile& ini) const;

    const std::vector<std::string>& Entries() const { return Folders; }
    bool IsUserFolder(int index) const;
    void AddFolder(const std::string& folder);
    bool Remove(int index);

    // "マイミュージック", "ダウンロード済", "お気に入り検索", else the folder's own name.
    std::string DisplayName(const std::string& path) const;
    // The download and favourites folders show the favourites menu.
    bool IsFavoritesFolder(const std::string& folder) const;

private:
    std::string Music, Download, Favorites;
    std::vector<std::string> Folders;
    size_t FixedCount = 0;
};

// Where a pointer is in a list, and the page arithmetic of the paged style.
enum TBrowserNav : int {
    bnPrevPage = 1 << 28,
    bnNextPage,
    bnBack,
    bnScrollUp,
    bnScrollDown,
};
inline bool IsNavCode(int index) { return index >= bnPrevPage && index <= bnScrollDown; }

struct TBrowserGeometry {
    static constexpr int TriangleZone = 21;

    int Width = 0;
    int Height = 0;
    int RowHeight = 21;
    int ColumnWidth = 145;
    bool Paged = false;
    int Count = 0;
    int Scroll = 0;
    bool operator==(const TBrowserGeometry&) const = default;

    int Rows() const;    // paged: rows of entries per column (the bottom row is for buttons)
    int Columns() const; // paged: columns; single list: 1
    int PageSize() const { return Rows() * Columns(); }
    int Pages() const;
    int LastPageStart() const;
    bool NeedsPageButtons() const { return Paged && Count > PageSize(); }
    // An entry index, a navigation code, or −1.
    int HitTest(int x, int y) const;
    bool InTriangleZone(int x) const;
    // The scroll position after a navigation code.
    int Navigate(int code) const;
};

} // namespace marlix
