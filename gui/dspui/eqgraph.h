#pragma once
#include <QImage>
#include <QPoint>
#include <QString>

namespace marlix {

class TEQ;
struct TEQ1;
class TSettingEQ;

// The EQ curve editor of the DSP window: the graph's geometry, its picture and the mouse
// rules applied to the curve being edited. Plain data in, a curve edited and a bitmap
// out; the window publishes the edited curves and shows the bitmap.
class TEQGraph {
public:
    static constexpr int Left = 48, Top = 29;
    static constexpr double Rate = 96000;
    static constexpr int Bins = 2049;
    static constexpr double MaxGain = 18;
    static constexpr int MarkerSize = 11;
    static constexpr double MaxWidth = 4.5;

    TEQGraph();

    // The box is w × h; the plot area is (w − 48) × (h − 29).
    void Resize(int w, int h);
    int GraphWidth() const { return Width; }
    int GraphHeight() const { return Height; }

    double FreqAt(int x) const;
    double GainAt(int y) const;
    QPoint MarkerCentre(const TEQ1& point) const;
    // The last point whose marker centre is less than 4 pixels from (x, y), or −1.
    int PointAt(const TEQ& curve, int x, int y) const;

    // The frame, the channel's own curve (light red, channels only), the total (blue)
    // and the markers of `curve`; `channel` is −1 for the master.
    QImage Paint(const TSettingEQ& eq, int channel, const QString& title) const;

    // The mouse rules. Each returns true when the curve changed; `Repaint` tells whether
    // the picture needs drawing again.
    bool MouseMove(TEQ& curve, int x, int y);
    bool MouseDown(TEQ& curve, Qt::MouseButton button, int x, int y);
    void MouseUp();
    bool DoubleClick(TEQ& curve, int x, int y);
    bool Wheel(TEQ& curve, int delta);
    // A new curve is being edited: nothing selected.
    void Deselect();

    // "1.2kHz" above 1000 Hz, else "523Hz".
    static QString FreqText(double f);

    int Selected = -1;
    bool Dragging = false;
    bool Repaint = false;
    QString FreqLabel;

private:
    int BoxW = 148, BoxH = 129;
    int Width = 100, Height = 100;
    QImage Marker, SelectedMarker;
    QPoint Clamp(int x, int y) const;
};

} // namespace marlix
