#include "gui/online/webview.h"

#include "online/playall.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QVBoxLayout>
#include <unistd.h>

#if MARLIX_WEBENGINE
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

namespace marlix {

void PrepareWebEngine()
{
#if MARLIX_WEBENGINE
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#endif
}

bool HaveWebEngine()
{
    return MARLIX_WEBENGINE != 0;
}

#if MARLIX_WEBENGINE
// Cancels navigations to audio files and reports them instead.
class TVetoPage : public QWebEnginePage {
public:
    TVetoPage(TWebView* owner) : QWebEnginePage(owner), Owner(owner) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override
    {
        if (!IsAudioLink(url.toString().toStdString()))
            return true;
        if (isMainFrame)
            Owner->Vetoed = true;
        emit Owner->AudioLink(url);
        return false;
    }

private:
    TWebView* Owner;
};
#endif

TWebView::TWebView(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
#if !MARLIX_WEBENGINE
    auto* note = new QLabel(QStringLiteral("ページは標準のブラウザで開きます。"), this);
    note->setObjectName("La_External");
    note->setAlignment(Qt::AlignCenter);
    layout->addWidget(note);
#endif
}

// The browser engine (its processes, its OpenGL compositing of the whole main window)
// starts with the first page: a pane that never shows a page costs nothing.
void TWebView::StartView()
{
#if MARLIX_WEBENGINE
    if (View)
        return;
    View = new QWebEngineView(this);
    View->setObjectName("WB_Browser");
    View->setPage(new TVetoPage(this));
    layout()->addWidget(View);
    connect(View, &QWebEngineView::urlChanged, this, [this](const QUrl& url) {
        Current = url;
        emit LocationChanged(url);
    });
    connect(View, &QWebEngineView::loadStarted, this, [this] { SetBusy(true); });
    connect(View, &QWebEngineView::loadFinished, this, [this](bool ok) {
        SetBusy(false);
        const bool vetoed = Vetoed;
        Vetoed = false;
        if (!vetoed)
            emit DocumentComplete(ok);
    });
    connect(View->page(), &QWebEnginePage::linkHovered, this, &TWebView::StatusText);
#endif
}

bool TWebView::Started() const
{
    return View != nullptr;
}

void TWebView::SetBusy(bool busy)
{
    if (busy == Loading)
        return;
    Loading = busy;
    emit BusyChanged(busy);
}

void TWebView::Navigate(const QUrl& url)
{
    if (IsAudioLink(url.toString().toStdString())) {
        emit AudioLink(url);
        return;
    }
#if MARLIX_WEBENGINE
    StartView();
    View->load(url);
#else
    Current = url;
    emit LocationChanged(url);
    QDesktopServices::openUrl(url);
    emit DocumentComplete(true);
#endif
}

void TWebView::Back()
{
#if MARLIX_WEBENGINE
    if (View)
        View->back();
#endif
}

void TWebView::Forward()
{
#if MARLIX_WEBENGINE
    if (View)
        View->forward();
#endif
}

void TWebView::Stop()
{
#if MARLIX_WEBENGINE
    if (View)
        View->stop();
#endif
}

void TWebView::Reload()
{
#if MARLIX_WEBENGINE
    if (View)
        View->reload();
#endif
}

QUrl TWebView::Location() const
{
    return Current;
}

bool TWebView::CanGoBack() const
{
#if MARLIX_WEBENGINE
    return View && View->history()->canGoBack();
#else
    return false;
#endif
}

bool TWebView::CanGoForward() const
{
#if MARLIX_WEBENGINE
    return View && View->history()->canGoForward();
#else
    return false;
#endif
}

void TWebView::RunScript(const QString& script)
{
#if MARLIX_WEBENGINE
    if (View)
        View->page()->runJavaScript(script);
#else
    Q_UNUSED(script);
#endif
}

} // namespace marlix
