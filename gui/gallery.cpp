#include "gui/gallery.h"

#include "gui/paintbox.h"
#include "gui/plot.h"
#include "gui/scrollframe.h"
#include "gui/shading.h"
#include "gui/sprites.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>
#include <numbers>
#include <vector>

namespace marlix {

namespace {

constexpr double kPi = std::numbers::pi;

QFont CaptionFont()
{
    QFont f(QStringLiteral("Noto Sans CJK JP"));
    f.setPixelSize(12);
    return f;
}

void Caption(QImage& img, const QRect& r, const QString& text)
{
    QPainter p(&img);
    p.setFont(CaptionFont());
    p.setPen(Qt::black);
    p.drawText(r, Qt::AlignHCenter | Qt::AlignTop, text);
}

// A knob on its scale: 270° of ticks from lower left to lower right, clockwise.
void DrawDial(QImage& img, int cx, int cy, int radius, TColor32 body, TColor32 tick)
{
    const double start = 0.75 * kPi;
    TDIVLine scale(31, 1, tick, 2.0, 1.0, 7, 4, radius + 4, 5, start + 1.5 * kPi, start);
    scale.DrawOnto(img, cx, cy);
    TDial3 knob(radius, 0.5, 4, 1.3, PixRGB(200, 200, 210), body, radius * 2 / 3);
    knob.DrawOnto(img, cx, cy);
}

void DrawSwitch(QImage& img, int x, int y, bool lit, const QString& text)
{
    TSoftSW sw(72, PixRGB(212, 208, 200), lit ? 1 : 0, 30);
    sw.DrawOnto(img, x, y);
    QPainter p(&img);
    p.setFont(CaptionFont());
    p.setPen(lit ? QColor(255, 0, 0) : QColor(0, 0, 0));
    p.drawText(QRect(x + 2, y + 2, 68, 26), Qt::AlignCenter, text);
}

} // namespace

QImage PaintSpriteSheet()
{
    QImage img(560, 250, QImage::Format_ARGB32);
    img.fill(QColor(236, 236, 240));
    DrawDial(img, 62, 70, 36, PixRGB(70, 80, 100), PixRGB(30, 30, 60));
    DrawDial(img, 170, 70, 28, PixRGB(150, 60, 40), PixRGB(120, 30, 20));
    DrawDial(img, 262, 70, 20, PixRGB(60, 110, 70), PixRGB(20, 70, 30));
    Caption(img, QRect(0, 130, 310, 20), QStringLiteral("ダイヤル (TDial3 + TDIVLine)"));

    DrawSwitch(img, 330, 30, false, QStringLiteral("EQ"));
    DrawSwitch(img, 420, 30, true, QStringLiteral("EQ"));
    DrawSwitch(img, 330, 75, false, QStringLiteral("HSC"));
    DrawSwitch(img, 420, 75, true, QStringLiteral("HSC"));
    Caption(img, QRect(320, 130, 200, 20), QStringLiteral("スイッチ 消灯 / 点灯 (TSoftSW)"));

    DrawBar(img, QRect(20, 165, 160, 40), PixRGB(160, 160, 255), true, 0.5, PixRGB(96, 96, 255));
    DrawBar(img, QRect(200, 165, 160, 40), PixRGB(255, 224, 160), false, 0.5, PixRGB(160, 96, 32));
    DrawGradient(img, QRect(380, 165, 160, 40), PixRGB(0, 0, 128), true, 2.0, PixRGB(200, 230, 255));
    Caption(img, QRect(20, 212, 160, 20), QStringLiteral("バー (横)"));
    Caption(img, QRect(200, 212, 160, 20), QStringLiteral("バー (縦)"));
    Caption(img, QRect(380, 212, 160, 20), QStringLiteral("グラデーション"));
    return img;
}

TToolkitGallery::TToolkitGallery(QWidget* parent)
    : QWidget(parent)
    , PB_Sprites(new TPaintBox)
    , PB_List(new TPaintBox)
    , Fr_Scroll(new TFr_Scroll(nullptr))
    , Fo_Plot(new TFo_Plot)
{
    setObjectName("Fo_ToolkitGallery");
    setWindowTitle(QStringLiteral("Marlix Audio — ツールキット"));
    Fo_Plot->setAttribute(Qt::WA_DeleteOnClose, false);
    PB_Sprites->setObjectName("PB_Sprites");
    PB_Sprites->SetImage(PaintSpriteSheet());
    PB_Sprites->setFixedSize(PB_Sprites->Image().size());

    auto* listBox = new QGroupBox(QStringLiteral("スクロール枠 (TFr_Scroll)"));
    auto* listLayout = new QHBoxLayout(listBox);
    listLayout->setSpacing(0);
    PB_List->setObjectName("PB_List");
    PB_List->setFixedSize(230, 10 * 21);
    Fr_Scroll->setFixedSize(16, 10 * 21);
    listLayout->addWidget(PB_List);
    listLayout->addWidget(Fr_Scroll);

    auto* top = new QHBoxLayout;
    top->addWidget(PB_Sprites);
    top->addWidget(listBox);

    auto* plotBox = new QGroupBox(QStringLiteral("プロット (TFo_Plot)"));
    auto* plotLayout = new QVBoxLayout(plotBox);
    Fo_Plot->setMinimumSize(820, 380);
    plotLayout->addWidget(Fo_Plot);

    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addWidget(plotBox);

    // A 255-tap windowed-sinc low-pass at 16 kHz of 48 kHz.
    const int n = 255;
    const double fc = 16000.0 / 48000.0;
    std::vector<double> taps(n);
    for (int i = 0; i < n; ++i) {
        const double t = i - (n - 1) / 2;
        const double sinc = t == 0 ? 2 * fc : std::sin(2 * kPi * fc * t) / (kPi * t);
        taps[i] = sinc * (0.42 - 0.5 * std::cos(2 * kPi * i / (n - 1)) + 0.08 * std::cos(4 * kPi * i / (n - 1)));
    }
    Fo_Plot->LoadBlock(taps);
    Fo_Plot->SetSampleRate(48000);
    Fo_Plot->SetFreqLog(true);
    Fo_Plot->SetRangeIndex(2);
}

void TToolkitGallery::DrawList()
{
    static const char* const kTitles[] = {
        "01 序曲", "02 Nocturne in E-flat", "03 春の海", "04 Clair de lune", "05 交響曲第9番",
        "06 Gymnopédie No. 1", "07 さくらさくら", "08 Air on the G String", "09 月光",
        "10 Canon in D", "11 荒城の月", "12 Boléro", "13 故郷", "14 Adagio", "15 赤とんぼ"};
    const int count = int(std::size(kTitles));
    Fr_Scroll->SetCount(count);
    QImage img(PB_List->size(), QImage::Format_ARGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setFont(CaptionFont());
    const int first = Fr_Scroll->Position();
    for (int row = 0; row * 21 < img.height() && first + row < count; ++row) {
        const QRect r(0, row * 21, img.width(), 21);
        if ((first + row) % 2)
            p.fillRect(r, QColor(244, 244, 252));
        p.drawText(r.adjusted(3, 3, -3, 0), Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(kTitles[first + row]));
    }
    p.end();
    PB_List->SetImage(img);
}

bool TToolkitGallery::SaveTo(const QString& fileName)
{
    setAttribute(Qt::WA_DontShowOnScreen, false);
    show();
    QApplication::processEvents();
    Fr_Scroll->SetCount(15);
    // Scrolled a little, so the thumb shows away from the top.
    Fr_Scroll->SetPosition(3);
    DrawList();
    QApplication::processEvents();
    return grab().save(fileName, "PNG");
}

} // namespace marlix
