#include "gui/player/browser.h"

#include "gui/player/browser2.h"
#include "gui/speedbutton.h"
#include "player/playerstate.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "gui/windowtimer.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QToolButton>
#include <QWheelEvent>
#include <filesystem>

namespace marlix {

namespace {

constexpr int kPanelHeight = 46;
const char* const kSortCaptions[] = {"名前順", "新着順", "再生順", "頻度順"};
const char* const kSortItems[] = {"名前順(&N)", "新着順(&E)", "再生順(&P)", "頻度順(&R)"};

} // namespace

TFo_Browser::TFo_Browser(TSettings& settings, TPlayerState& state, TPendingAdditions& pending, QWidget* parent,
                         THistory history, std::string music)
    : QWidget(parent)
    , Worker(std::move(history))
    , Music(music.empty() ? MusicFolder() : WithSlash(music))
    , RootList(Music, settings.Function.DownloadPath, settings.Function.FavoritePath)
    , Shared{settings, state, pending, Worker, RootList}
    , Pa_Top(new QWidget(this))
    , Fr_Browser(new TFr_Browser(Shared, true, this))
    , Ti_Check(new TWindowTimer(this, [this] { Ti_CheckTimer(); }))
{
    setObjectName("Fo_Browser");
    setWindowTitle(QStringLiteral("ブラウザ"));
    setFocusPolicy(Qt::StrongFocus);
    BuildTopPanel();
    PM_Root = new QMenu(this);
    PM_Root->setObjectName("PM_Root");
    PM_Delete = PM_Root->addAction(QStringLiteral("削除(&D)"));
    PM_Delete->setObjectName("PM_Delete");
    PM_Delete->setShortcut(QKeySequence::Delete);
    connect(PM_Delete, &QAction::triggered, this, [this] { PM_DeleteClick(); });
    Fr_Browser->SetRootMenu(PM_Root);
    Fr_Browser->SetPaged(false);
    Fr_Browser->OnHover = [this] { FrameHovered(); };
    RootList.Load(TIniFile(""));
    ShowRoots();
    resize(sizeHint());

    Ti_Check->setObjectName("Ti_Check");
    Ti_CheckTimer();
}

TFo_Browser::~TFo_Browser()
{
    ClosePopups();
    Worker.Flush();
}

void TFo_Browser::BuildTopPanel()
{
    Pa_Top->setObjectName("Pa_Top");
    const QFont font(QStringLiteral("Noto Sans CJK JP"), 9);
    Pa_Top->setFont(font);
    Bu_AddFolder = new QToolButton(Pa_Top);
    Bu_AddFolder->setObjectName("Bu_AddFolder");
    Bu_AddFolder->setText(QStringLiteral("フォルダ追加"));
    SetHint(Bu_AddFolder, QStringLiteral("フォルダ追加|ルートにフォルダを追加します"));
    connect(Bu_AddFolder, &QToolButton::clicked, this, [this] { Bu_AddFolderClick(); });
    Ch_Reserve = new QCheckBox(QStringLiteral("予約"), Pa_Top);
    Ch_Reserve->setObjectName("Ch_Reserve");
    SetHint(Ch_Reserve, QStringLiteral("予約モード|予約モードにします。予約モードでは選択した曲がプレイリストに追加されます"));
    connect(Ch_Reserve, &QCheckBox::clicked, this, [this](bool on) { Shared.State.Reserve = on; });
    auto* label = new QLabel(QStringLiteral("ソート:"), Pa_Top);
    label->setObjectName("La_Sort");
    Bu_Sort = new QToolButton(Pa_Top);
    Bu_Sort->setObjectName("Bu_Sort");
    SetHint(Bu_Sort, QStringLiteral("ソート|ソート方法を選択します"));
    PM_Sort = new QMenu(this);
    PM_Sort->setObjectName("PM_Sort");
    auto* group = new QActionGroup(PM_Sort);
    for (int i = 0; i < TPlayerState::SortModeCount; ++i) {
        QAction* a = PM_Sort->addAction(QString::fromUtf8(kSortItems[i]));
        a->setObjectName(QStringLiteral("PM_Sort%1").arg(i));
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] { SetSortMode(i); });
    }
    connect(Bu_Sort, &QToolButton::clicked, this, [this] {
        const auto items = PM_Sort->actions();
        items[Shared.State.SortMode]->setChecked(true);
        PM_Sort->popup(Bu_Sort->mapToGlobal(QPoint(0, Bu_Sort->height())));
    });
    Bu_Order = new QToolButton(Pa_Top);
    Bu_Order->setObjectName("Bu_Order");
    SetHint(Bu_Order, QStringLiteral("ソート順|ソートの昇順、降順を切り替えます"));
    connect(Bu_Order, &QToolButton::clicked, this, [this] { Bu_OrderClick(); });
    Bu_AddFolder->setGeometry(2, 2, 80, 20);
    Ch_Reserve->setGeometry(86, 2, 56, 20);
    label->setGeometry(4, 24, 40, 20);
    Bu_Sort->setGeometry(44, 24, 50, 20);
    Bu_Order->setGeometry(96, 24, 40, 20);
}

