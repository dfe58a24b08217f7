#pragma once
#include "gui/player/childwindows.h"
#include "gui/placement.h"
#include "player/remoteprotocol.h"

#include <QAction>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>
#include <string>

class QLabel;
class QMdiArea;
class QProgressBar;
class QToolButton;
class QMdiSubWindow;

namespace marlix {

class TIniFile;
class TMainThread;
class TMprisService;
class TNewsCheck;
class TOnlineLibrary;
class TFo_Download;
class TPendingAdditions;
class TPlayerSession;
class TPlayerState;
class TPluginHost;
class TRemoteControl;
class TSettings;

// The cores the main window works on; the program creates them before the window.
struct TMainCores {
    TPlayerSession& Session;
    TSettings& Settings;
    TPlayerState& State;
    TPendingAdditions& Pending;
    TPluginHost* Plugins; // none: no effect plug-ins
    TMainThread& Dispatcher;
    std::string Folder;   // the program folder, with its trailing "/"
    TOnlineLibrary* Online = nullptr; // none: no online library
};

// The player's MDI frame: the seven player windows, the menus, the six layouts, drops,
// the wallpaper, and the 50 ms control loop (Ti_Check) that runs the session's Tick.
class TFo_Main : public QMainWindow {
    Q_OBJECT
public:
    explicit TFo_Main(const TMainCores& cores, QWidget* parent = nullptr);
    ~TFo_Main() override;

    // Places the six player windows as layout 1-6 describes; the library pane is minimised.
    void ApplyLayout(int layout);
    // Restores a minimised child and brings it to the front.
    void ShowChild(QWidget* child);
    // Raises and activates the main window.
    void BringToFront();
    // A second start asked for the player: takes the names it left, then comes forward.
    void SecondStart();
    // The dropped names in order: folders expanded to their files with a browsed
    // extension, existing files themselves; the rest is ignored. The loader walks the
    // folders; the status bar shows its progress.
    void AddDropped(const QStringList& names);
    // One turn of the control loop and of the window's own steps.
    void Ti_CheckTimer();
    // Asks the next tick to close the window (async-signal-safe: SIGTERM, SIGINT).
    static void RequestClose();
    // A command of "marlixaudio-cli remote", carried out as the windows' edits are;
    // refused while one of the player's dialogs is open or the player closes.
    TRemoteReply RemoteCommand(const std::vector<std::string>& words);
    // Saves and stops everything as a close does, without touching the display (it is
    // gone: the windows' state is saved as last known, and nothing is shown).
    void CloseWithoutDisplay() { Shutdown(true); }

    QMdiArea* MdiArea() const { return Mdi; }
    QMdiSubWindow* SubWindowOf(const QWidget* child) const;
    const TChildWindows& Children() const { return Windows; }
    QAction* ShortCutItem(int index) const { return ShortCutItems[static_cast<size_t>(index)]; }
    TMprisService* Mpris() const { return MprisService; }

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void CreateChildren();
    void CreateMenus();
    void CreateShortCutItems();
    void FirstShow();
    void LoadPlacements(const TIniFile& ini);
    void SavePlacements(TIniFile& ini, bool displayLost);
    void LoadWallpaper();
    void UpdateShortCuts();
    void TakeEditRequest();
    void ShowLoadProgress();
    void ShowDeviceFailure();
    void HidePluginEditors();
    void OpenDesktopTool(bool soundSettings);
    void OpenHelp(const char* page);
    void AboutCommand();
    void MeasureCommand(bool corrected);
    // Opens the setup dialog, with the page of this object name in front when given.
    void SetupCommand(const QString& page = {});
    void ArrangeMinimised();
    void Shutdown(bool displayLost = false);
    void LibraryTick();
    void SearchCommand();
    void NewFavouriteCommand();
    void CheckNewsAtStart();
    void ShowNewsIfChanged();
public:
    // Shows the download queue window, creating it when there is none.
    TFo_Download* ShowDownloads();
private:

    TMainCores Cores;
    TChildWindows Windows;
    TNormalGeometry NormalPlaces;
    QMdiArea* Mdi = nullptr;
    QLabel* StatusPanel = nullptr;
    // What the status line shows when no hint is up: "レディ", or why the output device
    // failed, until the next start.
    QString IdleText = QStringLiteral("レディ");
    uint64_t ShownFailure = 0;
    QProgressBar* PB_Load = nullptr;
    QToolButton* Bu_LoadCancel = nullptr;
    QTimer* Ti_Check = nullptr;
    std::array<QAction*, 17> ShortCutItems{};
    std::array<int, 17> AssignedShortCuts{};
    TMprisService* MprisService = nullptr;
    QAction* MS_MeasureCheck = nullptr;
    bool Shown = false;
    bool ShutDown = false;
    QPointer<TFo_Download> DownloadWindow;
    int FollowedOpenCount = 0;
    std::unique_ptr<TNewsCheck> News;
    std::unique_ptr<TRemoteControl> Remote;
};

// The built-in wallpaper tile.
QImage DefaultWallpaper();

} // namespace marlix
