#include "gui/dspui/spectrum.h"

#include "engine/spectrumanalyser.h"
#include "gui/graph.h"
#include "gui/paintbox.h"
#include "gui/speedbutton.h"
#include "gui/windowtimer.h"
#include "settings/settings.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace marlix {
namespace {

constexpr int kRanges[] = {48, 72, 96, 144, 192};
constexpr int kLeft = 48;
constexpr int kTop = 29;

int RangeIndex(int db)
{
    for (int i = 0; i < 5; ++i)
        if (kRanges[i] == db)
            return i;
    return 2; // any other value shows as 96
}

// Where the curves pass, in quarter pixels of a plot area `area` pixels high: a level
// below the range sits at its bottom like silence, so the fall below it changes nothing.
std::vector<int> CurveRows(const TSpectrumPicture& p, int area)
{
    std::vector<int> rows;
    auto add = [&](std::span<const double> values) {
        for (const double v : values) {
            const double db = v > 0 ? 6 * std::log2(v) : -p.RangeDb;
            rows.push_back(int(std::lround(std::clamp(1 + db / p.RangeDb, 0.0, 1.0) * area * 4)));
        }
    };
    for (size_t c = 0; c < p.Spectra.size() && c < p.Peaks.size(); ++c) {
        add(p.Spectra[c]);
        add(p.Peaks[c]);
    }
    return rows;
}

int Place(int span, int count, int index)
{
    return static_cast<int>(std::lround(static_cast<double>(span) / count * index));
}

} // namespace

TSpectrumLayout LayoutSpectrum(int channels, int width, int height, bool vertical)
{
    const int k = std::max(1, channels);
    // Channel pairs form the columns of two rows; an odd last channel gets a column of its own.
    const int columns = vertical ? 1 : (k + 1) / 2;
    const int rows = vertical ? k : std::min(k, 2);
    const int w = vertical ? width : (width + 1) / columns - 1;
    const int h = (height + 1) / rows - 1;
    TSpectrumLayout l;
    if (w <= 64) {
        l.Switch = !vertical;
        return l;
    }
    if (h <= 32) {
        l.Switch = vertical;
        return l;
    }
    for (int i = 0; i < k; ++i) {
        const int x = vertical ? 0 : Place(width + 1, columns, i / 2);
        const int y = vertical ? Place(height + 1, rows, i) : Place(height + 1, rows, i % 2);
        l.Graphs.emplace_back(x, y, w, h);
    }
    return l;
}

std::vector<QImage> PaintSpectrumFrames(const TSpectrumPicture& p, const TSpectrumLayout& layout)
{
    std::vector<QImage> frames;
    for (size_t i = 0; i < layout.Graphs.size(); ++i) {
        QImage graph(layout.Graphs[i].size().expandedTo(QSize(kLeft + 2, kTop + 2)), QImage::Format_RGB32);
        const QRect area(kLeft, kTop, graph.width() - kLeft, graph.height() - kTop);
        const QString title = i < size_t(p.Titles.size()) ? p.Titles[int(i)] : QString();
        if (p.Log)
            DrawLogFreqGraph(graph, area, p.Rate, title, 0, -p.RangeDb, p.Bins);
        else
            DrawLinFreqGraph(graph, area, p.Rate, title, 0, -p.RangeDb, p.Bins);
        frames.push_back(std::move(graph));
    }
    return frames;
}

