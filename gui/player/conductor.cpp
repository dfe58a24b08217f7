#include "gui/player/conductor.h"

#include "engine/decoder.h"
#include "gui/paintbox.h"
#include "gui/player/glyphs.h"
#include "gui/shading.h"
#include "gui/speedbutton.h"
#include "gui/sprites.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "player/transportcommands.h"
#include "gui/windowtimer.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace marlix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kSeekWidth = 185;
constexpr int kSeekHeight = 9;
constexpr int kDialSize = 51;
// The window's client size; every control is placed inside it.
constexpr QSize kClientSize(388, 120);
// The left column: transport buttons, position, seek bar and play modes.
constexpr int kColumnWidth = 192;

QString TwoDigits(int64_t n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

// Arial of 21 pixels, or smaller where the sans serif standing in for it would not fit
// the longest position text into `width`.
QFont PositionFont(int width)
{
    QFont f(QStringLiteral("Arial"));
    f.setStyleHint(QFont::SansSerif);
    const QString longest = QStringLiteral("00:00:00 / 00:00:00");
    for (int pixels = 21; pixels > 8; --pixels) {
        f.setPixelSize(pixels);
        if (QFontMetrics(f).horizontalAdvance(longest) <= width)
            break;
    }
    return f;
}

} // namespace

QString TimeText(int64_t ms)
{
    const int64_t s = (ms / 1000) % 60;
    const int64_t m = (ms / 60000) % 60;
    const int64_t h = (ms / 3600000) % 60;
    return TwoDigits(h) + ':' + TwoDigits(m) + ':' + TwoDigits(s);
}

QString VolumeText(int tenths)
{
    const int a = std::abs(tenths);
    return QStringLiteral("-%1.%2dB").arg(a / 10).arg(a % 10);
}

int SeekPixel(double p, double length, int width)
{
    if (length < 1000)
        return 0;
    return static_cast<int>(std::lround((p / 1000) * width / (length / 1000)));
}

double DialAngle(int tenths) { return (tenths / 360.0 * 270.0 / 360.0 + 0.375) * 2 * kPi; }

int DialVolumeAt(double x, double y, int w, int h)
{
    double a = std::atan2(h / 2.0 - y, x - w / 2.0);
    if (a < -kPi / 2)
        a += 2 * kPi;
    const double v = std::clamp(-((a / (2 * kPi) + 0.125) / 0.75) * 36, -36.0, 0.0);
    return static_cast<int>(std::lround(v * 10));
}

QImage PaintSeekBar(int width, int height, int pixel)
{
    QImage img(width, height, QImage::Format_ARGB32);
    img.fill(Qt::white);
    pixel = std::clamp(pixel, 0, width);
    if (pixel > 0)
        DrawBar(img, QRect(0, 0, pixel, height), PixRGB(160, 160, 255), false, 0.5, PixRGB(96, 96, 255));
    if (pixel < width)
        DrawBar(img, QRect(pixel, 0, width - pixel, height), PixRGB(224, 224, 255), false, 0.5,
                PixRGB(160, 160, 255));
    return img;
}

TVolumeDial::TVolumeDial(int width, int height, TColor32 faceColour)
    : Face(width, height)
{
    Face.FillColor(faceColour);
    Face.OpaqueAll();
    const int half = width / 2;
    TDIVLine scale(37, 0, PixRGB(96, 96, 96), 2.5, 1.5, 1.5, 1.5, half - 2, 6, 9 * kPi / 4, 3 * kPi / 4);
    scale.DrawOnto(Face, half, height / 2);
    TDial3 knob(half - 2, 0.5, 5, 2, PixRGB(221, 214, 208), PixRGB(170, 165, 160), half - 4);
    knob.DrawOnto(Face, half, height / 2);
}

QImage TVolumeDial::Paint(int tenths) const
{
    QImage img = Face.Image().copy();
    const double theta = DialAngle(tenths);
    const int w = img.width();
    const double cx = img.width() / 2.0;
    const double cy = img.height() / 2.0;
    auto at = [&](double r) {
        return QPointF(cx + std::lround(std::sin(theta) * r), cy - std::lround(std::cos(theta) * r));
    };
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(128, 128, 128), 2));
    p.drawLine(at(w / 2 - 4), at(w / 2 - 10));
    return img;
}

