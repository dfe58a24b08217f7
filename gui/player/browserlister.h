#pragma once
#include "player/browsercore.h"
#include "player/history.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <functional>
#include <optional>
#include <vector>

namespace marlix {

// Lists folders and reads the play history on a worker thread, so that the browser's
// windows never wait for the disk. Results are kept in a cache and announced through
// Listed, which reaches the GUI thread queued.
class TBrowserLister : public QObject {
    Q_OBJECT
public:
    explicit TBrowserLister(THistory history = THistory(), QObject* parent = nullptr);
    ~TBrowserLister() override;

    std::optional<TBrowserListing> Cached(const TBrowserListingRequest& request) const;
    // Lists in the background (again, when cached: the folder may have changed); Listed
    // follows with the request's key.
    void Request(const TBrowserListingRequest& request);
    // Every playable file below `folder`, sorted, handed to `done` on the GUI thread unless
    // `context` went away first.
    void RequestAdditions(const std::string& folder, const std::string& extensions, TBrowserOrder order,
                          bool jukeBox, QObject* context, std::function<void(std::vector<std::string>)> done);
    // The folder above `folder` for going back (see ListParent), handed to `done` on the
    // GUI thread unless `context` went away first.
    void RequestParent(const std::string& folder, const std::string& root, const std::string& extensions,
                       bool skipSingleFolder, QObject* context, std::function<void(TBrowserListing)> done);
    // Counts folder plays in the background; cached listings are dropped afterwards
    // because orders by play depend on them.
    void RecordFolderPlays(std::vector<std::string> added, const std::string& root);
    // Waits until the worker has done everything asked of it so far (tests, shut-down).
    void Flush();

    const THistory& History() const { return FolderHistory; }
    TBrowserCache& Cache() { return Listings; }

signals:
    void Listed(const QString& key);

private:
    void Post(std::function<void()> job);
    // Runs `work` on the worker and hands its result to `done` on the GUI thread, through
    // the lister (which outlives the worker), unless `context` is gone by then.
    template <typename T>
    void Answer(QObject* context, std::function<T()> work, std::function<void(T)> done);

    THistory FolderHistory;
    TBrowserCache Listings;
    QThread Thread;
    QObject* Worker;
};

} // namespace marlix
