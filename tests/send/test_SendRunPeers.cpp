// Whole runs through the real transport: to a real SMTP server (aiosmtpd)
// that refuses one recipient, and to a port where nothing listens.
#include "SendRunFixture.h"

#include "peers/MailPeers.h"
#include "send/MailTransport.h"
#include "senders/SenderAccount.h"

#include <chrono>
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
    }
    static void TearDownTestSuite()
    {
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
        return RunSend(job, {}, stop, options);
    }

    static inline PeerFolder *folder_ = nullptr;
    static inline TestCertificates *certificates_ = nullptr;
    static inline SmtpPeer *smtp_ = nullptr;
    static inline SmtpPeer *startTls_ = nullptr;
    static inline SmtpPeer *slow_ = nullptr;
};

TEST_F(SendRunPeersTest, TheServerGetsEveryMailButTheRefusedOne)
{
    const RunSendResult result = RunForReal(Job({"three"}));

    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(result.sentCount, 2);
    const std::vector<SmtpPeerSession> sessions = smtp_->WaitForSessions(3);
    ASSERT_EQ(sessions.size(), 3u);
    for (int i : {0, 2}) {
        SCOPED_TRACE(i);
        const std::string id = "p" + std::to_string(i + 1);
        ASSERT_EQ(sessions[i].mails.size(), 1u);
        EXPECT_EQ(sessions[i].mails[0].from, "a@sender.jp");
        EXPECT_EQ(sessions[i].mails[0].recipients, std::vector<std::string>{id + "@example.jp"});
        EXPECT_NE(sessions[i].mails[0].data.find("Dear " + id + ", code " + id + "-m1"),
                  std::string::npos);
    }
    EXPECT_EQ(sessions[1].refused, std::vector<std::string>{"p2@example.jp"});
    EXPECT_TRUE(sessions[1].mails.empty());
    EXPECT_NE(result.firstFailure.find("p2@example.jp"), std::string::npos);
    EXPECT_EQ(ListOf(result.failedListName), std::vector<Recipient>{People("p", 3)[1]});
    EXPECT_EQ(LogOf("A", result).fields[2], "2");
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
// reason, and the run goes on to the next mail.
TEST_F(SendRunPeersTest, AServerThatHidItsStartTlsGetsNoPasswordAndTheRunGoesOn)
{
    const ScopedCaFile ca(certificates_->CaFile());
    const StripRelay relay(folder_->Path(), StripRelay::Protocol::Smtp, startTls_->Port(), 1);
    SendThrough(relay.Port(), true);

    const RunSendResult result = RunForReal(Job({"three"}));

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

} // namespace
