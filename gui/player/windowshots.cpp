#include "gui/player/windowshots.h"

#include "base/flexfilebuf.h"
#include "engine/decoder.h"
#include "gui/paintbox.h"
#include "gui/player/about.h"
#include "gui/player/browser.h"
#include "gui/player/browser2.h"
#include "gui/player/conductor.h"
#include "gui/player/information.h"
#include "gui/player/playlistwindow.h"
#include "gui/player/properties.h"
#include "gui/shot.h"
#include "player/outputchain.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "settings/settings.h"

#include <QApplication>
#include <QMouseEvent>
#include <QDir>
#include <QTemporaryDir>
#include <cstdint>
#include <filesystem>
#include <fstream>

namespace marlix {

namespace {

bool WriteTone(const std::string& path, int seconds, int rate)
{
    TFlexFileBuf file;
    if (file.OpenFile(1, {path}, rate, 16, 1, 2) != 0)
        return false;
    const int frames = seconds * rate;
    file.SetBuf(nullptr, 2, 16, frames);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < frames; ++i)
            static_cast<int16_t*>(file.Data[c])[i] = static_cast<int16_t>((i * 37) % 2000 - 1000);
    const bool ok = file.WriteBlock(0, frames) == frames;
    file.CloseFile(1);
    return ok;
}

bool Save(QWidget& w, const QString& dir, QString& error)
{
    w.show();
    if (!SaveShot(w, QDir(dir).filePath(w.objectName() + QStringLiteral(".png")), error))
        return false;
    w.hide();
    return true;
}

} // namespace

// The browser with a root list of a music library, the music folder hovered, and its
// paged pop-up (DIR/Fo_Browser.png, DIR/Fo_Browser2.png).
bool SaveBrowserShots(const std::string& media, const QString& dir, QString& error)
{
    namespace fs = std::filesystem;
    const std::string music = media + "Music/";
    const char* const albums[] = {"Bach - Goldberg Variations", "Bill Evans - Waltz for Debby", "Brahms - Symphony No. 4",
                                  "Chet Baker - Sings", "Coltrane - Blue Train", "Debussy - Préludes",
                                  "Miles Davis - Kind of Blue", "Mozart - Requiem", "Ravel - Boléro",
                                  "坂本龍一 - async", "Satie - Gymnopédies", "Sonny Rollins - Saxophone Colossus"};
    std::error_code ec;
    for (const char* album : albums) {
        fs::create_directories(music + album, ec);
        for (int t = 1; t <= 8; ++t)
            std::ofstream(music + album + "/0" + std::to_string(t) + " Track.mp3") << 'x';
    }
    std::ofstream(music + "Intro.wav") << 'x';
    fs::create_directories(media + "Downloads", ec);
    fs::create_directories(media + "Archive/Live recordings", ec);
    fs::create_directories(media + "Radio sessions", ec);
    TSettings settings;
    settings.Function.DownloadPath = media + "Downloads/";
    settings.Operation.nBrowserType = 1;
    TPlayerState state;
    TPendingAdditions pending;
    TFo_Browser browser(settings, state, pending, nullptr, THistory(media + "history/"), music);
    browser.AddFolder(media + "Archive/Live recordings");
    browser.AddFolder(media + "Radio sessions");
    browser.resize(145, 400);
    browser.move(0, 0);
    browser.show();
    TPaintBox* box = browser.Frame()->PaintBox();
    const QPointF zone(box->width() - 5.0, 5);
    QMouseEvent move(QEvent::MouseMove, zone, box->mapToGlobal(zone), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(box, &move);
    for (int i = 0; i < 100 && !browser.Popup(); ++i) {
        browser.Lister().Flush();
        QApplication::processEvents();
    }
    if (!browser.Popup()) {
        error += QStringLiteral("the browser's pop-up did not open ");
        return false;
    }
    browser.Popup()->resize(std::min(browser.Popup()->width(), 600), 420);
    QApplication::processEvents();
    const QString popup = QDir(dir).filePath(QStringLiteral("Fo_Browser2.png"));
    bool ok = browser.Popup()->grab().save(popup, "PNG");
    if (!ok)
        error += popup + QStringLiteral(" ");
    return Save(browser, dir, error) && ok;
}

bool SavePlayerWindowShots(const QString& dir, QString& error)
{
    QTemporaryDir media;
    const std::string folder = media.path().toStdString() + "/";
    const std::string track = folder + "03 Nocturne.wav";
    if (!media.isValid() || !WriteTone(track, 200, 44100)) {
        error = QStringLiteral("cannot make the sample track");
        return false;
    }
    TPlayerState state;
    TPendingAdditions pending;
    TSettings settings;
    settings.ReSampler.bUpSampling = true;
    settings.ReSampler.nUpFreq = 176400;
    settings.Output.bFreq[5] = true;
    TPlaylist playlist(state, pending);
    TFo_Decoder decoder;
    TOutputChain chain(settings, state, decoder);

    for (const std::string& e : {folder + "01 Prelude.mp3", "Aria (live)*" + folder + "02 Aria.flac", track,
                                 folder + "04 Intermezzo.mp3", folder + "05 A very long title of a finale that does not fit the row.ogg",
                                 std::string("http://radio.invalid/stream.mp3")})
        playlist.Add(e);
    playlist.Item(0).Played = true;
    playlist.Item(1).Played = true;
    playlist.Item(3).Selected = true;
    playlist.Item(5).Failed = true;
    playlist.PlayingIndex = playlist.CursorIndex = 2;
    playlist.HoverIndex = 4;

    decoder.OpenSource(track);
    decoder.SeekMs(83500);
    chain.Start(false);
    state.OutputRunning = true;
    state.EQ = true;
    state.HSC = true;
    state.Repeat = true;
    state.MasterVolume = -125;

    TFo_Conductor conductor(state, decoder, playlist);
    TFo_Playlist list(state, playlist, settings);
    list.resize(320, 200);
    TFo_Information information(state, decoder, chain, settings);
    information.resize(320, 480);
    TFo_Properties properties(track);
    TFo_About about;
    bool ok = true;
    for (QWidget* w : std::initializer_list<QWidget*>{&conductor, &list, &information, &properties, &about})
        ok = Save(*w, dir, error) && ok;
    chain.Stop();
    decoder.CloseSource();
    return SaveBrowserShots(folder, dir, error) && ok;
}

} // namespace marlix