TFo_Conductor::TFo_Conductor(TPlayerState& state, TFo_Decoder& decoder, TPlaylist& playlist, QWidget* parent)
    : QWidget(parent)
    , State(state)
    , Decoder(decoder)
    , Playlist(playlist)
    , Ti_Check(new TWindowTimer(this, [this] { Ti_CheckTimer(); }))
{
    setObjectName("Fo_Conductor");
    setWindowTitle(QStringLiteral("コンダクタ"));
    SetHint(this, QStringLiteral("|再生のコントロールを行います"));
    // A compact face: the window holds all its controls in 388 × 120.
    QFont compact = font();
    compact.setPixelSize(11);
    setFont(compact);
    BuildTransport();
    BuildModes();
    BuildMaster();
    BuildStages();
    setFixedSize(kClientSize);

    Ti_Check->setObjectName("Ti_Check");
    Ti_CheckTimer();
}

QToolButton* TFo_Conductor::MakeButton(const char* name, const QString& hint, bool toggle, const QRect& geometry,
                                       QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    // A click may leave a switch showing other than its value (play waits for the loop):
    // the next tick mirrors every switch again.
    connect(b, &QToolButton::clicked, this, [this] { MirroredValues = -1; });
    b->setCheckable(toggle);
    b->setAutoRaise(false);
    b->setGeometry(geometry);
    SetHint(b, hint);
    return b;
}

void TFo_Conductor::BuildTransport()
{
    struct TSpec {
        const char* Name;
        TGlyph Glyph;
        const char* Hint;
        bool Toggle;
        void (TFo_Conductor::*Action)();
    };
    const TSpec specs[] = {
        {"Bu_Back", TGlyph::Back, "前の曲|再生を前の曲に移動します", false, &TFo_Conductor::Bu_BackClick},
        {"Bu_Stop", TGlyph::Stop, "停止|再生を停止します", false, &TFo_Conductor::Bu_StopClick},
        {"Bu_Pause", TGlyph::Pause, "一時停止|再生を一時停止します", true, &TFo_Conductor::Bu_PauseClick},
        {"Bu_Play", TGlyph::Play, "再生|再生します", true, &TFo_Conductor::Bu_PlayClick},
        {"Bu_Next", TGlyph::Next, "次の曲|再生を次の曲へ移動します", false, &TFo_Conductor::Bu_NextClick},
    };
    int x = 4;
    for (const TSpec& s : specs) {
        QToolButton* b = MakeButton(s.Name, QString::fromUtf8(s.Hint), s.Toggle, QRect(x, 4, 36, 24), this);
        b->setIcon(GlyphIcon(s.Glyph));
        connect(b, &QToolButton::clicked, this, [this, a = s.Action] { (this->*a)(); });
        x += 38;
    }
    La_Position = new QLabel(QStringLiteral("00:00:00 / 00:00:00"), this);
    La_Position->setObjectName("La_Position");
    La_Position->setFont(PositionFont(kColumnWidth - 4));
    La_Position->setGeometry(4, 30, kColumnWidth - 2, 26);
    SetHint(La_Position, QStringLiteral("再生位置|現在の再生位置を表示します"));

    PB_Seek = new TPaintBox(this);
    PB_Seek->setObjectName("PB_Seek");
    PB_Seek->setGeometry(6, 58, kSeekWidth, kSeekHeight);
    SetHint(PB_Seek, QStringLiteral("シーク|ドラッグして再生位置を変更します"));
    PB_Seek->OnMouseDown = [this](QMouseEvent* e) {
        if (e->button() != Qt::LeftButton)
            return;
        SeekDragging = true;
        SeekAt(e->position().x());
    };
    PB_Seek->OnMouseMove = [this](QMouseEvent* e) {
        if (SeekDragging)
            SeekAt(e->position().x());
    };
    PB_Seek->OnMouseUp = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton)
            SeekDragging = false;
    };
    RepaintSeek();
}

