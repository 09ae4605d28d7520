// Whole runs through the real transport: to a real SMTP server (aiosmtpd)
// that refuses one recipient, and to a port where nothing listens; and the
// data folder such a run leaves, every record of which a password change
// rewrites.
#include "SendRunFixture.h"

#include "core/DataLayout.h"
#include "core/Password.h"
#include "core/Reencrypt.h"
#include "core/WindowSettings.h"
#include "peers/MailPeers.h"
#include "send/MailTransport.h"
#include "send/MailboxRecord.h"
#include "send/SendJournal.h"
#include "send/SendLogRekey.h"
#include "send/ServerTlsRecord.h"
#include "send/WireTestUtil.h"
#include "senders/SenderAccount.h"

#include <QString>
#include <algorithm>
#include <chrono>
#include <iterator>
#include <set>
#include <thread>

using namespace vostrel;
using namespace vostrel::test;

namespace {

class SendRunPeersTest : public SendRunTest
{
protected:
    static void SetUpTestSuite()
    {
        folder_ = new PeerFolder;
        certificates_ = new TestCertificates(folder_->Path());
        smtp_ = new SmtpPeer(folder_->Path(), SmtpPeerOptions().Refuse("p2@example.jp"));
        startTls_ = new SmtpPeer(
            folder_->Path(), SmtpPeerOptions()
                                 .Security(SmtpSecurity::StartTlsOptional, certificates_->Server())
                                 .User("login", "secret-pass"));
        slow_ = new SmtpPeer(folder_->Path(), SmtpPeerOptions().DelayEndOfData(20000));
        closing_ = new SmtpPeer(folder_->Path(), SmtpPeerOptions().CloseAfterMails(2));
        busy_ =
            new SmtpPeer(folder_->Path(), SmtpPeerOptions().CloseAfterMails(2, true).Pipelining());
        sink_ = new SmtpSink(folder_->Path());
    }
    static void TearDownTestSuite()
    {
        delete sink_;
        delete busy_;
        delete closing_;
        delete slow_;
        delete startTls_;
        delete smtp_;
        delete certificates_;
        delete folder_;
    }

    // Account "A" sends to 127.0.0.1:port.
    static void SendThrough(int port, bool auth)
    {
        SenderAccount account = ReadSenderAccount(SenderAccountPath("A"));
        account.SMTPPort = std::to_string(port);
        account.SMTPAuth = auth;
        account.SMTPAccount = "login";
        account.SMTPPass = "secret-pass";
        WriteSenderAccount(SenderAccountPath("A"), account);
    }

    void SetUp() override
    {
        SendRunTest::SetUp();
        smtp_->ClearSessions();
        SenderAccount account = smtp_->Account();
        account.ConfName = "A";
        account.FromAddress = "a@sender.jp";
        WriteSenderAccount(SenderAccountPath("A"), account);
        AddList("three", People("p", 3));
    }

    RunSendResult RunForReal(const SendJob &job)
    {
        RunSendOptions options;
        options.timeouts = {5000, 5000};
        options.waiter = &noWait_;
        return RunSend(job, {}, stop, options);
    }

    // Pauses that take no time (the connection still ends before a long one).
    struct NoWait : SendWaiter
    {
        void Wait(int, const std::atomic<bool> &) override {}
    } noWait_;

