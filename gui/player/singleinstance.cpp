#include "gui/player/singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <fcntl.h>
#include <fstream>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace marlix {
namespace {

constexpr int kAnswerMs = 900;

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

QString TSingleInstance::ServerName(const std::string& programFolder)
{
    const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(programFolder), QCryptographicHash::Sha1);
    return "MarlixAudio-" + QString::fromLatin1(hash.toHex().left(12));
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
    const QString name = ServerName(Folder);
    QLocalServer::removeServer(name); // a socket left by a killed instance
    Server->listen(name);
    connect(Server, &QLocalServer::newConnection, this, &TSingleInstance::OnConnection);
    return true;
}

void TSingleInstance::OnConnection()
{
    while (QLocalSocket* socket = Server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->readAll().contains("raise"))
                emit RaiseRequested();
        });
    }
}

bool TSingleInstance::HandOver(const std::vector<std::string>& args)
{
    QLocalSocket socket;
    const QDeadlineTimer deadline(kAnswerMs);
    // The first instance may hold the lock a moment before it listens.
    while (true) {
        socket.connectToServer(ServerName(Folder));
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
