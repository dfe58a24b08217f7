#include "gui/player/browserlister.h"

#include <QMetaObject>
#include <QPointer>
#include <QSemaphore>

namespace marlix {

TBrowserLister::TBrowserLister(THistory history, QObject* parent)
    : QObject(parent)
    , FolderHistory(std::move(history))
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
        Listings.Store(key, MakeListing(request, FolderHistory));
        emit Listed(QString::fromStdString(key));
    });
}

template <typename T>
void TBrowserLister::Answer(QObject* context, std::function<T()> work, std::function<void(T)> done)
{
    Post([this, context = QPointer<QObject>(context), work = std::move(work), done = std::move(done)] {
        QMetaObject::invokeMethod(
            this,
            [context, done, result = work()]() mutable {
                if (context)
                    done(std::move(result));
            },
            Qt::QueuedConnection);
    });
}

void TBrowserLister::RequestAdditions(const std::string& folder, const std::string& extensions, TBrowserOrder order,
                                      bool jukeBox, QObject* context,
                                      std::function<void(std::vector<std::string>)> done)
{
    Answer<std::vector<std::string>>(
        context, [this, folder, extensions, order, jukeBox] {
            return FolderAdditions(folder, extensions, order, FolderHistory, jukeBox);
        },
        std::move(done));
}

void TBrowserLister::RequestParent(const std::string& folder, const std::string& root, const std::string& extensions,
                                   bool skipSingleFolder, QObject* context, std::function<void(TBrowserListing)> done)
{
    Answer<TBrowserListing>(
        context, [folder, root, extensions, skipSingleFolder] {
            return ListParent(folder, root, extensions, skipSingleFolder);
        },
        std::move(done));
}

void TBrowserLister::RecordFolderPlays(std::vector<std::string> added, const std::string& root)
{
    if (root.empty() || added.empty())
        return;
    Post([this, added = std::move(added), root] {
        marlix::RecordFolderPlays(FolderHistory, added, root, DateTimeNow());
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
