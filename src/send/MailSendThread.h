// The background thread of a send run: its only work is to call RunSend and
// hand the outcome back. Progress leaves it as signals, which reach windows
// queued on their own thread.
#pragma once

#include "send/SendEngine.h"
#include "send/SendJob.h"

#include <QString>
#include <QThread>
#include <atomic>

namespace vostrel {

class MailSendThread : public QThread
{
    Q_OBJECT

public:
    // stop must outlive the thread; it is only read.
    MailSendThread(SendJob job, const std::atomic<bool> &stop, RunSendOptions options = {},
                   QObject *parent = nullptr);
    // Waits for the run to end.
    ~MailSendThread() override;

    // Running until the run has ended; then its outcome.
    SendOutcome Outcome() const { return outcome_.load(std::memory_order_acquire); }
    // The whole result; valid once Outcome() is no longer Running.
    const RunSendResult &Result() const { return result_; }

Q_SIGNALS:
    // Before each mail: its number n (from 1) and the total.
    void PositionChanged(qint64 position, qint64 total);
    // Before the first mail and whenever the account that sends changes.
    void SenderChanged(const QString &accountName);
    // The run waits before it tries a mail again (why and how long); an
    // empty text when the wait is over.
    void WaitingChanged(const QString &text);
    // After each mail that failed: how many have failed so far.
    void FailedCountChanged(qint64 failed);
    // After the outcome is set.
    void RunEnded();

protected:
    void run() override;

private:
    const SendJob job_;
    const std::atomic<bool> &stop_;
    const RunSendOptions options_;
    RunSendResult result_;
    std::atomic<SendOutcome> outcome_{SendOutcome::Running};
};

} // namespace vostrel
