#include "gui/dspui/setupoperation.h"

#include "gui/dspui/setupcontrols.h"
#include "gui/shortcut.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace marlix {
namespace {

const char* const kShortCutCaptions[] = {"前の曲:", "停止:", "一時停止:", "再生:", "次の曲:", "1曲再生:",
                                         "リピート:", "リピート1:", "ランダム:", "BGM:", "EFX:", "Conv.:",
                                         "Matrix:", "EQ:", "HSC:", "音量Up:", "音量Down:"};
using TOp = TSettingOperation;
constexpr int kShortCutOrder[] = {TOp::scRew,     TOp::scStop,   TOp::scPause,  TOp::scPlay,   TOp::scFF,
                                  TOp::scPlay1,   TOp::scRepeat, TOp::scRepeat1, TOp::scRandom, TOp::scBGM,
                                  TOp::scEFX,     TOp::scConv,   TOp::scMatrix, TOp::scEQ,     TOp::scHSC,
                                  TOp::scVolUp,   TOp::scVolDown};

} // namespace

TSetupOperationPage::TSetupOperationPage()
{
    setObjectName("TS_Operation");
    auto* form = new QVBoxLayout(this);
    Ch_ClickRoot = Check(this, "Ch_ClickRoot", "ルートフォルダのクリックを許可する");
    Co_BrowserType = Combo(this, "Co_BrowserType", {"1列に表示", "画面いっぱいに表示"});
    Ch_SkipSubFolder = Check(this, "Ch_SkipSubFolder", "フォルダが1つしかない階層をスキップ");
    Ed_BrowseExts = new QLineEdit(this);
    Ed_BrowseExts->setObjectName("Ed_BrowseExts");
    Ch_JukeBoxMode = Check(this, "Ch_JukeBoxMode", "ジュークボックスモード(1曲のみ選曲可能)");
    Ch_MouseScroll = Check(this, "Ch_MouseScroll", "マウスオーバーでスクロールする");
    Ch_PlayAtOpen = Check(this, "Ch_PlayAtOpen", "開くと同時に再生");
    Ch_CheckNew = Check(this, "Ch_CheckNew", "Marlix Audioの最新情報を通知する");
    form->addWidget(Ch_ClickRoot);
    form->addWidget(Row(this, {Label(this, "ブラウザタイプ"), Co_BrowserType}));
    form->addWidget(Ch_SkipSubFolder);
    form->addWidget(Row(this, {Label(this, "取り扱い拡張子:"), Ed_BrowseExts}));
    form->addWidget(Ch_JukeBoxMode);
    form->addWidget(Ch_MouseScroll);
    form->addWidget(Ch_PlayAtOpen);
    auto* keys = new QGroupBox("ショートカット", this);
    auto* grid = new QGridLayout(keys);
    for (int i = 0; i < 17; ++i) {
        auto* edit = new QKeySequenceEdit(keys);
        edit->setObjectName(QString("HK_%1").arg(TSettingOperation::ShortCutKeys[kShortCutOrder[i]] + 9));
        edit->setMinimumWidth(110);
        HK_ShortCut.push_back(edit);
        grid->addWidget(Label(keys, kShortCutCaptions[i]), i / 3, (i % 3) * 2);
        grid->addWidget(edit, i / 3, (i % 3) * 2 + 1);
    }
    form->addWidget(keys);
    form->addWidget(Ch_CheckNew);
    form->addStretch();
}

void TSetupOperationPage::Load(const TSettings& s)
{
    const TSettingOperation& op = s.Operation;
    Ch_ClickRoot->setChecked(op.bClickRoot);
    Co_BrowserType->setCurrentIndex(op.nBrowserType);
    Ch_SkipSubFolder->setChecked(op.bBrowserSkipSubFolder);
    Ed_BrowseExts->setText(QString::fromStdString(op.BrowseExts));
    Ch_JukeBoxMode->setChecked(op.bJukeBoxMode);
    Ch_MouseScroll->setChecked(op.bMouseScroll);
    Ch_PlayAtOpen->setChecked(op.bPlayAtOpen);
    for (int i = 0; i < 17; ++i)
        HK_ShortCut[i]->setKeySequence(ShortCutToKeySequence(op.ShortCut[kShortCutOrder[i]]));
    Ch_CheckNew->setChecked(op.bCheckNew);
}

void TSetupOperationPage::Save(TSettings& s) const
{
    TSettingOperation& op = s.Operation;
    op.bClickRoot = Ch_ClickRoot->isChecked();
    op.nBrowserType = Co_BrowserType->currentIndex();
    op.bBrowserSkipSubFolder = Ch_SkipSubFolder->isChecked();
    op.BrowseExts = Ed_BrowseExts->text().toStdString();
    op.bJukeBoxMode = Ch_JukeBoxMode->isChecked();
    op.bMouseScroll = Ch_MouseScroll->isChecked();
    op.bPlayAtOpen = Ch_PlayAtOpen->isChecked();
    for (int i = 0; i < 17; ++i) {
        uint16_t& code = op.ShortCut[kShortCutOrder[i]];
        // A key the box shows unchanged keeps its stored code (some keys have two codes).
        if (HK_ShortCut[i]->keySequence() != ShortCutToKeySequence(code))
            code = KeySequenceToShortCut(HK_ShortCut[i]->keySequence());
    }
    op.bCheckNew = Ch_CheckNew->isChecked();
}

} // namespace marlix
