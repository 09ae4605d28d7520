#include "send/SendEngine.h"

#include "core/AppState.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "send/MessageBuilder.h"
#include "send/SendJournal.h"
#include "send/SendLog.h"
#include "send/ServerTlsRecord.h"
#include "senders/SenderAccount.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace vostrel {

namespace {

using Index = std::uint32_t;
constexpr Index kNone = std::numeric_limits<Index>::max();

// The recipients a run has loaded (its `records`), packed: the thirteen texts
// of a recipient lie one after another in blocks of one shared arena, and a
// recipient costs its text plus 60 bytes of bookkeeping. Texts never move once
// stored, so views of them stay valid for the whole run.
class RecordStore
{
public:
    Index Add(const Recipient &recipient)
    {
        if (starts_.size() >= kNone)
            throw std::length_error("too many recipients for one run");
        std::size_t size = 0;
        for (const std::string &field : recipient.fields)
            size += field.size();
        char *at = Allocate(size);
        const Index index = static_cast<Index>(starts_.size());
        starts_.push_back(at);
        std::size_t offset = 0;
        for (const std::string &field : recipient.fields) {
            std::copy(field.begin(), field.end(), at + offset);
            offset += field.size();
            ends_.push_back(static_cast<std::uint32_t>(offset));
        }
        return index;
    }

    std::size_t Size() const { return starts_.size(); }

    std::string_view Field(Index i, int field) const
    {
        const std::uint32_t *ends = &ends_[static_cast<std::size_t>(i) * Recipient::kFieldCount];
        const std::uint32_t begin = field == 0 ? 0 : ends[field - 1];
        return std::string_view(starts_[i] + begin, ends[field] - begin);
    }
    std::string_view Name(Index i) const { return Field(i, 0); }
    std::string_view Address(Index i) const { return Field(i, 2); }

    Recipient Get(Index i) const
    {
        Recipient recipient;
        for (int f = 0; f < Recipient::kFieldCount; ++f)
            recipient.fields[static_cast<std::size_t>(f)] = std::string(Field(i, f));
        return recipient;
    }

private:
    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

    char *Allocate(std::size_t size)
    {
        if (size > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("recipient too large");
        if (size > kBlockSize / 4) {
            // A large recipient gets a block of its own.
            blocks_.push_back(std::make_unique<char[]>(size));
            return blocks_.back().get();
        }
        if (size > left_) {
            blocks_.push_back(std::make_unique<char[]>(kBlockSize));
            current_ = blocks_.back().get();
            left_ = kBlockSize;
        }
        char *at = current_;
        current_ += size;
        left_ -= size;
        return at;
    }

    std::vector<std::unique_ptr<char[]>> blocks_;
    char *current_ = nullptr;
    std::size_t left_ = 0;
    std::vector<const char *> starts_;
    std::vector<std::uint32_t> ends_; // 13 per recipient, from its start
};

// The failed recipients of a run (its `failed`), as indexes into the records.
// For each address of a failed mail's main field every loaded entry with that
// address joins, in record order, unless an entry with the same address and
// name is already there. Entries are found through an index by address, and
// each address remembers the last entry it has looked at: every entry up to
// it is already in the list or a double of one, so no entry is looked at twice
// and the whole run stays linear in the number of recipients.
class FailedRecipients
{
public:
    explicit FailedRecipients(const RecordStore &records)
        : records_(records)
        , seen_(16, SameAddressAndName{&records}, SameAddressAndName{&records})
    {}

    void Collect(const std::vector<std::string> &mainAddresses)
    {
        IndexNewRecords();
        for (const std::string &address : mainAddresses) {
            const auto slot = byAddress_.find(address);
            if (slot == byAddress_.end())
                continue;
            Chain &chain = slot->second;
            for (Index i = chain.lastSeen == kNone ? chain.head : next_[chain.lastSeen]; i != kNone;
                 i = next_[i]) {
                if (seen_.insert(i).second)
                    failed_.push_back(i);
                chain.lastSeen = i;
            }
        }
    }

    bool Empty() const { return failed_.empty(); }
    const std::vector<Index> &Entries() const { return failed_; }

private:
    struct Chain
    {
        Index head = kNone;
        Index tail = kNone;
        Index lastSeen = kNone;
    };

