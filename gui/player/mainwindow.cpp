#include "gui/player/mainwindow.h"

#include "base/mainthread.h"
#include "dsp/pluginhost.h"
#include "gui/measure/measure.h"
#include "gui/dspui/equalizer.h"
#include "gui/dspui/setup.h"
#include "gui/online/download.h"
#include "gui/online/getnew.h"
#include "gui/online/search.h"
#include "gui/online/tonkara.h"
#include "gui/player/about.h"
#include "gui/player/conductor.h"
#include "gui/placement.h"
#include "gui/player/constants.h"
#include "gui/player/layout.h"
#include "gui/player/mpris.h"
#include "gui/player/playlistwindow.h"
#include "online/onlinelibrary.h"
#include "online/newscheck.h"
#include "gui/shortcut.h"
#include "player/pending.h"
#include "player/playersession.h"
#include "player/playerstate.h"
#include "player/remotecontrol.h"
#include "settings/inifile.h"
#include "settings/settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>

namespace marlix {
namespace {

std::atomic<bool> gCloseRequested{false};

// A player window's MDI frame: closing it only minimises it.
class TPlayerSubWindow : public QMdiSubWindow {
protected:
    void closeEvent(QCloseEvent* e) override
    {
        e->ignore();
        showMinimized();
    }
};

// The mixer or the sound settings of the desktop: pavucontrol, else alsamixer in a
// terminal. False when neither can be started.
bool StartDesktopTool(bool soundSettings)
{
    const QString pavucontrol = QStandardPaths::findExecutable("pavucontrol");
    if (!pavucontrol.isEmpty())
        return QProcess::startDetached(pavucontrol, {soundSettings ? "--tab=3" : "--tab=1"});
    const QString alsamixer = QStandardPaths::findExecutable("alsamixer");
    if (alsamixer.isEmpty())
        return false;
    for (const char* terminal : {"x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal", "xterm"}) {
        const QString path = QStandardPaths::findExecutable(terminal);
        if (path.isEmpty())
            continue;
        const QString option = QString(terminal) == "gnome-terminal" ? "--" : "-e";
        return QProcess::startDetached(path, {option, alsamixer});
    }
    return false;
}

QRect FromEdges(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}

// The player windows in the order of TLayoutWindow.
std::array<QWidget*, LayoutWindowCount> LayoutOrder(const TChildWindows& w)
{
    return {w.Browser, w.Conductor, w.Information, w.Playlist, w.Spectrum, w.Equalizer};
}

} // namespace

QImage DefaultWallpaper()
{
    QImage tile(96, 96, QImage::Format_ARGB32);
    tile.fill(QColor(0x3A, 0x42, 0x4E));
    QPainter p(&tile);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x44, 0x4D, 0x5A), 1.0));
    for (int k = -96; k < 96; k += 12)
        p.drawLine(k, 96, k + 96, 0); // diagonal hairlines that meet across tiles
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x55, 0x60, 0x70));
    p.drawEllipse(QPointF(48, 48), 2.5, 2.5);
    p.drawEllipse(QPointF(0, 0), 2.5, 2.5);
    p.drawEllipse(QPointF(96, 0), 2.5, 2.5);
    p.drawEllipse(QPointF(0, 96), 2.5, 2.5);
    p.drawEllipse(QPointF(96, 96), 2.5, 2.5);
    return tile;
}

