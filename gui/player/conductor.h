#pragma once
#include "gui/fdib.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>
#include <cstdint>
#include <memory>
#include <utility>

class QLabel;
class QToolButton;

namespace marlix {

class TWindowTimer;
class TFo_Decoder;
class TPaintBox;
class TPlayerState;
class TPlaylist;

// "hh:mm:ss" of a time in milliseconds; hours wrap at 60.
QString TimeText(int64_t ms);
// The volume label: tenths of a decibel as "-12.5dB".
QString VolumeText(int tenths);
// The seek bar's last elapsed pixel for position `p` of length `length` (ms); 0 below one second.
int SeekPixel(double p, double length, int width);
// The dial pointer's angle (radians, clockwise from straight up) for a volume in tenths.
double DialAngle(int tenths);
// The volume (tenths, −360 … 0) the pointer at (x, y) of a w × h dial selects.
int DialVolumeAt(double x, double y, int w, int h);

// The seek bar: elapsed part in blue up to `pixel`, the rest pale.
QImage PaintSeekBar(int width, int height, int pixel);

// The master-volume dial: a face made once (scale and knob), the pointer drawn per volume.
class TVolumeDial {
public:
    TVolumeDial(int width, int height, TColor32 faceColour);
    QImage Paint(int tenths) const;

private:
    TGUIDIB Face;
};

// The transport window: transport and mode buttons, stage switches with their edit
// requests, the seek bar, the position text and the master-volume dial. Buttons post
// commands and write player values; the timer mirrors those values back.
class TFo_Conductor : public QWidget {
public:
    TFo_Conductor(TPlayerState& state, TFo_Decoder& decoder, TPlaylist& playlist, QWidget* parent = nullptr);

    // The button actions; the main window's shortcuts call them after inverting the
    // button's down state.
    void Bu_BackClick();
    void Bu_StopClick();
    void Bu_PauseClick();
    void Bu_PlayClick();
    void Bu_NextClick();
    void Bu_BGMClick();
    // Mode and stage buttons: the value bound to `button` takes its down state.
    void ModeClick(QToolButton* button);
    void EditClick(QToolButton* button);

    // One 50 ms tick of mirroring (the timer's handler).
    void Ti_CheckTimer();

protected:
    // The wheel over the dial moves the volume by whole decibels.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolButton* MakeButton(const char* name, const QString& hint, bool toggle, const QRect& geometry,
                            QWidget* parent);
    void BuildTransport();
    void BuildModes();
    void BuildStages();
    void BuildMaster();
    void MirrorButtons();
    std::vector<QToolButton*> Mirrored; // the switches MirrorButtons sets, found once
    int MirroredValues = -1;            // their values as bits when last mirrored
    void SeekAt(double x);
    void DialAt(double x, double y);
    void RepaintSeek();
    void RepaintDial();

    TPlayerState& State;
    TFo_Decoder& Decoder;
    TPlaylist& Playlist;
    TWindowTimer* Ti_Check;
    QLabel* La_Position = nullptr;
    QLabel* La_MasterVolume = nullptr;
    TPaintBox* PB_Seek = nullptr;
    TPaintBox* PB_Master = nullptr;
    std::unique_ptr<TVolumeDial> Dial;
    int SeekDrawn = 0;
    std::pair<int64_t, int64_t> TimeShown{-1, -1}; // the position and length shown, in whole seconds
    int DialDrawn = 1; // never a volume, so the first tick draws
    int VolumeShown = 1;
    bool SeekDragging = false;
    bool DialDragging = false;
};

} // namespace marlix
