// The send engine: one run turns a SendJob into mails on the wire, one after
// another, on its own thread.
#pragma once

#include "send/MailTransport.h"
#include "send/SendJob.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vostrel {

enum class SendOutcome
{
    Running,
    Finished,         // no mail failed (also after a stop)
    Failed,           // a mail failed; no failed recipient was stored
    FailedListStored, // failed recipients were stored as a new list
};

// Called by the run (on its own thread) before each mail.
struct SendProgressSink
{
    std::function<void(long long position, long long total)> onPosition;
    std::function<void(const std::string &accountName)> onSender; // Shift_JIS
};

struct RunSendOptions
{
    Transport *transport = nullptr; // RealTransport() when null
    TransportTimeouts timeouts;
    // Sends one mail; DeliverMail over the transport when empty. Tests of
    // the run's own logic put a recorder here.
    std::function<DeliveryResult(const SenderAccount &, const OutgoingMail &)> deliver;
};

// One step of a run that failed: a mail, or a step outside the mails.
struct SendFailure
{
    long long position = 0; // the mail's number n (1..total); 0 outside the mails
    std::string reason;     // UTF-8 text for the user
};

struct RunSendResult
{
    SendOutcome outcome = SendOutcome::Finished;
    long long sentCount = 0;
    long long total = 0;
    std::string startTime;      // "2024年03月05日09時15分02秒" (Shift_JIS)
    std::string endTime;        // "2024年03月05日 09時20分47秒" (Shift_JIS)
    std::string failedListName; // empty when none was stored (Shift_JIS)
    std::string firstFailure;   // UTF-8 reason of the first failed mail
    // Every failure in the order they happened (firstFailure is the first).
    std::vector<SendFailure> failures;
    // The stop flag ended the run before its last mail.
    bool stopped = false;
};

// The time text of a run (Shift_JIS), in local time with every number
// zero-padded: "2024年03月05日09時15分02秒"; with spaceAfterDay
// "2024年03月05日 09時15分02秒".
std::string SendTimeText(std::chrono::system_clock::time_point time, bool spaceAfterDay = false);

// Runs the whole job. The stop flag is tested before each mail and during the
// pause after it. Never throws: errors outside the sending of one mail fail
// that mail with their reason.
RunSendResult RunSend(const SendJob &job, const SendProgressSink &progress,
                      const std::atomic<bool> &stop, const RunSendOptions &options = {});

} // namespace vostrel
