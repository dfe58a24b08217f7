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
        const auto found = std::find(Beating.begin(), Beating.end(), t);
        if (found == Beating.end())
            return;
        // During a beat the place is only emptied: the beat walks the list by index.
        if (InBeat)
            *found = nullptr;
        else
            Beating.erase(found);
        if (std::all_of(Beating.begin(), Beating.end(), [](const TWindowTimer* b) { return !b; }))
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
        InBeat = true;
        for (size_t i = 0; i < Beating.size(); ++i)
            if (TWindowTimer* t = Beating[i])
                t->Tick();
        InBeat = false;
        std::erase(Beating, nullptr);
    }

    QTimer Timer;
    std::vector<TWindowTimer*> Beating;
    bool InBeat = false;
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
