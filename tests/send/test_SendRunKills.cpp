// A send run of 300 mails to a real SMTP server that records what it
// received, killed with SIGKILL (a real child process) at fifty points: in
// every part of the SMTP dialogue, before the first mail, in the bookkeeping
// of a stopped run, and again while the next start accounts for it. After
// each kill the next start's accounting runs, and the list of those not yet
// mailed is sent on, killed again, and so on until everybody is through.
#include "SendRunFixture.h"
#include "SendTestUtil.h"

#include "peers/MailPeers.h"
#include "send/MailTransport.h"
#include "send/SendJournal.h"
#include "send/SendRecovery.h"
#include "senders/SenderAccount.h"

#include <QProcess>
#include <algorithm>
#include <map>
#include <set>

using namespace vostrel;
using namespace vostrel::test;

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kRefused = {"r17@example.jp", "r150@example.jp", "r299@example.jp"};

// Where a cycle's child is stopped and killed.
struct Cycle
{
    long killOp = 0;               // the transport call it dies before (0: none)
    long stopOp = 0;               // the transport call that sets the stop flag
    std::string killStep = "-";    // the bookkeeping step it dies at
    std::string recoverStep = "-"; // a second child dies there while accounting
};

// Fifty cycles; a transport call is one of about 8 per mail on a kept
// connection (about 10 more open it).
Cycle CycleOf(int i)
{
    static const char *const kRunSteps[] = {"ended", "logs", "lists", "remove"};
    static const char *const kRecoverSteps[] = {"logs", "lists", "remove"};
    const long op = 1 + (i * 53) % 97;
    switch (i % 10) {
    case 3:
        return {0, 0, "begun", "-"};
    case 6:
        return {0, op, kRunSteps[(i / 10) % 4], "-"};
    case 8:
        return {op, 0, "-", kRecoverSteps[(i / 10) % 3]};
    default:
        return {op, 0, "-", "-"};
    }
}

class SendRunKillTest : public SendRunTest
{
protected:
    static void SetUpTestSuite()
    {
        folder_ = new PeerFolder;
        SmtpPeerOptions options;
        for (const std::string &address : kRefused)
            options.Refuse(address);
        smtp_ = new SmtpPeer(folder_->Path(), options);
    }
    static void TearDownTestSuite()
    {
        delete smtp_;
        delete folder_;
    }

    void SetUp() override
    {
        SendRunTest::SetUp();
        SenderAccount account = smtp_->Account();
        account.ConfName = "A";
        account.FromAddress = "a@sender.jp";
        WriteSenderAccount(SenderAccountPath("A"), account);
    }

    // Runs the child; true when it was killed. A run that ended gives its
    // start time.
    static bool RunChild(const QStringList &args, std::string *start = nullptr)
    {
        QProcess process;
        process.start(QStringLiteral(VOSTREL_BINARY_DIR "/tests/send/send_run_child"), args);
        EXPECT_TRUE(process.waitForFinished(60000));
        const std::string out = process.readAllStandardOutput().toStdString();
        if (process.exitStatus() == QProcess::CrashExit)
            return true;
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        if (start && out.starts_with("start "))
            *start = FromHex(out.substr(6, out.find('\n') - 6));
        return false;
    }

    // The addresses the server received since the last call, in order. A
    // mail of the test's own closes the stretch: once the server has recorded
    // it, every connection the child had is recorded too.
    std::vector<std::string> ReceivedSinceLastTime(int cycle)
    {
        const std::string marker = "marker" + std::to_string(cycle) + "@test.jp";
        const DeliveryResult sent =
            DeliverMail(RealTransport(), smtp_->Account(),
                        OutgoingMail{marker, {"m@test.jp"}, "m\r\n"}, {5000, 5000});
        EXPECT_TRUE(sent.ok) << sent.reason;
        const auto sessions = smtp_->WaitForSession([&](const SmtpPeerSession &s) {
            return !s.mails.empty() && s.mails[0].from == marker;
        });
        std::vector<std::string> received;
        if (!sessions) {
            ADD_FAILURE() << "the server never recorded " << marker;
            return received;
        }
        for (; seen_ < sessions->size(); ++seen_) {
            const SmtpPeerSession &session = (*sessions)[seen_];
            if (!session.mails.empty() && session.mails[0].from == marker) {
                ++seen_;
                break;
            }
            for (const SmtpReceivedMail &mail : session.mails)
                received.insert(received.end(), mail.recipients.begin(), mail.recipients.end());
        }
        return received;
    }

    std::vector<Recipient> ListIfAny(const std::string &name)
    {
        return fs::exists(DestinationListPath(name)) ? ListOf(name) : std::vector<Recipient>{};
    }

    std::size_t seen_ = 0;
    static PeerFolder *folder_;
    static SmtpPeer *smtp_;
};

PeerFolder *SendRunKillTest::folder_ = nullptr;
SmtpPeer *SendRunKillTest::smtp_ = nullptr;

