// The desktop player: one instance per program folder, the player session and its main
// window. "--screens DIR" saves the drawing toolkit's gallery (DIR/toolkit.png), each
// player window alone (DIR/<object name>.png), the main window in each of the six
// layouts (DIR/layout-N.png), the main window loading a dropped folder
// (DIR/Fo_Main_loading.png), the DSP window's pages (DIR/TFo_Equalizer-<page>.png) and
// each page of the measurement wizard (DIR/Fo_Measure-N.png), then exits.
#include "base/mainthread.h"
#include "base/programfolder.h"
#include "dsp/pluginhost.h"
#include "engine/waveoutput.h"
#include "gui/dspui/analysisshots.h"
#include "gui/dspui/equalizershots.h"
#include "gui/gallery.h"
#include "gui/player/appicon.h"
#include "gui/online/onlineshots.h"
#include "gui/online/webview.h"
#include "gui/player/mainwindow.h"
#include "player/namelist.h"
#include "gui/player/singleinstance.h"
#include "gui/measure/measureshots.h"
#include "gui/player/windowshots.h"
#include "online/onlinelibrary.h"
#include "player/pending.h"
#include "player/playersession.h"
#include "player/playerstate.h"
#include "settings/inifile.h"
#include "settings/settings.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QMdiArea>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

using namespace marlix;

// The main window while a dropped folder loads: the loader is held at the job's start.
bool SaveLoadingShot(const QString& file, TFo_Main& main, TAdditionLoader& loader)
{
    auto go = std::make_shared<std::atomic<bool>>(false);
    loader.SetGate([go] {
        while (!*go)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    main.AddDropped({QString::fromStdString(ProgramFolder())});
    QApplication::processEvents();
    const bool ok = main.grab().save(file);
    loader.Cancel();
    *go = true;
    loader.SetGate({});
    return ok;
}

int SaveScreens(const QString& dir, TFo_Main& main, TAdditionLoader& loader)
{
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "marlixaudio: cannot create %s\n", qPrintable(dir));
        return 2;
    }
    TToolkitGallery gallery;
    QString file = QDir(dir).filePath("toolkit.png");
    bool ok = gallery.SaveTo(file);
    // Maximised on the screen it runs on, as a user first sees it (scripts/screens.sh
    // chooses the offscreen screen's size).
    main.showMaximized();
    QApplication::processEvents();
    for (int n = 1; ok && n <= 6; ++n) {
        main.ApplyLayout(n);
        QApplication::processEvents();
        file = QDir(dir).filePath(QString("layout-%1.png").arg(n));
        ok = main.grab().save(file);
    }
    if (ok) {
        file = QDir(dir).filePath("Fo_Main_loading.png");
        ok = SaveLoadingShot(file, main, loader);
    }
    if (!ok) {
        std::fprintf(stderr, "marlixaudio: cannot write %s\n", qPrintable(file));
        return 2;
    }
    QString error;
    if (!SavePlayerWindowShots(dir, error)) {
        std::fprintf(stderr, "marlixaudio: player windows: %s\n", qPrintable(error));
        return 2;
    }
    if (!SaveOnlineWindowShots(dir, error)) {
        std::fprintf(stderr, "marlixaudio: online windows: %s\n", qPrintable(error));
        return 2;
    }
    if (!SaveEqualizerShots(dir, error)) {
        std::fprintf(stderr, "marlixaudio: DSP window: %s\n", qPrintable(error));
        return 2;
    }
    if (!SaveMeasureWizardShots(dir, error)) {
        std::fprintf(stderr, "marlixaudio: measurement wizard: %s\n", qPrintable(error));
        return 2;
    }
    if (!SaveAnalysisWindowShots(dir, error)) {
        std::fprintf(stderr, "marlixaudio: analysis windows: %s\n", qPrintable(error));
        return 2;
    }
    return 0;
}

// An installed program folder is read-only: settings and the other files the player
// writes then live in $XDG_CONFIG_HOME/marlixaudio, which links back to what ships.
void UseWritableProgramFolder()
{
    const std::string folder = ProgramFolder();
    if (std::getenv("MARLIX_AUDIO_HOME") || access(folder.c_str(), W_OK) == 0)
        return;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/marlixaudio";
    if (!QDir().mkpath(config))
        return;
    namespace fs = std::filesystem;
    for (const char* shipped : {"help", "plugin", "nsp.so", "dsdec.so", "asiohost.so", "notfound.html"}) {
        const fs::path target = fs::path(config.toStdString()) / shipped;
        std::error_code ec;
        if (fs::exists(fs::path(folder) / shipped, ec) && !fs::exists(fs::symlink_status(target, ec)))
            fs::create_symlink(fs::path(folder) / shipped, target, ec);
    }
    SetProgramFolder(config.toStdString());
}

