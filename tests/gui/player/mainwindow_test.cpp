// The main window offscreen with the process-wide cores and a program folder of its own.
#include "gui/player/mainwindow.h"

#include "app/clitest.h"
#include "base/mainthread.h"
#include "engine/alsafiledevice.h"
#include "engine/waveoutput.h"
#include "gui/online/webview.h"
#include "gui/player/browser.h"
#include "gui/player/layout.h"
#include "gui/player/mpris.h"
#include "gui/player/singleinstance.h"
#include "gui/player/windowtest.h"
#include "gui/windowtimer.h"
#include "online/onlinelibrary.h"
#include "player/pending.h"
#include "player/playersession.h"
#include "player/playerstate.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <QApplication>
#include <QTabBar>
#include <QSpinBox>
#include <QRadioButton>
#include <QComboBox>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDBusConnection>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QStatusTipEvent>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <httplib.h>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <memory>

namespace marlix {
namespace {

// The wave output of this process plays into files (ALSA reads its configuration once).
test::TempDir gAlsaFolder;
test::TAlsaFileDevice gAlsa(gAlsaFolder.Path());
const bool kAlsaExported = (gAlsa.Export(), true);

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSettings(Folder.Path());
        PendingAdditions().Clear();
        TPlayerState& s = PlayerState();
        s.Command.Take();
        s.Paused = false;
        s.EditRequest = 0;
        s.Reserve = false;
    }
    void TearDown() override
    {
        if (Main)
            Main->close();
        Main.reset();
        Session.reset();
    }

    void Open()
    {
        Session = std::make_unique<TPlayerSession>(Folder.Path(), Settings(), PlayerState(), PendingAdditions(),
                                                   WaveOutput(), nullptr, TMainThread::Instance());
        Session->Start({});
        Main = std::make_unique<TFo_Main>(TMainCores{*Session, Settings(), PlayerState(), PendingAdditions(), nullptr,
                                                     TMainThread::Instance(), Folder.Path()});
        Main->resize(1200, 860);
        Main->show();
        QApplication::processEvents();
    }
    // Makes the MDI client exactly `client` large.
    void SetClientSize(QSize client)
    {
        Main->resize(Main->size() + client - Main->MdiArea()->viewport()->size());
        QApplication::processEvents();
        ASSERT_EQ(Main->MdiArea()->viewport()->size(), client);
    }
    QMdiSubWindow* Sub(QWidget* w) const { return Main->SubWindowOf(w); }
    static void ShowChildNormal(QMdiSubWindow* sub)
    {
        sub->showNormal();
        QApplication::processEvents();
    }
    void StopLoop() { Main->findChild<QTimer*>("Ti_Check", Qt::FindDirectChildrenOnly)->stop(); }
    std::vector<std::string> Pending() { return PendingAdditions().Take(); }

    test::TempProgramFolder Folder;
    std::unique_ptr<TPlayerSession> Session;
    std::unique_ptr<TFo_Main> Main;
};