    static inline PeerFolder *folder_ = nullptr;
    static inline TestCertificates *certificates_ = nullptr;
    static inline SmtpPeer *smtp_ = nullptr;
    static inline SmtpPeer *startTls_ = nullptr;
    static inline SmtpPeer *slow_ = nullptr;
    static inline SmtpPeer *closing_ = nullptr;
    static inline SmtpPeer *busy_ = nullptr;
    static inline SmtpSink *sink_ = nullptr;
};

// The commands of mail n of People("p" or "q", ...) from account A.
std::vector<std::string> EnvelopeOf(const std::string &address)
{
    return {"MAIL FROM:<a@sender.jp>", "RCPT TO:<" + address + ">", "DATA"};
}

std::vector<std::string> Joined(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const auto &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// One connection carries the three mails; the refused one is followed by
// RSET and the next mail goes on.
TEST_F(SendRunPeersTest, TheServerGetsEveryMailButTheRefusedOne)
{
    const RunSendResult result = RunForReal(Job({"three"}));

    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(result.sentCount, 2);
    const std::vector<SmtpPeerSession> sessions = smtp_->WaitForSessions(1);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].Lines(), Joined({{"EHLO " + HostName()},
                                           EnvelopeOf("p1@example.jp"),
                                           {"MAIL FROM:<a@sender.jp>", "RCPT TO:<p2@example.jp>"},
                                           {"RSET"},
                                           EnvelopeOf("p3@example.jp"),
                                           {"QUIT"}}));
    ASSERT_EQ(sessions[0].mails.size(), 2u);
    for (int i : {0, 1}) {
        SCOPED_TRACE(i);
        const std::string id = "p" + std::to_string(i * 2 + 1);
        EXPECT_EQ(sessions[0].mails[i].from, "a@sender.jp");
        EXPECT_EQ(sessions[0].mails[i].recipients, std::vector<std::string>{id + "@example.jp"});
        EXPECT_NE(sessions[0].mails[i].data.find("Dear " + id + ", code " + id + "-m1"),
                  std::string::npos);
    }
    EXPECT_EQ(sessions[0].refused, std::vector<std::string>{"p2@example.jp"});
    EXPECT_NE(result.firstFailure.find("p2@example.jp"), std::string::npos);
    EXPECT_EQ(ListOf(result.failedListName), std::vector<Recipient>{People("p", 3)[1]});
    EXPECT_EQ(LogOf("A", result).fields[2], "2");
}

// Servers that end a connection after two mails, at the next MAIL FROM:
// silently, or with 421 (that one with PIPELINING). Every mail arrives, two
// and two and one over three connections, and nothing fails.
TEST_F(SendRunPeersTest, AServerThatEndsTheConnectionAfterTwoMailsGetsEveryMail)
{
    AddList("five", People("q", 5));
    for (SmtpPeer *peer : {closing_, busy_}) {
        SCOPED_TRACE(peer->Options().busy);
        peer->ClearSessions();
        SendThrough(peer->Port(), false);

        const RunSendResult result = RunForReal(Job({"five"}));

        EXPECT_EQ(result.outcome, SendOutcome::Finished) << result.firstFailure;
        EXPECT_EQ(result.sentCount, 5);
        const std::vector<SmtpPeerSession> sessions = peer->WaitForSessions(3);
        ASSERT_EQ(sessions.size(), 3u);
        for (int c : {0, 1}) {
            const std::string first = "q" + std::to_string(c * 2 + 1) + "@example.jp";
            const std::string second = "q" + std::to_string(c * 2 + 2) + "@example.jp";
            EXPECT_EQ(sessions[c].Lines(), Joined({{"EHLO " + HostName()},
                                                   EnvelopeOf(first),
                                                   EnvelopeOf(second),
                                                   {"MAIL FROM:<a@sender.jp>"}}));
            ASSERT_EQ(sessions[c].mails.size(), 2u);
            EXPECT_EQ(sessions[c].mails[1].recipients, std::vector<std::string>{second});
        }
        EXPECT_EQ(sessions[2].Lines(),
                  Joined({{"EHLO " + HostName()}, EnvelopeOf("q5@example.jp"), {"QUIT"}}));
    }
}

// Postfix's smtp-sink (it offers PIPELINING): the three mails over one
// connection, exactly this dialogue.
TEST_F(SendRunPeersTest, SmtpSinkGetsTheMailsOverOneConnection)
{
    SendThrough(sink_->Port(), false);

    const RunSendResult result = RunForReal(Job({"three"}));

    EXPECT_EQ(result.sentCount, 3) << result.firstFailure;
    EXPECT_EQ(sink_->WaitForDialogue(1), Joined({{"connect", "EHLO " + HostName()},
                                                 EnvelopeOf("p1@example.jp"),
                                                 {"."},
                                                 EnvelopeOf("p2@example.jp"),
                                                 {"."},
                                                 EnvelopeOf("p3@example.jp"),
                                                 {".", "QUIT", "disconnect"}}));
}