void TFo_Conductor::BuildModes()
{
    struct TSpec {
        const char* Name;
        TGlyph Glyph;
        const char* Hint;
    };
    const TSpec specs[] = {
        {"Bu_Play1", TGlyph::Play1,
         "1曲再生|1曲再生のON/OFFを切り替えます。1曲の再生が終わるたびに停止し、プレイリストを連続して再生しません"},
        {"Bu_Repeat", TGlyph::Repeat, "リピート再生|プレイリスト全体のリピート再生のON/OFFを切り替えます"},
        {"Bu_Repeat1", TGlyph::Repeat1, "1曲ループ再生|1曲ループ再生のON/OFFを切り替えます"},
        {"Bu_Random", TGlyph::Random, "ランダム再生|ランダム再生のON/OFFを切り替えます"},
        {"Bu_BGM", TGlyph::BGM,
         "BGM再生|BGM再生のON/OFFを切り替えます。プレイリストの再生が終わると、BGM用のプレイリストからランダムに選曲して再生します"},
    };
    auto* group = new QGroupBox(QStringLiteral("Playlist"), this);
    group->setObjectName("GB_Playlist");
    group->setGeometry(2, 70, kColumnWidth, 48);
    int x = 6;
    for (const TSpec& s : specs) {
        QToolButton* b = MakeButton(s.Name, QString::fromUtf8(s.Hint), true, QRect(x, 19, 34, 24), group);
        b->setIcon(GlyphIcon(s.Glyph));
        if (s.Glyph == TGlyph::BGM)
            connect(b, &QToolButton::clicked, this, [this] { Bu_BGMClick(); });
        else
            connect(b, &QToolButton::clicked, this, [this, b] { ModeClick(b); });
        x += 36;
    }
}

void TFo_Conductor::BuildMaster()
{
    auto* group = new QGroupBox(QStringLiteral("Master"), this);
    group->setObjectName("GB_Master");
    group->setGeometry(kColumnWidth + 4, 2, 64, 116);
    PB_Master = new TPaintBox(group);
    PB_Master->setObjectName("PB_Master");
    PB_Master->setGeometry(6, 21, kDialSize, kDialSize);
    SetHint(PB_Master, QStringLiteral("マスターボリューム|マスターボリュームを調節します"));
    const QColor face = palette().color(QPalette::Button);
    Dial = std::make_unique<TVolumeDial>(kDialSize, kDialSize, PixRGB(face.red(), face.green(), face.blue()));
    PB_Master->installEventFilter(this);
    PB_Master->OnMouseDown = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton)
            DialDragging = true;
    };
    PB_Master->OnMouseMove = [this](QMouseEvent* e) {
        if (DialDragging)
            DialAt(e->position().x(), e->position().y());
    };
    PB_Master->OnMouseUp = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton)
            DialDragging = false;
    };
    La_MasterVolume = new QLabel(group);
    La_MasterVolume->setObjectName("La_MasterVolume");
    La_MasterVolume->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    La_MasterVolume->setGeometry(3, 73, 56, 17);
    SetHint(La_MasterVolume, QStringLiteral("マスターボリューム|マスターボリュームを調節します"));

    // Automatic volume control guards the master volume against clipping: it sits here.
    auto* label = new QLabel(QStringLiteral("AVC"), group);
    label->setGeometry(4, 93, 26, 18);
    QToolButton* avc = MakeButton("Bu_Auto",
                                  QStringLiteral("自動ボリューム調節|自動ボリューム調節(再生音がクリップしないレベルまで自動的にボリュームを下げる機能)のON/OFFを切り替えます"),
                                  true, QRect(31, 92, 28, 20), group);
    avc->setText(QStringLiteral("ON"));
    connect(avc, &QToolButton::clicked, this, [this, avc] { ModeClick(avc); });
}