TFo_Main::TFo_Main(const TMainCores& cores, QWidget* parent)
    : QMainWindow(parent), Cores(cores)
{
    setObjectName("Fo_Main");
    setWindowTitle("Marlix Audio");
    setAcceptDrops(true);
    Mdi = new QMdiArea(this);
    Mdi->setObjectName("MDIArea");
    setCentralWidget(Mdi);
    StatusPanel = new QLabel("レディ", this);
    StatusPanel->setObjectName("StatusPanel");
    StatusPanel->setMinimumWidth(200);
    statusBar()->addWidget(StatusPanel, 1);
    PB_Load = new QProgressBar(this);
    PB_Load->setObjectName("PB_Load");
    PB_Load->setFixedWidth(160);
    PB_Load->setTextVisible(false);
    PB_Load->hide();
    statusBar()->addPermanentWidget(PB_Load);
    Bu_LoadCancel = new QToolButton(this);
    Bu_LoadCancel->setObjectName("Bu_LoadCancel");
    Bu_LoadCancel->setText("中止");
    Bu_LoadCancel->setToolTip("読み込みを中止します");
    Bu_LoadCancel->hide();
    connect(Bu_LoadCancel, &QToolButton::clicked, this, [this] { Cores.Session.Loader.Cancel(); });
    statusBar()->addPermanentWidget(Bu_LoadCancel);
    AssignedShortCuts.fill(-1);

    // The convolver lists the responses in this folder; an unwritable program folder
    // simply has none.
    std::error_code ec;
    std::filesystem::create_directories(Cores.Folder + "impulseresponce", ec);
    CreateChildren();
    CreateMenus();
    CreateShortCutItems();

    Ti_Check = new QTimer(this);
    Ti_Check->setObjectName("Ti_Check");
    Ti_Check->setInterval(50);
    connect(Ti_Check, &QTimer::timeout, this, &TFo_Main::Ti_CheckTimer);

    // Work that other threads hand to the main thread runs from the event loop.
    Cores.Dispatcher.SetWakeUp([this] {
        QMetaObject::invokeMethod(this, [this] { Cores.Session.RunQueuedCalls(); }, Qt::QueuedConnection);
    });

    MprisService = new TMprisService(Cores.State, Cores.Session.Decoder, Cores.Session.Playlist, this);
    MprisService->OnRaise = [this] { BringToFront(); };
    MprisService->OnQuit = [this] { close(); };
    MprisService->Register(QDBusConnection::sessionBus()); // without a session bus the desktop controls are simply absent

    Remote = std::make_unique<TRemoteControl>(Cores.Session, Cores.Settings, Cores.State, Cores.Pending);
    Remote->Busy = [this] {
        if (ShutDown)
            return std::string("the player is closing");
        return std::string(QApplication::activeModalWidget() ? "a dialog of the player is open" : "");
    };
}

TFo_Main::~TFo_Main()
{
    Cores.Dispatcher.SetWakeUp({});
}

void TFo_Main::CreateChildren()
{
    Windows = CreateChildWindows({Cores.Session, Cores.Settings, Cores.State, Cores.Pending, Cores.Online});
    if (auto* dsp = dynamic_cast<TFo_Equalizer*>(Windows.Equalizer))
        dsp->OnReSamplerEdit = [this] { SetupCommand("TS_ReSampling1"); };
    if (Cores.Online) {
        TOnlineLibrary& online = *Cores.Online;
        Cores.Session.Control.PlayedToEnd = [&online](const std::string& file) { online.Control.PlayedToEnd(file); };
        static_cast<TFo_Playlist*>(Windows.Playlist)->EnableDownloads([this](const std::vector<std::string>& entries) {
            for (const std::string& e : entries)
                Cores.Online->Control.Candidates.push_back(e);
            ShowDownloads();
        });
    }
    for (QWidget* w : Windows.InSaveOrder()) {
        auto* sub = new TPlayerSubWindow;
        sub->setWidget(w);
        sub->setAttribute(Qt::WA_DeleteOnClose, false);
        sub->setWindowTitle(w->windowTitle());
        sub->setObjectName(w->objectName() + "Frame");
        // The transport and DSP windows keep their size: no maximise box.
        if (w == Windows.Conductor || w == Windows.Equalizer)
            sub->setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
        Mdi->addSubWindow(sub);
        sub->resize(w->sizeHint() + QSize(8, 30));
        NormalPlaces.Watch(sub);
    }
}

QMdiSubWindow* TFo_Main::SubWindowOf(const QWidget* child) const
{
    // A child window lives in its frame; the list (a copy each call) is the fallback.
    if (auto* frame = qobject_cast<QMdiSubWindow*>(child->parentWidget()); frame && frame->widget() == child)
        return frame;
    for (QMdiSubWindow* sub : Mdi->subWindowList())
        if (sub->widget() == child)
            return sub;
    return nullptr;
}