TEST_F(MainWindow, FirstRunGetsLayoutOneAndLayoutFourSplitsTheLeftColumn)
{
    Open();
    const TChildWindows& w = Main->Children();
    for (const char* name : {"Fo_Conductor", "Fo_Information", "Fo_Browser", "Fo_Playlist", "Fo_Spectrum",
                             "Fo_Equalizer", "Fo_Tonkara"})
        EXPECT_NE(Main->findChild<QWidget*>(name), nullptr) << name;
    EXPECT_TRUE(std::filesystem::is_directory(Folder.File("impulseresponce"))) << "made when missing";
    // No "setting.ini": layout 1, the library pane minimised, the transport in the corner.
    EXPECT_TRUE(Sub(w.Tonkara)->isMinimized());
    const QSize frame = Sub(w.Browser)->size() - w.Browser->size();
    EXPECT_EQ(Sub(w.Conductor)->geometry(), QRect(QPoint(0, 0), QSize(388, 120) + frame));
    EXPECT_EQ(w.Conductor->size(), QSize(388, 120)) << "the whole transport shows";
    const int H = Main->MdiArea()->viewport()->height();
    EXPECT_EQ(Sub(w.Browser)->geometry().bottom() + 1, H - 4);
    EXPECT_EQ(w.Information->size(), QSize(240, 320)) << "the client size the layout asked for";

    SetClientSize({1000, 700});
    Main->findChild<QAction*>("MVLP_4")->trigger();
    EXPECT_EQ(Sub(w.Browser)->geometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(Sub(w.Browser)->height(), 348);
    EXPECT_EQ(Sub(w.Information)->height(), 348);
    EXPECT_EQ(Sub(w.Information)->y(), 348);
    EXPECT_EQ(w.Browser->width(), 240);

    // Closing a player window only minimises it.
    Sub(w.Playlist)->close();
    EXPECT_TRUE(Sub(w.Playlist)->isMinimized());
    EXPECT_TRUE(Sub(w.Playlist)->isVisible());
}

// The room a control needs to show its text and its parts whole (0: no need in that
// direction): labels, boxes and lists their minimum; check boxes their width; other
// buttons their text's line; a tab bar every tab without scrolling.
QSize Need(const QWidget* c)
{
    if (qobject_cast<const QLabel*>(c) || qobject_cast<const QComboBox*>(c) || qobject_cast<const QAbstractSpinBox*>(c))
        return c->minimumSizeHint();
    if (auto* tabs = qobject_cast<const QTabBar*>(c))
        return {tabs->sizeHint().width(), 0};
    if (qobject_cast<const QCheckBox*>(c) || qobject_cast<const QRadioButton*>(c))
        return {c->minimumSizeHint().width(), 0};
    if (auto* b = qobject_cast<const QAbstractButton*>(c); b && !b->text().isEmpty()) {
        const QFontMetrics fm(b->font());
        return {fm.horizontalAdvance(QString(b->text()).remove('&')) + 4, fm.ascent()};
    }
    return {};
}

// Where the controls of `parent`'s tree are cut for the user: a shown control outside its
// parent, over a shown sibling, or smaller than it needs. The parts of boxes and tab bars
// are theirs to arrange.
void FindCutControls(const QWidget* parent, const QString& path, QStringList& faults)
{
    std::vector<const QWidget*> shown;
    for (const QObject* o : parent->children())
        if (auto* c = qobject_cast<const QWidget*>(o); c && !c->isWindow() && c->isVisibleTo(parent))
            shown.push_back(c);
    const auto name = [](const QWidget* w) {
        return w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
    };
    for (size_t i = 0; i < shown.size(); ++i) {
        const QWidget* c = shown[i];
        const QString at = path + "/" + name(c);
        if (!parent->rect().contains(c->geometry()))
            faults << at + " outside its parent";
        const QSize need = Need(c);
        if (c->width() < need.width() || c->height() < need.height())
            faults << at + QString(" %1x%2, needs %3x%4").arg(c->width()).arg(c->height()).arg(need.width()).arg(need.height());
        for (size_t j = i + 1; j < shown.size(); ++j)
            if (c->geometry().intersects(shown[j]->geometry()))
                faults << at + " over " + name(shown[j]);
        if (!qobject_cast<const QComboBox*>(c) && !qobject_cast<const QAbstractSpinBox*>(c) && !qobject_cast<const QTabBar*>(c))
            FindCutControls(c, at, faults);
    }
}

// Every layout on the client of a maximised main window of 1280 × 720 and 1920 × 1080
// shows each placed window inside the client, uncovered, with all its controls whole; the
// DSP window on each of its pages.
TEST_F(MainWindow, EveryLayoutShowsEveryControlWhole)
{
    Open();
    StopLoop();
    const TChildWindows& w = Main->Children();
    auto* pages = w.Equalizer->findChild<QTabWidget*>("PageControl");
    ASSERT_NE(pages, nullptr);
    const std::vector<QWidget*> placed{w.Browser, w.Conductor, w.Information, w.Playlist, w.Spectrum, w.Equalizer};
    for (const QSize screen : {QSize(1280, 720), QSize(1920, 1080)}) {
        Main->resize(screen);
        for (int layout = 1; layout <= 6; ++layout) {
            Main->ApplyLayout(layout);
            QApplication::processEvents();
            const QString where = QString("%1x%2 layout %3").arg(screen.width()).arg(screen.height()).arg(layout);
            QStringList faults;
            const QList<QMdiSubWindow*> stack = Main->MdiArea()->subWindowList(QMdiArea::StackingOrder);
            for (QWidget* child : placed) {
                QMdiSubWindow* sub = Sub(child);
                if (!Main->MdiArea()->viewport()->rect().contains(sub->geometry()))
                    faults << child->objectName() + " outside the client";
                for (qsizetype above = stack.indexOf(sub) + 1; above < stack.size(); ++above)
                    if (stack[above]->isVisible() && stack[above]->geometry().intersects(sub->geometry()))
                        faults << child->objectName() + " under " + stack[above]->widget()->objectName();
                const int count = child == w.Equalizer ? pages->count() : 1;
                for (int page = 0; page < count; ++page) {
                    if (child == w.Equalizer) {
                        pages->setCurrentIndex(page);
                        QApplication::processEvents();
                    }
                    FindCutControls(sub, child->objectName() + "Frame", faults);
                }
            }
            faults.removeDuplicates();
            EXPECT_TRUE(faults.isEmpty()) << where.toStdString() << ":\n  " << faults.join("\n  ").toStdString();
        }
    }
}

// The wallpaper tiles from the client's top-left corner: the chosen picture, the
// built-in one when the file is missing, none when the file is no picture.
TEST_F(MainWindow, WallpaperTilesTheClient)
{
    QImage picture(3, 2, QImage::Format_ARGB32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            picture.setPixel(x, y, qRgb(40 * x + 20, 100 * y + 50, 7));
    ASSERT_TRUE(picture.save(QString::fromStdString(Folder.File("paper.png"))));
    test::WriteText(Folder.File("broken.png"), "not a picture");
    const QImage builtIn = DefaultWallpaper();
    const struct {
        std::string File;
        const QImage* Expected;
    } cases[] = {{Folder.File("paper.png"), &picture}, {Folder.File("missing.png"), &builtIn}, {Folder.File("broken.png"), nullptr}};
    Open();
    for (const auto& c : cases) {
        Settings().View.WallPaper = c.File;
        Main.reset();
        Session.reset();
        Open();
        for (QMdiSubWindow* sub : Main->MdiArea()->subWindowList())
            sub->showMinimized();
        QApplication::processEvents();
        const QImage shot = Main->MdiArea()->viewport()->grab().toImage();
        const QPoint at(Main->MdiArea()->viewport()->width() - 2, 1);
        const QRgb got = shot.pixel(at);
        if (c.Expected)
            EXPECT_EQ(got, c.Expected->pixel(at.x() % c.Expected->width(), at.y() % c.Expected->height())) << c.File;
        else
            EXPECT_EQ(got, shot.pixel(at + QPoint(-1, 1))) << c.File << ": a plain background";
    }
}

// Menu commands whose tool is missing answer with a message box; with the pro-audio
// output the measurement commands open the wizard.
TEST_F(MainWindow, MeasurementWithoutProAudioAndToolsWithoutAMixerSaySo)
{
    Open();
    StopLoop();
    test::TempDir emptyPath;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(emptyPath.Path()));
    const struct {
        const char* Item;
        int DriverType;
        QString Text; // empty: no message
    } cases[] = {{"MS_Measure", 0, "音響特性の測定は現在ASIOドライバを使用した場合のみ実行することができます"},
                 {"MS_Measure", 1, "音響特性の測定"},
                 {"MS_MeasureCheck", 1, "音響特性補正結果の測定"},
                 {"MT_Volume", 0, "ミキサーを起動できません。pavucontrol または alsamixer をインストールしてください。"}};
    for (const auto& c : cases) {
        Settings().Output.nDriverType = c.DriverType;
        QString shown;
        QTimer::singleShot(0, [&shown] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                shown = box->text();
                box->accept();
            } else if (auto* wizard = qobject_cast<QDialog*>(modal); wizard && wizard->objectName() == "Fo_Measure") {
                shown = wizard->windowTitle(); // the measurement wizard opened
                wizard->reject();
            }
        });
        Main->findChild<QAction*>(c.Item)->trigger();
        QApplication::processEvents();
        EXPECT_EQ(shown, c.Text) << c.Item;
    }
    qputenv("PATH", path);
    // The long part of a hint shows in the status bar; no hint: "レディ".
    auto* panel = Main->findChild<QLabel*>("StatusPanel");
    QStatusTipEvent tip("再生のコントロールを行います");
    QApplication::sendEvent(Main->Children().Conductor, &tip);
    EXPECT_EQ(panel->text(), "再生のコントロールを行います");
    QStatusTipEvent none("");
    QApplication::sendEvent(Main.get(), &none);
    EXPECT_EQ(panel->text(), "レディ");
}