    struct SameAddressAndName
    {
        const RecordStore *records;
        std::size_t operator()(Index i) const
        {
            const std::hash<std::string_view> h;
            return h(records->Address(i)) * 31 + h(records->Name(i));
        }
        bool operator()(Index a, Index b) const
        {
            return records->Address(a) == records->Address(b) &&
                   records->Name(a) == records->Name(b);
        }
    };

    // The index is built on the first failure and then kept up with the
    // records, which grow while lists are read.
    void IndexNewRecords()
    {
        while (next_.size() < records_.Size()) {
            const Index i = static_cast<Index>(next_.size());
            next_.push_back(kNone);
            Chain &chain = byAddress_[records_.Address(i)];
            if (chain.tail == kNone)
                chain.head = i;
            else
                next_[chain.tail] = i;
            chain.tail = i;
        }
    }

    const RecordStore &records_;
    std::unordered_map<std::string_view, Chain> byAddress_;
    std::vector<Index> next_; // the next entry with the same address
    std::unordered_set<Index, SameAddressAndName, SameAddressAndName> seen_;
    std::vector<Index> failed_;
};

std::string JoinAddresses(const std::vector<std::string> &addresses, std::string_view separator)
{
    std::string text;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (i > 0)
            text += separator;
        text += addresses[i];
    }
    return text;
}

// The individual-sending form of an address log: "," between addresses.
void AppendAddress(std::string &log, std::string_view address)
{
    if (!log.empty())
        log += ',';
    log += address;
}

// Every address of a list file, in file order. On failure the addresses read
// before it stay in out.
void ReadListAddresses(const std::string &listName, const std::string &key,
                       std::vector<std::string> &out)
{
    DestinationListReader reader(DestinationListPath(listName), key);
    Recipient recipient;
    while (reader.Next(recipient))
        out.push_back(recipient.fields[2]);
}

// Reads a list file into the records, and its addresses into addresses when
// given. On failure the recipients read before it stay in both.
void ReadListRecords(const std::string &listName, const std::string &key, RecordStore &records,
                     std::vector<std::string> *addresses)
{
    DestinationListReader reader(DestinationListPath(listName), key);
    Recipient recipient;
    while (reader.Next(recipient)) {
        records.Add(recipient);
        if (addresses)
            addresses->push_back(recipient.fields[2]);
    }
}

// Waits ms milliseconds, or less when the stop flag is set meanwhile.
class RealWaiter final : public SendWaiter
{
public:
    void Wait(int ms, const std::atomic<bool> &stop) override
    {
        if (ms <= 0)
            return;
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
        constexpr auto kSlice = std::chrono::milliseconds(10);
        while (!stop.load(std::memory_order_relaxed)) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                return;
            std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, kSlice));
        }
    }
};

std::string Utf8Of(std::string_view sjis)
{
    return SjisToUtf8(sjis);
}

std::string WithReason(std::string context, const std::exception &e)
{
    const std::string what = e.what();
    if (!what.empty())
        context += "\n" + what;
    return context;
}

