// Whole runs through the real transport: to a real SMTP server (aiosmtpd)
// that refuses one recipient, and to a port where nothing listens.
#include "SendRunFixture.h"

#include "peers/MailPeers.h"
#include "send/MailTransport.h"
#include "senders/SenderAccount.h"

using namespace vostrel;
using namespace vostrel::test;

namespace {

class SendRunPeersTest : public SendRunTest
{
protected:
    static void SetUpTestSuite()
    {
        folder_ = new PeerFolder;
        smtp_ = new SmtpPeer(folder_->Path(), SmtpPeerOptions().Refuse("p2@example.jp"));
    }
    static void TearDownTestSuite()
    {
        delete smtp_;
        delete folder_;
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

    static PeerFolder *folder_;
    static SmtpPeer *smtp_;
};

PeerFolder *SendRunPeersTest::folder_ = nullptr;
SmtpPeer *SendRunPeersTest::smtp_ = nullptr;

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

} // namespace