// Runs `answer` on the modal dialog named `name` once it is up (other dialogs are left alone).
void AnswerDialog(const QString& name, std::function<void(QDialog*)> answer)
{
    QTimer::singleShot(0, [name, answer = std::move(answer)] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()); dialog && dialog->objectName() == name)
            answer(dialog);
    });
}

// Help opens the shipped help page (its contents and its sections on the maker and the
// product), "バージョン情報" opens the About dialog, and a download folder changed in setup
// is in the browser's root list as soon as the dialog closes, beside the user's folders.
TEST_F(MainWindow, HelpAboutAndSetupReachWhatTheyOpen)
{
    std::filesystem::create_directories(Folder.File("help"));
    std::filesystem::copy_file(std::string(MARLIX_SOURCE_DIR) + "/help/index.html", Folder.File("help/index.html"));
    Open();
    StopLoop();
    QTextBrowser opened; // what the desktop is asked to open
    for (const char* scheme : {"file", "http", "https"})
        QDesktopServices::setUrlHandler(scheme, &opened, "setSource");
    const std::string page = test::ReadText(Folder.File("help/index.html"));
    for (const auto& [item, section] : {std::pair{"MH_Contents", ""}, {"MH_Maker", "maker"}, {"MH_Product", "product"}}) {
        Main->findChild<QAction*>(item)->trigger();
        EXPECT_EQ(opened.source().toLocalFile().toStdString(), Folder.File("help/index.html")) << item;
        EXPECT_EQ(opened.source().fragment().toStdString(), section) << item;
        if (*section) {
            EXPECT_NE(page.find("id=\"" + std::string(section) + "\""), std::string::npos) << item;
        }
    }
    for (const char* scheme : {"file", "http", "https"})
        QDesktopServices::unsetUrlHandler(scheme);

    QString about;
    AnswerDialog("Fo_About", [&about](QDialog* d) {
        about = d->windowTitle();
        d->reject();
    });
    Main->findChild<QAction*>("MH_About")->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(about.isEmpty()) << "the About dialog opened";

    auto* browser = static_cast<TFo_Browser*>(Main->Children().Browser);
    const std::string mine = Folder.File("mine/"), downloads = Folder.File("new downloads/");
    browser->AddFolder(mine);
    AnswerDialog("Fo_Setup", [&downloads](QDialog* d) {
        d->findChild<QLineEdit*>("Ed_DownloadPath")->setText(QString::fromStdString(downloads));
        d->findChild<QPushButton*>("Bu_OK")->click();
    });
    Main->findChild<QAction*>("MS_Setup")->trigger();
    const std::vector<std::string>& roots = browser->Roots().Entries();
    EXPECT_NE(std::find(roots.begin(), roots.end(), downloads), roots.end());
    EXPECT_NE(std::find(roots.begin(), roots.end(), mine), roots.end()) << "a folder added before the dialog stays";
    EXPECT_EQ(TIniFile(Folder.File("setting.ini")).ReadString("FolderList", "0", ""), mine);
}