long long UnixNow(std::chrono::system_clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

std::chrono::system_clock::time_point FromUnix(long long seconds)
{
    return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
}

// The sender accounts of a run, read again only when their file changed (a
// new file, as every write makes, or another size or time): a look at the
// file per mail instead of reading and decrypting it.
class AccountFiles
{
public:
    SenderAccount Read(const std::string &name, const std::string &key)
    {
        Entry &entry = entries_[name];
        struct stat now
        {};
        if (entry.path.empty() || ::stat(entry.path.c_str(), &now) != 0 ||
            !Same(entry.stamp, now)) {
            entry.path = SenderAccountPath(name);
            if (::stat(entry.path.c_str(), &now) != 0)
                now = {};
            entry.account = ReadSenderAccount(entry.path, key);
            entry.stamp = now;
        }
        return entry.account;
    }

private:
    static bool Same(const struct stat &a, const struct stat &b)
    {
        return a.st_ino != 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
               a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
               a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
               a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
    }

    struct Entry
    {
        std::filesystem::path path;
        struct stat stamp
        {};
        SenderAccount account;
    };
    std::unordered_map<std::string, Entry> entries_;
};

// The addresses of one mail and why they could not all be read.
struct MailAddresses
{
    std::vector<std::string> main;
    std::vector<std::string> cc;
    std::vector<std::string> bcc;
    std::string reason;
};

// One run: live, mailing and keeping its journal; or replayed from the
// journal of a run that did not end, doing the run's bookkeeping with the
// outcomes the journal holds instead of mailing.
class Run
{
public:
    Run(const SendJob &job, const SendProgressSink &progress, const std::atomic<bool> &stop,
        const RunSendOptions &options)
        : job_(job)
        , progress_(&progress)
        , stop_(&stop)
        , options_(&options)
        , key_(CurrentKey())
        , failed_(records_)
    {}

    Run(const SendJournalContents &journal, std::string key)
        : job_(journal.header.job)
        , key_(std::move(key))
        , replay_(&journal)
        , failed_(records_)
    {}

    RunSendResult Go()
    {
        try {
            Plan();
            if (replay_)
                CheckPlan();
            else
                BeginJournal();
            if (replay_)
                Replay();
            else if (!aborted_)
                SendAll();
        } catch (const std::exception &e) {
            Fail(0, WithReason("送信中にエラーが発生しました", e));
            aborted_ = true;
        } catch (...) {
            Fail(0, "送信中にエラーが発生しました");
            aborted_ = true;
        }
        if (result_.startTime.empty())
            result_.startTime = SendTimeText(std::chrono::system_clock::now());
        result_.endTime = SendTimeText(EndTime(), true);
        result_.attempted = attempted_;
        EndJournal();
        SendJournalStep("ended");
        WriteLogs();
        SendJournalStep("logs");
        StoreFailedRecipients();
        StoreUnsentRecipients();
        SendJournalStep("lists");
        if (!result_.failedListName.empty())
            result_.outcome = SendOutcome::FailedListStored;
        else if (!result_.failures.empty())
            result_.outcome = SendOutcome::Failed;
        else
            result_.outcome = SendOutcome::Finished;
        if (ResultsIncomplete())
            KeepJournal();
        else
            RemoveJournal();
        return std::move(result_);
    }

private:
    bool MainIsTo() const { return !job_.toLists.empty(); }
    const std::vector<std::string> &MainLists() const
    {
        return MainIsTo() ? job_.toLists : job_.bccLists;
    }

    void Fail(long long position, std::string reason)
    {
        reason = CutReason(std::move(reason));
        if (position > 0)
            ++result_.failedCount;
        if (result_.failures.empty())
            result_.firstFailure = reason;
        result_.failures.push_back(SendFailure{position, std::move(reason)});
    }

    // Steps 1 to 3: the records of individual sending, the total, the start.
    void Plan()
    {
        if (job_.sendIndividually) {
            for (const std::string &list : MainLists()) {
                try {
                    ReadListRecords(list, key_, records_, nullptr);
                } catch (const std::exception &e) {
                    Fail(0, e.what());
                }
            }
            result_.total = static_cast<long long>(records_.Size());
        } else {
            result_.total = static_cast<long long>(MainLists().size());
        }
        if (replay_) {
            result_.startTime = replay_->header.startTime;
        } else {
            const auto now = std::chrono::system_clock::now();
            startUnix_ = UnixNow(now);
            result_.startTime = SendTimeText(now);
        }
    }

    // Individual sending: every text of every recipient loaded.
    std::string RecordsDigest() const
    {
        RecipientDigest digest;
        for (std::size_t i = 0; i < records_.Size(); ++i)
            for (int f = 0; f < Recipient::kFieldCount; ++f)
                digest.Add(records_.Field(static_cast<Index>(i), f));
        return digest.Hex();
    }

    void BeginJournal()
    {
#ifdef VOSTREL_TEST_HOOKS
        if (!options_->journal)
            return;
#endif
        SendJournalHeader header;
        header.runId = NewSendRunId();
        header.job = job_;
        header.startTime = result_.startTime;
        header.startUnix = startUnix_;
        header.total = result_.total;
        if (job_.sendIndividually)
            header.digest = RecordsDigest();
        try {
            journal_ = std::make_unique<SendJournalWriter>(header, key_);
        } catch (const std::exception &e) {
            Fail(0, WithReason("送信の記録を作成できなかったため、送信を始められませんでした", e));
            aborted_ = true;
            return;
        }
        SendJournalStep("begun");
    }

    // A replayed run rebuilds its lists from the list files: they must still
    // hold what the run loaded.
    void CheckPlan()
    {
        const SendJournalHeader &header = replay_->header;
        if (result_.total != header.total ||
            (job_.sendIndividually && RecordsDigest() != header.digest)) {
            listsChanged_ = true;
            Fail(0, "送信先リストの内容が送信の開始時から変わっているため、送信失敗・未送信の"
                    "宛先を保存できませんでした");
        }
        result_.total = header.total;
    }

    void SendAll()
    {
        const long long total = result_.total;
        const long long switchEvery = std::max(job_.senderSwitchEvery, 1);
        std::size_t senderIndex = 0;
        long long mailsOnSender = 0;
        for (long long n = 1; n <= total; ++n) {
            if (stop_->load()) {
                result_.stopped = true;
                break;
            }
            if (progress_->onPosition)
                progress_->onPosition(n, total);
            if (++mailsOnSender > switchEvery) {
                mailsOnSender = 1;
                if (!job_.senderNames.empty())
                    senderIndex = (senderIndex + 1) % job_.senderNames.size();
            }
            if (senderIndex != lastSender_ && session_)
                session_->Close(); // another account: another connection
            lastSender_ = senderIndex;
            const std::size_t nextSender =
                mailsOnSender + 1 > switchEvery && !job_.senderNames.empty()
                    ? (senderIndex + 1) % job_.senderNames.size()
                    : senderIndex;
            const std::string reason = SendOne(n, senderIndex, nextSender);
            if (stoppedInMail_) {
                // Ended by the stop in the middle: not sent, not failed, no
                // entry in the journal; it heads the unsent list.
                result_.stopped = true;
                break;
            }
            attempted_ = n;
            if (journal_) {
                try {
                    journal_->Mail(n, reason.empty(), reason);
                } catch (const std::exception &e) {
                    Fail(0, WithReason("送信の記録に書き込めなかったため、送信を中断しました", e));
                    aborted_ = true;
                    break;
                }
            }
            // A server drops a connection that waits long for its next mail.
            if (session_ && std::chrono::milliseconds(job_.intervalMs) > MailSession::kMaxIdle)
                session_->Close();
            Waiter().Wait(job_.intervalMs, *stop_);
        }
        if (session_)
            session_->Close();
    }

    SendWaiter &Waiter()
    {
        static RealWaiter real;
        return options_->waiter ? *options_->waiter : real;
    }

    // The mails of the journal, in order: their addresses as the run had them
    // (for the address logs and the failed recipients) and their outcomes.
    void Replay()
    {
        const std::vector<SendJournalMail> &mails = replay_->mails;
        const auto last = static_cast<long long>(mails.size());
        for (const SendJournalMail &mail : mails) {
            const long long n = mail.n;
            if (!listsChanged_) {
                // The copies' addresses only matter for the logs, which keep
                // those of the first and the last mail.
                const MailAddresses addresses = AddressesOf(n, n == 1 || n == last);
                NoteAddressLogs(addresses);
                if (!mail.sent)
                    failed_.Collect(addresses.main);
            }
            if (mail.sent)
                ++result_.sentCount;
            else
                Fail(n, mail.reason.empty() ? std::string("メールを送信できませんでした")
                                            : mail.reason);
            attempted_ = n;
        }
        if (replay_->ended) {
            result_.stopped = replay_->endedHow == "stopped";
            aborted_ = replay_->endedHow == "aborted";
        } else if (attempted_ < result_.total) {
            result_.interruptedMail = attempted_ + 1;
            if (listsChanged_)
                return;
            result_.interruptedMailTo =
                job_.sendIndividually
                    ? std::string(records_.Address(static_cast<Index>(attempted_)))
                    : Sjis("送信先リスト「") + MainLists()[static_cast<std::size_t>(attempted_)] +
                          Sjis("」");
        }
    }

    // Step 4 for mail n: account, addresses, message, delivery, and step D
    // when anything of it failed. The reason of a failure, else empty.
    std::string SendOne(long long n, std::size_t senderIndex, std::size_t nextSender)
    {
        if (!job_.senderNames.empty() && progress_->onSender)
            progress_->onSender(job_.senderNames[senderIndex]);
        std::optional<PreparedMail> prepared;
        if (ahead_ && ahead_->n == n)
            prepared.swap(ahead_);
        else
            prepared.emplace(Prepare(n, senderIndex));
        ahead_.reset();
        PreparedMail &p = *prepared;
        std::string reason = p.reason;
        if (reason.empty()) {
            // Individual sending knows the next mail already: with a kept
            // connection its envelope can go out behind this one's data.
            const OutgoingMail *next = nullptr;
            if (job_.sendIndividually && n < result_.total && OverTheWire() &&
                std::chrono::milliseconds(job_.intervalMs) <= MailSession::kMaxIdle) {
                ahead_.emplace(Prepare(n + 1, nextSender));
                if (ahead_->reason.empty() && ahead_->account == p.account)
                    next = &ahead_->mail;
            }
            reason = DeliverWithRetries(*p.account, p.mail, next);
        }
        MailAddresses &addresses = p.addresses;
        // A mail that the stop ended in the middle leaves the logs as they were.
        if (stoppedInMail_)
            return {};
        NoteAddressLogs(addresses);
        if (reason.empty()) {
            ++result_.sentCount;
            for (std::string &address : addresses.main)
                result_.reachedAddresses.push_back(std::move(address));
            return {};
        }
        reason = CutReason(std::move(reason));
        Fail(n, reason);
        failed_.Collect(addresses.main);
        if (progress_->onFailed)
            progress_->onFailed(result_.failedCount);
        return reason;
    }

    // Mail n ready to go: its account, addresses and bytes, or why it cannot
    // go.
    struct PreparedMail
    {
        long long n = 0;
        std::optional<SenderAccount> account;
        MailAddresses addresses;
        OutgoingMail mail;
        std::string reason;
    };

    PreparedMail Prepare(long long n, std::size_t senderIndex)
    {
        PreparedMail p;
        p.n = n;
        if (job_.senderNames.empty()) {
            p.reason = "送信元が選択されていません";
        } else {
            const std::string &name = job_.senderNames[senderIndex];
            try {
                p.account = accounts_.Read(name, key_);
            } catch (const std::exception &e) {
                p.reason =
                    WithReason("送信元「" + Utf8Of(name) + "」の設定を読み込めませんでした", e);
            }
        }
        p.addresses = AddressesOf(n, true);
        if (p.reason.empty())
            p.reason = p.addresses.reason;
        if (p.reason.empty())
            p.reason =
                Build(*p.account, static_cast<std::size_t>(n - 1),
                      MainIsTo() ? p.addresses.main : std::vector<std::string>{}, p.addresses.cc,
                      MainIsTo() ? p.addresses.bcc : p.addresses.main, p.mail);
        return p;
    }

    // The addresses of mail n. A list that cannot be read fails the mail; the
    // recipients read before the failure still count as its main recipients.
    // Without readCopies the Cc lists (and the Bcc lists while To is the main
    // field) are not read.
    MailAddresses AddressesOf(long long n, bool readCopies)
    {
        const auto k = static_cast<std::size_t>(n - 1);
        MailAddresses a;
        auto noteListError = [&a](const std::exception &e) {
            if (a.reason.empty())
                a.reason = e.what();
        };
        if (job_.sendIndividually) {
            a.main.emplace_back(records_.Address(static_cast<Index>(k)));
        } else {
            try {
                ReadListRecords(MainLists()[k], key_, records_, &a.main);
            } catch (const std::exception &e) {
                noteListError(e);
            }
        }
        auto readRole = [&](const std::vector<std::string> &lists, bool firstOnly,
                            std::vector<std::string> &out) {
            if (!readCopies || lists.empty() || (firstOnly && k != 0))
                return;
            for (const std::string &list : lists) {
                try {
                    ReadListAddresses(list, key_, out);
                } catch (const std::exception &e) {
                    noteListError(e);
                }
            }
        };
        readRole(job_.ccLists, job_.ccFirstOnly, a.cc);
        if (MainIsTo())
            readRole(job_.bccLists, job_.bccFirstOnly, a.bcc);
        return a;
    }

    // The address logs after a mail with these addresses: the main field's
    // addresses added (individual sending) or taken as they are (per list),
    // the copies' when the mail had any.
    void NoteAddressLogs(const MailAddresses &a)
    {
        std::string &mainLog = MainIsTo() ? toAddrLog_ : bccAddrLog_;
        if (job_.sendIndividually)
            AppendAddress(mainLog, a.main.front());
        else
            mainLog = JoinAddresses(a.main, ", ");
        if (!MainIsTo())
            toAddrLog_.clear();
        if (!a.cc.empty())
            ccAddrLog_ = JoinAddresses(a.cc, ", ");
        if (MainIsTo() && !a.bcc.empty())
            bccAddrLog_ = JoinAddresses(a.bcc, ", ");
    }
    // Builds mail k into mail; the reason of a failure, else empty.
    std::string Build(const SenderAccount &account, std::size_t k,
                      const std::vector<std::string> &to, const std::vector<std::string> &cc,
                      const std::vector<std::string> &bcc, OutgoingMail &mail)
    {
        try {
            std::optional<Recipient> personal;
            if (job_.sendIndividually)
                personal = records_.Get(static_cast<Index>(k));
            const MailMessage message =
                BuildMailMessage(job_, account, to, cc, bcc, personal ? &*personal : nullptr);
            mail.envelopeFrom = message.envelopeSender;
            mail.recipients.reserve(message.to.size() + message.cc.size() + message.bcc.size());
            for (const auto *role : {&message.to, &message.cc, &message.bcc})
                mail.recipients.insert(mail.recipients.end(), role->begin(), role->end());
            mail.data = WriteMimeMessage(message);
        } catch (const std::exception &e) {
            return WithReason("メールを作成できませんでした", e);
        }
        if (mail.recipients.empty())
            return "宛先がないため送信できません";
        return {};
    }

    // Hands a mail over, trying it again after a temporary refusal; the
    // reason of a failure, else empty.
    std::string DeliverWithRetries(const SenderAccount &account, const OutgoingMail &mail,
                                   const OutgoingMail *next)
    {
        try {
            DeliveryResult delivered = Deliver(account, mail, next);
            // Refused for now: tried again after each wait in turn.
            for (int attempt = 1; !delivered.ok && delivered.temporary && !delivered.stopped &&
                                  attempt <= kRetryCount;
                 ++attempt) {
                if (session_)
                    session_->Close(); // longer than a server keeps a connection waiting
                const int waitMs = kRetryWaitsMs[attempt - 1];
                if (progress_->onWaiting)
                    progress_->onWaiting(RetryWaitText(waitMs, attempt, delivered.reason));
                Waiter().Wait(waitMs, *stop_);
                if (progress_->onWaiting)
                    progress_->onWaiting({});
                if (stop_->load()) {
                    delivered.stopped = true;
                    break;
                }
                delivered = Deliver(account, mail);
            }
            if (delivered.stopped) {
                stoppedInMail_ = true;
                return {};
            }
            if (delivered.ok)
                return {};
            return delivered.reason.empty() ? std::string("メールを送信できませんでした")
                                            : delivered.reason;
        } catch (const std::exception &e) {
            return WithReason("メールを送信できませんでした", e);
        }
    }

    // Mails go through a MailSession (not a test's recorder).
    bool OverTheWire() const
    {
#ifdef VOSTREL_TEST_HOOKS
        return !options_->deliver;
#else
        return true;
#endif
    }

    DeliveryResult Deliver(const SenderAccount &account, const OutgoingMail &mail,
                           const OutgoingMail *next = nullptr)
    {
#ifdef VOSTREL_TEST_HOOKS
        if (options_->deliver)
            return options_->deliver(account, mail);
        const int mailsPerConnection = options_->mailsPerConnection;
#else
        const int mailsPerConnection = MailSession::kMaxMailsPerConnection;
#endif
        if (!session_)
            session_ = std::make_unique<MailSession>(
                options_->transport ? *options_->transport : RealTransport(), options_->timeouts,
                TlsMemory(), stop_, mailsPerConnection);
        return session_->Send(account, mail, next);
    }

    ServerTlsMemory *TlsMemory()
    {
        if (options_->tlsMemory)
            return options_->tlsMemory;
        if (!tlsRecord_)
            tlsRecord_ = std::make_unique<ServerTlsRecord>(key_);
        return tlsRecord_.get();
    }

    // A live run ends now; a replayed one when its journal last heard of it.
    std::chrono::system_clock::time_point EndTime() const
    {
        if (!replay_)
            return std::chrono::system_clock::now();
        if (replay_->ended)
            return FromUnix(replay_->endedTime);
        if (!replay_->mails.empty())
            return FromUnix(replay_->mails.back().time);
        return FromUnix(replay_->header.startUnix);
    }

    // The mailing is over: from here on only the bookkeeping is left.
    void EndJournal()
    {
        if (!journal_)
            return;
        const char *how = result_.stopped ? "stopped" : aborted_ ? "aborted" : "done";
        try {
            journal_->End(attempted_, how);
        } catch (const std::exception &e) {
            Fail(0, WithReason("送信の記録に書き込めませんでした", e));
        }
    }

    // A log or a list that should have been written was not.
    bool ResultsIncomplete() const
    {
        return result_.listsIncomplete || !result_.unwrittenFiles.empty();
    }

    // The results are not all on disk: the journal stays for the next send
    // or start, which accounts for the run from it. A replayed run's
    // journal is left to its caller.
    void KeepJournal()
    {
        if (!journal_)
            return;
        journal_.reset(); // syncs what is left; the files stay
        result_.journalKept = true;
    }

    // The run is accounted for. A replayed run's journal is removed by its
    // caller, which decides whether it is kept for another try.
    void RemoveJournal()
    {
        if (!journal_)
            return;
        SendJournalStep("remove");
        try {
            journal_->Remove();
        } catch (const std::exception &e) {
            Fail(0, WithReason("送信の記録を削除できませんでした", e));
        }
    }

    // Step 6: one log per named account, whether or not it sent anything.
    // An account that can no longer be read (deleted during the run) gets no
    // log, as it would get none on another try; a log that cannot be written
    // is a result not on disk.
    void WriteLogs()
    {
        for (const std::string &name : job_.senderNames) {
            auto failed = [&](const std::exception &e) {
                Fail(0, WithReason("送信元「" + Utf8Of(name) + "」の送信ログを書き込めませんでした",
                                   e));
            };
            SenderAccount account;
            try {
                account = ReadSenderAccount(SenderAccountPath(name), key_);
            } catch (const std::exception &e) {
                failed(e);
                continue;
            }
            try {
                WriteSendLogFrom(name, account.FromAddress, job_, result_.sentCount, result_.total,
                                 result_.startTime, result_.endTime, toAddrLog_, ccAddrLog_,
                                 bccAddrLog_, key_);
            } catch (const std::exception &e) {
                failed(e);
                result_.unwrittenFiles.push_back(SendLogPath(name, result_.startTime));
            }
        }
    }

    // Writes count recipients, recipientAt(0 .. count - 1), as a new list of
    // the main field's kind; the list's name, or empty when it could not be
    // written (then nothing of it is left).
    std::string StoreList(const std::string &name, std::size_t count,
                          const std::function<Recipient(std::size_t)> &recipientAt,
                          const char *what)
    {
        bool created = false;
        try {
            CreateDestinationList(name, MainIsTo(), false, !MainIsTo(), key_);
            created = true;
            AppendRecipients(name, count, recipientAt, key_);
            return name;
        } catch (const std::exception &e) {
            if (created)
                DeleteDestinationList(name);
            Fail(0, WithReason(std::string(what) + "送信リスト「" + Utf8Of(name) +
                                   "」に保存できませんでした",
                               e));
            result_.listsIncomplete = true;
            result_.unwrittenFiles.push_back(DestinationListPath(name));
            return {};
        }
    }

    // Step 7: the failed recipients become the list startTime + "_送信失敗".
    void StoreFailedRecipients()
    {
        if (failed_.Empty() || listsChanged_)
            return;
        const std::vector<Index> &entries = failed_.Entries();
        result_.failedListName = StoreList(
            result_.startTime + Sjis("_送信失敗"), entries.size(),
            [&](std::size_t i) { return records_.Get(entries[i]); }, "送信に失敗した宛先を");
    }

    // The recipients of the mails the run never got to (after a stop, an
    // error that ended it, or the end of the program) become the list
    // startTime + "_未送信", in the order they would have been mailed. In
    // per-list sending they are the members of the lists not mailed.
    void StoreUnsentRecipients()
    {
        if (listsChanged_ || attempted_ >= result_.total)
            return;
        std::size_t first = 0;
        std::size_t count = 0;
        if (job_.sendIndividually) {
            first = static_cast<std::size_t>(attempted_);
            count = records_.Size() - std::min(first, records_.Size());
        } else {
            first = records_.Size();
            for (auto k = static_cast<std::size_t>(attempted_); k < MainLists().size(); ++k) {
                try {
                    ReadListRecords(MainLists()[k], key_, records_, nullptr);
                } catch (const std::exception &e) {
                    Fail(0, e.what());
                }
            }
            count = records_.Size() - first;
        }
        if (count == 0)
            return;
        result_.unsentListName = StoreList(
            result_.startTime + Sjis("_未送信"), count,
            [&](std::size_t i) { return records_.Get(static_cast<Index>(first + i)); },
            "未送信の宛先を");
        if (!result_.unsentListName.empty())
            result_.unsentCount = static_cast<long long>(count);
    }

    const SendJob &job_;
    const SendProgressSink *progress_ = nullptr;
    const std::atomic<bool> *stop_ = nullptr;
    const RunSendOptions *options_ = nullptr;
    const std::string key_;
    const SendJournalContents *replay_ = nullptr;

    RecordStore records_;
    FailedRecipients failed_;
    std::string toAddrLog_;
    std::string ccAddrLog_;
    std::string bccAddrLog_;
    RunSendResult result_;

    std::unique_ptr<SendJournalWriter> journal_;
    long long startUnix_ = 0;
    long long attempted_ = 0;    // mails whose outcome is known, 1..attempted_
    bool aborted_ = false;       // an error ended the run before its last mail
    bool listsChanged_ = false;  // replay: the lists no longer hold the run's recipients
    bool stoppedInMail_ = false; // the stop ended a mail in the middle
    std::unique_ptr<ServerTlsRecord> tlsRecord_;
    // Declared after the record its memory points to, so closed before it.
    std::unique_ptr<MailSession> session_;
    std::size_t lastSender_ = 0;
    // The next mail, prepared while this one goes (individual sending).
    std::optional<PreparedMail> ahead_;
    AccountFiles accounts_;
};

} // namespace