void TFo_Main::CreateMenus()
{
    auto item = [this](QMenu* menu, const char* name, const QString& caption, auto slot,
                       const QKeySequence& key = {}) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        a->setShortcut(key);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    QMenu* file = menuBar()->addMenu("ファイル(&F)");
    file->setObjectName("MF");
    item(file, "MF_Open", "開く(&O)...", [this] {
        HidePluginEditors();
        const QStringList names = QFileDialog::getOpenFileNames(this, QString(), QString(),
                                                                "*.wav;*.mp3;*.m3u;*.mxp (*.wav *.mp3 *.m3u *.mxp);;*.* (*)");
        std::vector<std::string> list;
        for (const QString& n : names)
            list.push_back(n.toStdString());
        if (!list.empty())
            Cores.Session.Loader.AddNames(std::move(list), Cores.Settings.Operation.BrowseExts, true);
        ShowLoadProgress();
    });
    item(file, "MF_Search", "Tonkaraで検索(&F)...", [this] { SearchCommand(); })->setEnabled(Cores.Online != nullptr);
    file->addSeparator();
    item(file, "MF_Exit", "終了", [this] { close(); }, QKeySequence(Qt::ALT | Qt::Key_F4));

    QMenu* view = menuBar()->addMenu("表示(&V)");
    view->setObjectName("MV");
    QMenu* layouts = view->addMenu("レイアウト(&L)");
    layouts->setObjectName("MV_Layout");
    static const char* const kLayoutNames[] = {"MVLP_1", "MVLP_2", "MVLP_3", "MVLP_4", "MVLP_5", "MLVP_6"};
    for (int n = 1; n <= 6; ++n)
        item(layouts, kLayoutNames[n - 1], "&" + QString::number(n), [this, n] { ApplyLayout(n); });

    QMenu* setting = menuBar()->addMenu("設定(&S)");
    setting->setObjectName("MS");
    item(setting, "MS_Setup", "環境の設定(&S)...", [this] { SetupCommand(); });
    item(setting, "MS_Measure", "音響特性の測定(&M)...", [this] { MeasureCommand(false); });
    MS_MeasureCheck = item(setting, "MS_MeasureCheck", "音響特性補正結果の測定(&C)...", [this] { MeasureCommand(true); });

    QMenu* tools = menuBar()->addMenu("ツール(&T)");
    tools->setObjectName("MT");
    item(tools, "MT_Volume", "ボリュームコントロールの起動(&V)", [this] { OpenDesktopTool(false); });
    item(tools, "MT_Sound", "サウンドのプロパティの起動(&P)", [this] { OpenDesktopTool(true); });

    QMenu* window = menuBar()->addMenu("ウィンドウ(&W)");
    window->setObjectName("MW");
    const struct {
        const char* Name;
        const char* Caption;
        QWidget* Child;
        int Key;
    } shows[] = {{"MW_Conductor", "コンダクタ(&C)", Windows.Conductor, Qt::Key_F3},
                 {"MW_Browser", "ブラウザ(&B)", Windows.Browser, Qt::Key_F4},
                 {"MW_Tonkara", "Tonkara(&F)", Windows.Tonkara, Qt::Key_F5},
                 {"MW_Playlist", "プレイリスト(&P)", Windows.Playlist, Qt::Key_F6},
                 {"MW_DSP", "DSP(&D)", Windows.Equalizer, Qt::Key_F7},
                 {"MW_Information", "情報(&I)", Windows.Information, Qt::Key_F8},
                 {"MW_Spectrum", "スペクトル(&S)", Windows.Spectrum, Qt::Key_F9}};
    for (const auto& s : shows) {
        QWidget* child = s.Child;
        item(window, s.Name, QString::fromUtf8(s.Caption), [this, child] { ShowChild(child); },
             QKeySequence(Qt::SHIFT | s.Key));
    }
    // The download queue is a window of the online library.
    item(window, "MW_Download", "ダウンロードキュー(&U)", [this] { ShowDownloads(); })->setEnabled(Cores.Online != nullptr);
    item(window, "MW_Arrange", "最小化したウィンドウの整列(&A)", [this] { ArrangeMinimised(); });

    QMenu* help = menuBar()->addMenu("ヘルプ(&H)");
    help->setObjectName("MH");
    item(help, "MH_Contents", "目次(&C)", [this] { OpenHelp(kHelpContents); }, QKeySequence(Qt::Key_F1));
    item(help, "MH_Maker", "Marlixのサイト(&F)...", [this] { OpenHelp(kMakerPage); });
    item(help, "MH_Product", "Marlix Audioのサイト(&I)...", [this] { OpenHelp(kProductPage); });
    item(help, "MH_About", "バージョン情報(&A)...", [this] { AboutCommand(); }, QKeySequence(Qt::CTRL | Qt::Key_A));
}

