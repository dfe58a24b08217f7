#include "gui/player/singleinstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <filesystem>
#include <memory>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace marlix {
namespace {

constexpr int kAnswerMs = 900;
// A connection that has not finished its request by then is closed.
constexpr int kRequestMs = 10000;

bool WriteWhole(const std::string& path, const std::vector<std::string>& lines)
{
    // Written beside and renamed, so the first instance never reads half a file.
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines)
            out << line << '\n';
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

// Whether the process at the other end of a connection runs as this user.
bool FromThisUser(qintptr socket)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid();
}

QString SocketPath(const std::string& folder) { return QString::fromStdString(RemoteSocketPath(folder)); }

} // namespace

TSingleInstance::TSingleInstance(std::string programFolder, QObject* parent)
    : QObject(parent), Folder(std::move(programFolder))
{
}

TSingleInstance::~TSingleInstance()
{
    if (Server)
        Server->close();
    if (LockFd >= 0)
        close(LockFd); // releases the lock
}

bool TSingleInstance::Acquire()
{
    const std::string lock = Folder + "MarlixAudio.lock";
    LockFd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (LockFd < 0)
        return true; // a folder without a lock file still runs one player
    if (flock(LockFd, LOCK_EX | LOCK_NB) != 0) {
        close(LockFd);
        LockFd = -1;
        return false;
    }
    Server = new QLocalServer(this);
    const QString path = SocketPath(Folder);
    QLocalServer::removeServer(path); // a socket left by a killed instance
    if (!Server->listen(path))
        std::fprintf(stderr, "marlixaudio: no remote control: %s\n", qPrintable(Server->errorString()));
    connect(Server, &QLocalServer::newConnection, this, &TSingleInstance::OnConnection);
    return true;
}

void TSingleInstance::OnConnection()
{
    while (QLocalSocket* socket = Server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!FromThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto data = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, data] { OnData(socket, *data); });
        QTimer::singleShot(kRequestMs, socket, [socket] { socket->abort(); });
    }
}

// One request per connection: a raise, or a remote command that is answered; the
// connection closes after either, or after anything that is neither.
void TSingleInstance::OnData(QLocalSocket* socket, QByteArray& data)
{
    data += socket->readAll();
    std::vector<std::string> words;
    switch (DecodeRemoteRequest(std::string_view(data.constData(), static_cast<size_t>(data.size())), words)) {
    case TRemoteDecode::Incomplete:
        return;
    case TRemoteDecode::Raise:
        emit RaiseRequested();
        break;
    case TRemoteDecode::Complete: {
        const TRemoteReply reply =
            OnRemote ? OnRemote(words) : TRemoteReply{TRemoteStatus::Refused, "the player takes no remote commands yet"};
        socket->write(QByteArray::fromStdString(EncodeRemoteReply(reply)));
        break;
    }
    case TRemoteDecode::Invalid:
        break;
    }
    data.clear();
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr); // the last use of `data`
    socket->disconnectFromServer(); // after what was written has gone out
}

bool TSingleInstance::HandOver(const std::vector<std::string>& args)
{
    QLocalSocket socket;
    const QDeadlineTimer deadline(kAnswerMs);
    // The first instance may hold the lock a moment before it listens.
    while (true) {
        socket.connectToServer(SocketPath(Folder));
        if (socket.waitForConnected(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    if (!args.empty())
        WriteWhole(Folder + "reserved.txt", args);
    socket.write("raise\n");
    socket.waitForBytesWritten(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    socket.disconnectFromServer();
    return true;
}

std::vector<std::string> ResolveArguments(const std::vector<std::string>& args)
{
    std::vector<std::string> out;
    for (const std::string& a : args) {
        const QString s = QString::fromStdString(a);
        if (a.empty() || s.contains("://") || QDir::isAbsolutePath(s))
            out.push_back(a);
        else
            out.push_back(QDir::current().absoluteFilePath(s).toStdString());
    }
    return out;
}

} // namespace marlix
