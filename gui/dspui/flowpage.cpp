#include "gui/dspui/flowpage.h"

#include "gui/speedbutton.h"

#include <QPainter>
#include <QToolButton>

namespace marlix {

namespace {

constexpr int kBoxW = 96, kBoxH = 64, kGap = 20, kLeft = 10, kTop = 16, kRowStep = 110;

const char* const kCaptions[] = {"デコーダ", "エフェクタ", "コンボルバー", "マトリクス", "イコライザ",
                                 "リサンプラ", "HSC", "マスター", "出力"};

void Bevel(QPainter& p, const QRect& r, const QColor& light, const QColor& dark)
{
    p.setPen(light);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(dark);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

} // namespace

QRect TSignalFlowPage::BoxRect(int box)
{
    // Five boxes in the first row, four in the second.
    const int row = box < 5 ? 0 : 1;
    const int col = box < 5 ? box : box - 5;
    return {kLeft + col * (kBoxW + kGap), kTop + row * kRowStep, kBoxW, kBoxH};
}

TSignalFlowPage::TSignalFlowPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("Pa_SignalFlow");
    Bu_EFX = AddButton(Effect, "Bu_EFX", "ON", QStringLiteral("エフェクタ|エフェクタのON/OFFを切り替えます"), false);
    Bu_C = AddButton(Convolver, "Bu_C", "ON", QStringLiteral("コンボルバー|コンボルバーのON/OFFを切り替えます"), false);
    Bu_Matrix = AddButton(Matrix, "Bu_Matrix", "ON",
                          QStringLiteral("マトリクス|チャンネルマトリクスのON/OFFを切り替えます"), false);
    Bu_EQ = AddButton(Equalizer, "Bu_EQ", "ON", QStringLiteral("イコライザ|イコライザのON/OFFを切り替えます"), false);
    Bu_HSC = AddButton(HSC, "Bu_HSC", "ON",
                       QStringLiteral("Rivor Edevu Vezirada|Rivor Edevu Vezirada（高域補完エフェクト）のON/OFFを切り替えます"),
                       false);
    for (QToolButton* b : {Bu_EFX, Bu_C, Bu_Matrix, Bu_EQ, Bu_HSC})
        b->setCheckable(true);
    Edit[Effect] = AddButton(Effect, "Bu_EFXEdit", "Edit", QStringLiteral("エフェクタ編集|エフェクタの設定を編集します"), true);
    Edit[Convolver] = AddButton(Convolver, "Bu_CEdit", "Edit",
                                QStringLiteral("コンボルバー編集|コンボルバーの設定を編集します"), true);
    Edit[Matrix] = AddButton(Matrix, "Bu_MatrixEdit", "Edit", QStringLiteral("マトリクス編集|マトリクスの設定を編集します"),
                             true);
    Edit[Equalizer] = AddButton(Equalizer, "Bu_EQEdit", "Edit",
                                QStringLiteral("イコライザ編集|イコライザの設定を編集します"), true);
    Edit[ReSampler] = AddButton(ReSampler, "Bu_ReSamplerEdit", "Edit",
                                QStringLiteral("リサンプラ編集|リサンプラの設定を編集します"), true);
    Edit[Master] = AddButton(Master, "Bu_MasterEdit", "Edit", QStringLiteral("マスター編集|マスターの設定を編集します"),
                             true);
}

QToolButton* TSignalFlowPage::AddButton(int box, const char* name, const QString& text, const QString& hint, bool right)
{
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setText(text);
    SetHint(b, hint);
    const QRect r = BoxRect(box);
    b->setGeometry(right ? r.right() - 41 : r.left() + 4, r.bottom() - 25, 38, 22);
    return b;
}

void TSignalFlowPage::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0xF4, 0xF5, 0xF7));
    const QColor light(255, 255, 255), dark(0x80, 0x80, 0x80);
    auto link = [&](QPoint a, QPoint b) {
        p.setPen(QPen(dark, 1));
        p.drawLine(a, b);
        p.setPen(QPen(light, 1));
        p.drawLine(a + QPoint(0, 1), b + QPoint(0, 1));
    };
    for (int i = 0; i + 1 < BoxCount; ++i) {
        const QRect a = BoxRect(i), b = BoxRect(i + 1);
        if (i == Equalizer) { // down from the end of the first row to the start of the second
            const int y = a.bottom() + (kRowStep - kBoxH) / 2;
            link({a.center().x(), a.bottom()}, {a.center().x(), y});
            link({a.center().x(), y}, {b.center().x(), y});
            link({b.center().x(), y}, {b.center().x(), b.top()});
        } else
            link({a.right(), a.center().y()}, {b.left(), b.center().y()});
    }
    QFont f = font();
    f.setBold(true);
    p.setFont(f);
    for (int i = 0; i < BoxCount; ++i) {
        const QRect r = BoxRect(i);
        p.fillRect(r, QColor(0xE6, 0xEA, 0xF0));
        Bevel(p, r, light, dark);
        p.setPen(Qt::black);
        p.drawText(r.adjusted(2, 4, -2, 0), Qt::AlignHCenter | Qt::AlignTop, QString::fromUtf8(kCaptions[i]));
    }
}

} // namespace marlix
