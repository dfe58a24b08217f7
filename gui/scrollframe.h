#pragma once
#include <QImage>
#include <QWidget>

namespace marlix {

class TPaintBox;
class TSettingOperation;

// The arithmetic and the picture of the custom scroll bar, free of widgets.
struct TScrollBarState {
    int Width = 0;
    int Height = 0;
    int RowHeight = 21;
    int Total = 0;
    int Position = 0;
    int MaxPosition = 0;

    int Visible() const { return RowHeight > 0 ? Height / RowHeight : 0; }
    int ThumbLength() const;
    int ThumbTop() const;
    // The position for a mouse at y, clamped to 0 … MaxPosition.
    int PositionAt(int y) const;
    QImage Paint() const;
};

// A list's scroll bar that follows the mouse: a drag, or any move when the setting
// bMouseScroll is on, sets the position. Owners poll Changed on their timers, clear it
// and redraw their list from Position().
class TFr_Scroll : public QWidget {
public:
    // `operation` (may be null: mouse scrolling off) is read on every move.
    explicit TFr_Scroll(const TSettingOperation* operation, QWidget* parent = nullptr);

    void SetCount(int n);
    void SetRowHeight(int h);
    // Clamped to 0 … MaxPosition; does not set Changed (the owner asked for it).
    void SetPosition(int p);
    int Position() const { return Bar.Position; }
    int MaxPosition() const { return Bar.MaxPosition; }
    const TScrollBarState& State() const { return Bar; }

    bool Changed = false;
    bool Dragging = false;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void MouseMove(int y);
    void Repaint();

    const TSettingOperation* Operation;
    TPaintBox* PB_Scroll;
    TScrollBarState Bar;
};

} // namespace marlix