// The invisible "shortcut" menu: its items belong to the window, so their keys work
// while the menu is never shown. Each clicks its transport button (a switch changes its
// down state, then acts) or moves the volume.
void TFo_Main::CreateShortCutItems()
{
    const struct {
        const char* Name;
        const char* Button;
    } items[] = {{"rew", "Bu_Back"},     {"stop", "Bu_Stop"},       {"pause", "Bu_Pause"},   {"play", "Bu_Play"},
                 {"ff", "Bu_Next"},      {"volup", nullptr},        {"voldown", nullptr},    {"play1", "Bu_Play1"},
                 {"repeat", "Bu_Repeat"}, {"repeat1", "Bu_Repeat1"}, {"random", "Bu_Random"}, {"bgm", "Bu_BGM"},
                 {"efx", "Bu_EFX"},      {"conv", "Bu_C"},          {"matrix", "Bu_Matrix"}, {"eq", "Bu_EQ"},
                 {"hsc", "Bu_HSC"}};
    QMenu* menu = menuBar()->addMenu("shortcut");
    menu->setObjectName("MShortcut");
    menu->menuAction()->setVisible(false);
    for (size_t i = 0; i < ShortCutItems.size(); ++i) {
        QAction* a = menu->addAction(items[i].Name);
        a->setObjectName(items[i].Name);
        if (i == TSettingOperation::scVolUp || i == TSettingOperation::scVolDown) {
            const bool up = i == TSettingOperation::scVolUp;
            connect(a, &QAction::triggered, this, [this, up] { up ? Cores.State.VolumeUp() : Cores.State.VolumeDown(); });
        } else if (auto* button = Windows.Conductor->findChild<QAbstractButton*>(items[i].Button)) {
            // A minimised transport window's timer rests: its switches are brought up to
            // date before one is clicked.
            auto* conductor = dynamic_cast<TFo_Conductor*>(Windows.Conductor);
            connect(a, &QAction::triggered, button, [conductor, button] {
                if (conductor)
                    conductor->Ti_CheckTimer();
                button->click();
            });
        }
        addAction(a);
        ShortCutItems[i] = a;
    }
    UpdateShortCuts();
}

void TFo_Main::UpdateShortCuts()
{
    for (size_t i = 0; i < ShortCutItems.size(); ++i) {
        const int code = Cores.Settings.Operation.ShortCut[i];
        if (code == AssignedShortCuts[i])
            continue;
        AssignedShortCuts[i] = code;
        ShortCutItems[i]->setShortcut(ShortCutToKeySequence(static_cast<uint16_t>(code)));
    }
}

void TFo_Main::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!Shown) {
        Shown = true;
        FirstShow();
    }
}

void TFo_Main::FirstShow()
{
    const TIniFile ini(Cores.Folder + "setting.ini");
    if (!ini.ValueExists("BrowserWnd", "State"))
        ApplyLayout(1);
    else
        LoadPlacements(ini);
    if (Windows.LoadBrowserRoots)
        Windows.LoadBrowserRoots(ini);
    LoadWallpaper();
    MS_MeasureCheck->setVisible(false);
    Ti_Check->start();
    CheckNewsAtStart();
}

void TFo_Main::LoadPlacements(const TIniFile& ini)
{
    const QSize client = Mdi->viewport()->size();
    const int CW = client.width(), CH = client.height();
    const struct {
        const char* Section;
        QWidget* Child;
        QRect Default;
        int State;
    } places[] = {
        {"BrowserWnd", Windows.Browser, FromEdges(8, 8, 169, CH - 61), 0},
        {"ConductorWnd", Windows.Conductor, FromEdges(177, 8, (CW + 169) / 2 - 4, 201), 0},
        {"InformationWnd", Windows.Information, FromEdges((CW + 169) / 2 + 4, 8, CW - 8, 201), 0},
        {"PlaylistWnd", Windows.Playlist, FromEdges(177, 209, 378, CH - 61), 0},
        {"SpectrumWnd", Windows.Spectrum, FromEdges(386, 209, CW - 8, CH - 61), 0},
        {"EqualizerWnd", Windows.Equalizer, SubWindowOf(Windows.Equalizer)->geometry(), 1},
        {"TonkaraWnd", Windows.Tonkara, SubWindowOf(Windows.Tonkara)->geometry(), 1},
    };
    // While a child is maximised the MDI area maximises every child it shows: the
    // maximised child is restored to normal until all others are placed.
    QMdiSubWindow* maximised = nullptr;
    for (const auto& p : places) {
        QMdiSubWindow* sub = SubWindowOf(p.Child);
        sub->show(); // a state set while hidden is lost when the child is shown
        LoadWindowPlacement(ini, p.Section, sub, p.Default, p.State);
        if (sub->isMaximized()) {
            sub->setWindowState(Qt::WindowNoState);
            maximised = sub;
        }
    }
    if (maximised)
        maximised->showMaximized();
}

