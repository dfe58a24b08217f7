#include "gui/dspui/setupfunction.h"

#include "gui/dspui/setupcontrols.h"
#include "player/history.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace marlix {

TSetupFunctionPage::TSetupFunctionPage(std::string programFolder)
    : Folder(std::move(programFolder))
{
    setObjectName("TS_Function");
    auto* form = new QVBoxLayout(this);

    auto* tonkara = new QGroupBox("Tonkara", this);
    auto* t = new QVBoxLayout(tonkara);
    Ch_Download = Check(tonkara, "Ch_Download", "最後まで再生した曲を自動的にダウンロード");
    Ch_DownloadTonkaraOnly = Check(tonkara, "Ch_DownloadTonkaraOnly", "Tonkaraライブラリに登録された曲のみ");
    Ed_DownloadPath = new QLineEdit(tonkara);
    Ed_DownloadPath->setObjectName("Ed_DownloadPath");
    Ed_DownloadPath->setMinimumWidth(260);
    auto* folder = new QPushButton("...", tonkara);
    folder->setObjectName("Bu_DownloadPath");
    connect(folder, &QPushButton::clicked, this, [this] {
        QString dir = QFileDialog::getExistingDirectory(this, {}, Ed_DownloadPath->text());
        if (dir.isEmpty())
            return;
        if (!dir.endsWith('/'))
            dir += '/';
        Ed_DownloadPath->setText(dir);
    });
    t->addWidget(Ch_Download);
    t->addWidget(Ch_DownloadTonkaraOnly);
    t->addWidget(Row(tonkara, {Label(tonkara, "ダウンロード先フォルダ:"), Ed_DownloadPath, folder}));

    auto* bgm = new QGroupBox("BGM", this);
    auto* b = new QVBoxLayout(bgm);
    Ed_BGMPlaylist = new QLineEdit(bgm);
    Ed_BGMPlaylist->setObjectName("Ed_BGMPlaylist");
    Ed_BGMPlaylist->setMinimumWidth(260);
    QPushButton* list = FileButton(bgm, "Bu_BGMPlaylist", Ed_BGMPlaylist, "*.m3u (*.m3u);;*.* (*)");
    Ed_BGMVolume = Spin(bgm, "Ed_BGMVolume", -36, 0, "dB");
    b->addWidget(Row(bgm, {Label(bgm, "BGMプレイリスト:"), Ed_BGMPlaylist, list}));
    b->addWidget(Row(bgm, {Label(bgm, "BGM音量"), Ed_BGMVolume}));

    auto* history = new QGroupBox("再生履歴", this);
    Ch_SaveHistory = Check(history, "Ch_SaveHistory", "再生履歴を記録する");
    auto* clear = new QPushButton("クリア", history);
    clear->setObjectName("Bu_ClearHistory");
    connect(clear, &QPushButton::clicked, this, [this] { Bu_ClearHistoryClick(); });
    (new QVBoxLayout(history))->addWidget(Row(history, {Ch_SaveHistory, clear}));

    auto* playlist = new QGroupBox("プレイリスト", this);
    Ch_SavePlaylist = Check(playlist, "Ch_SavePlaylist", "終了時のプレイリストを保存する");
    (new QVBoxLayout(playlist))->addWidget(Ch_SavePlaylist);

    for (QWidget* w : {static_cast<QWidget*>(tonkara), static_cast<QWidget*>(bgm), static_cast<QWidget*>(history),
                       static_cast<QWidget*>(playlist)})
        form->addWidget(w);
    form->addStretch();
}

void TSetupFunctionPage::Load(const TSettings& s)
{
    const TSettingFunction& f = s.Function;
    Ch_Download->setChecked(f.bDownload);
    Ch_DownloadTonkaraOnly->setChecked(f.bDownloadTonkaraOnly);
    Ed_DownloadPath->setText(QString::fromStdString(f.DownloadPath));
    Ed_BGMPlaylist->setText(QString::fromStdString(f.BGMPlaylist));
    Ed_BGMVolume->setValue(f.BGMVolume);
    Ch_SaveHistory->setChecked(f.bSaveHistory);
    Ch_SavePlaylist->setChecked(f.bSavePlaylist);
}

void TSetupFunctionPage::Save(TSettings& s) const
{
    TSettingFunction& f = s.Function;
    f.bDownload = Ch_Download->isChecked();
    f.bDownloadTonkaraOnly = Ch_DownloadTonkaraOnly->isChecked();
    f.DownloadPath = Ed_DownloadPath->text().toStdString();
    f.BGMPlaylist = Ed_BGMPlaylist->text().toStdString();
    f.BGMVolume = Ed_BGMVolume->value();
    f.bSaveHistory = Ch_SaveHistory->isChecked();
    f.bSavePlaylist = Ch_SavePlaylist->isChecked();
}

void TSetupFunctionPage::Bu_ClearHistoryClick()
{
    if (QMessageBox::question(this, "履歴のクリア", "記録した再生履歴を全てクリアします。よろしいですか？",
                              QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    THistory(Folder + "history/").Clear();
}

} // namespace marlix