TEST_F(SendRunKillTest, KilledAtFiftyPointsNobodyIsLostAndOnlyTheMailInFlightCanGoTwice)
{
    smtp_->ClearSessions();
    std::vector<Recipient> planned = People("r", 300);
    AddList("all", planned);
    std::string list = "all";
    const QString data = QString::fromStdString(DataFolder().string());
    std::map<std::string, int> receivedOverall;
    int killed = 0, inFlightReceived = 0, inFlightLost = 0, accountingKilled = 0;

    // Fifty cycles with a kill, then one to the end.
    for (int i = 0; i <= 50 && !planned.empty(); ++i) {
        const Cycle c = i < 50 ? CycleOf(i) : Cycle{};
        SCOPED_TRACE("cycle " + std::to_string(i) + ": kill op " + std::to_string(c.killOp) +
                     ", stop op " + std::to_string(c.stopOp) + ", kill step " + c.killStep +
                     ", accounting killed at " + c.recoverStep + "; " +
                     std::to_string(planned.size()) + " planned");
        std::string start;
        const bool died = RunChild({data, QStringLiteral("send"), QString::fromStdString(list),
                                    QString::number(c.killOp), QString::number(c.stopOp),
                                    QString::fromStdString(c.killStep)},
                                   &start);
        if (died && c.recoverStep != "-") {
            EXPECT_TRUE(
                RunChild({data, QStringLiteral("recover"), QString::fromStdString(c.recoverStep)}));
            ++accountingKilled;
        }
        const std::vector<std::string> received = ReceivedSinceLastTime(i);

        // The next start.
        SendRecoveryReport report;
        if (died) {
            ++killed;
            ASSERT_TRUE(SendJournalPending());
            report = RecoverInterruptedSend();
            ASSERT_EQ(report.kind, SendRecoveryReport::Kind::Finished);
            EXPECT_TRUE(report.message.starts_with("前回の送信は途中で終了しました。"));
            EXPECT_FALSE(report.journalKept);
            start = report.run.startTime;
        }
        EXPECT_FALSE(SendJournalPending());
        ASSERT_FALSE(start.empty());
        const std::string failedName = start + S("_送信失敗");
        const std::string unsentName = start + S("_未送信");
        const std::vector<Recipient> failed = ListIfAny(failedName);
        const std::vector<Recipient> unsent = ListIfAny(unsentName);
        const std::string inFlight = report.run.interruptedMailTo;

        // Every recipient planned is in exactly one of: received, failed,
        // unsent; the one whose mail was on its way may be received and
        // unsent; nobody else is anywhere.
        std::map<std::string, int> places;
        for (const std::string &address : received)
            ++places[address];
        for (const auto *kept : {&failed, &unsent})
            for (const Recipient &r : *kept)
                ++places[r.Address()];
        const bool inFlightWasReceived =
            !inFlight.empty() && std::count(received.begin(), received.end(), inFlight) == 1;
        std::size_t expectedPlaces = 0;
        for (const Recipient &r : planned) {
            const int want = r.Address() == inFlight && inFlightWasReceived ? 2 : 1;
            EXPECT_EQ(places[r.Address()], want) << r.Address();
            expectedPlaces += static_cast<std::size_t>(want);
        }
        EXPECT_EQ(received.size() + failed.size() + unsent.size(), expectedPlaces);
        for (const Recipient &r : failed)
            EXPECT_NE(std::find(kRefused.begin(), kRefused.end(), r.Address()), kRefused.end());
        // Those not mailed are the last ones planned, in order.
        ASSERT_LE(unsent.size(), planned.size());
        EXPECT_EQ(unsent,
                  std::vector<Recipient>(planned.end() - static_cast<std::ptrdiff_t>(unsent.size()),
                                         planned.end()));
        if (!inFlight.empty()) {
            ASSERT_FALSE(unsent.empty());
            EXPECT_EQ(unsent.front().Address(), inFlight);
            (inFlightWasReceived ? inFlightReceived : inFlightLost)++;
        }
        // The log counts what the server received, less the mail in flight.
        const SendLog log = ReadSendLog(SendLogPath("A", start));
        EXPECT_EQ(log.fields[2], std::to_string(received.size() - (inFlightWasReceived ? 1 : 0)));
        EXPECT_EQ(log.fields[3], std::to_string(planned.size()));

        for (const std::string &address : received)
            ++receivedOverall[address];
        if (!failed.empty()) {
            ASSERT_TRUE(DeleteDestinationList(failedName));
        }
        planned = unsent;
        if (!unsent.empty()) {
            // Under a name of its own: the next run may start within the
            // same second and name its lists the same.
            list = "cycle" + std::to_string(i + 1);
            ASSERT_TRUE(RenameDestinationList(unsentName, list));
        }
    }

    EXPECT_TRUE(planned.empty()) << planned.size() << " never mailed";
    // In the end everybody got the mail but those refused; twice only where
    // a mail was on its way at a kill and arrived.
    int extra = 0;
    for (const Recipient &r : People("r", 300)) {
        const bool refused =
            std::find(kRefused.begin(), kRefused.end(), r.Address()) != kRefused.end();
        const int times = receivedOverall[r.Address()];
        if (refused)
            EXPECT_EQ(times, 0) << r.Address();
        else
            EXPECT_GE(times, 1) << r.Address();
        extra += std::max(times - 1, 0);
    }
    EXPECT_EQ(extra, inFlightReceived);
    EXPECT_GE(killed, 45);
    EXPECT_GT(inFlightReceived, 0);
    EXPECT_GT(inFlightLost, 0);
    EXPECT_GT(accountingKilled, 0);
}

} // namespace