void TFo_Main::SavePlacements(TIniFile& ini, bool displayLost)
{
    // Without a display a child cannot be set back to normal (that talks to the window
    // system, which would end the program mid-save): the rectangles are those last seen.
    if (displayLost) {
        const auto children = Windows.InSaveOrder();
        for (size_t i = 0; i < children.size(); ++i) {
            const QMdiSubWindow* sub = SubWindowOf(children[i]);
            SaveWindowPlacement(ini, kWindowSections[i], sub, NormalPlaces.Of(sub));
        }
        return;
    }
    // The states are taken first: setting one child to normal changes the others while
    // a child is maximised.
    const auto children = Windows.InSaveOrder();
    std::array<int, 7> states{};
    for (size_t i = 0; i < children.size(); ++i) {
        const QMdiSubWindow* sub = SubWindowOf(children[i]);
        states[i] = sub->isMinimized() ? 1 : sub->isMaximized() ? 2 : 0;
    }
    for (size_t i = 0; i < children.size(); ++i) {
        QMdiSubWindow* sub = SubWindowOf(children[i]);
        sub->setWindowState(Qt::WindowNoState);
        SaveWindowPlacement(ini, kWindowSections[i], sub);
        ini.WriteInteger(kWindowSections[i], "State", states[i]);
    }
}

void TFo_Main::ApplyLayout(int layout)
{
    SubWindowOf(Windows.Tonkara)->showMinimized();
    const auto order = LayoutOrder(Windows);
    std::array<QSize, LayoutWindowCount> current, minimum;
    for (size_t i = 0; i < order.size(); ++i) {
        QMdiSubWindow* sub = SubWindowOf(order[i]);
        sub->setWindowState(Qt::WindowNoState);
        sub->show();
        current[i] = sub->size();
        minimum[i] = order[i]->minimumSize();
    }
    // The frame is what a child adds around its window (title bar and borders).
    QMdiSubWindow* probe = SubWindowOf(Windows.Browser);
    const QSize frame = probe->size() - probe->contentsRect().size();
    const TLayoutRects rects = ComputeLayout(layout, Mdi->viewport()->size(), frame, current, minimum);
    for (size_t i = 0; i < order.size(); ++i)
        SubWindowOf(order[i])->setGeometry(rects[i]);
    // The layout tiles the whole client: minimised windows go beneath the placed ones
    // rather than over their controls.
    for (QMdiSubWindow* sub : Mdi->subWindowList())
        if (sub->isMinimized())
            sub->lower();
}

void TFo_Main::ShowChild(QWidget* child)
{
    QMdiSubWindow* sub = SubWindowOf(child);
    if (sub->isMinimized())
        sub->showNormal();
    sub->show();
    sub->raise();
    Mdi->setActiveSubWindow(sub);
}

void TFo_Main::ArrangeMinimised()
{
    int x = 0;
    for (QMdiSubWindow* sub : Mdi->subWindowList()) {
        if (!sub->isMinimized())
            continue;
        sub->move(x, Mdi->viewport()->height() - sub->height());
        x += sub->width();
    }
}

void TFo_Main::SecondStart()
{
    Cores.Session.TakeHandOver();
    BringToFront();
}

