#pragma once
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <string>


namespace marlix {

class TWindowTimer;
class TFo_Decoder;
class TFr_Scroll;
class TOutputChain;
class TPaintBox;
class TPlayerState;
class TSettings;

// Rows of text on white, from line `first` on; a line beginning with "*" is a bold
// heading drawn without its "*".
QImage PaintInformation(const QStringList& lines, int first, int width, int height, int fontSize);

// The information window: the open file and its format, the stages in use, the rate
// plan of the running chain, under-runs and the output device. Rebuilt only when one of
// its change stamps moved.
class TFo_Information : public QWidget {
public:
    TFo_Information(TPlayerState& state, TFo_Decoder& decoder, TOutputChain& chain, TSettings& settings,
                    QWidget* parent = nullptr);

    void Ti_CheckTimer();
    const QStringList& Lines() const { return Text; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // What the text depends on; the text is rebuilt when any of it changes.
    struct TStamps {
        int OpenCount = -1;
        bool ChainRunning = false;
        int InRate = 0;
        int UpFactor = 0;
        int OutRate = 0;
        int DSPChangeCount = -1;
        bool BGMActive = false;
        int Underruns = 0;
        int DriverType = -1;
        bool operator==(const TStamps&) const = default;
    };
    TStamps CurrentStamps() const;
    QStringList BuildLines() const;
    QString DeviceText() const;
    void Repaint();

    TPlayerState& State;
    TFo_Decoder& Decoder;
    TOutputChain& Chain;
    TSettings& Config;
    TPaintBox* PB_Info;
    TFr_Scroll* Fr_Scroll;
    TWindowTimer* Ti_Check;
    QStringList Text;
    TStamps Seen;
    int RowPixels = 21;
};

} // namespace marlix