std::string RetryWaitText(int waitMs, int attempt, const std::string &reason)
{
    return "サーバーが一時的に受け付けません。" + std::to_string(waitMs / 1000) +
           " 秒後に再送します（" + std::to_string(attempt) + "/" + std::to_string(kRetryCount) +
           "）: " + reason;
}

std::string SendTimeText(std::chrono::system_clock::time_point time, bool spaceAfterDay)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    ::localtime_r(&t, &local);
    auto two = [](int v) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%02d", v);
        return std::string(buffer);
    };
    char year[16];
    std::snprintf(year, sizeof year, "%04d", local.tm_year + 1900);
    std::string text =
        year + Sjis("年") + two(local.tm_mon + 1) + Sjis("月") + two(local.tm_mday) + Sjis("日");
    if (spaceAfterDay)
        text += ' ';
    text += two(local.tm_hour) + Sjis("時") + two(local.tm_min) + Sjis("分") + two(local.tm_sec) +
            Sjis("秒");
    return text;
}

namespace {

// Only a failure to allocate the run itself can get here.
RunSendResult RunThatFailed(const std::exception &e)
{
    RunSendResult result;
    result.outcome = SendOutcome::Failed;
    result.firstFailure = WithReason("送信中にエラーが発生しました", e);
    result.failures.push_back({0, result.firstFailure});
    result.listsIncomplete = true;
    return result;
}

} // namespace

RunSendResult RunSend(const SendJob &job, const SendProgressSink &progress,
                      const std::atomic<bool> &stop, const RunSendOptions &options)
{
    // The run writes logs and lists: no password change may start meanwhile.
    const RecordWriteScope writing;
    try {
        return Run(job, progress, stop, options).Go();
    } catch (const std::exception &e) {
        return RunThatFailed(e);
    }
}

RunSendResult FinishJournaledRun(const SendJournalContents &journal, const std::string &key)
{
    const RecordWriteScope writing;
    try {
        return Run(journal, key).Go();
    } catch (const std::exception &e) {
        return RunThatFailed(e);
    }
}

} // namespace vostrel