void TFo_Main::BringToFront()
{
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void TFo_Main::Ti_CheckTimer()
{
    if (gCloseRequested.exchange(false)) {
        close();
        return;
    }
    Cores.Session.Tick();
    ShowDeviceFailure();
    ShowLoadProgress();
    LibraryTick();
    TakeEditRequest();
    if (Cores.State.MeasureRequest.exchange(false))
        MeasureCommand(false);
    if (Cores.State.NewFavoriteRequest.exchange(false))
        NewFavouriteCommand();
    UpdateShortCuts();
    MprisService->Update();
}

void TFo_Main::RequestClose()
{
    gCloseRequested = true;
}

TRemoteReply TFo_Main::RemoteCommand(const std::vector<std::string>& words) { return Remote->Execute(words); }

void TFo_Main::TakeEditRequest()
{
    const int page = Cores.State.EditRequest.exchange(0);
    if (page < 1 || page > 4)
        return;
    ShowChild(Windows.Equalizer);
    if (Windows.SelectEqualizerPage)
        Windows.SelectEqualizerPage(page);
}

void TFo_Main::AddDropped(const QStringList& names)
{
    std::vector<std::string> list;
    for (const QString& name : names)
        list.push_back(name.toStdString());
    if (!list.empty())
        Cores.Session.Loader.AddNames(std::move(list), Cores.Settings.Operation.BrowseExts, false);
    ShowLoadProgress();
}

namespace {

// One line on why playback stopped: the device and the reason.
QString DeviceFailureText(const TDeviceFailure& f)
{
    const QString device = QString::fromStdString(f.Device);
    QString text;
    switch (f.Problem) {
    case TDeviceProblem::NotFound: text = QStringLiteral("出力デバイス「%1」が見つかりません").arg(device); break;
    case TDeviceProblem::Busy: text = QStringLiteral("出力デバイス「%1」は使用中です").arg(device); break;
    case TDeviceProblem::FormatRefused:
        text = QStringLiteral("出力デバイス「%1」がこの形式を受け付けません").arg(device);
        break;
    case TDeviceProblem::DidNotStart: text = QStringLiteral("ドライバ「%1」を開始できません").arg(device); break;
    case TDeviceProblem::Lost: text = QStringLiteral("出力デバイス「%1」が失われました").arg(device); break;
    default: text = QStringLiteral("出力デバイス「%1」を開けません").arg(device); break;
    }
    if (!f.Detail.empty())
        text += QStringLiteral(" (%1)").arg(QString::fromStdString(f.Detail));
    return text + QStringLiteral("。再生を停止しました");
}

} // namespace

// A device that did not start, or went away, is named on the status line until the
// output starts again.
void TFo_Main::ShowDeviceFailure()
{
    const TDeviceFailure& failure = Cores.Session.Control.LastFailure();
    const QString ready = QStringLiteral("レディ");
    if (failure.Serial != ShownFailure) {
        ShownFailure = failure.Serial;
        IdleText = DeviceFailureText(failure);
        StatusPanel->setText(IdleText);
    } else if (Cores.State.OutputRunning && IdleText != ready) {
        if (StatusPanel->text() == IdleText)
            StatusPanel->setText(ready);
        IdleText = ready;
    }
}

// While the loader works: a bar (running for folders, the share read of a playlist file)
// and the count of files found; the ready text once it is done.
void TFo_Main::ShowLoadProgress()
{
    const TLoadProgress p = Cores.Session.Loader.Progress();
    if (!p.Busy) {
        if (!PB_Load->isHidden()) {
            PB_Load->hide();
            Bu_LoadCancel->hide();
            StatusPanel->setText(IdleText);
        }
        return;
    }
    QString text;
    if (p.ReadingM3U && p.BytesTotal > 0) {
        const int percent = static_cast<int>(std::min<uint64_t>(100, p.BytesDone * 100 / p.BytesTotal));
        PB_Load->setRange(0, 100);
        PB_Load->setValue(percent);
        text = QStringLiteral("読み込み中... %1%").arg(percent);
    } else {
        PB_Load->setRange(0, 0); // no end known while folders are walked
        text = QStringLiteral("読み込み中... %1 ファイル").arg(p.Found);
    }
    StatusPanel->setText(text);
    PB_Load->show();
    Bu_LoadCancel->show();
}

void TFo_Main::dragEnterEvent(QDragEnterEvent* e)
{
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void TFo_Main::dropEvent(QDropEvent* e)
{
    QStringList names;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile())
            names << url.toLocalFile();
    AddDropped(names);
    e->acceptProposedAction();
}

bool TFo_Main::event(QEvent* e)
{
    if (e->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        StatusPanel->setText(tip.isEmpty() ? IdleText : tip);
        return true;
    }
    return QMainWindow::event(e);
}

void TFo_Main::LoadWallpaper()
{
    const QString file = QString::fromStdString(Cores.Settings.View.WallPaper);
    QImage picture;
    if (file.isEmpty() || !QFileInfo::exists(file))
        picture = DefaultWallpaper();
    else
        picture.load(file); // an unreadable picture is an empty one: no tiles
    Mdi->setBackground(picture.isNull() ? QBrush(QColor(0x3A, 0x42, 0x4E)) : QBrush(picture));
}

void TFo_Main::HidePluginEditors()
{
    if (Cores.Plugins)
        Cores.Plugins->HideAll();
}

void TFo_Main::OpenDesktopTool(bool soundSettings)
{
    HidePluginEditors();
    if (!StartDesktopTool(soundSettings))
        QMessageBox::information(this, "Marlix Audio",
                                 "ミキサーを起動できません。pavucontrol または alsamixer をインストールしてください。");
}

// `page` is a file of the program folder, with a section after "#" where one is meant.
void TFo_Main::OpenHelp(const char* page)
{
    HidePluginEditors();
    const QString name = QString::fromUtf8(page);
    const QString file = QString::fromStdString(Cores.Folder) + name.section('#', 0, 0);
    QUrl url = QUrl::fromLocalFile(file);
    if (name.contains('#'))
        url.setFragment(name.section('#', 1));
    if (!QFileInfo::exists(file) || !QDesktopServices::openUrl(url))
        QMessageBox::information(this, "Marlix Audio", "ヘルプを開けません: " + file);
}

void TFo_Main::AboutCommand()
{
    HidePluginEditors();
    TFo_About dialog(this);
    dialog.exec();
}

void TFo_Main::MeasureCommand(bool corrected)
{
    if (Cores.Settings.Output.nDriverType != 1) {
        QMessageBox::information(this, "音響特性の測定",
                                 "音響特性の測定は現在ASIOドライバを使用した場合のみ実行することができます");
        return;
    }
    HidePluginEditors();
    const TTransportHold hold(Cores.Session.Control); // the wizard owns the device
    Cores.Session.Control.StopOutput(true);
    TFo_Measure wizard(Cores.Settings, Cores.Folder, corrected, this);
    wizard.exec();
}

// The output stops (closing the track) before the dialog opens, so the next play builds
// its chain from whatever the dialog wrote.
void TFo_Main::SetupCommand(const QString& page)
{
    HidePluginEditors();
    const TTransportHold hold(Cores.Session.Control); // the dialog owns the device
    Cores.Session.Control.StopOutput(true);
    // The browser's folder list is saved, and rebuilt from what was saved once the dialog
    // closes: the user's folders stay and the folders the dialog set show at once (even
    // where the file could not be written).
    TIniFile ini(Cores.Folder + "setting.ini");
    if (Windows.SaveBrowserRoots) {
        Windows.SaveBrowserRoots(ini);
        if (!ini.UpdateFile())
            std::fprintf(stderr, "marlixaudio: cannot write %ssetting.ini\n", Cores.Folder.c_str());
    }
    TFo_Setup dialog(Cores.Settings, Cores.Folder, this);
    if (!page.isEmpty())
        dialog.SelectPage(page);
    dialog.exec();
    if (Windows.LoadBrowserRoots)
        Windows.LoadBrowserRoots(ini);
    LoadWallpaper();
    update();
}

void TFo_Main::closeEvent(QCloseEvent* e)
{
    Shutdown();
    e->accept();
}

void TFo_Main::Shutdown(bool displayLost)
{
    if (ShutDown)
        return;
    ShutDown = true;
    Ti_Check->stop();
    const TSaveReport report = Cores.Session.Shutdown([this, displayLost](TIniFile& ini) {
        if (!displayLost)
            hide();
        SavePlacements(ini, displayLost);
        if (Windows.SaveBrowserRoots)
            Windows.SaveBrowserRoots(ini);
    });
    Cores.Dispatcher.SetWakeUp({});
    std::vector<std::string> unwritten = report.Unwritten;
    if (Cores.Online && !Cores.Online->Shutdown())
        unwritten.push_back(Cores.Folder + "download.txt");
    if (unwritten.empty())
        return;
    QString text = "次のファイルを保存できませんでした:";
    for (const std::string& file : unwritten) {
        std::fprintf(stderr, "marlixaudio: cannot write %s\n", file.c_str());
        text += "\n" + QString::fromStdString(file);
    }
    // Offscreen nobody could answer a message box; stderr has said it.
    if (!displayLost && QGuiApplication::platformName() != "offscreen")
        QMessageBox::warning(nullptr, "Marlix Audio", text);
}

// The control loop's library duties: follow the playing track in the pane, run a
// favourite search the playlist took, and queue download candidates.
void TFo_Main::LibraryTick()
{
    if (!Cores.Online)
        return;
    TOnlineLibrary& online = *Cores.Online;
    online.SetDownloadFolder(Cores.Settings.Function.DownloadPath);
    auto* pane = dynamic_cast<TFo_Tonkara*>(Windows.Tonkara);
    const int openCount = Cores.Session.Decoder.OpenCount.load();
    if (pane && openCount != FollowedOpenCount && SubWindowOf(pane)->isVisible() && !SubWindowOf(pane)->isMinimized()) {
        FollowedOpenCount = openCount;
        const std::string home = online.Control.HomeOf(Cores.Session.Decoder.FileName);
        if (!home.empty())
            pane->Navigate(home);
    }
    const std::string favourite = Cores.Session.Playlist.TakeFavourite();
    if (pane && !favourite.empty()) {
        statusBar()->showMessage(QStringLiteral("Tonkara - 検索中..."));
        pane->RunFavourite(favourite);
        if (SubWindowOf(pane)->isMinimized())
            SubWindowOf(pane)->showNormal();
        statusBar()->clearMessage();
    }
    online.Control.MakeRequests();
}

void TFo_Main::SearchCommand()
{
    if (!Cores.Online)
        return;
    HidePluginEditors();
    TOnlineLibrary& online = *Cores.Online;
    TFo_Search dialog(TFo_Search::TMode::Search, Cores.Folder, online.Function.FavoritePath, this);
    const std::string defaults = Cores.Folder + "default.mxp";
    dialog.LoadFavourite(defaults);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!dialog.SaveFavourite(defaults))
        std::fprintf(stderr, "marlixaudio: cannot write %s\n", defaults.c_str());
    statusBar()->showMessage(QStringLiteral("Tonkara - 検索中..."));
    RunSearch(this, online.Endpoints, dialog.Query(), online.Function.SearchResultPath, Cores.Pending);
    statusBar()->clearMessage();
}