QImage PaintSpectrum(const TSpectrumPicture& p, const TSpectrumLayout& layout, const std::vector<QImage>& frames)
{
    QImage img(std::max(1, p.Width), std::max(1, p.Height), QImage::Format_RGB32);
    img.fill(GraphMarginColor());
    QPainter painter(&img);
    const double bottom = -p.RangeDb;
    for (size_t i = 0; i < layout.Graphs.size() && i < frames.size(); ++i) {
        const QRect g = layout.Graphs[i];
        const QImage& graph = frames[i];
        painter.drawImage(g.topLeft(), graph, QRect(QPoint(0, 0), g.size()));
        // The curves go straight onto the picture, in the graph's own coordinates and
        // clipped to its plot area within the part of the frame that is shown.
        const QRect area(kLeft, kTop, graph.width() - kLeft, graph.height() - kTop);
        if (i < p.Spectra.size() && i < p.Peaks.size()) {
            const QColor blue(0x10, 0x30, 0xFF), red(0xFF, 0x30, 0x10);
            painter.save();
            painter.translate(g.topLeft());
            painter.setClipRect(area & QRect(QPoint(0, 0), g.size()));
            if (p.Log) {
                DrawLogCurve(painter, area, p.Rate, blue, p.Spectra[i], 0, bottom, p.Bins);
                DrawLogCurve(painter, area, p.Rate, red, p.Peaks[i], 0, bottom, p.Bins);
            } else {
                DrawLinCurve(painter, area, p.Rate, blue, p.Spectra[i], 0, bottom);
                DrawLinCurve(painter, area, p.Rate, red, p.Peaks[i], 0, bottom);
            }
            painter.restore();
        }
        painter.setPen(Qt::black);
        if (g.y() > 0)
            painter.drawLine(g.x(), g.y() - 1, g.right(), g.y() - 1);
        if (g.x() > 0)
            painter.drawLine(g.x() - 1, g.y(), g.x() - 1, g.bottom());
    }
    return img;
}

QImage PaintSpectrum(const TSpectrumPicture& p, const TSpectrumLayout& layout)
{
    return PaintSpectrum(p, layout, PaintSpectrumFrames(p, layout));
}

