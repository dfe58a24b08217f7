#include "gui/player/about.h"

#include "base/dynlib.h"
#include "platform/dsdec/dsdec.h"
#include "platform/waveout/alsawaveout.h"

#include <QApplication>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace marlix {

namespace {

const QString kMissing = QStringLiteral("(見つかりません)");

// The version string a module exports under `symbol`, or "missing".
QString ModuleVersion(const char* module, const char* symbol)
{
    TDynLib lib = OpenModule(module);
    const char* (*version)() = nullptr;
    if (!lib || !lib.Resolve(symbol, version))
        return kMissing;
    const char* v = version();
    QString text = v ? QString::fromUtf8(v) : kMissing;
    // The host library stays loaded (it is never unloaded once used); the others close.
    if (std::string(module) == "asiohost.so")
        lib.Release();
    return text;
}

QPixmap AppIcon()
{
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull())
        return icon.pixmap(48, 48);
    // Without an installed icon: a dial face in the program's colours.
    QPixmap pix(48, 48);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(96, 96, 255));
    p.setPen(Qt::NoPen);
    p.drawEllipse(2, 2, 44, 44);
    p.setBrush(QColor(221, 214, 208));
    p.drawEllipse(10, 10, 28, 28);
    p.setPen(QPen(QColor(96, 96, 96), 3));
    p.drawLine(24, 24, 32, 14);
    return pix;
}

} // namespace

std::vector<std::pair<QString, QString>> ComponentVersions()
{
    const std::string ffmpeg = dsdVersion();
    return {
        {QStringLiteral("Qt"), QString::fromLatin1(qVersion())},
        {QStringLiteral("FFmpeg"), ffmpeg.empty() ? kMissing : QString::fromStdString(ffmpeg)},
        {QStringLiteral("FFTW"), ModuleVersion("nsp.so", "nspGetVersion")},
        {QStringLiteral("JACK"), ModuleVersion("asiohost.so", "asioGetVersion")},
        {QStringLiteral("ALSA"), QString::fromStdString(TAlsaWaveOut::LibraryVersion())},
    };
}

TFo_About::TFo_About(QWidget* parent)
    : QDialog(parent)
{
    setObjectName("Fo_About");
    setWindowTitle(QStringLiteral("バージョン情報"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setModal(true);

    auto* icon = new QLabel;
    icon->setObjectName("Im_Icon");
    icon->setPixmap(AppIcon());
    auto* title = new QLabel(QStringLiteral("Marlix Audio Version 1.19"));
    title->setObjectName("La_Title");
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    title->setFont(big);

    auto* grid = new QGridLayout;
    int row = 0;
    for (const auto& [name, version] : ComponentVersions()) {
        auto* n = new QLabel(name);
        auto* v = new QLabel(version);
        v->setObjectName(QStringLiteral("La_Version_") + name);
        grid->addWidget(n, row, 0);
        grid->addWidget(v, row, 1);
        ++row;
    }
    auto* maker = new QLabel(QStringLiteral("製作: Marlix Audio プロジェクト"));
    maker->setObjectName("La_Maker");
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName("Bu_OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* head = new QHBoxLayout;
    head->addWidget(icon);
    head->addWidget(title, 1);
    auto* v = new QVBoxLayout(this);
    v->addLayout(head);
    v->addWidget(new QLabel(QStringLiteral("使用しているコンポーネント:")));
    v->addLayout(grid);
    v->addWidget(maker);
    v->addWidget(ok, 0, Qt::AlignHCenter);
    v->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace marlix
