#include "send/SendEngine.h"

#include "core/AppState.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "send/MessageBuilder.h"
#include "send/SendLog.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
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
void Pause(int ms, const std::atomic<bool> &stop)
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

class Run
{
public:
    Run(const SendJob &job, const SendProgressSink &progress, const std::atomic<bool> &stop,
        const RunSendOptions &options)
        : job_(job)
        , progress_(progress)
        , stop_(stop)
        , options_(options)
        , key_(CurrentKey())
        , failed_(records_)
    {}

    RunSendResult Go()
    {
        try {
            Plan();
            SendAll();
        } catch (const std::exception &e) {
            Fail(0, WithReason("送信中にエラーが発生しました", e));
        } catch (...) {
            Fail(0, "送信中にエラーが発生しました");
        }
        if (result_.startTime.empty())
            result_.startTime = SendTimeText(std::chrono::system_clock::now());
        result_.endTime = SendTimeText(std::chrono::system_clock::now(), true);
        WriteLogs();
        StoreFailedRecipients();
        if (!result_.failedListName.empty())
            result_.outcome = SendOutcome::FailedListStored;
        else if (!result_.failures.empty())
            result_.outcome = SendOutcome::Failed;
        else
            result_.outcome = SendOutcome::Finished;
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
        result_.startTime = SendTimeText(std::chrono::system_clock::now());
    }

    void SendAll()
    {
        const long long total = result_.total;
        const long long switchEvery = std::max(job_.senderSwitchEvery, 1);
        std::size_t senderIndex = 0;
        long long mailsOnSender = 0;
        for (long long n = 1; n <= total; ++n) {
            if (stop_.load()) {
                result_.stopped = true;
                break;
            }
            if (progress_.onPosition)
                progress_.onPosition(n, total);
            if (++mailsOnSender > switchEvery) {
                mailsOnSender = 1;
                if (!job_.senderNames.empty())
                    senderIndex = (senderIndex + 1) % job_.senderNames.size();
            }
            SendOne(n, senderIndex);
            Pause(job_.intervalMs, stop_);
        }
    }

    // Step 4 for mail n: account, addresses, message, delivery, and step D
    // when anything of it failed.
    void SendOne(long long n, std::size_t senderIndex)
    {
        const auto k = static_cast<std::size_t>(n - 1);
        std::string reason;

        std::optional<SenderAccount> account;
        if (job_.senderNames.empty()) {
            reason = "送信元が選択されていません";
        } else {
            const std::string &name = job_.senderNames[senderIndex];
            if (progress_.onSender)
                progress_.onSender(name);
            try {
                account = ReadSenderAccount(SenderAccountPath(name), key_);
            } catch (const std::exception &e) {
                reason =
                    WithReason("送信元「" + Utf8Of(name) + "」の設定を読み込めませんでした", e);
            }
        }

        // The addresses of this mail. A list that cannot be read fails the
        // mail; the recipients read before the failure still count as its
        // main recipients.
        std::vector<std::string> main;
        std::vector<std::string> cc;
        std::vector<std::string> bcc;
        auto noteListError = [&reason](const std::exception &e) {
            if (reason.empty())
                reason = e.what();
        };
        if (job_.sendIndividually) {
            main.emplace_back(records_.Address(static_cast<Index>(k)));
        } else {
            try {
                ReadListRecords(MainLists()[k], key_, records_, &main);
            } catch (const std::exception &e) {
                noteListError(e);
            }
        }
        if (MainIsTo()) {
            if (job_.sendIndividually)
                AppendAddress(toAddrLog_, main.front());
            else
                toAddrLog_ = JoinAddresses(main, ", ");
        } else {
            toAddrLog_.clear();
        }
        auto readRole = [&](const std::vector<std::string> &lists, bool firstOnly,
                            std::vector<std::string> &out, std::string &log) {
            if (lists.empty() || (firstOnly && k != 0))
                return;
            for (const std::string &list : lists) {
                try {
                    ReadListAddresses(list, key_, out);
                } catch (const std::exception &e) {
                    noteListError(e);
                }
            }
            if (!out.empty())
                log = JoinAddresses(out, ", ");
        };
        readRole(job_.ccLists, job_.ccFirstOnly, cc, ccAddrLog_);
        if (MainIsTo()) {
            readRole(job_.bccLists, job_.bccFirstOnly, bcc, bccAddrLog_);
        } else if (job_.sendIndividually) {
            AppendAddress(bccAddrLog_, main.front());
        } else {
            bccAddrLog_ = JoinAddresses(main, ", ");
        }

        if (reason.empty())
            reason = BuildAndDeliver(*account, k, MainIsTo() ? main : std::vector<std::string>{},
                                     cc, MainIsTo() ? bcc : main);
        if (reason.empty()) {
            ++result_.sentCount;
            return;
        }
        Fail(n, std::move(reason));
        failed_.Collect(main);
    }