// The browser's "new favourite search": the search dialog in new-favourite mode, its
// conditions saved as favourites folder + name + ".mxp".
void TFo_Main::NewFavouriteCommand()
{
    if (!Cores.Online)
        return;
    HidePluginEditors();
    const std::string folder = Cores.Online->Function.FavoritePath;
    TFo_Search dialog(TFo_Search::TMode::NewFavourite, Cores.Folder, folder, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string file = folder + dialog.FavouriteName().toStdString() + ".mxp";
    if (!dialog.SaveFavourite(file))
        std::fprintf(stderr, "marlixaudio: cannot write %s\n", file.c_str());
}

TFo_Download* TFo_Main::ShowDownloads()
{
    if (!Cores.Online)
        return nullptr;
    if (!DownloadWindow)
        DownloadWindow = new TFo_Download(Cores.Online->Downloads, Cores.Online->Thread, Cores.Settings, this);
    DownloadWindow->show();
    DownloadWindow->raise();
    return DownloadWindow;
}

// The news page is fetched once at start, away from the windows; a changed size shows it.
void TFo_Main::CheckNewsAtStart()
{
    if (!Cores.Online || !Cores.Settings.Operation.bCheckNew)
        return;
    News = std::make_unique<TNewsCheck>(Cores.Online->Endpoints, Cores.Folder);
    News->Start([this] { QMetaObject::invokeMethod(this, [this] { ShowNewsIfChanged(); }, Qt::QueuedConnection); });
}

void TFo_Main::ShowNewsIfChanged()
{
    if (ShutDown)
        return;
    TIniFile ini(Cores.Folder + "setting.ini");
    if (!NewsSizeChanged(Cores.Folder, ini))
        return;
    ini.UpdateFile();
    auto* news = new TFo_GetNew(Cores.Folder);
    auto* sub = Mdi->addSubWindow(news);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->resize(news->size() + QSize(8, 30));
    sub->show();
}

} // namespace marlix