void TFo_Conductor::BuildStages()
{
    struct TSpec {
        const char* Name;
        const char* Label;
        const char* Hint;
        const char* Edit;
        const char* EditHint;
    };
    const TSpec specs[] = {
        {"Bu_EFX", "EFX", "エフェクタ|エフェクタのON/OFFを切り替えます", "Bu_EFXEdit",
         "エフェクタの編集|エフェクタの編集画面を開きます"},
        {"Bu_C", "Conv.", "コンボルバ|コンボルバのON/OFFを切り替えます", "Bu_CEdit",
         "コンボルバの編集|コンボルバの編集画面を開きます"},
        {"Bu_Matrix", "Matrix", "マトリクス|チャンネルマトリクスのON/OFFを切り替えます", "Bu_MatrixEdit",
         "マトリクスの編集|マトリクスの編集画面を開きます"},
        {"Bu_EQ", "EQ", "イコライザ|イコライザのON/OFFを切り替えます", "Bu_EQEdit",
         "イコライザの編集|イコライザの編集画面を開きます"},
        {"Bu_HSC", "HSC", "Rivor Edevu Vezirada|Rivor Edevu Vezirada（高域補完エフェクト）のON/OFFを切り替えます",
         nullptr, nullptr},
    };
    // One row per stage: its name, its switch and its edit button.
    auto* group = new QGroupBox(QStringLiteral("DSP"), this);
    group->setObjectName("GB_DSP");
    const int left = kColumnWidth + 72;
    group->setGeometry(left, 2, kClientSize.width() - left - 2, 116);
    int y = 23;
    int tag = 1;
    for (const TSpec& s : specs) {
        auto* label = new QLabel(QString::fromUtf8(s.Label), group);
        label->setGeometry(6, y, 40, 17);
        QToolButton* on = MakeButton(s.Name, QString::fromUtf8(s.Hint), true, QRect(46, y, 30, 17), group);
        on->setText(QStringLiteral("ON"));
        connect(on, &QToolButton::clicked, this, [this, on] { ModeClick(on); });
        if (s.Edit) {
            QToolButton* edit = MakeButton(s.Edit, QString::fromUtf8(s.EditHint), false, QRect(78, y, 36, 17), group);
            edit->setText(QStringLiteral("Edit"));
            edit->setProperty("Tag", tag++);
            connect(edit, &QToolButton::clicked, this, [this, edit] { EditClick(edit); });
        }
        y += 18;
    }
}

void TFo_Conductor::Bu_BackClick() { TTransportCommands(State).Back(); }

void TFo_Conductor::Bu_NextClick() { TTransportCommands(State).Next(); }

void TFo_Conductor::Bu_StopClick() { TTransportCommands(State).Stop(); }

void TFo_Conductor::Bu_PlayClick()
{
    const bool down = findChild<QToolButton*>("Bu_Play")->isChecked();
    State.Command.Post(down || State.Paused ? "Play" : "Stop");
}

void TFo_Conductor::Bu_PauseClick()
{
    auto* pause = findChild<QToolButton*>("Bu_Pause");
    if (State.OutputRunning) {
        State.Paused = pause->isChecked();
        return;
    }
    // Nothing plays: the pause button starts playback instead and stays up.
    pause->setChecked(false);
    findChild<QToolButton*>("Bu_Play")->setChecked(true);
    Bu_PlayClick();
}

void TFo_Conductor::Bu_BGMClick()
{
    const bool on = findChild<QToolButton*>("Bu_BGM")->isChecked();
    State.BGM = on;
    if (!State.OutputRunning && on) {
        State.BGMActive = true;
        if (!Playlist.NextTrack().empty())
            State.Command.Post("Play");
        else
            State.BGMActive = false;
    } else if (State.OutputRunning && State.BGMActive && !on) {
        Bu_StopClick();
    }
}

void TFo_Conductor::ModeClick(QToolButton* button)
{
    const QString name = button->objectName();
    const bool down = button->isChecked();
    struct TStage {
        const char* Name;
        std::atomic<bool> TPlayerState::*Flag;
    };
    static constexpr TStage stages[] = {
        {"Bu_EFX", &TPlayerState::EFX}, {"Bu_C", &TPlayerState::Convolver}, {"Bu_Matrix", &TPlayerState::Matrix},
        {"Bu_EQ", &TPlayerState::EQ},   {"Bu_HSC", &TPlayerState::HSC},
    };
    for (const TStage& s : stages) {
        if (name == QLatin1String(s.Name)) {
            (State.*s.Flag) = down;
            State.DSPChangeCount.fetch_add(1);
            return;
        }
    }
    if (name == "Bu_Auto")
        State.AVC = down;
    else if (name == "Bu_Play1")
        State.Play1 = down;
    else if (name == "Bu_Repeat")
        State.Repeat = down;
    else if (name == "Bu_Repeat1")
        State.Repeat1 = down;
    else if (name == "Bu_Random")
        State.Random = down;
    else if (name == "Bu_BGM")
        Bu_BGMClick();
}

