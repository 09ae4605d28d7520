// Whole runs over the real SMTP dialogue against the fault-injecting
// transport: a refused recipient, a connection dropped in the middle of a
// mail, a server that cannot be reached or does not answer, and checks that
// fail a mail before connecting.
#include "SendRunFixture.h"

#include "FaultTransport.h"
#include "senders/SenderAccount.h"

#include <functional>

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
        options.waiter = &waiter;
        SendProgressSink sink;
        sink.onWaiting = [this](const std::string &text) { waitTexts.push_back(text); };
        return RunSend(job, sink, stop, options);
    }

    // Records the waits instead of waiting; onWait may act on each.
    struct RecordingWaiter : SendWaiter
    {
        void Wait(int ms, const std::atomic<bool> &) override
        {
            waits.push_back(ms);
            if (onWait)
                onWait(ms);
        }
        std::vector<int> waits;
        std::function<void(int ms)> onWait;
    };

    // The waits that were more than the pause after a mail.
    std::vector<int> RetryWaits() const
    {
        std::vector<int> out;
        for (int ms : waiter.waits)
            if (ms > 0)
                out.push_back(ms);
        return out;
    }

    static std::vector<std::string> Addresses(const std::vector<Recipient> &people)
    {
        std::vector<std::string> out;
        for (const Recipient &r : people)
            out.push_back(r.Address());
        return out;
    }

    FaultTransport wire;
    RecordingWaiter waiter;
    std::vector<std::string> waitTexts;
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

TEST_F(SendRunWireTest, ConsecutiveMailsOfAnAccountShareAConnection)
{
    AddList("five", People("q", 5));
    SendJob job = Job({"five"});
    job.senderNames = {"A", "B"};
    job.senderSwitchEvery = 2;

    const RunSendResult result = RunOverWire(job);

    EXPECT_EQ(result.sentCount, 5);
    std::vector<std::pair<std::string, std::size_t>> connections;
    for (const WireSession &s : wire.SmtpSessions()) {
        connections.emplace_back(s.host, s.mails.size());
        EXPECT_EQ(s.commands.back(), "QUIT");
    }
    EXPECT_EQ(connections, (std::vector<std::pair<std::string, std::size_t>>{
                               {"smtp.a.jp", 2}, {"smtp.b.jp", 2}, {"smtp.a.jp", 1}}));
    EXPECT_TRUE(wire.AllClosed());
}

// A pause of more than ten seconds after each mail: every mail on its own
// connection, closed before the pause.
TEST_F(SendRunWireTest, APauseOfMoreThanTenSecondsEndsTheConnectionBeforeIt)
{
    for (const int interval : {10000, 10001}) {
        SCOPED_TRACE(interval);
        wire.ClearSessions();
        SendJob job = Job({"three"});
        job.intervalMs = interval;
        waiter.onWait = [&](int) { EXPECT_EQ(wire.AllClosed(), interval > 10000); };

        EXPECT_EQ(RunOverWire(job).sentCount, 3);
        EXPECT_EQ(wire.SmtpSessions().size(), interval > 10000 ? 3u : 1u);
        EXPECT_EQ(waiter.waits, std::vector<int>(3, interval));
        waiter.waits.clear();
    }
}

// A 4xx reply to MAIL FROM, n times in a row: the mail is tried again after
// 30, 60 and 120 s, each wait announced; a fourth refusal fails it.
TEST_F(SendRunWireTest, ATemporaryRefusalIsTriedAgainAfterTheWaits)
{
    const std::string reason =
        "smtp.a.jp:25: MAIL FROM:<from@smtp.a.jp> に失敗しました: 451 4.7.1 Try again later";
    const std::vector<int> all{30000, 60000, 120000};
    for (const int refusals : {1, 3, 4}) {
        SCOPED_TRACE(refusals);
        wire.ClearSessions();
        waiter.waits.clear();
        waitTexts.clear();
        // Faults add up over the rounds: round k refuses transactions 1..k.
        for (int t = 1; t <= refusals; ++t)
            wire.Add(Fault(WireStep::MailFrom)
                         .Reply("451 4.7.1 Try again later")
                         .OnTransaction(t)
                         .OnHost("smtp.a.jp"));

        const RunSendResult result = RunOverWire(Job({"three"}));

        const auto tries = static_cast<std::size_t>(std::min(refusals, 3));
        EXPECT_EQ(RetryWaits(), std::vector<int>(all.begin(), all.begin() + tries));
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < tries; ++i) {
            texts.push_back("サーバーが一時的に受け付けません。" + std::to_string(all[i] / 1000) +
                            " 秒後に再送します（" + std::to_string(i + 1) + "/3）: " + reason);
            texts.push_back("");
        }
        EXPECT_EQ(waitTexts, texts);
        EXPECT_EQ(result.sentCount, refusals == 4 ? 2 : 3);
        if (refusals == 4) {
            ASSERT_EQ(result.failures.size(), 1u);
            EXPECT_EQ(result.failures[0].position, 1);
            EXPECT_EQ(result.failures[0].reason, reason);
        }
        // Every try on a connection of its own: the wait is longer than a
        // server keeps one open.
        EXPECT_EQ(wire.SmtpSessions().size(), tries + 1);
        EXPECT_TRUE(wire.AllClosed());
    }
}

TEST_F(SendRunWireTest, APermanentRefusalFailsAtOnce)
{
    wire.Add(Fault(WireStep::MailFrom).Reply("550 5.7.1 Not allowed").OnTransaction(1));

    const RunSendResult result = RunOverWire(Job({"three"}));

    EXPECT_EQ(result.sentCount, 2);
    EXPECT_EQ(RetryWaits(), std::vector<int>{});
    EXPECT_TRUE(waitTexts.empty());
}

// The stop during the wait ends it at once: the mail is neither sent nor
// failed and heads the unsent list with the rest.
TEST_F(SendRunWireTest, TheStopEndsTheWaitAndTheMailIsUnsent)
{
    wire.RefuseAt(WireStep::Greeting, 1, "421 4.7.0 Try again later");
    waiter.onWait = [&](int ms) {
        if (ms == 30000)
            stop = true;
    };

    const RunSendResult result = RunOverWire(Job({"three"}));

    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.attempted, 0);
    EXPECT_TRUE(result.failures.empty());
    EXPECT_EQ(RetryWaits(), std::vector<int>{30000});
    EXPECT_EQ(ListOf(result.unsentListName), People("p", 3));
    EXPECT_EQ(wire.SmtpSessions().size(), 1u);
}

} // namespace