// The transport and DSP windows have no maximise box: a double click on their title bar
// leaves them as they are, while the other windows maximise.
TEST_F(MainWindow, OnlyTheTransportAndDSPWindowsCannotBeMaximised)
{
    Open();
    StopLoop();
    const TChildWindows& w = Main->Children();
    for (QWidget* child : w.InSaveOrder()) {
        QMdiSubWindow* sub = Sub(child);
        const bool fixed = child == w.Conductor || child == w.Equalizer;
        ShowChildNormal(sub);
        const QPoint title(sub->width() / 2, sub->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, sub) / 2);
        for (QEvent::Type type : {QEvent::MouseMove, QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                  QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
            test::SendMouse(sub, type, title);
        EXPECT_EQ(sub->isMaximized(), !fixed) << child->objectName().toStdString();
        EXPECT_EQ(bool(sub->windowFlags() & Qt::WindowMaximizeButtonHint), !fixed) << child->objectName().toStdString();
        EXPECT_TRUE(sub->windowFlags() & Qt::WindowMinimizeButtonHint) << child->objectName().toStdString();
        ShowChildNormal(sub);
    }
}

TEST_F(MainWindow, CloseWritesVersionAndSevenPlacementsWithNormalRectangles)
{
    Open();
    const TChildWindows& w = Main->Children();
    Sub(w.Spectrum)->showMinimized();
    Sub(w.Playlist)->setGeometry(10, 20, 300, 200);
    Sub(w.Playlist)->showMaximized();
    QApplication::processEvents();
    ASSERT_TRUE(Main->close());
    const TIniFile ini(Folder.File("setting.ini"));
    EXPECT_EQ(ini.ReadInteger("Global", "IniVersion", 0), 117);
    for (const char* section : {"ConductorWnd", "InformationWnd", "BrowserWnd", "PlaylistWnd", "SpectrumWnd",
                                "EqualizerWnd", "TonkaraWnd"})
        EXPECT_TRUE(ini.ValueExists(section, "State")) << section;
    EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "Left", -1), 10);
    EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "Top", -1), 20);
    EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "Width", -1), 300);
    EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "Height", -1), 200);
    EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "State", -1), 2);
    EXPECT_EQ(ini.ReadInteger("SpectrumWnd", "State", -1), 1);
    EXPECT_EQ(ini.ReadInteger("TonkaraWnd", "State", -1), 1);
    EXPECT_TRUE(std::filesystem::exists(Folder.File("current.m3u")));

    // The next start puts every window back where it was.
    const QRect conductor = Sub(w.Conductor)->geometry();
    Main.reset();
    Session.reset();
    Open();
    const TChildWindows& again = Main->Children();
    EXPECT_TRUE(Sub(again.Playlist)->isMaximized());
    EXPECT_TRUE(Sub(again.Spectrum)->isMinimized());
    EXPECT_EQ(Sub(again.Conductor)->geometry(), conductor);
}

