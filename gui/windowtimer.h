#pragma once
#include <QTimer>
#include <functional>

class QWidget;

namespace marlix {

// True while `w` is shown and neither it nor a window around it (its MDI frame, the main
// window) is minimised.
bool OnScreen(const QWidget* w);

// A window's 50 ms timer that runs only while its window is on screen: hiding or
// minimising the window, or the main window around it, stops it; showing it again starts
// it with one tick at once, so the window catches up with what changed meanwhile.
class TWindowTimer : public QTimer {
public:
    TWindowTimer(QWidget* window, std::function<void()> tick, int intervalMs = 50);

    // Runs when the window has left the screen and the timer has stopped.
    std::function<void()> OnHidden;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    std::function<void()> Tick;
};

} // namespace marlix
