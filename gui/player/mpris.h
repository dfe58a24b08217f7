#pragma once
#include "player/transportcommands.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <functional>

namespace marlix {

class TFo_Decoder;
class TPlayerState;
class TPlaylist;

// The player as the desktop sees it over D-Bus (MPRIS 2): media keys and the desktop's
// media controls. Every action goes through the pending command and the player state's
// flags, like the transport buttons; the control loop carries them out.
class TMprisService : public QObject {
    Q_OBJECT
public:
    TMprisService(TPlayerState& state, TFo_Decoder& decoder, const TPlaylist& playlist, QObject* parent = nullptr);

    // Registers "org.mpris.MediaPlayer2.marlixaudio" on `bus` (the session bus); false
    // (and nothing registered) when that bus is not there.
    bool Register(const QDBusConnection& bus);
    bool Registered() const { return OnBus; }
    // Called by the main window's tick: announces changed status, metadata and volume.
    void Update();

    std::function<void()> OnRaise;
    std::function<void()> OnQuit;

    // The player interface's actions and values.
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    void Seek(qlonglong offsetUs);
    void SetPosition(const QDBusObjectPath& track, qlonglong positionUs);
    QString PlaybackStatus() const;
    QVariantMap Metadata() const;
    double Volume() const;
    void SetVolume(double volume);
    qlonglong Position() const;

private:
    // The playing file's own title, artist and album, read once per track.
    struct TTrackTags {
        int32_t Track = -1;
        QString Title, Artist, Album;
    };
    QDBusObjectPath TrackId() const;
    const TTrackTags& Tags() const;

    TPlayerState& State;
    TFo_Decoder& Decoder;
    const TPlaylist& Playlist;
    TTransportCommands Transport;
    QDBusConnection Bus{QString()};
    bool OnBus = false;
    QString LastStatus;
    QVariantMap LastMetadata;
    double LastVolume = -1;
    mutable TTrackTags CachedTags;
};

// org.mpris.MediaPlayer2
class TMprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit TMprisRootAdaptor(TMprisService* service);
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return "Marlix Audio"; }
    QString DesktopEntry() const { return "marlixaudio"; }
    QStringList SupportedUriSchemes() const { return {"file", "http", "https"}; }
    QStringList SupportedMimeTypes() const { return {"audio/x-wav", "audio/mpeg", "audio/x-mpegurl"}; }

public slots:
    void Raise();
    void Quit();

private:
    TMprisService* Service;
};

// org.mpris.MediaPlayer2.Player
class TMprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(bool CanGoNext READ CanControl)
    Q_PROPERTY(bool CanGoPrevious READ CanControl)
    Q_PROPERTY(bool CanPlay READ CanControl)
    Q_PROPERTY(bool CanPause READ CanControl)
    Q_PROPERTY(bool CanSeek READ CanControl)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    explicit TMprisPlayerAdaptor(TMprisService* service);
    QString PlaybackStatus() const { return Service->PlaybackStatus(); }
    double Rate() const { return 1.0; }
    void SetRate(double) {}
    QVariantMap Metadata() const { return Service->Metadata(); }
    double Volume() const { return Service->Volume(); }
    void SetVolume(double v) { Service->SetVolume(v); }
    qlonglong Position() const { return Service->Position(); }
    bool CanControl() const { return true; }

public slots:
    void Next() { Service->Next(); }
    void Previous() { Service->Previous(); }
    void Pause() { Service->Pause(); }
    void PlayPause() { Service->PlayPause(); }
    void Stop() { Service->Stop(); }
    void Play() { Service->Play(); }
    void Seek(qlonglong offset) { Service->Seek(offset); }
    void SetPosition(const QDBusObjectPath& track, qlonglong position) { Service->SetPosition(track, position); }

signals:
    void Seeked(qlonglong position);

private:
    TMprisService* Service;
};

} // namespace marlix