TEST_F(MainWindow, DropAddsFolderFilesAndFilesInDropOrder)
{
    Open();
    StopLoop();
    const std::string album = Folder.File("album");
    std::filesystem::create_directories(album + "/disc 2");
    for (const char* f : {"/10 ten.wav", "/2 two.mp3", "/cover.jpg", "/disc 2/1 one.wav"})
        test::WriteText(album + f, "x");
    test::WriteText(Folder.File("single.mp3"), "x");
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(QString::fromStdString(album)),
                   QUrl::fromLocalFile(QString::fromStdString(Folder.File("single.mp3"))),
                   QUrl::fromLocalFile(QString::fromStdString(Folder.File("missing.wav")))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Main.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Main.get(), &drop);
    delete data;
    ASSERT_TRUE(Session->Loader.WaitIdle(std::chrono::seconds(10)));
    EXPECT_EQ(Pending(), (std::vector<std::string>{album + "/2 two.mp3", album + "/10 ten.wav",
                                                   album + "/disc 2/1 one.wav", Folder.File("single.mp3")}));
}

// A dropped folder of thousands of files is walked while the window goes on working: the
// status bar shows the loading and the playlist ends with every file in natural order.
TEST_F(MainWindow, DroppedFolderLoadsWhileTheWindowKeepsWorking)
{
    const std::string album = Folder.File("big");
    std::vector<std::string> expected; // natural order: "disc 2" before "disc 10"
    for (int d = 1; d <= 12; ++d) {
        const std::string disc = album + "/disc " + std::to_string(d);
        std::filesystem::create_directories(disc);
        test::WriteText(disc + "/cover.jpg", "x");
        for (int t = 1; t <= 250; ++t) {
            expected.push_back(disc + "/" + std::to_string(t) + " track.wav");
            test::WriteText(expected.back(), "x");
        }
    }
    Open();
    Settings().Operation.bPlayAtOpen = false;
    auto* bar = Main->findChild<QProgressBar*>("PB_Load");
    auto* status = Main->findChild<QLabel*>("StatusPanel");
    ASSERT_TRUE(bar && status);
    EXPECT_FALSE(bar->isVisible());
    // The loader waits at the start of the job until the window has shown it turns.
    auto go = std::make_shared<std::atomic<bool>>(false);
    Session->Loader.SetGate([go] {
        while (!*go)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    int turns = 0;
    QTimer counter;
    counter.setInterval(1);
    QObject::connect(&counter, &QTimer::timeout, [&turns] { ++turns; });
    counter.start();
    const auto waitFor = [](const std::function<bool()>& done) {
        for (int i = 0; i < 3000 && !done(); ++i)
            QTest::qWait(10);
        return done();
    };

    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(QString::fromStdString(album))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Main.get(), &enter);
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Main.get(), &drop);
    delete data;
    EXPECT_TRUE(bar->isVisible()) << "shown at the drop";
    ASSERT_TRUE(waitFor([&] { return turns >= 5; })) << "the event loop turns while the folder loads";
    EXPECT_TRUE(Session->Loader.Busy());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), 0) << "no end known while folders are walked";
    EXPECT_EQ(status->text(), QStringLiteral("読み込み中... 0 ファイル"));

    *go = true;
    TPlaylist& list = Session->Playlist;
    ASSERT_TRUE(waitFor([&] { return list.Count() == static_cast<int>(expected.size()); })) << list.Count();
    EXPECT_TRUE(waitFor([&] { return bar->isHidden(); }));
    EXPECT_EQ(status->text(), QStringLiteral("レディ"));
    std::vector<std::string> entries;
    for (const TPlayItem& item : list.Items())
        entries.push_back(item.FileName);
    EXPECT_EQ(entries, expected);
}