TEST_F(SendRunPeersTest, NothingListeningFailsEveryMailAndStoresEveryRecipient)
{
    SenderAccount account = ReadSenderAccount(SenderAccountPath("A"));
    account.SMTPPort = std::to_string(FreeLocalPort());
    WriteSenderAccount(SenderAccountPath("A"), account);

    const RunSendResult result = RunForReal(Job({"three"}));

    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(result.sentCount, 0);
    EXPECT_EQ(result.failures.size(), 3u);
    EXPECT_NE(result.firstFailure.find("127.0.0.1:" + account.SMTPPort), std::string::npos);
    EXPECT_EQ(ListOf(result.failedListName), People("p", 3));
    EXPECT_TRUE(smtp_->Sessions().empty());
}

// The first connection goes through an honest relay and upgrades with
// STARTTLS; then the relay hides STARTTLS and offers AUTH in clear. The
// remembered server gets no password, each of those mails fails with the
// reason, and the run goes on to the next mail. (A pause of more than ten
// seconds gives each mail a connection of its own.)
TEST_F(SendRunPeersTest, AServerThatHidItsStartTlsGetsNoPasswordAndTheRunGoesOn)
{
    const ScopedCaFile ca(certificates_->CaFile());
    const StripRelay relay(folder_->Path(), StripRelay::Protocol::Smtp, startTls_->Port(), 1);
    SendThrough(relay.Port(), true);
    SendJob job = Job({"three"});
    job.intervalMs = 10001;

    const RunSendResult result = RunForReal(job);

    EXPECT_EQ(result.sentCount, 1);
    const std::string peer = "127.0.0.1:" + std::to_string(relay.Port());
    ASSERT_EQ(result.failures.size(), 2u);
    for (const SendFailure &failure : result.failures)
        EXPECT_EQ(failure.reason, peer + ": 以前は暗号化通信 (STARTTLS) を使えたサーバーが、今回は"
                                         "暗号化通信に対応していませんでした。通信の途中で暗号化"
                                         "が取り除かれたおそれがあるため、パスワードを送らずに"
                                         "送信を中止しました");
    EXPECT_EQ(ListOf(result.failedListName),
              (std::vector<Recipient>{People("p", 3)[1], People("p", 3)[2]}));
    const std::vector<std::string> sent = relay.WaitForConnections(3);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_NE(sent[0].find("STARTTLS\r\n"), std::string::npos);
    const std::string secrets[] = {"secret-pass", "c2VjcmV0LXBhc3M=", // the password, its Base64
                                   "AGxvZ2luAHNlY3JldC1wYXNz"};       // AUTH PLAIN's
    for (const std::string &bytes : sent) {
        for (const std::string &secret : secrets)
            EXPECT_EQ(bytes.find(secret), std::string::npos) << secret;
    }
    for (int i : {1, 2}) {
        EXPECT_EQ(sent[i].find("AUTH"), std::string::npos);
        EXPECT_EQ(sent[i].find("MAIL FROM"), std::string::npos);
    }
    const auto sessions = startTls_->WaitForSessions(3);
    ASSERT_EQ(sessions.size(), 3u);
    ASSERT_EQ(sessions[0].auth.size(), 1u);
    EXPECT_TRUE(sessions[0].auth[0].accepted);
    EXPECT_TRUE(sessions[0].commands.back().tls);
}

// The stop ends the mail in progress at once: the server has not answered
// the final "." yet (it takes 20 s), the connection is closed, and that mail
// heads the unsent list; it never counts as sent.
TEST_F(SendRunPeersTest, TheStopEndsTheMailInProgressAtOnceAndItIsNotSent)
{
    SendThrough(slow_->Port(), false);
    std::thread stopper;
    SendProgressSink sink;
    sink.onPosition = [&](long long n, long long) {
        if (n == 1)
            stopper = std::thread([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                stop = true;
            });
    };
    RunSendOptions options;
    const auto started = std::chrono::steady_clock::now();
    const RunSendResult result = RunSend(Job({"three"}), sink, stop, options);
    stopper.join();

    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.sentCount, 0);
    EXPECT_EQ(result.attempted, 0);
    EXPECT_TRUE(result.failures.empty());
    EXPECT_EQ(ListOf(result.unsentListName), People("p", 3));
    EXPECT_EQ(LogOf("A", result).fields[2], "0");
    const auto sessions = slow_->WaitForSessions(1);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].Lines().back(), "DATA"); // no QUIT: the connection was just closed
}

