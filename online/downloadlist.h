#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace marlix {

// One download request: "relative name*URL" (or a bare URL) and how it went.
struct TDownloadItem {
    std::string Request;
    bool Done = false;
    bool Selected = false;
    bool Failed = false;
    uint64_t Serial = 0; // tells items apart when the list changes under a running download
};

// A request split at its first "*". Without one, the URL's file name is the name.
struct TDownloadRequest {
    std::string RelativeName;
    std::string Url;
    static TDownloadRequest Split(const std::string& request);
    // What follows the name's last "/" or "\".
    std::string DisplayName() const;
    // A name that stays inside the download folder: not empty, not absolute, no drive
    // prefix, no "." or ".." part, no control characters.
    bool SafeName() const;
};

// The download queue. Every access takes the lock; items are handed out as copies.
class TDownloadlist {
public:
    // Called after each Add, outside the lock: wakes the worker that saves the queue.
    // Set once, before the list is shared.
    std::function<void()> OnAdd;

    void Add(std::string request);
    size_t Count() const;
    std::optional<TDownloadItem> Item(size_t index) const;
    std::vector<TDownloadItem> Items() const;
    size_t CountSelected() const;
    void SetSelected(size_t index, bool selected);
    void SelectAll(bool selected);
    void InvertSelection();
    void RemoveSelected();
    void Clear();

    // The first item neither done nor failed.
    std::optional<TDownloadItem> FirstPending() const;
    // Marks the item with this serial; dropped when it was removed meanwhile.
    void MarkOutcome(uint64_t serial, bool failed);
    // Relative names of items not failed, for picking a free name.
    bool NameQueued(const std::string& relativeName) const;

    // "download.txt": the requests neither done nor failed, one a line, written only when
    // there is one; read back as requests and then deleted.
    [[nodiscard]] bool SaveUnfinished(const std::string& file) const;
    void LoadUnfinished(const std::string& file);

    // Moved by the download thread and the window whenever the queue or the running
    // download changes.
    std::atomic<int> ChangeCount{0};

private:
    mutable std::mutex Mutex;
    std::vector<TDownloadItem> Entries;
    uint64_t NextSerial = 1;
};

// Turns finished library tracks (their URLs) into requests "artist/title.ext*URL", named
// from the result file and kept free of clashes with files in `folder` and queued names.
void MakeDownloadRequests(const std::vector<std::string>& candidates, const std::string& resultFile,
                          const std::string& folder, TDownloadlist& list);

} // namespace marlix