    // Builds mail k and hands it over; the reason of a failure, else empty.
    std::string BuildAndDeliver(const SenderAccount &account, std::size_t k,
                                const std::vector<std::string> &to,
                                const std::vector<std::string> &cc,
                                const std::vector<std::string> &bcc)
    {
        OutgoingMail mail;
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
        try {
            const DeliveryResult delivered =
                options_.deliver
                    ? options_.deliver(account, mail)
                    : DeliverMail(options_.transport ? *options_.transport : RealTransport(),
                                  account, mail, options_.timeouts);
            if (delivered.ok)
                return {};
            return delivered.reason.empty() ? std::string("メールを送信できませんでした")
                                            : delivered.reason;
        } catch (const std::exception &e) {
            return WithReason("メールを送信できませんでした", e);
        }
    }

    // Step 6: one log per named account, whether or not it sent anything.
    void WriteLogs()
    {
        for (const std::string &name : job_.senderNames) {
            try {
                WriteSendLog(name, job_, result_.sentCount, result_.total, result_.startTime,
                             result_.endTime, toAddrLog_, ccAddrLog_, bccAddrLog_, key_);
            } catch (const std::exception &e) {
                Fail(0, WithReason("送信元「" + Utf8Of(name) + "」の送信ログを書き込めませんでした",
                                   e));
            }
        }
    }

    // Step 7: the failed recipients become the list startTime + "_送信失敗".
    void StoreFailedRecipients()
    {
        if (failed_.Empty())
            return;
        const std::string name = result_.startTime + Sjis("_送信失敗");
        bool created = false;
        try {
            CreateDestinationList(name, MainIsTo(), false, !MainIsTo(), key_);
            created = true;
            const std::vector<Index> &entries = failed_.Entries();
            AppendRecipients(
                name, entries.size(), [&](std::size_t i) { return records_.Get(entries[i]); },
                key_);
            result_.failedListName = name;
        } catch (const std::exception &e) {
            if (created)
                DeleteDestinationList(name);
            Fail(0, WithReason("送信に失敗した宛先を送信リスト「" + Utf8Of(name) +
                                   "」に保存できませんでした",
                               e));
        }
    }

    const SendJob &job_;
    const SendProgressSink &progress_;
    const std::atomic<bool> &stop_;
    const RunSendOptions &options_;
    const std::string key_;

    RecordStore records_;
    FailedRecipients failed_;
    std::string toAddrLog_;
    std::string ccAddrLog_;
    std::string bccAddrLog_;
    RunSendResult result_;
};

} // namespace

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

RunSendResult RunSend(const SendJob &job, const SendProgressSink &progress,
                      const std::atomic<bool> &stop, const RunSendOptions &options)
{
    try {
        return Run(job, progress, stop, options).Go();
    } catch (const std::exception &e) {
        // Only a failure to allocate the run itself can get here.
        RunSendResult result;
        result.outcome = SendOutcome::Failed;
        result.firstFailure = WithReason("送信中にエラーが発生しました", e);
        result.failures.push_back({0, result.firstFailure});
        return result;
    }
}

} // namespace vostrel
