#include "gui/dspui/setup.h"

#include "gui/dspui/setupasio.h"
#include "gui/dspui/setupfilter.h"
#include "gui/dspui/setupfunction.h"
#include "gui/dspui/setupmeasure.h"
#include "gui/dspui/setupmme.h"
#include "gui/dspui/setupoperation.h"
#include "gui/dspui/setupoutput.h"
#include "gui/dspui/setupresampling2.h"
#include "gui/dspui/setupview.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace marlix {

TFo_Setup::TFo_Setup(TSettings& settings, std::string programFolder, QWidget* parent)
    : QDialog(parent), Config(settings)
{
    setObjectName("Fo_Setup");
    setWindowTitle("環境の設定");
    QFont font("Noto Sans CJK JP");
    font.setPointSize(9);
    setFont(font);

    PC_Setup = new QTabWidget(this);
    PC_Setup->setObjectName("PC_Setup");
    PC_Setup->setUsesScrollButtons(false); // every page's tab in sight
    PC_Setup->addTab(Operation = new TSetupOperationPage, "操作");
    PC_Setup->addTab(View = new TSetupViewPage, "表示");
    PC_Setup->addTab(Function = new TSetupFunctionPage(std::move(programFolder)), "機能");
    PC_Setup->addTab(Output = new TSetupOutputPage, "オーディオ出力");
    PC_Setup->addTab(MME = new TSetupMMEPage, "標準ドライバ");
    PC_Setup->addTab(ASIO = new TSetupASIOPage, "ASIOドライバ");
    PC_Setup->addTab(Filter = new TSetupFilterPage, "フィルタ");
    PC_Setup->addTab(ReSampling1 = new TSetupReSampling1Page, "リサンプリング(1)");
    PC_Setup->addTab(ReSampling2 = new TSetupReSampling2Page, "リサンプリング(2)");
    PC_Setup->addTab(Measure = new TSetupMeasurePage, "音響特性の測定");
    // The fixed output rate is one of the allowed rates.
    Output->OnRatesChanged = [this] { ReSampling1->AllowedRatesChanged(Output->TickedRates()); };

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("Bu_OK");
    ok->setDefault(true);
    auto* cancel = new QPushButton("キャンセル", this);
    cancel->setObjectName("Bu_Cancel");
    connect(ok, &QPushButton::clicked, this, [this] { Bu_OKClick(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(PC_Setup);
    column->addLayout(buttons);

    LoadControls();
    PC_Setup->setCurrentIndex(0);
}

QStringList TFo_Setup::PageNames() const
{
    QStringList names;
    for (int i = 0; i < PC_Setup->count(); ++i)
        names << PC_Setup->widget(i)->objectName();
    return names;
}

void TFo_Setup::SelectPage(const QString& name)
{
    if (QWidget* page = PC_Setup->findChild<QWidget*>(name))
        PC_Setup->setCurrentWidget(page);
}

// The driver's lists first (the driver starts briefly), then the records in their order.
void TFo_Setup::LoadControls()
{
    ASIO->Load(Config);
    Operation->Load(Config);
    View->Load(Config);
    Function->Load(Config);
    Output->Load(Config);
    MME->Load(Config);
    Filter->Load(Config);
    ReSampling1->Load(Config, Output->TickedRates());
    ReSampling2->Load(Config);
    Measure->Load(Config);
    ReSampling1->UpdateResamplingTable();
}

void TFo_Setup::Bu_OKClick()
{
    SaveControls();
    accept();
}

void TFo_Setup::SaveControls()
{
    Operation->Save(Config);
    View->Save(Config);
    Function->Save(Config);
    Output->Save(Config);
    MME->Save(Config);
    ASIO->Save(Config);
    Filter->Save(Config);
    ReSampling1->Save(Config);
    ReSampling2->Save(Config);
    Measure->Save(Config);
}

} // namespace marlix
