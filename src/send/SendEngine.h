// The send engine: one run turns a SendJob into mails on the wire, one after
// another, on its own thread.
#pragma once

#include "send/MailTransport.h"
#include "send/SendJob.h"
#include "send/SendJournal.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
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
    // After each mail that failed: how many have failed so far.
    std::function<void(long long failed)> onFailed;
    // The run waits before it tries a mail again: why and how long (UTF-8,
    // RetryWaitText); an empty text when the wait is over.
    std::function<void(const std::string &text)> onWaiting;
};

// How the run waits: the pause after each mail and the wait before a mail is
// tried again.
class SendWaiter
{
public:
    virtual ~SendWaiter() = default;
    // Waits ms milliseconds, or less when the stop flag is set meanwhile.
    virtual void Wait(int ms, const std::atomic<bool> &stop) = 0;
};

// A mail that a server refused for now (a 4xx reply to the greeting, MAIL
// FROM or RCPT TO) is tried again after each of these waits in turn; when
// the last try is refused as well, the mail fails.
inline constexpr int kRetryWaitsMs[] = {30 * 1000, 60 * 1000, 120 * 1000};
inline constexpr int kRetryCount = static_cast<int>(std::size(kRetryWaitsMs));

// What the progress window shows while the run waits to try a mail again
// (UTF-8): attempt is 1..kRetryCount, reason the refusal that made it wait.
std::string RetryWaitText(int waitMs, int attempt, const std::string &reason);

struct RunSendOptions
{
    Transport *transport = nullptr; // RealTransport() when null
    TransportTimeouts timeouts;
    // What is known of servers' encryption; the record in the data folder
    // (ServerTlsRecord under the run's key) when null.
    ServerTlsMemory *tlsMemory = nullptr;
    // The pauses and the waits before a retry; real waits when null.
    SendWaiter *waiter = nullptr;
#ifdef VOSTREL_TEST_HOOKS
    // Test builds only. How many mails one connection carries at most (1:
    // a connection for every mail, for the benchmark that compares).
    int mailsPerConnection = MailSession::kMaxMailsPerConnection;
    // Test builds only. Sends one mail instead of DeliverMail over the
    // transport: tests of the run's own logic put a recorder here.
    std::function<DeliveryResult(const SenderAccount &, const OutgoingMail &)> deliver;
    // Test builds only. Off: the run keeps no journal in the data folder
    // (see SendJournal.h), for the benchmark that measures what it costs.
    bool journal = true;
#endif
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
    // Mails whose outcome is known (sent or failed): 1 .. attempted.
    long long attempted = 0;
    // Mails that failed (the failures with a position).
    long long failedCount = 0;
    // The main field's addresses of every mail that went out, in order
    // (Shift_JIS): who was reached.
    std::vector<std::string> reachedAddresses;
    // The recipients of the mails the run did not get to (after a stop, an
    // error that ended the run, or the end of the program in the middle of
    // it) stored as a list named startTime + "_未送信" (Shift_JIS), and how
    // many they are; empty and 0 when there were none.
    std::string unsentListName;
    long long unsentCount = 0;
    // A failure or unsent list that should have been stored could not be.
    bool listsIncomplete = false;
    // The files of the run's results (a sent-mail log, the failure or the
    // unsent list) that could not be written, in the order they were tried.
    std::vector<std::filesystem::path> unwrittenFiles;
    // A live run could not write all its results, so it left its journal on
    // disk: the next send or start accounts for the run from it as after a
    // crash (FinishJournaledRun) and writes them again.
    bool journalKept = false;
    // Finished from a journal: the mail that was under way when the program
    // ended (0: none), and whom it was for (Shift_JIS): its address in
    // individual sending, "送信先リスト「" + its list + "」" in per-list sending.
    long long interruptedMail = 0;
    std::string interruptedMailTo;
};

// The time text of a run (Shift_JIS), in local time with every number
// zero-padded: "2024年03月05日09時15分02秒"; with spaceAfterDay
// "2024年03月05日 09時15分02秒".
std::string SendTimeText(std::chrono::system_clock::time_point time, bool spaceAfterDay = false);

// Runs the whole job. Consecutive mails of one account share a connection
// (MailSession); the connection is closed before a pause longer than
// MailSession::kMaxIdle and when the account changes. The stop flag is tested
// before each mail and during the pause after it, and it ends a mail in
// progress, or the wait before its next try, at once (its connection is
// closed): that mail counts as not sent and joins the "_未送信" list. Never
// throws: errors outside the sending of one mail fail that mail with their
// reason. The run keeps its journal while it lasts and removes it once its
// logs and lists are written whole; when one of them cannot be written the
// journal stays (journalKept).
RunSendResult RunSend(const SendJob &job, const SendProgressSink &progress,
                      const std::atomic<bool> &stop, const RunSendOptions &options = {});

// Does the bookkeeping of a run that did not end, from its journal, as the
// run would have done it: the mails the journal holds count as sent or
// failed, the recipients of the rest (the one that was under way included)
// become the "_未送信" list; the logs carry the counts reached and the time
// of the last entry as end time. The list files are read again and must
// still hold what the run loaded; when they do not, the logs are written but
// no list is (a failure says so). Leaves the journal files alone. Never throws.
RunSendResult FinishJournaledRun(const SendJournalContents &journal, const std::string &key);

} // namespace vostrel
