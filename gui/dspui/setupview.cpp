#include "gui/dspui/setupview.h"

#include "gui/dspui/setupcontrols.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace marlix {

TSetupViewPage::TSetupViewPage()
{
    setObjectName("TS_View");
    auto* form = new QVBoxLayout(this);
    Ed_FontSize = Spin(this, "Ed_FontSize", 3, 200, "pt");
    Ch_AlphaBlend = Check(this, "Ch_AlphaBlend", "ブラウザを透過表示");
    TB_AlphaBlend = new QSlider(Qt::Horizontal, this);
    TB_AlphaBlend->setObjectName("TB_AlphaBlend");
    TB_AlphaBlend->setRange(0, 255);
    TB_AlphaBlend->setMinimumWidth(200);
    Ch_SmoothScroll = Check(this, "Ch_SmoothScroll", "スムーズにスクロール");
    Ed_WallPaper = new QLineEdit(this);
    Ed_WallPaper->setObjectName("Ed_WallPaper");
    Ed_WallPaper->setMinimumWidth(280);
    QPushButton* browse = FileButton(this, "Bu_WallPaper", Ed_WallPaper, "*.bmp (*.bmp);;*.* (*)");
    form->addWidget(Row(this, {Label(this, "フォントサイズ:"), Ed_FontSize}));
    form->addWidget(Ch_AlphaBlend);
    form->addWidget(Row(this, {Label(this, "透過率:"), TB_AlphaBlend}));
    form->addWidget(Ch_SmoothScroll);
    form->addWidget(Row(this, {Label(this, "壁紙:"), Ed_WallPaper, browse}));
    form->addStretch();
}

void TSetupViewPage::Load(const TSettings& s)
{
    const TSettingView& v = s.View;
    Ed_FontSize->setValue(v.nBrowserFontSize);
    Ch_AlphaBlend->setChecked(v.bBrowserAlphaBlend);
    TB_AlphaBlend->setValue(v.nBrowserAlphaBlendValue);
    Ch_SmoothScroll->setChecked(v.bBrowserSmoothScroll);
    Ed_WallPaper->setText(QString::fromStdString(v.WallPaper));
}

void TSetupViewPage::Save(TSettings& s) const
{
    TSettingView& v = s.View;
    v.nBrowserFontSize = Ed_FontSize->value();
    v.bBrowserAlphaBlend = Ch_AlphaBlend->isChecked();
    v.nBrowserAlphaBlendValue = TB_AlphaBlend->value();
    v.bBrowserSmoothScroll = Ch_SmoothScroll->isChecked();
    v.WallPaper = Ed_WallPaper->text().toStdString();
}

} // namespace marlix