// The plain files of the data folder, which a password change leaves as they
// are: the signatures, the window layout (settings.ini), the HTML template
// (html.txt), everything in the work folder (the *_work.html pages and the
// draft's copies of its attachments and pictures) and the copies of a log's
// pictures (Logs/<account>/<start time>/<picture>).
bool IsPlainFile(const std::filesystem::path &relative)
{
    const std::filesystem::path first = *relative.begin();
    if (first == "Signature" || first == "work")
        return true;
    if (relative == "settings.ini" || relative == "html.txt")
        return true;
    return first == "Logs" && std::distance(relative.begin(), relative.end()) == 4;
}

// A data folder with every kind of file the program writes: lists and
// accounts, a real run over STARTTLS (its log with a picture folder and the
// note of the server's encryption), the journal of a run still to be
// accounted for, and the plain files. Every other file in it is a record
// that a registered kind lists (or config.dat), and every file a kind lists
// is there: a new kind of record without a rewriter fails here.
TEST_F(SendRunPeersTest, EveryRecordFileInTheDataFolderIsRewrittenByAPasswordChange)
{
    namespace fs = std::filesystem;
    RegisterDestinationsRekeyKinds();
    RegisterSendersRekeyKinds();
    RegisterSendRekeyKinds();
    WriteConfig(CurrentKey());
    AddAccount("B", "b@sender.jp");
    AddList("other", People("q", 2), {false, true, true});
    const ScopedCaFile ca(certificates_->CaFile());
    SendThrough(startTls_->Port(), true);
    WriteBytes(WorkFolder() / layout::kHtmlImage / "logo.png", "png");
    SendJob job = Job({"three"});
    job.sendAsHtml = true;
    job.body = "<img src=\"cid:logo.png\">";
    job.inlinePictures = {"logo.png"};
    const RunSendResult result = RunForReal(job);
    ASSERT_EQ(result.sentCount, 3) << result.firstFailure;
    LeavePendingJournal(Job({"other"}), 1);
    SetLastBackupFolder(QString::fromStdString(TempDir().string()));
    WriteBytes(DataFolder() / layout::kHtmlTemplate, "<html>");
    WriteBytes(WorkFolder() / layout::kPreviewPage, "<html>");
    WriteBytes(WorkFolder() / layout::kAppendedImage / "a.pdf", "pdf");
    SenderAccount checked;
    checked.POPAddress = "pop.sender.jp";
    checked.POPAccount = "news";
    MailboxRecord mailboxes;
    mailboxes.Of(checked).seenUidls.insert("00000001");
    mailboxes.Save(MailboxRecordPath(), CurrentKey());

    std::set<fs::path> listed{ConfigPath()};
    for (const RekeyKind &kind : RegisteredRekeyKinds())
        for (const fs::path &file : kind.files())
            listed.insert(file);
    std::set<fs::path> records;
    std::vector<fs::path> plain;
    for (const auto &entry : fs::recursive_directory_iterator(DataFolder())) {
        if (!entry.is_regular_file())
            continue;
        const fs::path relative = entry.path().lexically_relative(DataFolder());
        if (IsPlainFile(relative))
            plain.push_back(relative);
        else
            records.insert(entry.path());
    }
    std::vector<fs::path> withoutRewriter, notThere;
    std::set_difference(records.begin(), records.end(), listed.begin(), listed.end(),
                        std::back_inserter(withoutRewriter));
    std::set_difference(listed.begin(), listed.end(), records.begin(), records.end(),
                        std::back_inserter(notThere));
    EXPECT_EQ(withoutRewriter, std::vector<fs::path>{}) << "records no registered kind lists";
    EXPECT_EQ(notThere, std::vector<fs::path>{});
    for (const fs::path &file :
         {ServerTlsRecordPath(), MailboxRecordPath(), SendJournalPath(), SendProgressPath(),
          SendLogPath("A", result.startTime), SenderAccountPath("B"), DestinationListPath("other")})
        EXPECT_EQ(records.count(file), 1u) << file;
    for (const fs::path &file :
         {fs::path("settings.ini"), fs::path("html.txt"), fs::path("Signature/sig01.dat"),
          fs::path("work/Preview_work.html"), fs::path("work/AppendedImage/a.pdf"),
          SendLogPictureFolder("A", result.startTime).lexically_relative(DataFolder()) /
              "logo.png"})
        EXPECT_NE(std::find(plain.begin(), plain.end(), file), plain.end()) << file;
}

} // namespace
