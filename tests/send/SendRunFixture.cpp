#include "SendRunFixture.h"

#include "core/FieldStore.h"
#include "send/SendJournal.h"
#include "senders/SenderAccount.h"

#include <cstdint>

namespace vostrel::test {

RunSendOptions MailRecorder::Options()
{
    RunSendOptions options;
    options.deliver = [this](const SenderAccount &account, const OutgoingMail &mail) {
        DeliveredMail delivered{account.ConfName, mail.envelopeFrom, mail.recipients, mail.data};
        int n = 0;
        {
            std::lock_guard lock(mutex_);
            mails_.push_back(delivered);
            n = static_cast<int>(mails_.size());
        }
        return answer ? answer(n, delivered) : DeliveryResult{true, {}};
    };
    return options;
}

std::vector<DeliveredMail> MailRecorder::Mails() const
{
    std::lock_guard lock(mutex_);
    return mails_;
}

std::vector<std::string> MailRecorder::Accounts() const
{
    std::vector<std::string> accounts;
    for (const DeliveredMail &mail : Mails())
        accounts.push_back(mail.account);
    return accounts;
}

Recipient Person(const std::string &name, const std::string &address, const std::string &tag)
{
    Recipient r;
    r.fields[0] = name;
    r.fields[1] = S("様");
    r.fields[2] = address;
    for (int i = 1; i <= 10; ++i)
        r.fields[static_cast<std::size_t>(2 + i)] = tag + "-m" + std::to_string(i);
    return r;
}

std::vector<Recipient> People(const std::string &tag, int count)
{
    std::vector<Recipient> people;
    for (int i = 1; i <= count; ++i) {
        const std::string id = tag + std::to_string(i);
        people.push_back(Person(id, id + "@example.jp", id));
    }
    return people;
}

std::optional<std::string> HeaderOf(const std::string &data, const std::string &name)
{
    const std::string head = data.substr(0, data.find("\r\n\r\n") + 2);
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < head.size();) {
        const std::size_t end = head.find("\r\n", pos);
        lines.push_back(head.substr(pos, end - pos));
        pos = end + 2;
    }
    const std::string prefix = name + ": ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string value = lines[i].substr(prefix.size());
        while (i + 1 < lines.size() && !lines[i + 1].empty() &&
               (lines[i + 1][0] == ' ' || lines[i + 1][0] == '\t'))
            value += lines[++i];
        return value;
    }
    return std::nullopt;
}

std::vector<std::string> RawFields(const std::filesystem::path &file, const std::string &key)
{
    const std::string bytes = ReadBytes(file);
    const FieldCodec codec(key);
    std::vector<std::string> fields;
    std::size_t at = 0;
    while (at + 4 <= bytes.size()) {
        std::uint32_t length = 0;
        for (int i = 0; i < 4; ++i)
            length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i]))
                      << (8 * i);
        if (at + 4 + length > bytes.size())
            break;
        fields.push_back(codec.DecryptString(std::string_view(bytes).substr(at + 4, length)));
        at += 4 + length;
    }
    EXPECT_EQ(at, bytes.size()) << "file does not end after a whole field: " << file;
    return fields;
}

void SendRunTest::AddAccount(const std::string &name, const std::string &fromAddress)
{
    SenderAccount account;
    account.ConfName = name;
    account.SMTPAddress = "127.0.0.1";
    account.FromAddress = fromAddress;
    account.SenderName = name;
    WriteSenderAccount(SenderAccountPath(name), account);
}

void SendRunTest::AddList(const std::string &name, const std::vector<Recipient> &recipients,
                          SendType sendType)
{
    SaveDestinationList(name, sendType, recipients);
}

SendJob SendRunTest::Job(std::vector<std::string> toLists)
{
    SendJob job;
    job.senderNames = {"A"};
    job.senderSwitchEvery = 1;
    job.sendIndividually = true;
    job.toLists = std::move(toLists);
    job.subject = "Hello <#-" + S("送信先名") + "->";
    job.body = "Dear <#-" + S("送信先名") + "->, code <#-" + S("差込１") + "->\r\n";
    job.intervalMs = 0;
    return job;
}

RunSendResult SendRunTest::Run(const SendJob &job)
{
    SendProgressSink sink;
    sink.onPosition = [this](long long n, long long total) { positions.emplace_back(n, total); };
    sink.onSender = [this](const std::string &name) { senders.push_back(name); };
    return RunSend(job, sink, stop, recorder.Options());
}

SendLog SendRunTest::LogOf(const std::string &account, const RunSendResult &result)
{
    return ReadSendLog(SendLogPath(account, result.startTime));
}

std::vector<Recipient> SendRunTest::ListOf(const std::string &name)
{
    return LoadDestinationList(name).recipients;
}

std::string SendRunTest::LeavePendingJournal(const SendJob &job, int sent)
{
    SendJournalHeader header;
    header.runId = NewSendRunId();
    header.job = job;
    const auto now = std::chrono::system_clock::now();
    header.startTime = SendTimeText(now);
    header.startUnix =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const std::vector<std::string> &main = job.toLists.empty() ? job.bccLists : job.toLists;
    if (job.sendIndividually) {
        RecipientDigest digest;
        for (const std::string &list : main)
            for (const Recipient &r : LoadDestinationList(list).recipients) {
                ++header.total;
                for (const std::string &field : r.fields)
                    digest.Add(field);
            }
        header.digest = digest.Hex();
    } else {
        header.total = static_cast<long long>(main.size());
    }
    SendJournalWriter journal(header, CurrentKey());
    for (int n = 1; n <= sent; ++n)
        journal.Mail(n, true);
    return header.startTime;
}

} // namespace vostrel::test
