#include "gui/player/browserlister.h"

#include <QMetaObject>
#include <QPointer>
#include <QSemaphore>

namespace marlix {

TBrowserLister::TBrowserLister(THistory history, QObject* parent)
    : QObject(parent)
    , History_(std::move(history))
    , Worker(new QObject)
{
    Thread.setObjectName("BrowserLister");
    Worker->moveToThread(&Thread);
    connect(&Thread, &QThread::finished, Worker, &QObject::deleteLater);
    Thread.start(QThread::LowPriority);
}

TBrowserLister::~TBrowserLister()
{
    Thread.quit();
    Thread.wait();
}

void TBrowserLister::Post(std::function<void()> job)
{
    QMetaObject::invokeMethod(Worker, std::move(job), Qt::QueuedConnection);
}

std::optional<TBrowserListing> TBrowserLister::Cached(const TBrowserListingRequest& request) const
{
    return Listings.Find(request.Key());
}

void TBrowserLister::Request(const TBrowserListingRequest& request)
{
    Post([this, request] {
        const std::string key = request.Key();
        Listings.Store(key, MakeListing(request, History_));
        emit Listed(QString::fromStdString(key));
    });
}

void TBrowserLister::RequestAdditions(const std::string& folder, const std::string& extensions, TBrowserOrder order,
                                      bool jukeBox, QObject* context,
                                      std::function<void(std::vector<std::string>)> done)
{
    // The answer goes through the lister, which outlives the worker, and is dropped on
    // the GUI thread when the asking window is gone.
    Post([this, folder, extensions, order, jukeBox, context = QPointer<QObject>(context), done = std::move(done)] {
        auto files = FolderAdditions(folder, extensions, order, History_, jukeBox);
        QMetaObject::invokeMethod(
            this,
            [context, done, files = std::move(files)]() mutable {
                if (context)
                    done(std::move(files));
            },
            Qt::QueuedConnection);
    });
}

void TBrowserLister::RecordFolderPlays(std::vector<std::string> added, const std::string& root)
{
    if (root.empty() || added.empty())
        return;
    Post([this, added = std::move(added), root] {
        marlix::RecordFolderPlays(History_, added, root, DateTimeNow());
        Listings.Clear();
    });
}

void TBrowserLister::Flush()
{
    QSemaphore done;
    Post([&done] { done.release(); });
    done.acquire();
}

} // namespace marlix