TFo_Spectrum::TFo_Spectrum(TSpectrumAnalyser& analyser, TSettings& settings, QWidget* parent)
    : QWidget(parent), Analyser(analyser), Config(settings)
{
    setObjectName("Fo_Spectrum");
    setWindowTitle("スペクトル");
    SetHint(this, "|各チャンネルのスペクトルを表示します");
    QFont font("Noto Sans CJK JP");
    font.setPointSize(9);
    setFont(font);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(6, 3, 6, 3);
    bar->addWidget(new QLabel("レベル軸:", this));
    Co_DB = new QComboBox(this);
    Co_DB->setObjectName("Co_DB");
    for (int db : kRanges)
        Co_DB->addItem(QString::number(db));
    SetHint(Co_DB, "縦軸の表示範囲を指定します");
    bar->addWidget(Co_DB);
    bar->addWidget(new QLabel("dB", this));
    bar->addSpacing(16);
    bar->addWidget(new QLabel("周波数軸:", this));
    RB_Lin = new QRadioButton("リニア", this);
    RB_Lin->setObjectName("RB_Lin");
    RB_Log = new QRadioButton("ログ", this);
    RB_Log->setObjectName("RB_Log");
    bar->addWidget(RB_Lin);
    bar->addWidget(RB_Log);
    bar->addStretch();

    PB_Spectrum = new TPaintBox(this);
    PB_Spectrum->setObjectName("PB_Spectrum");
    PB_Spectrum->OnResize = [this] { Redraw(); };
    PB_Spectrum->installEventFilter(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // The graphs may be made narrower than the controls: they then stack.
    column->setSizeConstraint(QLayout::SetNoConstraint);
    column->addLayout(bar);
    column->addWidget(PB_Spectrum, 1);

    MirrorSettings();
    connect(Co_DB, &QComboBox::activated, this, [this] { Co_DBChange(); });
    connect(RB_Lin, &QRadioButton::clicked, this, [this] { AxisClick(); });
    connect(RB_Log, &QRadioButton::clicked, this, [this] { AxisClick(); });

    // The analyser runs only while the window is on screen.
    Ti_Redraw = new TWindowTimer(this, [this] { Ti_RedrawTimer(); });
    Ti_Redraw->setObjectName("Ti_Redraw");
    Ti_Redraw->OnHidden = [&analyser] { analyser.Teardown(); };
    resize(400, 320);
}

TFo_Spectrum::~TFo_Spectrum()
{
    Ti_Redraw->stop();
    Analyser.Teardown();
}

bool TFo_Spectrum::Showing() const
{
    return OnScreen(this);
}

void TFo_Spectrum::MirrorSettings()
{
    Updating = true;
    if (!Co_DB->hasFocus() && Co_DB->currentIndex() != RangeIndex(Config.View.nSpectrumDB))
        Co_DB->setCurrentIndex(RangeIndex(Config.View.nSpectrumDB));
    (Config.View.bSpectrumLog ? RB_Log : RB_Lin)->setChecked(true);
    Updating = false;
}

void TFo_Spectrum::Ti_RedrawTimer()
{
    const bool showing = Showing();
    Analyser.Update(showing);
    if (!showing)
        return;
    if (Co_DB->currentIndex() != RangeIndex(Config.View.nSpectrumDB) && !Co_DB->hasFocus())
        MirrorSettings();
    Analyser.TakeNewData();
    // A torn-down analyser shows nothing new: only a setting changed elsewhere (the
    // setup dialog, the remote control) asks for a picture then.
    const std::array<int, 4> idle{Analyser.Active(), Config.View.bSpectrumLog, Config.View.nSpectrumDB,
                                  Config.Operation.bSpectrumVertical};
    if (!Analyser.Active() && idle == IdleDrawn)
        return;
    IdleDrawn = idle;
    Redraw(false);
    // Once the output has stopped and every curve lies below the range shown, the rest of
    // the fall cannot be seen: the analyser is torn down rather than decayed unseen.
    if (Analyser.Active() && Analyser.OutputStopped() &&
        std::all_of(DrawnRows.begin(), DrawnRows.end(), [](int row) { return row == 0; })) {
        Analyser.Teardown();
        IdleDrawn[0] = 0;
        Redraw(false);
    }
}

void TFo_Spectrum::Co_DBChange()
{
    if (Updating)
        return;
    Config.View.nSpectrumDB = kRanges[std::clamp(Co_DB->currentIndex(), 0, 4)];
    Redraw();
}

void TFo_Spectrum::AxisClick()
{
    if (Updating)
        return;
    Config.View.bSpectrumLog = RB_Log->isChecked();
    Redraw();
}

bool TFo_Spectrum::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == PB_Spectrum && event->type() == QEvent::MouseButtonDblClick) {
        Config.Operation.bSpectrumVertical = !Config.Operation.bSpectrumVertical;
        Redraw();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

TSpectrumPicture TFo_Spectrum::Picture() const
{
    TSpectrumPicture p;
    p.Width = PB_Spectrum->width();
    p.Height = PB_Spectrum->height();
    p.Vertical = Config.Operation.bSpectrumVertical;
    p.Log = Config.View.bSpectrumLog;
    p.RangeDb = Config.View.nSpectrumDB;
    const int channels = Analyser.Active() ? Analyser.Channels() : 2;
    p.Rate = Analyser.Rate();
    p.Bins = Analyser.Size() / 2 + 1;
    for (int c = 0; c < channels; ++c) {
        const std::string name = c < 2 ? Config.Output.szChName[c] : ChannelName(c);
        p.Titles << QString::fromStdString(name).trimmed();
        if (Analyser.Active()) {
            p.Spectra.push_back(Analyser.Spectrum(c));
            p.Peaks.push_back(Analyser.Peak(c));
        }
    }
    return p;
}

// The graphs' frames are drawn again only when what they show changed (size, settings,
// rate, titles); the curves only when one of them would move on screen.
void TFo_Spectrum::Redraw(bool always)
{
    const TSpectrumPicture p = Picture();
    const TSpectrumLayout layout = LayoutSpectrum(int(p.Titles.size()), p.Width, p.Height, p.Vertical);
    if (layout.Switch)
        Config.Operation.bSpectrumVertical = !p.Vertical;
    const int area = layout.Graphs.empty() ? 0 : layout.Graphs[0].height() - kTop;
    std::vector<int> rows = CurveRows(p, area);
    const TFrameInputs inputs{p.Width, p.Height, p.Vertical, p.Log, p.RangeDb, p.Rate, p.Bins, p.Titles};
    const bool framesChanged = !(inputs == FrameKey) || Frames.size() != layout.Graphs.size();
    if (!always && !framesChanged && rows == DrawnRows)
        return;
    if (framesChanged) {
        Frames = PaintSpectrumFrames(p, layout);
        FrameKey = inputs;
    }
    DrawnRows = std::move(rows);
    PB_Spectrum->SetImage(PaintSpectrum(p, layout, Frames));
}

} // namespace marlix
