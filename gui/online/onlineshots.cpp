#include "gui/online/onlineshots.h"

#include "gui/online/download.h"
#include "gui/online/getnew.h"
#include "gui/online/search.h"
#include "gui/online/tonkara.h"
#include "gui/online/webview.h"
#include "gui/shot.h"
#include "online/onlinelibrary.h"
#include "player/pending.h"
#include "settings/settings.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <thread>

namespace marlix {

namespace {

const char* const kPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>body{font-family:'Noto Sans CJK JP',sans-serif;"
    "margin:16px}li{margin:4px 0}</style></head><body><h2>Tonkara</h2><p>新着</p><ul>"
    "<li><a href=\"a.mp3\">Bach - Air</a></li><li><a href=\"b.mp3\">Coltrane - 夜の歌</a></li>"
    "<li><a href=\"c.mp3\">Davis - Noon</a></li></ul></body></html>\n";

bool WriteFile(const std::string& path, const char* text)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::WriteOnly) && f.write(text) > 0;
}

// Shows the window, lets its page load (at most 10 s), then saves it.
bool Save(QWidget& w, const QString& dir, QString& error, TWebView* browser = nullptr)
{
    w.show();
    QDeadlineTimer deadline(10000);
    do {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (browser && HaveWebEngine() && (browser->Location().isEmpty() || browser->Busy()) && !deadline.hasExpired());
    for (int i = 0; i < 20; ++i) // the page paints a moment after it loaded
        QApplication::processEvents();
    if (!SaveShot(w, QDir(dir).filePath(w.objectName() + QStringLiteral(".png")), error))
        return false;
    w.hide();
    return true;
}

} // namespace

bool SaveOnlineWindowShots(const QString& dir, QString& error)
{
    QTemporaryDir temp;
    const std::string folder = temp.path().toStdString() + "/";
    if (!temp.isValid() || !WriteFile(folder + "genres.txt", "Rock\nJazz\nClassical\n") ||
        !WriteFile(folder + "top.html", kPage) || !WriteFile(folder + "info.html", kPage)) {
        error = QStringLiteral("cannot write the sample pages");
        return false;
    }
    TSettings settings;
    TSettingFunction function(folder);
    TOnlineLibrary online(folder, function, TLibraryEndpoints::For("127.0.0.1:9"));
    TPendingAdditions pending;

    TFo_Search search(TFo_Search::TMode::NewFavourite, folder, function.FavoritePath, nullptr, online.Endpoints);
    TFo_Download downloads(online.Downloads, online.Thread, settings);
    for (const char* r : {"Bach/Air.mp3*http://h/a.mp3", "Coltrane/夜の歌.mp3*http://h/b.mp3",
                          "Davis/Noon.mp3*http://h/c.mp3", "Evans/A very long title that does not fit.mp3*http://h/d.mp3"})
        online.Downloads.Add(r);
    online.Downloads.MarkOutcome(online.Downloads.Item(0)->Serial, false);
    online.Downloads.MarkOutcome(online.Downloads.Item(1)->Serial, true);
    online.Downloads.SetSelected(2, true);
    downloads.resize(160, 160);
    TFo_Tonkara pane(online, pending);
    pane.resize(640, 400);
    TFo_GetNew news(folder);
    bool ok = Save(search, dir, error);
    ok = Save(downloads, dir, error) && ok;
    ok = Save(pane, dir, error, pane.Browser()) && ok;
    ok = Save(news, dir, error, news.Browser()) && ok;
    return ok;
}

} // namespace marlix
