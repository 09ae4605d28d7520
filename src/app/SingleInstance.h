// One running copy per user: a lock file and a local socket, both named
// HALVIK_VOSTREL_ONCE, in the user's runtime folder. The first copy holds the
// lock until it ends and listens on the socket; a later copy asks it over the
// socket to bring its window to the front. The lock alone keeps a second copy
// out; the socket only brings the first one forward. A socket's path holds at
// most 107 bytes: when the runtime folder is too long for it, the socket lives
// in a private folder of the user's under the temporary folder, named after
// the runtime folder, so that every copy finds the same one.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace vostrel {

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Acquired
    {
        Yes,        // this process is now the one running copy
        Running,    // another copy holds the lock
        LockFailed, // the lock file cannot be made (Error() says why)
    };
    Acquired TryAcquire();
    // Why the lock file could not be made, or why the running copy cannot be
    // called over its socket (it runs all the same); empty when all is well.
    // UTF-8 text naming the file.
    QString Error() const { return error_; }
    // Asks the running copy to activate its window; true when it confirmed.
    bool ActivateRunning(int timeoutMs = 3000);

    QString LockPath() const;
    QString SocketPath() const;

Q_SIGNALS:
    void ActivationRequested();

private:
    void OnNewConnection();

    QString name_;
    QString folder_;
    QString error_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

} // namespace vostrel
