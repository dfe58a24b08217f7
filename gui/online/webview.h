#pragma once
#include <QUrl>
#include <QWidget>

class QWebEngineView;

namespace marlix {

// Call before the QApplication exists: the embedded browser shares OpenGL contexts, and
// runs without its sandbox only when the program runs as root (Chromium refuses root
// otherwise).
void PrepareWebEngine();
// True when the embedded browser was built in (MARLIX_WEBENGINE).
bool HaveWebEngine();

// The embedded browser of the library pane and the news window: navigate, back, forward,
// stop, reload, busy state, location, and a veto on navigations to audio files, which
// are reported instead. The browser engine starts with the first navigation. Built
// without QtWebEngine it shows a note and hands every navigation to the desktop browser.
class TWebView : public QWidget {
    Q_OBJECT
public:
    explicit TWebView(QWidget* parent = nullptr);

    void Navigate(const QUrl& url);
    void Back();
    void Forward();
    void Stop();
    void Reload();
    QUrl Location() const;
    bool Busy() const { return Loading; }
    bool CanGoBack() const;
    bool CanGoForward() const;
    // Runs script in the page (tests click links with it); nothing without QtWebEngine.
    void RunScript(const QString& script);
    // True once the browser engine runs (after the first navigation).
    bool Started() const;

signals:
    // A navigation to an audio file was cancelled; the URL goes to the playlist.
    void AudioLink(const QUrl& url);
    void LocationChanged(const QUrl& url);
    // A document finished loading; `ok` is false when it failed (not when vetoed).
    void DocumentComplete(bool ok);
    void BusyChanged(bool busy);
    void StatusText(const QString& text);

private:
    void StartView();
    void SetBusy(bool busy);
    QWebEngineView* View = nullptr;
    QUrl Current;
    bool Loading = false;
    bool Vetoed = false;
    friend class TVetoPage;
};

} // namespace marlix
