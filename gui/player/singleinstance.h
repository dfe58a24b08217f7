#pragma once
#include <QObject>
#include <string>
#include <vector>

class QLocalServer;

namespace marlix {

// One running player per program folder: a lock file ("MarlixAudio.lock", held with
// flock, so a killed holder leaves no lock behind) plus a local socket named after
// "MarlixAudio" and the folder, on which a second start asks the first to come forward.
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

    // The local socket's name for a program folder.
    static QString ServerName(const std::string& programFolder);

signals:
    // Another start asked this instance to come forward.
    void RaiseRequested();

private:
    void OnConnection();

    std::string Folder;
    int LockFd = -1;
    QLocalServer* Server = nullptr;
};

// Command-line entries as the player takes them: local paths made absolute (so another
// process finds them whatever its working folder), URLs unchanged.
std::vector<std::string> ResolveArguments(const std::vector<std::string>& args);

} // namespace marlix
