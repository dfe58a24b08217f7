#include "gui/windowtimer.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <vector>

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

// The shared 50 ms timer; it runs while any window timer is started.
class THeartbeat {
public:
    // Never destroyed: a program that ends with exit() leaves no live timer to a
    // static destructor that runs after the application object is gone.
    static THeartbeat& Instance()
    {
        static THeartbeat* const beat = new THeartbeat;
        return *beat;
    }

    void Join(TWindowTimer* t)
    {
        Beating.push_back(t);
        if (!Timer.isActive())
            Timer.start();
    }

    void Leave(TWindowTimer* t)
    {
        std::erase(Beating, t);
        if (Beating.empty())
            Timer.stop();
    }

private:
    THeartbeat()
    {
        Timer.setInterval(50);
        QObject::connect(&Timer, &QTimer::timeout, [this] { Beat(); });
    }

    // A tick may stop, start or delete other window timers: only those still beating
    // when their turn comes are ticked.
    void Beat()
    {
        Turn = Beating;
        for (TWindowTimer* t : Turn)
            if (std::find(Beating.begin(), Beating.end(), t) != Beating.end())
                t->Tick();
    }

    QTimer Timer;
    std::vector<TWindowTimer*> Beating, Turn;
};

TWindowTimer::TWindowTimer(QWidget* window, std::function<void()> tick) : QObject(window), Tick(std::move(tick))
{
    // A minimised MDI frame hides its window, and a minimised main window sends every
    // child a hide event: both arrive here.
    window->installEventFilter(this);
}

TWindowTimer::~TWindowTimer() { stop(); }

void TWindowTimer::start()
{
    if (!Active) {
        Active = true;
        THeartbeat::Instance().Join(this);
    }
}

void TWindowTimer::stop()
{
    if (Active) {
        Active = false;
        THeartbeat::Instance().Leave(this);
    }
}

bool TWindowTimer::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::Show && !Active) {
        start();
        // After the window's own show handling.
        QMetaObject::invokeMethod(this, [this] { if (Active) Tick(); }, Qt::QueuedConnection);
    } else if (e->type() == QEvent::Hide && Active) {
        stop();
        if (OnHidden)
            OnHidden();
    }
    return QObject::eventFilter(watched, e);
}

} // namespace marlix
