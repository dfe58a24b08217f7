#include "gui/player/mpris.h"

#include "engine/decoder.h"
#include "platform/dsdec/dsdec.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "player/transportcommands.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace marlix {
namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.marlixaudio");

} // namespace

TMprisService::TMprisService(TPlayerState& state, TFo_Decoder& decoder, const TPlaylist& playlist, QObject* parent)
    : QObject(parent), State(state), Decoder(decoder), Playlist(playlist), Transport(state)
{
    new TMprisRootAdaptor(this);
    new TMprisPlayerAdaptor(this);
}

bool TMprisService::Register(const QDBusConnection& connection)
{
    QDBusConnection bus = connection;
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(kObjectPath, this))
        return false;
    // A second player (another program folder) takes an instance name, as MPRIS allows.
    if (!bus.registerService(kServiceName) &&
        !bus.registerService(kServiceName + ".instance" + QString::number(getpid()))) {
        bus.unregisterObject(kObjectPath);
        return false;
    }
    Bus = bus;
    OnBus = true;
    return true;
}

void TMprisService::Play()
{
    Transport.Play();
}

void TMprisService::Pause()
{
    Transport.Pause();
}

void TMprisService::PlayPause()
{
    Transport.TogglePause();
}

void TMprisService::Stop()
{
    Transport.Stop();
}

void TMprisService::Next()
{
    Transport.Next();
}

void TMprisService::Previous()
{
    Transport.Back();
}

void TMprisService::Seek(qlonglong offsetUs)
{
    if (!Decoder.IsOpen || Decoder.Busy)
        return;
    const double target = State.HeardMs.load(std::memory_order_acquire) + static_cast<double>(offsetUs) / 1000.0;
    const double length = Decoder.GetLengthMs();
    if (target >= length) {
        Next(); // past the end: the next track, as MPRIS asks
        return;
    }
    Decoder.SeekMs(std::max(0.0, target));
}

void TMprisService::SetPosition(const QDBusObjectPath& track, qlonglong positionUs)
{
    if (!Decoder.IsOpen || Decoder.Busy || track.path() != TrackId().path())
        return;
    const double ms = static_cast<double>(positionUs) / 1000.0;
    if (ms >= 0 && ms <= Decoder.GetLengthMs())
        Decoder.SeekMs(ms);
}

QString TMprisService::PlaybackStatus() const
{
    if (!State.OutputRunning)
        return "Stopped";
    return State.Paused ? "Paused" : "Playing";
}

QDBusObjectPath TMprisService::TrackId() const
{
    if (!Decoder.IsOpen)
        return QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack");
    return QDBusObjectPath("/org/marlixaudio/track/" + QString::number(Decoder.OpenCount.load()));
}

const TMprisService::TTrackTags& TMprisService::Tags() const
{
    const int32_t track = Decoder.OpenCount.load();
    if (CachedTags.Track == track)
        return CachedTags;
    CachedTags = TTrackTags{track, {}, {}, {}};
    std::vector<std::pair<std::string, std::string>> info;
    if (!dsdReadTags(Decoder.FileName, info))
        return CachedTags;
    for (const auto& [key, value] : info) {
        const QString k = QString::fromStdString(key).toLower();
        QString* field = k == "tag:title" ? &CachedTags.Title : k == "tag:artist" ? &CachedTags.Artist
                         : k == "tag:album"                   ? &CachedTags.Album
                                                              : nullptr;
        if (field && field->isEmpty())
            *field = QString::fromStdString(value).trimmed();
    }
    return CachedTags;
}

// Title from the playlist entry's own title, the file's tags or its name; artist and
// album from the tags, or else from the usual ".../artist/album/file" folders.
QVariantMap TMprisService::Metadata() const
{
    QVariantMap m;
    m["mpris:trackid"] = QVariant::fromValue(TrackId());
    if (!Decoder.IsOpen)
        return m;
    const std::string& file = Decoder.FileName;
    QString title;
    for (const TPlayItem& item : Playlist.Items())
        if (item.Location() == file) {
            const size_t star = item.FileName.find('*');
            if (star != std::string::npos && star > 0)
                title = QString::fromStdString(item.DisplayName());
            break;
        }
    const QString name = QString::fromStdString(file);
    const bool url = name.contains("://");
    const QFileInfo info(name);
    static const TTrackTags kNone;
    const TTrackTags& tags = url ? kNone : Tags();
    if (title.isEmpty())
        title = !tags.Title.isEmpty() ? tags.Title : url ? name : info.fileName();
    m["xesam:title"] = title;
    QString album = tags.Album, artist = tags.Artist;
    if (!url && album.isEmpty() && artist.isEmpty()) {
        album = info.dir().dirName();
        QDir up = info.dir();
        artist = up.cdUp() ? up.dirName() : QString();
    }
    if (!album.isEmpty() && album != ".")
        m["xesam:album"] = album;
    if (!artist.isEmpty())
        m["xesam:artist"] = QStringList{artist};
    m["xesam:url"] = url ? name : QUrl::fromLocalFile(name).toString();
    m["mpris:length"] = static_cast<qlonglong>(std::llround(Decoder.LengthMs.load() * 1000.0));
    return m;
}

double TMprisService::Volume() const
{
    return std::exp2(State.MasterVolume.load() / 60.0);
}

// An amplitude factor v is 60 log2(v) tenths of a decibel.
void TMprisService::SetVolume(double volume)
{
    int tenths = TPlayerState::MinVolume;
    if (std::isfinite(volume) && volume > 0)
        tenths = static_cast<int>(std::lround(60.0 * std::log2(volume)));
    State.MasterVolume = std::clamp(tenths, TPlayerState::MinVolume, TPlayerState::MaxVolume);
}

qlonglong TMprisService::Position() const
{
    if (!Decoder.IsOpen || Decoder.Busy)
        return 0;
    return static_cast<qlonglong>(std::llround(State.HeardMs.load(std::memory_order_acquire) * 1000.0));
}

void TMprisService::Update()
{
    if (!OnBus)
        return;
    QVariantMap changed;
    const QString status = PlaybackStatus();
    if (status != LastStatus)
        changed["PlaybackStatus"] = LastStatus = status;
    const QVariantMap metadata = Metadata();
    if (metadata != LastMetadata)
        changed["Metadata"] = LastMetadata = metadata;
    const double volume = Volume();
    if (volume != LastVolume)
        changed["Volume"] = LastVolume = volume;
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << QString("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    Bus.send(signal);
}

TMprisRootAdaptor::TMprisRootAdaptor(TMprisService* service) : QDBusAbstractAdaptor(service), Service(service)
{
}

void TMprisRootAdaptor::Raise()
{
    if (Service->OnRaise)
        Service->OnRaise();
}

void TMprisRootAdaptor::Quit()
{
    if (Service->OnQuit)
        Service->OnQuit();
}

TMprisPlayerAdaptor::TMprisPlayerAdaptor(TMprisService* service) : QDBusAbstractAdaptor(service), Service(service)
{
}

} // namespace marlix
