#include "gui/player/browserlister.h"

#include <QMetaObject>
#include <QPointer>
#include <QSemaphore>

namespace marlix {

TBrowserLister::TBrowserLister(THistory history, QObject* parent)
    : QObject(parent)
    , history_(std::move(history))
    , worker_(new QObject)
{
    thread_.setObjectName("BrowserLister");
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start(QThread::LowPriority);
}

TBrowserLister::~TBrowserLister()
{
    thread_.quit();
    thread_.wait();
}

void TBrowserLister::Post(std::function<void()> job)
{
    QMetaObject::invokeMethod(worker_, std::move(job), Qt::QueuedConnection);
}

std::optional<TBrowserListing> TBrowserLister::Cached(const TBrowserListingRequest& request) const
{
    return cache_.Find(request.Key());
}

void TBrowserLister::Request(const TBrowserListingRequest& request)
{
    Post([this, request] {
        const std::string key = request.Key();
        cache_.Store(key, MakeListing(request, history_));
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
        auto files = FolderAdditions(folder, extensions, order, history_, jukeBox);
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
        marlix::RecordFolderPlays(history_, added, root, DateTimeNow());
        cache_.Clear();
    });
}

void TBrowserLister::Flush()
{
    QSemaphore done;
    Post([&done] { done.release(); });
    done.acquire();
}

} // namespace marlix