TEST_F(MainWindow, SecondStartHandsOverWhenItAsksThePlayerForward)
{
    TSingleInstance first(Folder.Path());
    ASSERT_TRUE(first.Acquire());
    QSignalSpy raised(&first, &TSingleInstance::RaiseRequested);
    Open();
    StopLoop();
    QObject::connect(&first, &TSingleInstance::RaiseRequested, Main.get(), &TFo_Main::SecondStart);

    TSingleInstance second(Folder.Path());
    EXPECT_FALSE(second.Acquire()) << "the folder already has its player";
    // A folder among the names is walked by the first player.
    std::filesystem::create_directories(Folder.File("cd"));
    for (const char* f : {"cd/10.wav", "cd/2.mp3", "cd/notes.txt"})
        test::WriteText(Folder.File(f), "x");
    const std::vector<std::string> files{"/music/a.wav", Folder.File("cd"), "http://radio.example/c"};
    ASSERT_TRUE(second.HandOver(files));
    QTRY_COMPARE(raised.count(), 1);
    EXPECT_FALSE(std::filesystem::exists(Folder.File("reserved.txt")));
    ASSERT_TRUE(Session->Loader.WaitIdle(std::chrono::seconds(10)));
    EXPECT_EQ(Pending(), (std::vector<std::string>{"/music/a.wav", Folder.File("cd/2.mp3"), Folder.File("cd/10.wav"),
                                                   "http://radio.example/c"}));

    // Without arguments it only asks the first to come forward.
    ASSERT_TRUE(second.HandOver({}));
    QTRY_COMPARE(raised.count(), 2);
    EXPECT_FALSE(std::filesystem::exists(Folder.File("reserved.txt")));
}

TEST_F(MainWindow, LockOfAKilledPlayerDoesNotBlockTheNextStart)
{
    const std::string lock = Folder.File("MarlixAudio.lock");
    int status = -1;
    const std::string pid = test::RunCommand("sh -c \"exec 9>'" + lock + "'; flock 9; exec sleep 30\" > /dev/null 2>&1 & echo $!", &status);
    ASSERT_EQ(status, 0);
    // Held by a live process: refused.
    bool refused = false;
    for (int i = 0; i < 100 && !refused; ++i) {
        TSingleInstance probe(Folder.Path());
        refused = !probe.Acquire();
        if (!refused)
            QTest::qWait(20);
    }
    EXPECT_TRUE(refused);
    test::RunCommand("kill -KILL " + pid.substr(0, pid.find('\n')) + "; sleep 0.1");
    TSingleInstance next(Folder.Path());
    EXPECT_TRUE(next.Acquire());
    // Nobody answers on a folder whose player is gone: nothing is handed over.
    TSingleInstance other(Folder.File("elsewhere/"));
    EXPECT_FALSE(other.HandOver({"/music/a.wav"}));
    EXPECT_FALSE(std::filesystem::exists(Folder.File("elsewhere/reserved.txt")));
}

