// The journal of a send run: what the run planned and, mail by mail, what
// became of each mail, kept in the data folder while the run lasts so that a
// run cut short by a crash, a kill or a power cut can still be accounted for
// at the next start.
//
// Two files directly in the data folder, both under the key in effect:
//  - "send-journal.vsj", the plan: an encrypted field file written once and
//    atomically when the run starts (while it exists a run is pending). Its
//    fields: "VOSTREL-SEND-JOURNAL 1", the run id (16 hex digits), the start
//    time text, the start time in Unix seconds, the total, the recipients'
//    digest (hex; empty in per-list sending), then the SendJob in its own
//    field order (a name list is a count followed by one field per name,
//    booleans "-1"/"0", numbers decimal) and last "END".
//  - "send-progress.vsj", the progress: one encrypted field appended per mail
//    and one at the end of the mailing, each a tab-separated text starting
//    with the run id:
//      id \t S \t n \t time            mail n was sent
//      id \t F \t n \t time \t reason  mail n failed (reason UTF-8)
//      id \t E \t attempted \t time \t how   the mailing is over (how: "done",
//                                      "stopped" or "aborted")
//    Entries are written one write() each and synced to disk in batches, at
//    most once a second, by a thread of their own: a kill loses nothing, a
//    power cut at most the last second. A reader stops at the first entry
//    that is cut off or does not check out (wrong id, wrong number), so a
//    torn last record costs only that record.
// Neither file is part of a backup or a restore (a backup holds only the
// sub-folders and config.dat); a password change rewrites both.
#pragma once

#include "core/FieldStore.h"
#include "send/SendJob.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// DataFolder() + "send-journal.vsj" and DataFolder() + "send-progress.vsj".
std::filesystem::path SendJournalPath();
std::filesystem::path SendProgressPath();

// True while the journal of a run that has not been accounted for is on disk
// (during a run, or after one that did not end).
bool SendJournalPending();

// The restore refuses with this text (UTF-8) while a journal is pending;
// empty when none is.
std::string SendJournalRestoreRefusal();

// What a run planned.
struct SendJournalHeader
{
    std::string runId; // 16 hex digits
    SendJob job;
    std::string startTime; // the run's start time text (Shift_JIS)
    long long startUnix = 0;
    long long total = 0;
    // Individual sending: a digest of every recipient the run loaded, so that
    // a list changed since can be told; empty in per-list sending.
    std::string digest;

    bool operator==(const SendJournalHeader &) const = default;
};

// What became of one mail.
struct SendJournalMail
{
    long long n = 0;
    bool sent = false;
    long long time = 0; // Unix seconds
    std::string reason; // UTF-8; failed mails only
};

struct SendJournalContents
{
    SendJournalHeader header;
    // Mails 1, 2, ... in order, as far as the progress file could be read.
    std::vector<SendJournalMail> mails;
    bool ended = false;   // the mailing was over (an E entry)
    std::string endedHow; // "done", "stopped" or "aborted"
    long long endedTime = 0;
    // Bytes after the last entry that was read (a torn or damaged tail).
    bool tailDamaged = false;
};

// The journal's plan could not be read: the file is damaged or was written
// under another key. what() is UTF-8 text for the user.
class SendJournalUnreadable : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Reads both files under key. Throws SendJournalUnreadable when the plan
// cannot be read; a progress file that is missing or damaged gives the mails
// read up to the damage.
SendJournalContents ReadSendJournal(const std::string &key);

// A new run id: 16 random hex digits.
std::string NewSendRunId();

// The digest of SendJournalHeader::digest, fed recipient text by text.
class RecipientDigest
{
public:
    void Add(std::string_view field);
    std::string Hex() const;

private:
    std::uint64_t hash_ = 1469598103934665603ull;
};

// Keeps the journal of one run. Entries are appended by the run's thread.
class SendJournalWriter
{
public:
    // Starts an empty progress file and writes the plan atomically. Throws
    // FileError when either cannot be written, VostrelError when the journal
    // of another run is still pending (it is left as it is).
    SendJournalWriter(const SendJournalHeader &header, std::string key);
    // Syncs what is left unsynced; the files stay.
    ~SendJournalWriter();
    SendJournalWriter(const SendJournalWriter &) = delete;
    SendJournalWriter &operator=(const SendJournalWriter &) = delete;

    // Mail n was sent, or failed for reason. Throws FileError when the entry
    // cannot be written (or an earlier sync failed).
    void Mail(long long n, bool sent, std::string_view reasonUtf8 = {});
    // The mailing is over after `attempted` mails.
    void End(long long attempted, std::string_view how);
    // The run is accounted for: removes the plan (first) and the progress.
    // Never waits for a sync under way.
    void Remove();

    // What the writer shares with its syncing thread, which lives on its own
    // (with a file descriptor of its own) until its last sync is over.
    struct Syncer;

private:
    void Append(const std::string &text);
    void StopSyncing();

    std::string runId_;
    FieldCodec codec_;
    int fd_ = -1;
    std::shared_ptr<Syncer> syncer_;
};

// Removes both files of a pending journal (plan first). Throws FileError when
// the plan cannot be removed.
void RemoveSendJournal();
// Renames both files aside (".unreadable" added, replacing older ones) so
// that they no longer count as pending; returns the new name of the plan.
std::filesystem::path SetSendJournalAside();

// Tells the password change how to rewrite a pending journal: the plan field
// by field, the progress entry by entry (a torn last entry is dropped). One
// of the kinds of RegisterSendRekeyKinds (send/SendLogRekey.h).
void RegisterSendJournalRekey();
// Makes a restore refuse to run while a journal is pending.
void RegisterSendJournalRestoreGuard();

// Marks a step of a run's or a recovery's bookkeeping ("begun" once the
// journal is on disk, "ended", "logs", "lists", "remove"), before it is taken.
#ifdef VOSTREL_TEST_HOOKS
// Test builds only: the hook is called with each step; it may kill the
// process.
void SetSendJournalStepHook(std::function<void(const std::string &step)> hook);
void SendJournalStep(const std::string &step);
#else
inline void SendJournalStep(const std::string &) {}
#endif

} // namespace vostrel
