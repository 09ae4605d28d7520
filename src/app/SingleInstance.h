// One running copy per user: a lock file and a local socket, both named
// HALVIK_VOSTREL_ONCE, in the user's runtime folder. The first copy holds the
// lock until it ends and listens on the socket; a later copy asks it over the
// socket to bring its window to the front.
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

    // True when this process is now the one running copy.
    bool TryAcquire();
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
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

} // namespace vostrel
