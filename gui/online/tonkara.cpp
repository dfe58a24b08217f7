#include "gui/online/tonkara.h"

#include "gui/online/search.h"
#include "gui/online/webview.h"
#include "gui/windowtimer.h"
#include "online/librarysearch.h"
#include "online/onlinelibrary.h"
#include "online/playall.h"
#include "player/pending.h"
#include "settings/setting.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>

namespace marlix {

TFo_Tonkara::TFo_Tonkara(TOnlineLibrary& library, TPendingAdditions& pending, QWidget* parent)
    : QWidget(parent), Library(library), Pending(pending), WB_Browser(new TWebView(this)),
      Ti_Check(new TWindowTimer(this, [this] { Ti_CheckTimer(); }))
{
    setObjectName("Fo_Tonkara");
    setWindowTitle(QStringLiteral("Tonkara"));
    auto* nav = new QHBoxLayout;
    nav->setSpacing(2);
    connect(Button("Bu_Back", QStringLiteral("戻る")), &QToolButton::clicked, WB_Browser, &TWebView::Back);
    connect(Button("Bu_Forward", QStringLiteral("進む")), &QToolButton::clicked, WB_Browser, &TWebView::Forward);
    connect(Button("Bu_Stop", QStringLiteral("中止")), &QToolButton::clicked, WB_Browser, &TWebView::Stop);
    connect(Button("Bu_Refresh", QStringLiteral("更新")), &QToolButton::clicked, WB_Browser, &TWebView::Reload);
    Ed_Address = new QLineEdit(this);
    Ed_Address->setObjectName("Ed_Address");
    auto* go = Button("Bu_Go", QStringLiteral("移動"));
    auto* external = Button("Bu_External", QStringLiteral("標準のブラウザで開く"));
    for (const char* name : {"Bu_Back", "Bu_Forward", "Bu_Stop", "Bu_Refresh"})
        nav->addWidget(findChild<QToolButton*>(name));
    nav->addWidget(Ed_Address, 1);
    nav->addWidget(go);
    nav->addWidget(external);
    connect(go, &QToolButton::clicked, this, [this] { Navigate(Ed_Address->text().toStdString()); });
    connect(Ed_Address, &QLineEdit::returnPressed, go, &QToolButton::click);
    connect(external, &QToolButton::clicked, this, [this] {
        QDesktopServices::openUrl(QUrl(WB_Browser->Location().toString().left(1000)));
    });

    auto* search = new QHBoxLayout;
    search->setSpacing(2);
    Ed_Artist = new QLineEdit(this);
    Ed_Artist->setObjectName("Ed_Artist");
    Ed_Artist->setPlaceholderText(QStringLiteral("アーティスト"));
    Ed_Title = new QLineEdit(this);
    Ed_Title->setObjectName("Ed_Title");
    Ed_Title->setPlaceholderText(QStringLiteral("タイトル"));
    Ed_Genre = new QComboBox(this);
    Ed_Genre->setObjectName("Ed_Genre");
    Ed_Genre->setEditable(true);
    Ed_Genre->addItems(GenreItems(library.Folder));
    Ra_Random = new QRadioButton(QStringLiteral("ランダム"), this);
    Ra_Random->setObjectName("Ra_Random");
    Ra_Random->setChecked(true);
    Ra_New = new QRadioButton(QStringLiteral("新着順"), this);
    Ra_New->setObjectName("Ra_New");
    auto* find = Button("Bu_Search", QStringLiteral("検索"));
    auto* all = Button("Bu_PlayAll", QStringLiteral("このページのMP3を全て再生"));
    for (QWidget* w : std::initializer_list<QWidget*>{Ed_Artist, Ed_Title, Ed_Genre, Ra_Random, Ra_New, find})
        search->addWidget(w);
    search->addStretch();
    search->addWidget(all);
    connect(find, &QToolButton::clicked, this, [this] { QuickSearchClick(); });
    connect(all, &QToolButton::clicked, this, [this] { PlayAllClick(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addLayout(nav);
    layout->addLayout(search);
    layout->addWidget(WB_Browser, 1);

    connect(WB_Browser, &TWebView::AudioLink, this,
            [this](const QUrl& url) { Pending.Add(url.toString().toStdString()); });
    connect(WB_Browser, &TWebView::DocumentComplete, this, [this](bool ok) { DocumentComplete(ok); });
    connect(WB_Browser, &TWebView::StatusText, WB_Browser, &QWidget::setToolTip);
    connect(WB_Browser, &TWebView::BusyChanged, this, [this] { Ti_CheckTimer(); });
    Ti_Check->setObjectName("Ti_Check");
    resize(600, 400);
}

TFo_Tonkara::~TFo_Tonkara()
{
    std::error_code ec;
    std::filesystem::remove(Library.Function.SearchResultPath, ec);
}

QToolButton* TFo_Tonkara::Button(const char* name, const QString& caption)
{
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setText(caption);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
}

// A pane shown only on its way to being minimised (a layout, a saved state) is not
// really shown: whether it is on screen is asked once the showing is over.
void TFo_Tonkara::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (!Started)
        QTimer::singleShot(0, this, [this] { OpenStartPage(); });
}

// The first time the pane is on screen it opens the start page, unless it has been sent
// to a page already.
void TFo_Tonkara::OpenStartPage()
{
    if (Started || !OnScreen(this))
        return;
    Started = true;
    if (WB_Browser->Started())
        return;
    const std::string top = Library.Function.TopPagePath;
    std::error_code ec;
    const QUrl page = QUrl::fromLocalFile(QString::fromStdString(top));
    Navigate(std::filesystem::exists(top, ec) ? page.toString().toStdString() : Library.Endpoints.BaseUrl);
}

void TFo_Tonkara::Navigate(const std::string& url)
{
    const QUrl target(QString::fromStdString(url));
    if (WB_Browser->Location() == target)
        return;
    if (WB_Browser->Busy())
        WB_Browser->Stop();
    Requested = true;
    WB_Browser->Navigate(target);
}

void TFo_Tonkara::DocumentComplete(bool ok)
{
    const bool requested = Requested;
    Requested = false;
    const std::string notFound = Library.Folder + "notfound.html";
    std::error_code ec;
    if (!ok && requested && std::filesystem::exists(notFound, ec))
        WB_Browser->Navigate(QUrl::fromLocalFile(QString::fromStdString(notFound)));
}

void TFo_Tonkara::Ti_CheckTimer()
{
    if (!Ed_Address->hasFocus()) {
        const QString location = WB_Browser->Location().toString();
        const QString shown = location.contains("file://") ? QString() : location;
        if (Ed_Address->text() != shown)
            Ed_Address->setText(shown);
    }
    findChild<QToolButton*>("Bu_Stop")->setEnabled(WB_Browser->Busy());
    findChild<QToolButton*>("Bu_Back")->setEnabled(WB_Browser->CanGoBack());
    findChild<QToolButton*>("Bu_Forward")->setEnabled(WB_Browser->CanGoForward());
}

bool TFo_Tonkara::RunFavourite(const std::string& file)
{
    TFo_Search dialog(TFo_Search::TMode::Search, Library.Folder, Library.Function.FavoritePath, this);
    dialog.LoadFavourite(file);
    return RunSearch(this, Library.Endpoints, dialog.Query(), Library.Function.SearchResultPath, Pending);
}

void TFo_Tonkara::QuickSearchClick()
{
    TFo_Search dialog(TFo_Search::TMode::Search, Library.Folder, Library.Function.FavoritePath, this);
    dialog.LoadFavourite(Library.Folder + "default.mxp");
    TSearchConditions c = dialog.Conditions();
    c.Target = 0;
    c.Library = c.Web = true;
    c.Artist = Ed_Artist->text().toStdString();
    c.Title = Ed_Title->text().toStdString();
    c.Genre = Ed_Genre->currentText().toStdString();
    c.Order = Ra_New->isChecked() ? TSearchConditions::TOrder::New : TSearchConditions::TOrder::Random;
    dialog.SetConditions(c);
    if (dialog.OkStep())
        RunSearch(this, Library.Endpoints, dialog.Query(), Library.Function.SearchResultPath, Pending);
}

void TFo_Tonkara::PlayAllClick()
{
    const std::string location = WB_Browser->Location().toString().toStdString();
    std::vector<std::string> lines;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    InetFetchLines(location, lines);
    QApplication::restoreOverrideCursor();
    std::error_code ec;
    std::filesystem::remove(Library.Function.SearchResultPath, ec);
    Pending.Add(PlayAllLinks(lines, location));
}

} // namespace marlix
