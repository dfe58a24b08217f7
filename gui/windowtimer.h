#pragma once
#include <QObject>
#include <functional>

class QWidget;

namespace marlix {

// True while `w` is shown and neither it nor a window around it (its MDI frame, the main
// window) is minimised.
bool OnScreen(const QWidget* w);

// A window's 50 ms tick that runs only while its window is on screen: hiding or
// minimising the window, or the main window around it, stops it; showing it again starts
// it with one tick at once, so the window catches up with what changed meanwhile.
// All windows' ticks share one timer of the main thread: one wake-up a tick between them.
class TWindowTimer : public QObject {
public:
    TWindowTimer(QWidget* window, std::function<void()> tick);
    ~TWindowTimer() override;

    bool isActive() const { return Active; }
    void start();
    void stop();

    // Runs when the window has left the screen and the timer has stopped.
    std::function<void()> OnHidden;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    friend class THeartbeat;
    std::function<void()> Tick;
    bool Active = false;
};

} // namespace marlix