TEST_F(MainWindow, ShortcutsFollowTheSettingsAndEditRequestsOpenTheDSPPage)
{
    Open();
    StopLoop();
    QAction* play = Main->ShortCutItem(TSettingOperation::scPlay);
    EXPECT_EQ(play->shortcut(), QKeySequence(Qt::Key_F5));
    Settings().Operation.ShortCut[TSettingOperation::scPlay] = 0x4000 + 'K';
    Settings().Operation.ShortCut[TSettingOperation::scVolDown] = 0x2000 + 40; // Shift+Down
    Main->Ti_CheckTimer();
    EXPECT_EQ(play->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
    Main->activateWindow();
    QApplication::processEvents();
    PlayerState().MasterVolume = -35;
    QTest::keyClick(Main.get(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(PlayerState().MasterVolume.load(), -40);
    QTest::keyClick(Main.get(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(PlayerState().Command.Peek(), "Play");

    const TChildWindows& w = Main->Children();
    Sub(w.Equalizer)->showMinimized();
    PlayerState().EditRequest = 3;
    Main->Ti_CheckTimer();
    EXPECT_EQ(PlayerState().EditRequest.load(), 0);
    EXPECT_FALSE(Sub(w.Equalizer)->isMinimized());
    EXPECT_EQ(Main->MdiArea()->activeSubWindow(), Sub(w.Equalizer));
    auto* pages = w.Equalizer->findChild<QTabWidget*>("PageControl");
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(pages->tabText(pages->currentIndex()), "マトリクス");
}

// Only windows on screen tick: a minimised window's timer rests until it shows again,
// and minimising the main window rests them all. The library pane's browser engine starts
// only when the pane is first on screen, not with a first run's minimised pane.
TEST_F(MainWindow, MinimisedWindowsRestAndTheBrowserStartsWithItsPane)
{
    Settings().Operation.bCheckNew = false;
    TOnlineLibrary online(Folder.Path(), Settings().Function, TLibraryEndpoints::For("127.0.0.1:9"));
    Session = std::make_unique<TPlayerSession>(Folder.Path(), Settings(), PlayerState(), PendingAdditions(),
                                               WaveOutput(), nullptr, TMainThread::Instance());
    Session->Start({});
    Main = std::make_unique<TFo_Main>(TMainCores{*Session, Settings(), PlayerState(), PendingAdditions(), nullptr,
                                                 TMainThread::Instance(), Folder.Path(), &online});
    Main->resize(1200, 860);
    Main->show();
    QTest::qWait(200); // the pane's deferred start would have run
    const TChildWindows& w = Main->Children();
    const std::pair<QWidget*, const char*> windows[] = {{w.Conductor, "Ti_Check"}, {w.Information, "Ti_Check"},
                                                        {w.Browser, "Ti_Check"},   {w.Playlist, "Ti_Check"},
                                                        {w.Equalizer, "Ti_Check"}, {w.Spectrum, "Ti_Redraw"}};
    auto ticking = [](QWidget* window, const char* name) {
        return window->findChild<TWindowTimer*>(name, Qt::FindDirectChildrenOnly)->isActive();
    };
    for (auto [window, timer] : windows)
        EXPECT_TRUE(ticking(window, timer)) << window->objectName().toStdString();
    Sub(w.Conductor)->showMinimized();
    QApplication::processEvents();
    EXPECT_FALSE(ticking(w.Conductor, "Ti_Check"));
    EXPECT_TRUE(ticking(w.Playlist, "Ti_Check"));
    ShowChildNormal(Sub(w.Conductor));
    EXPECT_TRUE(ticking(w.Conductor, "Ti_Check"));
    Main->showMinimized();
    QApplication::processEvents();
    for (auto [window, timer] : windows)
        EXPECT_FALSE(ticking(window, timer)) << window->objectName().toStdString() << " with the main window minimised";
    Main->showNormal();
    QApplication::processEvents();
    EXPECT_TRUE(ticking(w.Spectrum, "Ti_Redraw"));

    EXPECT_TRUE(Sub(w.Tonkara)->isMinimized());
    if (HaveWebEngine()) {
        EXPECT_EQ(w.Tonkara->findChild<QWidget*>("WB_Browser"), nullptr) << "a minimised pane starts no browser";
        Main->findChild<QAction*>("MW_Tonkara")->trigger();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.Tonkara->findChild<QWidget*>("WB_Browser") != nullptr; }, 5000));
    }
    Main->close(); // before the library it works on goes
    Main.reset();
}

// The news page is fetched away from the windows: the window is up and its loop turns
// while the library holds the page; once the page comes, a changed size shows it.
TEST_F(MainWindow, NewsArrivesWhileTheWindowKeepsWorking)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool asked = false, released = false;
    httplib::Server server;
    server.Get("/tonkara/info.html", [&](const httplib::Request&, httplib::Response& res) {
        std::unique_lock lock(mutex);
        asked = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return released; });
        res.set_content("<p>news</p>", "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { server.listen_after_bind(); });
    auto release = [&] {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    };
    auto isAsked = [&] {
        std::lock_guard lock(mutex);
        return asked;
    };
    {
        TOnlineLibrary online(Folder.Path(), Settings().Function,
                              TLibraryEndpoints::For("127.0.0.1:" + std::to_string(port)));
        Session = std::make_unique<TPlayerSession>(Folder.Path(), Settings(), PlayerState(), PendingAdditions(),
                                                   WaveOutput(), nullptr, TMainThread::Instance());
        Session->Start({});
        Main = std::make_unique<TFo_Main>(TMainCores{*Session, Settings(), PlayerState(), PendingAdditions(), nullptr,
                                                     TMainThread::Instance(), Folder.Path(), &online});
        Main->show();
        // Shown and turning while the page is held.
        EXPECT_TRUE(QTest::qWaitFor(isAsked, 20000));
        int turns = 0;
        QTimer::singleShot(0, [&turns] { ++turns; });
        QApplication::processEvents();
        EXPECT_EQ(turns, 1);
        EXPECT_EQ(Main->findChild<QWidget*>("Fo_GetNew"), nullptr);

        release();
        EXPECT_TRUE(QTest::qWaitFor([&] { return Main->findChild<QWidget*>("Fo_GetNew") != nullptr; }, 20000));
        EXPECT_EQ(TIniFile(Folder.File("setting.ini")).ReadInteger("Info", "InfoSize", 0), 11);
        Main->close();
        Main.reset();
        Session.reset();
    }
    release();
    server.stop();
    serving.join();
}

// A session bus of the test's own, stopped by PID.
struct TPrivateBus {
    TPrivateBus()
    {
        const std::string out = test::RunCommand("dbus-daemon --session --fork --print-address=1 --print-pid=1");
        const auto nl = out.find('\n');
        if (nl == std::string::npos)
            return;
        Address = out.substr(0, nl);
        Pid = out.substr(nl + 1, out.find('\n', nl + 1) - nl - 1);
    }
    ~TPrivateBus()
    {
        if (!Pid.empty())
            test::RunCommand("kill " + Pid);
    }
    // Calls a method of the player's MPRIS interface from a separate client.
    void Send(const char* method) const
    {
        QProcess::startDetached("sh", {"-c", QString::fromStdString("DBUS_SESSION_BUS_ADDRESS='" + Address +
                                                                     "' dbus-send --session --type=method_call "
                                                                     "--dest=org.mpris.MediaPlayer2.marlixaudio "
                                                                     "/org/mpris/MediaPlayer2 "
                                                                     "org.mpris.MediaPlayer2.Player.") +
                                                method});
    }
    std::string Address, Pid;
};

TEST_F(MainWindow, MprisPlayPauseAndNextReachTheMailboxAndTheLoopCarriesThemOut)
{
    if (!test::HaveProgram("dbus-daemon") || !test::HaveProgram("dbus-send"))
        GTEST_SKIP() << "dbus-daemon or dbus-send is not installed";
    TPrivateBus bus;
    ASSERT_FALSE(bus.Address.empty());
    test::WriteText(Folder.File("setting.ini"), "[MME]\nDevice0=-1\n[Status]\nAVC=0\n");
    WriteWav(Folder.File("a.wav"), Noise(44100 * 20, 1), 44100);
    WriteWav(Folder.File("b.wav"), Noise(44100 * 20, 2), 44100);
    test::WriteText(Folder.File("current.m3u"), Folder.File("a.wav") + "\n" + Folder.File("b.wav") + "\n");
    Open();
    const QDBusConnection connection = QDBusConnection::connectToBus(QString::fromStdString(bus.Address), "mpris-test");
    ASSERT_TRUE(Main->Mpris()->Register(connection));
    TPlayerState& state = PlayerState();

    bus.Send("PlayPause");
    QTRY_VERIFY_WITH_TIMEOUT(state.OutputRunning && Session->Decoder.FileName == Folder.File("a.wav"), 10000);
    EXPECT_FALSE(state.Paused);
    bus.Send("PlayPause");
    QTRY_VERIFY_WITH_TIMEOUT(state.Paused, 5000);
    bus.Send("PlayPause");
    QTRY_VERIFY_WITH_TIMEOUT(!state.Paused, 5000);
    bus.Send("Next");
    QTRY_VERIFY_WITH_TIMEOUT(Session->Decoder.FileName == Folder.File("b.wav"), 10000);
    EXPECT_TRUE(state.Command.Empty());
    EXPECT_EQ(Main->Mpris()->PlaybackStatus(), "Playing");
    EXPECT_EQ(Main->Mpris()->Metadata().value("xesam:title").toString(), "b.wav");
    QDBusConnection::disconnectFromBus("mpris-test");
}

// A device that does not open: the player stops, the status line names the device and
// why (and keeps saying so when a hint has come and gone), the clock stays at zero; a
// device that opens clears it.
TEST_F(MainWindow, ADeviceThatDoesNotOpenStopsThePlayerAndTheStatusLineSaysWhy)
{
    test::WriteText(Folder.File("setting.ini"), "[MME]\nDevice0=50\n[Status]\nAVC=0\n");
    WriteWav(Folder.File("a.wav"), Noise(44100 * 20, 1), 44100);
    test::WriteText(Folder.File("current.m3u"), Folder.File("a.wav") + "\n");
    Open();
    TPlayerState& state = PlayerState();
    auto* panel = Main->findChild<QLabel*>("StatusPanel");
    ASSERT_NE(panel, nullptr);
    state.Command.Post("Play");
    QTRY_VERIFY_WITH_TIMEOUT(Session->Control.LastFailure().Serial > 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(panel->text(), QStringLiteral("出力デバイス「#50」が見つかりません。再生を停止しました"), 2000);
    EXPECT_FALSE(state.OutputRunning);
    EXPECT_FALSE(Session->Decoder.IsOpen);
    auto* clock = Main->findChild<QLabel*>("La_Position");
    ASSERT_NE(clock, nullptr);
    QTest::qWait(300);
    EXPECT_EQ(clock->text(), QStringLiteral("00:00:00 / 00:00:00"));
    QStatusTipEvent hint(QStringLiteral("再生|再生します"));
    QApplication::sendEvent(Main.get(), &hint);
    QStatusTipEvent gone{QString()};
    QApplication::sendEvent(Main.get(), &gone);
    EXPECT_TRUE(panel->text().startsWith(QStringLiteral("出力デバイス「#50」"))) << panel->text().toStdString();

    Settings().MME.Device0 = -1; // the file device
    state.Command.Post("Play");
    QTRY_VERIFY_WITH_TIMEOUT(state.OutputRunning, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(panel->text(), QStringLiteral("レディ"), 2000);
}

} // namespace
} // namespace marlix
