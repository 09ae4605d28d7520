// Whole runs over the real SMTP dialogue against the fault-injecting
// transport: a refused recipient, a connection dropped in the middle of a
// mail, a server that cannot be reached or does not answer, and checks that
// fail a mail before connecting.
#include "SendRunFixture.h"

#include "FaultTransport.h"
#include "senders/SenderAccount.h"

using namespace vostrel;
using namespace vostrel::test;

namespace {

const TransportTimeouts kShort = TransportTimeouts::All(200);

class SendRunWireTest : public SendRunTest
{
protected:
    void SetUp() override
    {
        SendRunTest::SetUp();
        AddWireAccount("A", "smtp.a.jp");
        AddWireAccount("B", "smtp.b.jp");
        AddList("three", People("p", 3));
    }

    void AddWireAccount(const std::string &name, const std::string &host,
                        const std::string &port = "25")
    {
        SenderAccount account;
        account.ConfName = name;
        account.SMTPAddress = host;
        account.SMTPPort = port;
        account.FromAddress = "from@" + host;
        WriteSenderAccount(SenderAccountPath(name), account);
    }

    RunSendResult RunOverWire(const SendJob &job)
    {
        RunSendOptions options;
        options.transport = &wire;
        options.timeouts = kShort;
        return RunSend(job, {}, stop, options);
    }

    static std::vector<std::string> Addresses(const std::vector<Recipient> &people)
    {
        std::vector<std::string> out;
        for (const Recipient &r : people)
            out.push_back(r.Address());
        return out;
    }

    FaultTransport wire;
};

TEST_F(SendRunWireTest, EveryMailTravelsOnItsOwnConnectionFromItsAccount)
{
    SendJob job = Job({"three"});
    job.senderNames = {"A", "B"};

    const RunSendResult result = RunOverWire(job);

    EXPECT_EQ(result.outcome, SendOutcome::Finished);
    const std::vector<WireSession> sessions = wire.SmtpSessions();
    ASSERT_EQ(sessions.size(), 3u);
    const char *hosts[] = {"smtp.a.jp", "smtp.b.jp", "smtp.a.jp"};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sessions[i].host, hosts[i]);
        EXPECT_EQ(sessions[i].port, 25);
        EXPECT_EQ(sessions[i].mailFrom, std::string("from@") + hosts[i]);
        EXPECT_EQ(sessions[i].recipients,
                  std::vector<std::string>{"p" + std::to_string(i + 1) + "@example.jp"});
        EXPECT_TRUE(sessions[i].delivered);
        EXPECT_EQ(sessions[i].timeouts.replyMs, kShort.replyMs);
        EXPECT_NE(sessions[i].data.find("Dear p" + std::to_string(i + 1)), std::string::npos);
    }
    EXPECT_TRUE(wire.AllClosed());
}

TEST_F(SendRunWireTest, ARefusedRecipientFailsItsMailAndIsStored)
{
    wire.RefuseRecipient("p2@example.jp", 0, "550 5.1.1 <p2@example.jp>: unknown user");

    const RunSendResult result = RunOverWire(Job({"three"}));

    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(result.sentCount, 2);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].position, 2);
    EXPECT_NE(result.firstFailure.find("smtp.a.jp:25"), std::string::npos);
    EXPECT_NE(result.firstFailure.find("550 5.1.1 <p2@example.jp>: unknown user"),
              std::string::npos);
    EXPECT_EQ(wire.Delivered().size(), 2u);
    EXPECT_EQ(ListOf(result.failedListName), std::vector<Recipient>{People("p", 3)[1]});
    EXPECT_TRUE(wire.AllClosed());
}

TEST_F(SendRunWireTest, OneRefusedRecipientFailsAWholePerListMail)
{
    AddList("other", People("q", 2));
    wire.RefuseRecipient("p3@example.jp");
    SendJob job = Job({"three", "other"});
    job.sendIndividually = false;

    const RunSendResult result = RunOverWire(job);

    EXPECT_EQ(result.sentCount, 1);
    ASSERT_EQ(wire.Delivered().size(), 1u);
    EXPECT_EQ(wire.Delivered()[0].recipients, Addresses(People("q", 2)));
    EXPECT_EQ(ListOf(result.failedListName), People("p", 3));
}

TEST_F(SendRunWireTest, AConnectionDroppedInTheMiddleOfAMailFailsOnlyThatMail)
{
    wire.Add(Fault(WireStep::DataContent, FaultKind::Drop).OnTransaction(2).AfterBytes(40));

    const RunSendResult result = RunOverWire(Job({"three"}));

    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(result.sentCount, 2);
    // The first connection carried mails 1 and 2; mail 3 went on a new one.
    const std::vector<WireSession> sessions = wire.SmtpSessions();
    ASSERT_EQ(sessions.size(), 2u);
    ASSERT_EQ(sessions[0].mails.size(), 2u);
    EXPECT_TRUE(sessions[0].mails[0].delivered);
    EXPECT_FALSE(sessions[0].mails[1].delivered);
    ASSERT_EQ(sessions[1].mails.size(), 1u);
    EXPECT_TRUE(sessions[1].mails[0].delivered);
    EXPECT_NE(result.firstFailure.find("smtp.a.jp:25"), std::string::npos);
    EXPECT_EQ(ListOf(result.failedListName), std::vector<Recipient>{People("p", 3)[1]});
    EXPECT_TRUE(wire.AllClosed());
}

TEST_F(SendRunWireTest, AServerThatCannotBeReachedFailsEveryMail)
{
    wire.RefuseAt(WireStep::Connect);

    const RunSendResult result = RunOverWire(Job({"three"}));

    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(result.sentCount, 0);
    EXPECT_EQ(result.failures.size(), 3u);
    EXPECT_EQ(ListOf(result.failedListName), People("p", 3));
    const std::vector<std::string> log = RawFields(SendLogPath("A", result.startTime));
    EXPECT_EQ(log[2], "0");
    EXPECT_EQ(log[3], "3");
}

TEST_F(SendRunWireTest, AServerThatStopsAnsweringFailsTheMailAfterTheTimeOut)
{
    wire.SilentAt(WireStep::EndOfData, 1);

    const RunSendResult result = RunOverWire(Job({"three"}));

    EXPECT_EQ(result.sentCount, 2);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].position, 1);
    EXPECT_EQ(ListOf(result.failedListName), std::vector<Recipient>{People("p", 3)[0]});
}

TEST_F(SendRunWireTest, APortThatIsNotANumberFailsTheMailsOfThatAccountBeforeConnecting)
{
    AddWireAccount("B", "smtp.b.jp", "2a5");
    SendJob job = Job({"three"});
    job.senderNames = {"A", "B"};

    const RunSendResult result = RunOverWire(job);

    EXPECT_EQ(result.sentCount, 2);
    EXPECT_EQ(wire.SmtpSessions().size(), 2u);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].position, 2);
    EXPECT_NE(result.firstFailure.find("2a5"), std::string::npos);
    EXPECT_EQ(ListOf(result.failedListName), std::vector<Recipient>{People("p", 3)[1]});
}

} // namespace