void OnSignal(int)
{
    TFo_Main::RequestClose();
}

// The running player, while the event loop runs.
TFo_Main* gRunning = nullptr;
TPlayerSession* gRunningSession = nullptr;
QtMessageHandler gQtMessages = nullptr;

// Qt's X11 plugin reports a broken display connection with this warning and then calls
// exit() from inside the event loop (as when a remote session drops). The player closes
// here, before any exit handler runs: everything is saved as on SIGTERM, the output
// stopped and the threads that wait on the main thread ended.
void CloseOnLostDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    gQtMessages(type, context, text);
    if (type != QtWarningMsg || !text.startsWith(QLatin1String("The X11 connection broke")) ||
        !TMainThread::Instance().IsMainThread())
        return;
    TFo_Main* main = std::exchange(gRunning, nullptr);
    if (!main)
        return;
    main->CloseWithoutDisplay();
    gRunningSession->Control.Chain.Spectrum.Teardown();
    TMainThread::Instance().Shutdown();
}

} // namespace

int main(int argc, char** argv)
{
    PrepareWebEngine();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Marlix Audio");
    QApplication::setDesktopFileName("marlixaudio");
    QApplication::setWindowIcon(ApplicationIcon());
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 9));

    QStringList args = QApplication::arguments();
    args.removeFirst();
    const qsizetype screens = args.indexOf("--screens");
    if (screens >= 0 && screens + 1 >= args.size()) {
        std::fprintf(stderr, "usage: marlixaudio --screens DIR\n");
        return 2;
    }

    // The pictures are made with default settings in a folder of their own, which the
    // window's close saves into and which is removed afterwards.
    QTemporaryDir screensFolder;
    if (screens >= 0)
        SetProgramFolder(screensFolder.path().toStdString());
    else
        UseWritableProgramFolder();
    const std::string folder = ProgramFolder();
    std::vector<std::string> entries;
    if (screens < 0)
        for (const QString& a : args)
            entries.push_back(a.toStdString());
    entries = ResolveArguments(entries);

    // A second start hands the names on as they are: the first player walks the folders
    // among them without blocking its window.
    TSingleInstance instance(folder);
    if (screens < 0 && !instance.Acquire()) {
        if (instance.HandOver(entries))
            return 0;
        std::fprintf(stderr, "marlixaudio: another player holds %s but does not answer\n", folder.c_str());
        return 1;
    }
    // At start there is no window to keep responsive yet: folders become their files here,
    // with the extensions the browser lists.
    const TIniFile ini(folder + "setting.ini");
    entries = ExpandNames(entries, ini.ReadString("Operation", "BrowseExts", TSettingOperation().BrowseExts), true);
    std::error_code ec;
    std::filesystem::remove(folder + "reserved.txt", ec);

    TPlayerSession session(folder, Settings(), PlayerState(), PendingAdditions(), WaveOutput(), &PluginHost(),
                           TMainThread::Instance());
    session.Start(entries);
    TOnlineLibrary online(folder, Settings().Function);
    online.Start();
    TFo_Main main({session, Settings(), PlayerState(), PendingAdditions(), &PluginHost(), TMainThread::Instance(), folder,
                   &online});
    if (screens >= 0) {
        const int status = SaveScreens(args[screens + 1], main, session.Loader);
        main.close();
        return status;
    }
    QObject::connect(&instance, &TSingleInstance::RaiseRequested, &main, &TFo_Main::SecondStart);
    instance.OnRemote = [&main](const std::vector<std::string>& words) { return main.RemoteCommand(words); };
    // A desktop logout saves like a close.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &main, [&main] { main.close(); });
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    gRunning = &main;
    gRunningSession = &session;
    gQtMessages = qInstallMessageHandler(CloseOnLostDisplay);
    main.showMaximized();
    const int status = QApplication::exec();
    gRunning = nullptr;
    main.close(); // saves when the loop ended some other way
    return status;
}
