#include "gui/online/search.h"

#include "online/librarysearch.h"
#include "player/pending.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

namespace marlix {

QStringList GenreItems(const std::string& programFolder)
{
    QStringList genres;
    QFile file(QString::fromStdString(programFolder + "genres.txt"));
    if (file.open(QIODevice::ReadOnly))
        for (const QString& line : QString::fromUtf8(file.readAll()).split(QRegularExpression("[\r\n]+")))
            if (!line.trimmed().isEmpty())
                genres << line.trimmed();
    genres.sort();
    genres.prepend(QString());
    return genres;
}

namespace {

QString U(const std::string& s)
{
    return QString::fromStdString(s);
}

// The genre list is small: a library that does not answer soon is not waited for.
TInetLimits GenreLimits()
{
    TInetLimits limits;
    limits.FetchTimeoutMs = 10000;
    return limits;
}

} // namespace

TFo_Search::TFo_Search(TMode mode, std::string programFolder, std::string favouritesFolder, QWidget* parent,
                       TLibraryEndpoints library)
    : QDialog(parent),
      Mode(mode),
      Folder(std::move(programFolder)),
      FavouritesFolder(std::move(favouritesFolder)),
      Genres(std::move(library), Folder, GenreLimits())
{
    setObjectName("Fo_Search");
    setWindowTitle(QStringLiteral("検索"));
    auto* form = new QFormLayout;
    La_Name = new QLabel(QStringLiteral("お気に入り名"), this);
    Ed_Name = new QLineEdit(QStringLiteral("新規お気に入り"), this);
    Ed_Name->setObjectName("Ed_Name");
    form->addRow(La_Name, Ed_Name);
    Bevel = new QFrame(this);
    Bevel->setFrameShape(QFrame::HLine);
    Bevel->setFrameShadow(QFrame::Sunken);
    form->addRow(Bevel);
    const bool favourite = mode != TMode::Search;
    La_Name->setVisible(favourite);
    Ed_Name->setVisible(favourite);
    Bevel->setVisible(favourite);

    Ed_Artist = new QLineEdit(this);
    Ed_Artist->setObjectName("Ed_Artist");
    Ed_Title = new QLineEdit(this);
    Ed_Title->setObjectName("Ed_Title");
    Ed_Genre = new QComboBox(this);
    Ed_Genre->setObjectName("Ed_Genre");
    Ed_Genre->setEditable(true);
    FillGenres();
    form->addRow(QStringLiteral("アーティスト"), Ed_Artist);
    form->addRow(QStringLiteral("タイトル"), Ed_Title);
    form->addRow(QStringLiteral("ジャンル"), Ed_Genre);

    auto* order = new QHBoxLayout;
    Ra_Random = new QRadioButton(QStringLiteral("ランダム"), this);
    Ra_Random->setObjectName("Ra_Random");
    Ra_New = new QRadioButton(QStringLiteral("新着順"), this);
    Ra_New->setObjectName("Ra_New");
    Ra_Rank = new QRadioButton(QStringLiteral("ランキング"), this);
    Ra_Rank->setObjectName("Ra_Rank");
    Ra_Random->setChecked(true);
    Co_Rank = new QComboBox(this);
    Co_Rank->setObjectName("Co_Rank");
    Co_Rank->addItem(QStringLiteral("最新"));
    for (int w = 1; w <= 7; ++w)
        Co_Rank->addItem(QString::number(w) + QStringLiteral("週間前"));
    for (QWidget* w : std::initializer_list<QWidget*>{Ra_Random, Ra_New, Ra_Rank, Co_Rank})
        order->addWidget(w);
    form->addRow(QStringLiteral("順序"), order);

    SE_Max = new QSpinBox(this);
    SE_Max->setObjectName("SE_Max");
    SE_Max->setRange(0, TSearchConditions::MaxCount);
    SE_Max->setValue(10);
    form->addRow(QStringLiteral("最大件数"), SE_Max);

    auto* targets = new QHBoxLayout;
    Ch_Tonkara = new QCheckBox(QStringLiteral("Tonkaraライブラリ"), this);
    Ch_Tonkara->setObjectName("Ch_Tonkara");
    Ch_Tonkara->setChecked(true);
    Ch_Web = new QCheckBox(QStringLiteral("Web全体"), this);
    Ch_Web->setObjectName("Ch_Web");
    Co_Target = new QComboBox(this);
    Co_Target->setObjectName("Co_Target");
    for (const auto& t : TSearchConditions::Targets())
        Co_Target->addItem(U(t));
    targets->addWidget(Ch_Tonkara);
    targets->addWidget(Ch_Web);
    targets->addWidget(Co_Target);
    form->addRow(QStringLiteral("検索対象"), targets);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("Bu_OK");
    ok->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("Bu_Cancel");
    connect(ok, &QPushButton::clicked, this, [this] {
        if (OkStep())
            accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    Ti_Check = new QTimer(this);
    Ti_Check->setObjectName("Ti_Check");
    connect(Ti_Check, &QTimer::timeout, this, &TFo_Search::Ti_CheckTimer);
    Ti_Check->start(50);
    Ti_CheckTimer();
}

TSearchConditions TFo_Search::Conditions() const
{
    TSearchConditions c;
    c.Artist = Ed_Artist->text().toStdString();
    c.Title = Ed_Title->text().toStdString();
    c.Genre = Ed_Genre->currentText().toStdString();
    c.Order = Ra_Rank->isChecked() ? TSearchConditions::TOrder::Rank
                                   : Ra_New->isChecked() ? TSearchConditions::TOrder::New : TSearchConditions::TOrder::Random;
    c.RankWeek = Co_Rank->currentIndex();
    c.Max = SE_Max->value();
    c.Library = Ch_Tonkara->isChecked();
    c.Web = Ch_Web->isChecked();
    c.Target = Co_Target->currentIndex();
    return c;
}

void TFo_Search::SetConditions(const TSearchConditions& c)
{
    Ed_Artist->setText(U(c.Artist));
    Ed_Title->setText(U(c.Title));
    Ed_Genre->setCurrentText(U(c.Genre));
    (c.Order == TSearchConditions::TOrder::Rank ? Ra_Rank : c.Order == TSearchConditions::TOrder::New ? Ra_New : Ra_Random)
        ->setChecked(true);
    Co_Rank->setCurrentIndex(std::clamp(c.RankWeek, 0, 7));
    SE_Max->setValue(c.Max);
    Ch_Tonkara->setChecked(c.Library);
    Ch_Web->setChecked(c.Web);
    Co_Target->setCurrentIndex(std::clamp(c.Target, 0, Co_Target->count() - 1));
}

void TFo_Search::LoadFavourite(const std::string& file)
{
    TSearchConditions c;
    c.LoadFavourite(file);
    SetConditions(c);
    OkStep();
}

bool TFo_Search::SaveFavourite(const std::string& file) const
{
    TSearchConditions c = Conditions();
    c.Library = (OpenTargets & 1) != 0;
    c.Web = (OpenTargets & 2) != 0;
    return c.SaveFavourite(file);
}

QString TFo_Search::FavouriteName() const
{
    return Ed_Name->text();
}

void TFo_Search::SetFavouriteName(const QString& name)
{
    Ed_Name->setText(name);
    CurrentName = name;
}

void TFo_Search::Warn(const QString& text)
{
    QMessageBox::warning(this, windowTitle(), text);
}

bool TFo_Search::OkStep()
{
    const QString name = Ed_Name->text();
    std::error_code ec;
    const bool exists =
        !name.isEmpty() && std::filesystem::exists(FavouritesFolder + name.toStdString() + ".mxp", ec);
    if (Mode != TMode::Search && name.isEmpty()) {
        Ed_Name->setFocus();
        Warn(QStringLiteral("お気に入り名を入力してください"));
        return false;
    }
    // The name becomes a file in the favourites folder and must stay there.
    if (Mode != TMode::Search && (name.contains('/') || name == "." || name == "..")) {
        Ed_Name->setFocus();
        Warn(QStringLiteral("お気に入り名に「/」は使えません"));
        return false;
    }
    if (Mode == TMode::NewFavourite && exists &&
        QMessageBox::question(this, windowTitle(),
                              QStringLiteral("指定された名前のお気に入りは既に存在します。\n上書きしますか？"),
                              QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
        Ed_Name->setFocus();
        return false;
    }
    if (Mode == TMode::EditFavourite && name != CurrentName && exists) {
        Warn(QStringLiteral("指定された名前のお気に入りは既に存在します。"));
        Ed_Name->setFocus();
        return false;
    }
    const TSearchConditions c = Conditions();
    if (c.Open() == 0) {
        Warn(QStringLiteral("検索対象がありません。"));
        return false;
    }
    OpenTargets = c.Open();
    QueryText = c.Query();
    return true;
}

void TFo_Search::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    Genres.Start();
}

// The list from "genres.txt"; what the field holds stays.
void TFo_Search::FillGenres()
{
    const QString text = Ed_Genre->currentText();
    Ed_Genre->clear();
    Ed_Genre->addItems(GenreItems(Folder));
    Ed_Genre->setCurrentText(text);
}

void TFo_Search::Ti_CheckTimer()
{
    if (!GenresTaken && Genres.Fetched()) {
        GenresTaken = true;
        FillGenres();
    }
    if (Ra_Rank->isChecked() && !Ch_Tonkara->isChecked())
        Ra_Random->setChecked(true);
    const bool rank = Ra_Rank->isChecked() && Ch_Tonkara->isChecked();
    if (Co_Rank->isEnabled() != rank)
        Co_Rank->setEnabled(rank);
}

bool RunSearch(QWidget* parent, const TLibraryEndpoints& endpoints, const std::string& query,
               const std::string& resultFile, TPendingAdditions& pending)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = TLibrarySearch::Search(endpoints, query, resultFile);
    QApplication::restoreOverrideCursor();
    if (!ok) {
        QString message = QString::fromUtf8(TLibrarySearch::FailureMessage);
        message.replace('\r', '\n');
        QMessageBox::warning(parent, QStringLiteral("Tonkara"), message);
        return false;
    }
    TLibrarySearch::AddResults(resultFile, pending);
    return true;
}

} // namespace marlix
