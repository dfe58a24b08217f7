#include "gui/windowtimer.h"

#include <QEvent>
#include <QWidget>

namespace marlix {

bool OnScreen(const QWidget* w)
{
    if (!w->isVisible())
        return false;
    for (; w; w = w->parentWidget())
        if (w->isMinimized())
            return false;
    return true;
}

TWindowTimer::TWindowTimer(QWidget* window, std::function<void()> tick, int intervalMs)
    : QTimer(window), Tick(std::move(tick))
{
    setInterval(intervalMs);
    connect(this, &QTimer::timeout, this, [this] { Tick(); });
    // A minimised MDI frame hides its window, and a minimised main window sends every
    // child a hide event: both arrive here.
    window->installEventFilter(this);
}

bool TWindowTimer::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::Show && !isActive()) {
        start();
        // After the window's own show handling.
        QMetaObject::invokeMethod(this, [this] { if (isActive()) Tick(); }, Qt::QueuedConnection);
    } else if (e->type() == QEvent::Hide && isActive()) {
        stop();
        if (OnHidden)
            OnHidden();
    }
    return QTimer::eventFilter(watched, e);
}

} // namespace marlix