void TFo_Conductor::EditClick(QToolButton* button) { State.EditRequest = button->property("Tag").toInt(); }

void TFo_Conductor::MirrorButtons()
{
    static constexpr const char* kNames[] = {"Bu_Play", "Bu_Pause",  "Bu_EFX",     "Bu_C",      "Bu_Matrix",
                                             "Bu_EQ",   "Bu_HSC",    "Bu_Play1",   "Bu_Repeat", "Bu_Repeat1",
                                             "Bu_Random", "Bu_BGM", "Bu_Auto"};
    const bool values[] = {State.OutputRunning, State.Paused, State.EFX,     State.Convolver, State.Matrix,
                           State.EQ,            State.HSC,    State.Play1,   State.Repeat,    State.Repeat1,
                           State.Random,        State.BGM,    State.AVC};
    int bits = 0;
    for (size_t i = 0; i < std::size(values); ++i)
        bits |= int(values[i]) << i;
    if (bits == MirroredValues)
        return;
    MirroredValues = bits;
    if (Mirrored.empty())
        for (const char* name : kNames)
            Mirrored.push_back(findChild<QToolButton*>(name));
    for (size_t i = 0; i < Mirrored.size(); ++i)
        SetLitSwitch(Mirrored[i], values[i]);
}

void TFo_Conductor::Ti_CheckTimer()
{
    MirrorButtons();
    double p = 0;
    double length = 0;
    if (Decoder.IsOpen) {
        // While the output runs, what is heard: the decoder is ahead by what the chain holds.
        const double read = Decoder.GetPositionMs();
        p = std::round(State.OutputRunning ? std::min(State.HeardMs.load(std::memory_order_acquire), read) : read);
        length = std::round(Decoder.GetLengthMs());
    }
    // The text changes once a second at most: it is made only then.
    const std::pair<int64_t, int64_t> seconds{int64_t(p) / 1000, int64_t(length) / 1000};
    if (seconds != TimeShown) {
        TimeShown = seconds;
        const QString text = Decoder.IsOpen ? TimeText(int64_t(p)) + QStringLiteral(" / ") + TimeText(int64_t(length))
                                            : QStringLiteral("00:00:00 / 00:00:00");
        if (La_Position->text() != text)
            La_Position->setText(text);
    }
    const int x = SeekPixel(p, length, PB_Seek->width());
    if (x != SeekDrawn) {
        SeekDrawn = x;
        RepaintSeek();
    }
    if (State.MasterVolume != DialDrawn) {
        DialDrawn = State.MasterVolume;
        RepaintDial();
    }
    if (State.MasterVolume != VolumeShown) {
        VolumeShown = State.MasterVolume;
        const QString volume = VolumeText(VolumeShown);
        if (La_MasterVolume->text() != volume)
            La_MasterVolume->setText(volume);
    }
}

void TFo_Conductor::SeekAt(double x)
{
    if (!Decoder.IsOpen)
        return;
    // Positions past either end of the bar go to the start or the end of the track.
    const double length = Decoder.GetLengthMs();
    const double ms = std::clamp(x, 0.0, double(PB_Seek->width())) * length / PB_Seek->width();
    Decoder.SeekMs(ms);
}

void TFo_Conductor::DialAt(double x, double y)
{
    const int v = DialVolumeAt(x, y, PB_Master->width(), PB_Master->height());
    State.MasterVolume = v;
    DialDrawn = v;
    RepaintDial();
}

bool TFo_Conductor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == PB_Master && event->type() == QEvent::Wheel) {
        const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
        if (delta > 0)
            State.VolumeUp();
        else if (delta < 0)
            State.VolumeDown();
        Ti_CheckTimer();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TFo_Conductor::RepaintSeek() { PB_Seek->SetImage(PaintSeekBar(PB_Seek->width(), PB_Seek->height(), SeekDrawn)); }

void TFo_Conductor::RepaintDial()
{
    if (Dial)
        PB_Master->SetImage(Dial->Paint(DialDrawn));
}

} // namespace marlix
