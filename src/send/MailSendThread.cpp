#include "send/MailSendThread.h"

#include "core/SjisCodec.h"

#include <optional>

namespace vostrel {

MailSendThread::MailSendThread(SendJob job, const std::atomic<bool> &stop, RunSendOptions options,
                               QObject *parent)
    : QThread(parent)
    , job_(std::move(job))
    , stop_(stop)
    , options_(std::move(options))
{
    setObjectName(QStringLiteral("MailSendThread"));
}

MailSendThread::~MailSendThread()
{
    wait();
}

void MailSendThread::run()
{
    SendProgressSink sink;
    sink.onPosition = [this](long long position, long long total) {
        Q_EMIT PositionChanged(position, total);
    };
    // The account is named before every mail; the window hears of it only
    // when it changes, which saves a hand-off to it per mail.
    std::optional<std::string> lastSender;
    sink.onSender = [this, &lastSender](const std::string &accountName) {
        if (lastSender == accountName)
            return;
        lastSender = accountName;
        Q_EMIT SenderChanged(SjisToQString(accountName));
    };
    sink.onFailed = [this](long long failed) { Q_EMIT FailedCountChanged(failed); };
    sink.onWaiting = [this](const std::string &text) {
        Q_EMIT WaitingChanged(QString::fromStdString(text));
    };
    try {
        result_ = RunSend(job_, sink, stop_, options_);
    } catch (...) {
        // RunSend does not throw; the send button must never be left waiting.
        result_.outcome = SendOutcome::Failed;
    }
    outcome_.store(result_.outcome, std::memory_order_release);
    Q_EMIT RunEnded();
}

} // namespace vostrel
