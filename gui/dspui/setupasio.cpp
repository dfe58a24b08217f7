#include "gui/dspui/setupasio.h"

#include "engine/asiothread.h"
#include "gui/dspui/setupcontrols.h"
#include "settings/settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>

namespace marlix {
namespace {

// The host calls back for every buffer while the page reads the driver's names: silence.
void NoRender(int frames, int, int32_t* const*, int outputCount, int32_t* const* outputs)
{
    for (int k = 0; k < outputCount; ++k)
        std::fill_n(outputs[k], frames, 0);
}

} // namespace

TSetupASIOPage::TSetupASIOPage()
{
    setObjectName("TS_ASIO");
    auto* form = new QVBoxLayout(this);
    Co_ASIODriver = Combo(this, "Co_ASIODriver", {});
    Co_ASIODriver->setMinimumWidth(260);
    connect(Co_ASIODriver, &QComboBox::activated, this, [this] {
        EditedDriver = Co_ASIODriver->currentText().toStdString();
        FillASIOLists();
    });
    auto* panel = new QPushButton("ASIOコントロールパネル", this);
    panel->setObjectName("Bu_ASIOControlPanel");
    connect(panel, &QPushButton::clicked, this, [this] { Bu_ASIOControlPanelClick(); });
    auto* driver = new QGroupBox("使用するASIOドライバ", this);
    (new QVBoxLayout(driver))->addWidget(Row(driver, {Co_ASIODriver, panel}));

    auto* out = new QGroupBox("出力デバイスのアサイン", this);
    Co_ASIODevice0 = Combo(out, "Co_ASIODevice0", {});
    Co_ASIODevice0->setMinimumWidth(260);
    Co_ASIOChAssign0 = Combo(out, "Co_ASIOChAssign0", {});
    Co_ASIOChAssign0->hide();
    auto* reset = new QPushButton("初期化", out);
    reset->setObjectName("Bu_ASIOReset");
    connect(reset, &QPushButton::clicked, this, [this] {
        Co_ASIODevice0->setCurrentIndex(-1);
        ChAssignReset = true;
    });
    (new QVBoxLayout(out))->addWidget(Row(out, {Label(out, "左右のスピーカ(L,R)"), Co_ASIODevice0, reset}));

    auto* in = new QGroupBox("入力デバイスのアサイン", this);
    Co_ASIOInDevice0 = Combo(in, "Co_ASIOInDevice0", {});
    Co_ASIOInDevice0->setMinimumWidth(260);
    auto* inReset = new QPushButton("初期化", in);
    inReset->setObjectName("Bu_ASIOInReset");
    connect(inReset, &QPushButton::clicked, this, [this] { Co_ASIOInDevice0->setCurrentIndex(-1); });
    (new QVBoxLayout(in))->addWidget(Row(in, {Label(in, "測定用マイク入力:"), Co_ASIOInDevice0, inReset}));

    form->addWidget(driver);
    form->addWidget(out);
    form->addWidget(in);
    form->addStretch();
}

void TSetupASIOPage::Load(const TSettings& s)
{
    EditedDriver = s.ASIO.DriverName;
    StoredDevice = s.ASIO.Device0;
    StoredInDevice = s.ASIO.InDevice0;
    FillASIOLists();
    Co_ASIODevice0->setCurrentIndex(StoredDevice < Co_ASIODevice0->count() ? StoredDevice : -1);
    Co_ASIOInDevice0->setCurrentIndex(StoredInDevice < Co_ASIOInDevice0->count() ? StoredInDevice : -1);
}

void TSetupASIOPage::Save(TSettings& s) const
{
    s.ASIO.DriverName = EditedDriver;
    s.ASIO.Device0 = Co_ASIODevice0->currentIndex();
    s.ASIO.InDevice0 = Co_ASIOInDevice0->currentIndex();
    if (ChAssignReset)
        s.ASIO.ChAssign0 = 0;
}

void TSetupASIOPage::FillASIOLists()
{
    const bool started = asioStart(EditedDriver.c_str(), &NoRender);
    Co_ASIODriver->clear();
    for (int i = 0; i < ASIODriverCount(); ++i)
        Co_ASIODriver->addItem(QString::fromStdString(ASIODriverName(i)));
    Co_ASIODriver->setCurrentIndex(Co_ASIODriver->findText(QString::fromStdString(EditedDriver)));

    const int device = Co_ASIODevice0->currentIndex() >= 0 ? Co_ASIODevice0->currentIndex() : StoredDevice;
    const int input = Co_ASIOInDevice0->currentIndex() >= 0 ? Co_ASIOInDevice0->currentIndex() : StoredInDevice;
    Co_ASIODevice0->clear();
    Co_ASIOInDevice0->clear();
    Co_ASIOChAssign0->clear();
    for (int i = 0; started && i < 32; ++i) {
        const std::string out = ASIOOutputName(2 * i);
        if (out.empty())
            break;
        const QString pair = QString::fromStdString(out) + ", " + QString::fromStdString(ASIOOutputName(2 * i + 1));
        Co_ASIODevice0->addItem(pair);
        if (i == 0)
            Co_ASIOChAssign0->addItem(pair);
    }
    for (int i = 0; started && i < 32; ++i) {
        const std::string in = ASIOInputName(2 * i);
        if (in.empty())
            break;
        Co_ASIOInDevice0->addItem(QString::fromStdString(in) + ", " + QString::fromStdString(ASIOInputName(2 * i + 1)));
    }
    Co_ASIODevice0->setCurrentIndex(device < Co_ASIODevice0->count() ? device : -1);
    Co_ASIOInDevice0->setCurrentIndex(input < Co_ASIOInDevice0->count() ? input : -1);
    asioStop(); // also a driver that failed to start leaves its host behind
}

void TSetupASIOPage::Bu_ASIOControlPanelClick()
{
    if (EditedDriver != "JACK") {
        QMessageBox::information(this, "ASIOコントロールパネル", "このドライバにはコントロールパネルがありません。");
        return;
    }
    for (const char* program : {"qpwgraph", "qjackctl"}) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty() && QProcess::startDetached(path, {}))
            return;
    }
    QMessageBox::information(this, "ASIOコントロールパネル",
                             "JACKのパッチベイ(qpwgraph または qjackctl)が見つかりません。インストールしてください。");
}

} // namespace marlix
