// The online library's windows, offscreen: the search dialog's rules, the download queue
// window against a slow local server, and the library pane turning audio links into
// playlist entries in the embedded browser.
#include "gui/online/download.h"
#include "gui/online/search.h"
#include "gui/online/tonkara.h"
#include "gui/online/webview.h"
#include "gui/player/playlistwindow.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "online/onlinelibrary.h"
#include "player/pending.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

namespace marlix {
namespace {

// A local server: a page with audio links, and a track that trickles out slowly.
class TPageServer {
public:
    TPageServer()
    {
        Http.Get("/dir/page.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body>\n<a id=\"song\" href=\"/music/a.mp3\">A</a>\n"
                            "<a href=\"b.mp3?x=1\">B</a>\n<a href=\"./c.mp3\">C</a>\n</body></html>\n",
                            "text/html");
        });
        Http.Get("/slow.mp3", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("audio/mpeg", [this](size_t, httplib::DataSink& sink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return !Stopping && sink.write("0123456789", 10);
            });
        });
        Http.Get("/quick.mp3", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(5000, 'q'), "audio/mpeg");
        });
        Port = Http.bind_to_any_port("127.0.0.1");
        Thread = std::thread([this] { Http.listen_after_bind(); });
        while (!Http.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TPageServer()
    {
        Stopping = true;
        Http.stop();
        Thread.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(Port) + path; }

    httplib::Server Http;
    std::thread Thread;
    std::atomic<bool> Stopping{false};
    int Port = 0;
};

// Answers the next message box with `button` once it is up.
void AnswerNextBox(QMessageBox::StandardButton button, QString* text = nullptr)
{
    QTimer::singleShot(0, [button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return AnswerNextBox(button, text);
        if (text)
            *text = box->text();
        box->button(button)->click();
    });
}

TEST(OnlineWindows, SearchDialogRules)
{
    test::TempDir dir;
    test::WriteText(dir.File("genres.txt"), "Rock\r\nJazz\r\n");
    TFo_Search dialog(TFo_Search::TMode::NewFavourite, dir.Path(), dir.File("favorites/"));
    auto* rank = dialog.findChild<QRadioButton*>("Ra_Rank");
    auto* library = dialog.findChild<QCheckBox*>("Ch_Tonkara");
    auto* weeks = dialog.findChild<QComboBox*>("Co_Rank");
    auto* genre = dialog.findChild<QComboBox*>("Ed_Genre");
    EXPECT_EQ(genre->count(), 3);
    EXPECT_EQ(genre->itemText(1), "Jazz");

    rank->setChecked(true);
    dialog.Ti_CheckTimer();
    EXPECT_TRUE(weeks->isEnabled());
    library->setChecked(false);
    dialog.Ti_CheckTimer(); // one tick: rank without the library becomes random
    EXPECT_TRUE(dialog.findChild<QRadioButton*>("Ra_Random")->isChecked());
    EXPECT_FALSE(weeks->isEnabled());

    QString said;
    AnswerNextBox(QMessageBox::Ok, &said);
    EXPECT_FALSE(dialog.OkStep()); // neither the library nor the web
    EXPECT_EQ(said, QStringLiteral("検索対象がありません。"));

    library->setChecked(true);
    dialog.findChild<QLineEdit*>("Ed_Artist")->setText("Bach");
    auto* name = dialog.findChild<QLineEdit*>("Ed_Name");
    for (const char* outside : {"../escape", "a/b", ".."}) {
        name->setText(outside);
        AnswerNextBox(QMessageBox::Ok, &said);
        EXPECT_FALSE(dialog.OkStep()) << outside;
    }
    name->setText(QStringLiteral("新規お気に入り"));
    ASSERT_TRUE(dialog.OkStep());
    EXPECT_EQ(dialog.Query(), "Max=10&Sort=Random&Artist=Bach&Open=1");
    const std::string file = dir.File("favorites/") + dialog.FavouriteName().toStdString() + ".mxp";
    ASSERT_TRUE(dialog.SaveFavourite(file));

    // The same name again asks before overwriting; Cancel keeps the dialog open.
    AnswerNextBox(QMessageBox::Cancel, &said);
    EXPECT_FALSE(dialog.OkStep());
    EXPECT_TRUE(said.startsWith(QStringLiteral("指定された名前のお気に入りは既に存在します。")));

    TFo_Search replay(TFo_Search::TMode::Search, dir.Path(), dir.File("favorites/"));
    replay.LoadFavourite(file);
    EXPECT_EQ(replay.Query(), "Max=10&Sort=Random&Artist=Bach&Open=1");
}

// Opening the dialog fetches the library's genre list; a library that cannot be reached
// leaves the last list.
TEST(OnlineWindows, SearchDialogTakesTheLibrarysGenresAndKeepsTheLastList)
{
    TPageServer server;
    server.Http.Get("/tonkara/genres.txt", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("Jazz\r\nBlues\r\n", "text/plain");
    });
    test::TempDir dir;
    test::WriteText(dir.File("genres.txt"), "Rock\r\n");
    const auto genres = [](const TFo_Search& dialog) {
        const auto* box = dialog.findChild<QComboBox*>("Ed_Genre");
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    };
    const QStringList fetched{"", "Blues", "Jazz"};
    {
        TFo_Search dialog(TFo_Search::TMode::Search, dir.Path(), dir.File("favorites/"), nullptr,
                          TLibraryEndpoints::For("127.0.0.1:" + std::to_string(server.Port)));
        dialog.findChild<QComboBox*>("Ed_Genre")->setCurrentText("Jaz");
        EXPECT_EQ(genres(dialog), (QStringList{"", "Rock"}));
        dialog.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return genres(dialog) == fetched; }, 20000));
        EXPECT_EQ(dialog.findChild<QComboBox*>("Ed_Genre")->currentText(), "Jaz"); // the typed text stays
    }
    server.Http.stop();
    TFo_Search offline(TFo_Search::TMode::Search, dir.Path(), dir.File("favorites/"), nullptr,
                       TLibraryEndpoints::For("127.0.0.1:" + std::to_string(server.Port)));
    offline.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return offline.GenresChecked(); }, 20000));
    offline.Ti_CheckTimer();
    EXPECT_EQ(genres(offline), fetched);
    EXPECT_EQ(test::ReadText(dir.File("genres.txt")), "Jazz\r\nBlues\r\n");
}

