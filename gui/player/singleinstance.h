#pragma once
#include "player/remoteprotocol.h"

#include <QObject>
#include <functional>
#include <string>
#include <vector>

class QByteArray;
class QLocalServer;
class QLocalSocket;

namespace marlix {

// One running player per program folder: a lock file ("MarlixAudio.lock", held with
// flock, so a killed holder leaves no lock behind) plus the folder's remote socket
// (RemoteSocketPath), on which a second start asks the first to come forward and
// "marlixaudio-cli remote" hands its commands over. Only the user's own processes are
// answered.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(std::string programFolder, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // True when this process is the first: it then holds the lock and listens.
    bool Acquire();
    // For a second start: when the first instance answers, writes `args` to
    // "reserved.txt" (replacing it; nothing is written without arguments) and asks it to
    // come forward. False when no first instance answered within a second.
    bool HandOver(const std::vector<std::string>& args);

    // Carries out a remote command on the main thread; without it every command is refused.
    std::function<TRemoteReply(const std::vector<std::string>&)> OnRemote;

signals:
    // Another start asked this instance to come forward.
    void RaiseRequested();

private:
    void OnConnection();
    void OnData(QLocalSocket* socket, QByteArray& data);

    std::string Folder;
    int LockFd = -1;
    QLocalServer* Server = nullptr;
};

// Command-line entries as the player takes them: local paths made absolute (so another
// process finds them whatever its working folder), URLs unchanged.
std::vector<std::string> ResolveArguments(const std::vector<std::string>& args);

} // namespace marlix
