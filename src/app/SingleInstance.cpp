#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace vostrel {

namespace {
const QByteArray kActivate = QByteArrayLiteral("activate\n");
const QByteArray kDone = QByteArrayLiteral("ok\n");
// The longest path a local socket may have (sun_path less its NUL).
constexpr qsizetype kMaxSocketPath = 107;
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent)
    , name_(name)
{
    folder_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder_.isEmpty())
        folder_ = QDir::tempPath();
    QDir().mkpath(folder_);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::LockPath() const
{
    return folder_ + QLatin1Char('/') + name_ + QStringLiteral(".lock");
}

QString SingleInstance::SocketPath() const
{
    const QString direct = folder_ + QLatin1Char('/') + name_;
    if (QFile::encodeName(direct).size() <= kMaxSocketPath)
        return direct;
    // A short private folder of this user's, the same for every copy that
    // shares the runtime folder.
    QString temp = QDir::tempPath();
    if (QFile::encodeName(temp).size() > 40)
        temp = QStringLiteral("/tmp");
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(folder_), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return temp + QStringLiteral("/vostrel-") + QString::number(::getuid()) + QLatin1Char('-') +
           QString::fromLatin1(digest) + QLatin1Char('/') + name_;
}

namespace {

// The folder of a socket exists, belongs to this user and admits no one else;
// the reason when it cannot be made so.
QString PrepareSocketFolder(const QString &socketPath)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(socketPath).path());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat st
    {};
    if (::lstat(folder.constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return QStringLiteral("他のユーザーのフォルダです");
    if ((st.st_mode & 077) != 0 && ::chmod(folder.constData(), 0700) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

} // namespace

SingleInstance::Acquired SingleInstance::TryAcquire()
{
    error_.clear();
    lock_ = std::make_unique<QLockFile>(LockPath());
    lock_->setStaleLockTime(0); // only a lock whose process is gone is stale
    if (!lock_->tryLock(0)) {
        const QLockFile::LockError why = lock_->error();
        lock_.reset();
        if (why == QLockFile::LockFailedError)
            return Acquired::Running;
        error_ = LockPath() + QStringLiteral(": ロックファイルを作成できません");
        return Acquired::LockFailed;
    }
    // We hold the lock, so a socket file left there belongs to a dead copy.
    const QString socket = SocketPath();
    QString why = PrepareSocketFolder(socket);
    if (why.isEmpty()) {
        QLocalServer::removeServer(socket);
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        if (!server_.listen(socket))
            why = server_.errorString();
    }
    if (!why.isEmpty())
        error_ = socket + QStringLiteral(": ") + why;
    return Acquired::Yes;
}

bool SingleInstance::ActivateRunning(int timeoutMs)
{
    // The running copy may be starting up and not listen yet: retry a while.
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(SocketPath());
        if (socket.waitForConnected(200)) {
            socket.write(kActivate);
            socket.flush();
            while (socket.bytesAvailable() < kDone.size() &&
                   socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                ;
            return socket.readAll() == kDone;
        }
        QThread::msleep(50);
    }
    return false;
}

void SingleInstance::OnNewConnection()
{
    while (QLocalSocket *socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == kActivate) {
                Q_EMIT ActivationRequested();
                socket->write(kDone);
                socket->flush();
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace vostrel