TEST(OnlineWindows, DownloadWindowShowsProgressAndRemovalCancels)
{
    TPageServer server;
    test::TempDir dir;
    TSettings settings;
    TDownloadlist list;
    TDownloadThread thread(list, [&] { return dir.Path(); });
    TFo_Download window(list, thread, settings);
    window.resize(160, 200);
    window.show();
    window.Ti_CheckTimer();
    auto* menu = window.findChild<QMenu*>("PM_Menu");
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator()) {
            EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString(); // empty queue
        }
    }

    list.Add("A/slow.mp3*" + server.Url("/slow.mp3"));
    list.Add("A/quick.mp3*" + server.Url("/quick.mp3"));
    list.Add("bad.mp3*/local/file.mp3");
    thread.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !thread.CurrentRequest().empty() && thread.Progress > 0; }, 5000));
    window.Ti_CheckTimer();
    // The running row: white mixed with (255, 64, 64), its bar mixed again with red; a
    // transfer without a length is at 100 % from its first byte, so the bar fills the row.
    const QImage img = window.findChild<QWidget*>("PB_List")->grab().toImage();
    const int row = window.RowHeight();
    EXPECT_EQ(img.pixel(img.width() - 2, row / 2) & 0xFFFFFF, 0xFF4F4Fu);
    const QColor face = QApplication::palette().color(QPalette::Button);
    const QColor background((face.red() + 255) / 2, (face.green() + 255) / 2, (face.blue() + 255) / 2);
    EXPECT_NEAR(QColor(img.pixel(img.width() - 2, row + row / 2)).red(), background.red(), 1); // a pending row
    EXPECT_NEAR(QColor(img.pixel(img.width() - 2, row + row / 2)).blue(), background.blue(), 1);

    // Removing the running entry cancels its transfer within one tick.
    list.SetSelected(0, true);
    window.RemoveSelectedClick();
    EXPECT_TRUE(thread.Cancel);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.Item(1) && (list.Item(1)->Done || list.Item(1)->Failed); }, 5000));
    const auto items = list.Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_TRUE(items[0].Done);
    EXPECT_TRUE(items[1].Failed);
    EXPECT_EQ(test::ReadText(dir.File("A/quick.mp3")), std::string(5000, 'q'));
    EXPECT_FALSE(std::filesystem::exists(dir.File("A/slow.mp3")));
    thread.Terminate();

    // The failed entry's name is drawn in red.
    window.Ti_CheckTimer();
    const QImage after = window.findChild<QWidget*>("PB_List")->grab().toImage();
    bool red = false;
    for (int x = 0; x < after.width() && !red; ++x)
        for (int y = row; y < 2 * row && !red; ++y)
            red = (after.pixel(x, y) & 0xFFFFFF) == 0xFF0000u;
    EXPECT_TRUE(red);
}

TEST(OnlineWindows, PaneTurnsAudioLinksIntoEntries)
{
    if (!HaveWebEngine())
        GTEST_SKIP() << "built without QtWebEngine";
    TPageServer server;
    test::TempProgramFolder dir;
    TSettingFunction function(dir.Path());
    TOnlineLibrary online(dir.Path(), function, TLibraryEndpoints::For("127.0.0.1:" + std::to_string(server.Port)));
    TPendingAdditions pending;
    TFo_Tonkara pane(online, pending);
    pane.resize(600, 400);
    pane.show();
    const std::string page = server.Url("/dir/page.html");
    pane.Navigate(page);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pane.NavigationRequested() && !pane.Browser()->Busy(); }, 20000));
    EXPECT_EQ(pane.Browser()->Location().toString().toStdString(), page);

    pane.Browser()->RunScript("document.getElementById('song').click();");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pending.Empty(); }, 10000));
    EXPECT_EQ(pending.Take(), std::vector<std::string>{server.Url("/music/a.mp3")});
    EXPECT_EQ(pane.Browser()->Location().toString().toStdString(), page); // the page stays

    pane.PlayAllClick();
    EXPECT_EQ(pending.Take(), (std::vector<std::string>{server.Url("/dir/music/a.mp3"), server.Url("/dir/c.mp3")}));
}

TEST(OnlineWindows, PlaylistDownloadItemHandsOverSelectedLocations)
{
    TPlayerState state;
    TPendingAdditions pending;
    TSettings settings;
    TPlaylist playlist(state, pending);
    playlist.Add("Song*http://h/a.mp3");
    playlist.Add("http://h/b.mp3");
    playlist.Add("http://h/c.mp3");
    playlist.Item(0).Selected = true;
    playlist.Item(2).Selected = true;
    TFo_Playlist window(state, playlist, settings);
    QAction* item = window.findChild<QAction*>("PM_Download");
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->isVisible());
    std::vector<std::string> got;
    window.EnableDownloads([&](const std::vector<std::string>& entries) { got = entries; });
    window.Ti_CheckTimer();
    EXPECT_TRUE(item->isVisible());
    EXPECT_TRUE(item->isEnabled());
    item->trigger();
    EXPECT_EQ(got, (std::vector<std::string>{"http://h/a.mp3", "http://h/c.mp3"}));
}

} // namespace
} // namespace marlix