void TFo_Browser::resizeEvent(QResizeEvent*)
{
    Pa_Top->setGeometry(0, 0, width(), kPanelHeight);
    Fr_Browser->setGeometry(0, kPanelHeight, width(), std::max(0, height() - kPanelHeight));
}

void TFo_Browser::LoadRoots(const TIniFile& ini)
{
    const TSettingFunction& f = Shared.Settings.Function;
    RootList = TBrowserRoots(Music, f.DownloadPath, f.FavoritePath);
    RootList.Load(ini);
    ShowRoots();
}

void TFo_Browser::SaveRoots(TIniFile& ini) const { RootList.Save(ini); }

void TFo_Browser::ShowRoots()
{
    ClosePopups();
    Fr_Browser->ShowFolder("", RootList.Entries());
}

void TFo_Browser::Ti_CheckTimer()
{
    if (Shared.CloseRequest) {
        ClosePopups();
        Shared.CloseRequest = false;
    }
    if (Ch_Reserve->isChecked() != Shared.State.Reserve)
        Ch_Reserve->setChecked(Shared.State.Reserve);
    const int sortMode = std::clamp(Shared.State.SortMode, 0, 3);
    if (sortMode != ShownSortMode) {
        ShownSortMode = sortMode;
        Bu_Sort->setText(QString::fromUtf8(kSortCaptions[sortMode]));
    }
    if (int(Shared.State.SortInv) != ShownSortInv) {
        ShownSortInv = Shared.State.SortInv;
        Bu_Order->setText(ShownSortInv ? QStringLiteral("降順") : QStringLiteral("昇順"));
    }
    PM_Delete->setEnabled(RootList.IsUserFolder(Fr_Browser->HoverIndex));
    Fr_Browser->Tick();
    for (TFo_Browser2* p = PopupForm; p; p = p->Child())
        p->Frame()->Tick();
}

void TFo_Browser::Bu_AddFolderClick()
{
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("フォルダの選択"), QDir::rootPath());
    if (!folder.isEmpty())
        AddFolder(folder.toStdString());
}

void TFo_Browser::AddFolder(const std::string& folder)
{
    RootList.AddFolder(folder);
    ShowRoots();
}

void TFo_Browser::PM_DeleteClick()
{
    if (RootList.Remove(Fr_Browser->HoverIndex))
        ShowRoots();
}

void TFo_Browser::SetSortMode(int mode)
{
    Shared.State.SortMode = std::clamp(mode, 0, TPlayerState::SortModeCount - 1);
    ClosePopups();
}

void TFo_Browser::Bu_OrderClick()
{
    Shared.State.SortInv = !Shared.State.SortInv;
    ClosePopups();
}

void TFo_Browser::ClosePopups()
{
    if (!PopupForm)
        return;
    PopupForm->MarkClosing();
    delete PopupForm;
    PopupForm = nullptr;
}

void TFo_Browser::FrameHovered()
{
    if (!Fr_Browser->NeedsPopup)
        return;
    Fr_Browser->NeedsPopup = false;
    ClosePopups();
    OpenPopup();
}

void TFo_Browser::OpenPopup()
{
    const TFr_Browser& f = *Fr_Browser;
    std::error_code ec;
    if (f.HoverIndex < 0 || !f.HoverInZone || !f.HoveredFolderReady() || !std::filesystem::is_directory(f.HoverPath, ec))
        return;
    const bool paged = Shared.Settings.Operation.nBrowserType != 0;
    const int columnWidth = f.width();
    PopupForm = new TFo_Browser2(Shared, paged, columnWidth, WithSlash(f.HoverPath));
    TFr_Browser* frame = PopupForm->Frame();
    frame->ShowTopPanel(paged);
    const QPoint at = f.mapToGlobal(QPoint(0, 0));
    const int left = at.x() + f.width() + 1;
    if (paged) {
        const QRect screen = (this->screen() ? this->screen() : QGuiApplication::primaryScreen())->geometry();
        const int top = at.y() - TFr_Browser::TopPanelHeight;
        const int width = std::max(128, ((screen.right() + 1 - left - 32) / columnWidth) * columnWidth + 2);
        PopupForm->setGeometry(left, top, width, std::max(64, screen.bottom() + 1 - top - 32));
    } else {
        PopupForm->setGeometry(left, at.y() - 1, f.width() + 2, f.height() + 2);
    }
    frame->ShowFolder(f.Preview.Folder, f.Preview.Entries);
    PopupForm->show();
}

void TFo_Browser::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape)
        Shared.CloseRequest = true;
    else
        QWidget::keyPressEvent(e);
}

void TFo_Browser::wheelEvent(QWheelEvent* e)
{
    Fr_Browser->ScrollRows(-e->angleDelta().y() / 40);
    e->accept();
}

} // namespace marlix
