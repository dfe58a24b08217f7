#include "gui/player/information.h"

#include "engine/decoder.h"
#include "engine/filterthread.h"
#include "gui/paintbox.h"
#include "gui/player/rowtext.h"
#include "gui/scrollframe.h"
#include "gui/speedbutton.h"
#include "platform/waveout/alsawaveout.h"
#include "player/outputchain.h"
#include "player/playerstate.h"
#include "settings/settings.h"
#include "gui/windowtimer.h"

#include <QPainter>
#include <QWheelEvent>
#include <algorithm>

namespace marlix {

namespace {

constexpr int kScrollWidth = 16;

QString Hz(long long rate) { return QString::number(rate) + QStringLiteral("Hz"); }

QString OnOff(bool on) { return on ? QStringLiteral("有効") : QStringLiteral("-"); }

} // namespace

QImage PaintInformation(const QStringList& lines, int first, int width, int height, int fontSize)
{
    QImage img(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32);
    img.fill(Qt::white);
    QFont normal = ListFont(fontSize);
    QFont bold = normal;
    bold.setBold(true);
    const int rowHeight = RowHeight(normal);
    QPainter p(&img);
    p.setPen(Qt::black);
    for (int r = 0; r <= img.height() / rowHeight && first + r < lines.size(); ++r) {
        QString line = lines[first + r];
        const bool heading = line.startsWith(u'*');
        if (heading)
            line.remove(0, 1);
        p.setFont(heading ? bold : normal);
        const QFontMetrics metrics(p.font());
        p.drawText(QPoint(3, r * rowHeight + 3 + metrics.ascent()), ElideRow(line, metrics, img.width(), rowHeight));
    }
    return img;
}

TFo_Information::TFo_Information(TPlayerState& state, TFo_Decoder& decoder, TOutputChain& chain, TSettings& settings,
                                 QWidget* parent)
    : QWidget(parent)
    , State(state)
    , Decoder(decoder)
    , Chain(chain)
    , Config(settings)
    , PB_Info(new TPaintBox(this))
    , Fr_Scroll(new TFr_Scroll(&settings.Operation, this))
    , Ti_Check(new TWindowTimer(this, [this] { Ti_CheckTimer(); }))
{
    setObjectName("Fo_Information");
    setWindowTitle(QStringLiteral("情報"));
    PB_Info->setObjectName("PB_Info");
    SetHint(PB_Info, QStringLiteral("|再生中の曲などの情報を表示します"));
    PB_Info->installEventFilter(this);
    Fr_Scroll->setObjectName("Fr_Scroll");
    Fr_Scroll->hide();
    resize(300, 360);
    Ti_Check->setObjectName("Ti_Check");
    Ti_CheckTimer();
}

TFo_Information::TStamps TFo_Information::CurrentStamps() const
{
    TStamps s;
    s.OpenCount = Decoder.OpenCount;
    s.ChainRunning = Chain.Running();
    if (s.ChainRunning) {
        s.InRate = Chain.Filter().InRate;
        s.UpFactor = Chain.Filter().UpFactor;
        s.OutRate = Chain.Filter().OutRate;
    }
    s.DSPChangeCount = State.DSPChangeCount;
    s.BGMActive = State.BGMActive;
    s.Underruns = Chain.Stage.Underruns.load(std::memory_order_relaxed);
    s.DriverType = Config.Output.nDriverType;
    return s;
}

void TFo_Information::Ti_CheckTimer()
{
    if (Fr_Scroll->Changed) {
        Fr_Scroll->Changed = false;
        Repaint();
    }
    const TStamps now = CurrentStamps();
    if (now == Seen)
        return;
    Seen = now;
    Text = BuildLines();
    Repaint();
}

QString TFo_Information::DeviceText() const
{
    if (Config.Output.nDriverType == 1)
        return QStringLiteral("ASIO : ") + QString::fromStdString(Config.ASIO.DriverName);
    const auto& names = TAlsaWaveOut::DeviceNames();
    const std::string pcm = TAlsaWaveOut::PcmName(names, Config.MME.Device0);
    return QStringLiteral("MME : ") + QString::fromStdString(pcm.empty() ? std::string("default") : pcm);
}

QStringList TFo_Information::BuildLines() const
{
    QStringList l;
    if (Decoder.IsOpen) {
        const QString path = QString::fromStdString(Decoder.FileName);
        const qsizetype slash = path.lastIndexOf(u'/');
        QString name = path.mid(slash + 1);
        name = name.mid(std::max(name.lastIndexOf(u'\\'), name.lastIndexOf(u':')) + 1);
        l << QStringLiteral("*再生中のファイル");
        if (State.BGMActive)
            l << QStringLiteral("(BGM Mode)");
        l << QStringLiteral("ファイル名 : ") + name
          << QStringLiteral("場所 : ") + path.left(std::max<qsizetype>(path.size() - name.size() - 1, 0))
          << QStringLiteral("サンプリング周波数 : ") + Hz(Decoder.Format.nSamplesPerSec)
          << QStringLiteral("チャンネル : ") + QString::number(Decoder.Format.nChannels)
          << QStringLiteral("ビット長 : ") + QString::number(Decoder.Format.wBitsPerSample) + QStringLiteral("bit")
          << QString();
    }
    if (Chain.Running()) {
        const long long i = Chain.Filter().InRate;
        const long long f = Chain.Filter().UpFactor;
        const long long o = Chain.Filter().OutRate;
        l << QStringLiteral("*フィルタ") << QStringLiteral("EFX : ") + OnOff(State.EFX)
          << QStringLiteral("Matrix : ") + OnOff(State.Matrix) << QStringLiteral("EQ : ") + OnOff(State.EQ)
          << QStringLiteral("HSC : ") + OnOff(State.HSC) << QString() << QStringLiteral("*リサンプラ");
        l << QStringLiteral("アップサンプリング : ") +
                 (f < 2 ? QStringLiteral("-") : Hz(i) + QStringLiteral("→") + Hz(i * f) +
                                                    QStringLiteral(" (%1倍)").arg(f));
        l << QStringLiteral("帯域制限周波数 : ") + (o < i ? Hz(o) : i < o ? Hz(i) : QStringLiteral("-"));
        l << QStringLiteral("リサンプリング : ") +
                 (i * f == o ? QStringLiteral("-") : Hz(i * f) + QStringLiteral("→") + Hz(o));
        l << QString() << QStringLiteral("*出力") << QStringLiteral("デバイス : ") + DeviceText()
          << QStringLiteral("アンダーラン : ") + QString::number(Seen.Underruns) << QString();
    }
    return l;
}

void TFo_Information::Repaint()
{
    RowPixels = RowHeight(ListFont(Config.View.nBrowserFontSize));
    const bool wanted = height() / RowPixels < Text.size();
    Fr_Scroll->setGeometry(width() - kScrollWidth, 0, kScrollWidth, height());
    PB_Info->setGeometry(0, 0, wanted ? width() - kScrollWidth : width(), height());
    if (Fr_Scroll->isHidden() == wanted)
        Fr_Scroll->setVisible(wanted);
    Fr_Scroll->SetRowHeight(RowPixels);
    Fr_Scroll->SetCount(int(Text.size()));
    const int first = wanted ? Fr_Scroll->Position() : 0;
    PB_Info->SetImage(
        PaintInformation(Text, first, PB_Info->width(), PB_Info->height(), Config.View.nBrowserFontSize));
}

void TFo_Information::resizeEvent(QResizeEvent*) { Repaint(); }

bool TFo_Information::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == PB_Info && event->type() == QEvent::Wheel) {
        Fr_Scroll->SetPosition(Fr_Scroll->Position() - static_cast<QWheelEvent*>(event)->angleDelta().y() / 40);
        Repaint();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace marlix
