// The fixture of the send-run tests: accounts and lists written through the
// store operations, a deliver hook that records every mail and answers from a
// script, and readers for what a run leaves on disk.
#pragma once

#include "destinations/DestinationStore.h"
#include "send/SendEngine.h"
#include "send/SendLog.h"
#include "support/VostrelTest.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vostrel::test {

// One mail as the deliver hook saw it.
struct DeliveredMail
{
    std::string account; // the account's ConfName
    std::string envelopeFrom;
    std::vector<std::string> recipients;
    std::string data;
};

// The deliver hook of the tests. Safe to call from the run's thread.
class MailRecorder
{
public:
    // Called for mail n (counted from 1) on the run's thread; its result is
    // the delivery's. Every mail succeeds when not set.
    std::function<DeliveryResult(int n, const DeliveredMail &mail)> answer;

    RunSendOptions Options();
    std::vector<DeliveredMail> Mails() const;
    std::vector<std::string> Accounts() const;

private:
    mutable std::mutex mutex_;
    std::vector<DeliveredMail> mails_;
};

// A recipient whose honorific is "様" and whose merge field i is
// tag + "-m" + i.
Recipient Person(const std::string &name, const std::string &address, const std::string &tag = {});
// count recipients tag1@example.jp, tag2@example.jp, ... named tag1, tag2, ...
std::vector<Recipient> People(const std::string &tag, int count);

// The value of the first header line "name: value" of a mail (folded lines
// joined), or nothing when there is none.
std::optional<std::string> HeaderOf(const std::string &data, const std::string &name);

// Every field of an encrypted field file, read by following the length
// prefixes and decrypting each ciphertext under key; fails the test when the
// file does not end exactly after a field.
std::vector<std::string> RawFields(const std::filesystem::path &file,
                                   const std::string &key = std::string(DefaultKey));

class SendRunTest : public VostrelTest
{
protected:
    void AddAccount(const std::string &name, const std::string &fromAddress);
    void AddList(const std::string &name, const std::vector<Recipient> &recipients,
                 SendType sendType = {true, false, false});
    // A job from account "A" to the given To lists, individual, no pause.
    static SendJob Job(std::vector<std::string> toLists = {});

    // Runs the job with the recorder, collecting the progress reports.
    RunSendResult Run(const SendJob &job);

    // The log of an account of a run.
    SendLog LogOf(const std::string &account, const RunSendResult &result);
    // The recipients of a list file.
    std::vector<Recipient> ListOf(const std::string &name);
    // Leaves the journal of a run of job that the end of the program cut
    // short after its first `sent` mails went out, as a crash would; the run
    // planned the recipients the lists now hold. Returns its start time.
    static std::string LeavePendingJournal(const SendJob &job, int sent);

    MailRecorder recorder;
    std::atomic<bool> stop{false};
    std::vector<std::pair<long long, long long>> positions;
    std::vector<std::string> senders;
};

} // namespace vostrel::test
