// The journal of a send run and what it is for: a stopped run keeps the
// recipients it did not get to as a list, and a run that the end of the
// program cut short is accounted for at the next start from its journal,
// also after a password change, a torn or damaged journal, or one that cannot
// be read at all; a restore waits for it.
#include "SendRunFixture.h"

#include "core/AtomicFile.h"
#include "core/Backup.h"
#include "core/DataFolder.h"
#include "core/Password.h"
#include "core/Reencrypt.h"
#include "core/SjisCodec.h"
#include "send/SendJournal.h"
#include "send/SendLogRekey.h"
#include "send/SendRecovery.h"
#include "senders/SenderAccount.h"

#include <csignal>
#include <map>
#include <regex>
#include <sys/resource.h>

using namespace vostrel;
using namespace vostrel::test;

namespace {

namespace fs = std::filesystem;

DeliveryResult Refused(const std::string &why)
{
    return DeliveryResult{false, why};
}

std::vector<Recipient> Join(std::initializer_list<std::vector<Recipient>> parts)
{
    std::vector<Recipient> all;
    for (const std::vector<Recipient> &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<Recipient> Slice(const std::vector<Recipient> &people, std::size_t from, std::size_t to)
{
    return std::vector<Recipient>(people.begin() + static_cast<std::ptrdiff_t>(from),
                                  people.begin() + static_cast<std::ptrdiff_t>(to));
}

// Every file under the data folder with its bytes.
std::map<fs::path, std::string> FilesUnder(const fs::path &folder)
{
    std::map<fs::path, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path()] = ReadBytes(entry.path());
    return files;
}

class SendJournalTest : public SendRunTest
{
protected:
    void SetUp() override
    {
        SendRunTest::SetUp();
        AddAccount("A", "a@sender.jp");
        AddAccount("B", "b@sender.jp");
    }
    void TearDown() override
    {
        SetSendJournalStepHook({});
        SendRunTest::TearDown();
    }

    // Copies the journal's files aside as they are now: what a crash at this
    // moment would leave.
    void TakeCrash()
    {
        fs::create_directories(Aside());
        fs::copy_file(SendJournalPath(), Aside() / "plan", fs::copy_options::overwrite_existing);
        fs::copy_file(SendProgressPath(), Aside() / "progress",
                      fs::copy_options::overwrite_existing);
    }

    // After the run: takes back what the run wrote at its end and puts the
    // journal of the crash back, as if the program had died at that moment.
    void Crash(const RunSendResult &result)
    {
        ASSERT_TRUE(fs::exists(Aside() / "plan")) << "no crash was taken";
        for (const char *account : {"A", "B"}) {
            fs::remove(SendLogPath(account, result.startTime));
            fs::remove_all(SendLogPictureFolder(account, result.startTime));
        }
        for (const std::string &list : {result.failedListName, result.unsentListName}) {
            if (!list.empty()) {
                ASSERT_TRUE(DeleteDestinationList(list));
            }
        }
        fs::copy_file(Aside() / "plan", SendJournalPath());
        fs::copy_file(Aside() / "progress", SendProgressPath());
    }

    // Runs the job and has it crash while mail n is on its way.
    RunSendResult RunAndCrashAt(const SendJob &job, int n,
                                std::function<DeliveryResult(int)> answer = {})
    {
        recorder.answer = [this, n, answer](int m, const DeliveredMail &) {
            if (m == n)
                TakeCrash();
            return answer ? answer(m) : DeliveryResult{true, {}};
        };
        const RunSendResult result = Run(job);
        Crash(result);
        return result;
    }

    fs::path Aside() const { return TempDir() / "crash"; }

    // The texts of the progress entries now on disk.
    static std::vector<std::string> Entries(const std::string &key = std::string(DefaultKey))
    {
        return RawFields(SendProgressPath(), key);
    }

    static std::string TimeOfLastEntry()
    {
        const std::string last = Entries().back();
        const std::size_t third = last.find('\t', last.find('\t', 17) + 1);
        const long long time = std::stoll(last.substr(third + 1));
        return SendTimeText(std::chrono::system_clock::time_point(std::chrono::seconds(time)),
                            true);
    }
};

// ---- the journal of a run ----

TEST_F(SendJournalTest, ThePlanIsWrittenOnceAndEveryMailAddsOneEntryUntilTheRunEnds)
{
    AddList("five", People("p", 5));
    AddList("cc", People("c", 1), {false, true, false});
    SendJob job = Job({"five"});
    job.ccLists = {"cc"};
    std::vector<std::string> plan, entries;
    recorder.answer = [&](int n, const DeliveredMail &) {
        if (n == 4) {
            plan = RawFields(SendJournalPath());
            entries = Entries();
        }
        return n == 2 ? Refused("550 no") : DeliveryResult{true, {}};
    };

    const RunSendResult result = Run(job);

    ASSERT_EQ(plan.size(), 24u);
    const std::regex hex16("[0-9a-f]{16}");
    const std::string id = plan[1];
    EXPECT_TRUE(std::regex_match(id, hex16)) << id;
    EXPECT_TRUE(std::regex_match(plan[3], std::regex("[0-9]{10,}"))) << plan[3];
    EXPECT_TRUE(std::regex_match(plan[5], hex16)) << plan[5];
    const std::vector<std::string> expected = {"VOSTREL-SEND-JOURNAL 1",
                                               id,
                                               result.startTime,
                                               plan[3],
                                               "5",
                                               plan[5],
                                               "1",
                                               "A",
                                               "1",
                                               "-1",
                                               "1",
                                               "five",
                                               "1",
                                               "cc",
                                               "0",
                                               "0",
                                               "0",
                                               job.subject,
                                               job.body,
                                               "0",
                                               "0",
                                               "0",
                                               "0",
                                               "END"};
    EXPECT_EQ(plan, expected);

    ASSERT_EQ(entries.size(), 3u);
    const std::string time = "\t[0-9]{10,}";
    EXPECT_TRUE(std::regex_match(entries[0], std::regex(id + "\tS\t1" + time))) << entries[0];
    EXPECT_TRUE(std::regex_match(entries[1], std::regex(id + "\tF\t2" + time + "\t550 no")))
        << entries[1];
    EXPECT_TRUE(std::regex_match(entries[2], std::regex(id + "\tS\t3" + time))) << entries[2];

    EXPECT_FALSE(fs::exists(SendJournalPath()));
    EXPECT_FALSE(fs::exists(SendProgressPath()));
    EXPECT_FALSE(SendJournalPending());
}

TEST_F(SendJournalTest, ADigestOfTheRecipientsGoesIntoThePlanOnlyInIndividualSending)
{
    AddList("two", People("p", 2));
    SendJob job = Job({"two"});
    std::map<bool, std::string> digests;
    for (bool individually : {true, false}) {
        job.sendIndividually = individually;
        recorder.answer = [&](int, const DeliveredMail &) {
            digests[individually] = RawFields(SendJournalPath())[5];
            return DeliveryResult{true, {}};
        };
        Run(job);
    }
    RecipientDigest digest;
    for (const Recipient &r : People("p", 2))
        for (const std::string &field : r.fields)
            digest.Add(field);
    EXPECT_EQ(digests[true], digest.Hex());
    EXPECT_EQ(digests[false], "");
}

// ---- a stop ----

struct StopCase
{
    const char *what;
    bool individually;
    bool viaBcc;
    int stopDuring; // the mail during which the stop button is pressed
};

void PrintTo(const StopCase &c, std::ostream *os)
{
    *os << c.what;
}

class StopListTest : public SendJournalTest, public testing::WithParamInterface<StopCase>
{};

// Lists of 2, 3 and 2: individual sending stopped during mail 2 and per-list
// sending stopped during mail 1 both leave the last two lists unsent.
TEST_P(StopListTest, TheRecipientsNotMailedBecomeAListForTheMainField)
{
    const StopCase &c = GetParam();
    const SendType kind = c.viaBcc ? SendType{false, false, true} : SendType{true, false, false};
    AddList("L1", People("x", 2), kind);
    AddList("L2", People("y", 3), kind);
    AddList("L3", People("z", 2), kind);
    AddList("cc", People("c", 1), {false, true, false});
    SendJob job = Job();
    (c.viaBcc ? job.bccLists : job.toLists) = {"L1", "L2", "L3"};
    job.ccLists = {"cc"};
    job.sendIndividually = c.individually;
    recorder.answer = [&](int n, const DeliveredMail &) {
        if (n == c.stopDuring)
            stop = true;
        return DeliveryResult{true, {}};
    };

    const RunSendResult result = Run(job);

    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.outcome, SendOutcome::Finished);
    EXPECT_EQ(result.sentCount, c.stopDuring);
    EXPECT_EQ(result.unsentListName, result.startTime + S("_未送信"));
    EXPECT_EQ(result.unsentCount, 5);
    EXPECT_EQ(ListOf(result.unsentListName), Join({People("y", 3), People("z", 2)}));
    const std::vector<std::string> raw = RawFields(DestinationListPath(result.unsentListName));
    const std::vector<std::string> flags = c.viaBcc ? std::vector<std::string>{"0", "0", "-1", "5"}
                                                    : std::vector<std::string>{"-1", "0", "0", "5"};
    EXPECT_EQ(std::vector<std::string>(raw.begin(), raw.begin() + 4), flags);
    EXPECT_TRUE(result.failedListName.empty());
    EXPECT_FALSE(SendJournalPending());
}

INSTANTIATE_TEST_SUITE_P(Modes, StopListTest,
                         testing::Values(StopCase{"IndividualTo", true, false, 2},
                                         StopCase{"PerListTo", false, false, 1},
                                         StopCase{"IndividualBcc", true, true, 2},
                                         StopCase{"PerListBcc", false, true, 1}),
                         [](const testing::TestParamInfo<StopCase> &param) {
                             return std::string(param.param.what);
                         });

TEST_F(SendJournalTest, AStopAfterAFailureKeepsTheFailedAndTheUnsentApart)
{
    AddList("four", People("p", 4));
    recorder.answer = [this](int n, const DeliveredMail &) {
        if (n == 2)
            stop = true;
        return n == 1 ? Refused("no") : DeliveryResult{true, {}};
    };

    const RunSendResult result = Run(Job({"four"}));

    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(ListOf(result.failedListName), Slice(People("p", 4), 0, 1));
    EXPECT_EQ(ListOf(result.unsentListName), Slice(People("p", 4), 2, 4));
}

TEST_F(SendJournalTest, AStopAfterTheLastMailOrAFinishedRunLeavesNoUnsentList)
{
    AddList("two", People("p", 2));
    recorder.answer = [this](int n, const DeliveredMail &) {
        if (n == 2)
            stop = true;
        return DeliveryResult{true, {}};
    };
    const RunSendResult result = Run(Job({"two"}));
    EXPECT_TRUE(result.unsentListName.empty());
    EXPECT_EQ(result.unsentCount, 0);
    EXPECT_EQ(ListVslNames(ReceiversFolder()), std::vector<std::string>{"two"});
}

TEST_F(SendJournalTest, AJournalThatCannotBeStartedSendsNothing)
{
    AddList("two", People("p", 2));
    AtomicFile::SetFaultInjector(
        [](const fs::path &target) { return target != SendJournalPath(); });
    const RunSendResult result = Run(Job({"two"}));
    AtomicFile::SetFaultInjector({});

    EXPECT_TRUE(recorder.Mails().empty());
    EXPECT_EQ(result.outcome, SendOutcome::Failed);
    EXPECT_NE(
        result.firstFailure.find("送信の記録を作成できなかったため、送信を始められませんでした"),
        std::string::npos)
        << result.firstFailure;
    EXPECT_NE(result.firstFailure.find(SendJournalPath().string()), std::string::npos);
    EXPECT_FALSE(fs::exists(SendJournalPath()));
    EXPECT_FALSE(fs::exists(SendProgressPath()));
    // Nobody was mailed: everybody is in the unsent list, and the log says 0 of 2.
    EXPECT_EQ(ListOf(result.unsentListName), People("p", 2));
    EXPECT_EQ(LogOf("A", result).fields[2], "0");
}

// A journal that cannot be written any further (here: the process may not
// make the file any larger) ends the run after the mail whose entry it lost;
// the rest become the unsent list.
TEST_F(SendJournalTest, AJournalThatCannotBeWrittenAnyFurtherEndsTheRun)
{
    AddList("six", People("p", 6));
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    recorder.answer = [&](int n, const DeliveredMail &) {
        if (n == 3) {
            rlimit full = before;
            full.rlim_cur = fs::file_size(SendProgressPath());
            ::setrlimit(RLIMIT_FSIZE, &full);
        }
        return DeliveryResult{true, {}};
    };
    SetSendJournalStepHook([&](const std::string &step) {
        if (step == "ended")
            ::setrlimit(RLIMIT_FSIZE, &before);
    });

    const RunSendResult result = Run(Job({"six"}));
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(recorder.Mails().size(), 3u);
    EXPECT_EQ(result.sentCount, 3);
    EXPECT_EQ(result.outcome, SendOutcome::Failed);
    EXPECT_NE(result.firstFailure.find("送信の記録に書き込めなかったため、送信を中断しました"),
              std::string::npos)
        << result.firstFailure;
    EXPECT_NE(result.firstFailure.find(SendProgressPath().string()), std::string::npos);
    EXPECT_EQ(ListOf(result.unsentListName), Slice(People("p", 6), 3, 6));
    EXPECT_EQ(LogOf("A", result).fields[2], "3");
    EXPECT_FALSE(SendJournalPending());
}

TEST_F(SendJournalTest, APendingJournalIsNeverOverwrittenByTheNextRun)
{
    AddList("three", People("p", 3));
    RunAndCrashAt(Job({"three"}), 2);
    const std::map<fs::path, std::string> journal = {
        {SendJournalPath(), ReadBytes(SendJournalPath())},
        {SendProgressPath(), ReadBytes(SendProgressPath())}};
    recorder.answer = {};
    const std::size_t mailed = recorder.Mails().size();

    const RunSendResult result = Run(Job({"three"}));

    EXPECT_EQ(recorder.Mails().size(), mailed);
    EXPECT_NE(result.firstFailure.find("前回の送信の記録が残っているため、送信を始められません"),
              std::string::npos)
        << result.firstFailure;
    for (const auto &[file, bytes] : journal)
        EXPECT_EQ(ReadBytes(file), bytes) << file;
}

// ---- the next start ----

TEST_F(SendJournalTest, TheNextStartStoresTheLogsTheFailedAndTheUnsentOfARunThatDied)
{
    const std::vector<Recipient> eight = People("p", 8);
    AddList("eight", eight);
    AddList("cc", People("c", 2), {false, true, false});
    SendJob job = Job({"eight"});
    job.ccLists = {"cc"};
    job.senderNames = {"A", "B"};
    const RunSendResult live = RunAndCrashAt(job, 7, [](int n) {
        return n == 2 || n == 5 ? Refused("550 refused " + std::to_string(n))
                                : DeliveryResult{true, {}};
    });
    const std::string endTime = TimeOfLastEntry();

    const SendRecoveryReport report = RecoverInterruptedSend();

    ASSERT_EQ(report.kind, SendRecoveryReport::Kind::Finished);
    const RunSendResult &run = report.run;
    EXPECT_EQ(run.startTime, live.startTime);
    EXPECT_EQ(run.endTime, endTime);
    EXPECT_EQ(run.sentCount, 4);
    EXPECT_EQ(run.total, 8);
    EXPECT_EQ(run.attempted, 6);
    EXPECT_EQ(run.interruptedMail, 7);
    EXPECT_EQ(run.interruptedMailTo, "p7@example.jp");
    ASSERT_EQ(run.failures.size(), 2u);
    EXPECT_EQ(run.failures[1].position, 5);
    EXPECT_EQ(run.failures[1].reason, "550 refused 5");
    EXPECT_EQ(ListOf(run.failedListName), (std::vector<Recipient>{eight[1], eight[4]}));
    EXPECT_EQ(ListOf(run.unsentListName), Slice(eight, 6, 8));
    for (const char *account : {"A", "B"}) {
        SCOPED_TRACE(account);
        const SendLog log = LogOf(account, run);
        EXPECT_EQ(log.fields[2], "4");
        EXPECT_EQ(log.fields[3], "8");
        EXPECT_EQ(log.fields[4], live.startTime);
        EXPECT_EQ(log.fields[5], endTime);
        EXPECT_EQ(log.fields[8], "p1@example.jp,p2@example.jp,p3@example.jp,p4@example.jp,"
                                 "p5@example.jp,p6@example.jp");
        EXPECT_EQ(log.fields[9], "c1@example.jp, c2@example.jp");
        EXPECT_EQ(log.fields[11], std::string(account) == "A" ? "a@sender.jp" : "b@sender.jp");
    }
    const std::string start = SjisToUtf8(live.startTime);
    EXPECT_EQ(report.message,
              "前回の送信は途中で終了しました。\r\n開始日時：" + start +
                  "\r\n送信済み：4通 / 8通\r\n送信失敗：2通\r\n未送信：2通\r\n\r\n"
                  "※失敗した宛先を送信リスト「" +
                  start + "_送信失敗」に追加しました\r\n※未送信の宛先を送信リスト「" + start +
                  "_未送信」に追加しました\r\n※7通目（p7@example.jp）は送信の途中で終了したため、"
                  "届いている可能性があります。この宛先も未送信の宛先に含めています");
    EXPECT_FALSE(fs::exists(SendJournalPath()));
    EXPECT_FALSE(fs::exists(SendProgressPath()));
    EXPECT_EQ(RecoverInterruptedSend().kind, SendRecoveryReport::Kind::Nothing);
}

struct ReplayCase
{
    const char *what;
    bool individually;
    bool viaBcc;
    int failing;                   // the mail that fails
    int crashAt;                   // the mail on its way at the crash
    std::vector<Recipient> failed; // the failure list
    std::vector<Recipient> unsent; // the unsent list
    std::string interruptedTo;     // its address or list
    std::string mainLog;           // To or Bcc addresses of the log
};

void PrintTo(const ReplayCase &c, std::ostream *os)
{
    *os << c.what;
}

class ReplayTest : public SendJournalTest, public testing::WithParamInterface<ReplayCase>
{};

// Lists of 2, 3, 2 and 1 recipients.
TEST_P(ReplayTest, TheListsAndLogsComeOutAsTheRunWouldHaveWrittenThem)
{
    const ReplayCase &c = GetParam();
    const SendType kind = c.viaBcc ? SendType{false, false, true} : SendType{true, false, false};
    AddList("L1", People("x", 2), kind);
    AddList("L2", People("y", 3), kind);
    AddList("L3", People("z", 2), kind);
    AddList("L4", People("w", 1), kind);
    SendJob job = Job();
    (c.viaBcc ? job.bccLists : job.toLists) = {"L1", "L2", "L3", "L4"};
    job.sendIndividually = c.individually;
    RunAndCrashAt(job, c.crashAt, [&](int n) {
        return n == c.failing ? Refused("no") : DeliveryResult{true, {}};
    });

    const RunSendResult run = RecoverInterruptedSend().run;

    EXPECT_EQ(run.attempted, c.crashAt - 1);
    EXPECT_EQ(run.sentCount, c.crashAt - 2);
    EXPECT_EQ(ListOf(run.failedListName), c.failed);
    EXPECT_EQ(ListOf(run.unsentListName), c.unsent);
    EXPECT_EQ(run.interruptedMailTo, c.interruptedTo);
    for (const std::string &list : {run.failedListName, run.unsentListName}) {
        const std::vector<std::string> raw = RawFields(DestinationListPath(list));
        EXPECT_EQ(raw[0], c.viaBcc ? "0" : "-1");
        EXPECT_EQ(raw[2], c.viaBcc ? "-1" : "0");
    }
    const SendLog log = LogOf("A", run);
    EXPECT_EQ(log.fields[c.viaBcc ? 10 : 8], c.mainLog);
    EXPECT_EQ(log.fields[c.viaBcc ? 8 : 10], "");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ReplayTest,
    testing::Values(ReplayCase{"PerListTo", false, false, 2, 4, People("y", 3), People("w", 1),
                               S("送信先リスト「L4」"), "z1@example.jp, z2@example.jp"},
                    ReplayCase{"PerListBcc", false, true, 2, 4, People("y", 3), People("w", 1),
                               S("送信先リスト「L4」"), "z1@example.jp, z2@example.jp"},
                    ReplayCase{"IndividualBcc", true, true, 2, 4, Slice(People("x", 2), 1, 2),
                               Join({Slice(People("y", 3), 1, 3), People("z", 2), People("w", 1)}),
                               "y2@example.jp", "x1@example.jp,x2@example.jp,y1@example.jp"}),
    [](const testing::TestParamInfo<ReplayCase> &param) { return std::string(param.param.what); });

// The bookkeeping at the next start is all or nothing as well: a result it
// cannot write keeps the journal for the start after, and the message names
// the file.
TEST_F(SendJournalTest, ARecoveryThatCannotWriteAResultKeepsTheJournalForTheNextStart)
{
    AddList("four", People("p", 4));
    const RunSendResult live = RunAndCrashAt(Job({"four"}), 3);
    const fs::path unsent = DestinationListPath(live.startTime + S("_未送信"));
    AtomicFile::SetFaultInjector([&](const fs::path &target) { return target != unsent; });
    const SendRecoveryReport kept = RecoverInterruptedSend();
    AtomicFile::SetFaultInjector({});

    EXPECT_TRUE(kept.journalKept);
    EXPECT_EQ(kept.run.unwrittenFiles, std::vector<fs::path>{unsent});
    EXPECT_TRUE(SendJournalPending());
    EXPECT_FALSE(fs::exists(unsent));
    const std::string note = "\r\n※送信結果を書き込めなかったため、送信の記録を残しました。"
                             "次回の送信時または起動時に、もう一度処理します\r\n" +
                             unsent.string();
    EXPECT_TRUE(kept.message.ends_with(note)) << kept.message;

    const SendRecoveryReport done = RecoverInterruptedSend();

    EXPECT_EQ(done.kind, SendRecoveryReport::Kind::Finished);
    EXPECT_FALSE(done.journalKept);
    EXPECT_EQ(done.message.find("送信の記録を残しました"), std::string::npos);
    EXPECT_FALSE(SendJournalPending());
    EXPECT_EQ(ListOf(done.run.unsentListName), Slice(People("p", 4), 2, 4));
    EXPECT_EQ(LogOf("A", done.run).fields[2], "2");
}

TEST_F(SendJournalTest, ARunThatDiedDuringItsBookkeepingIsFinishedWithoutAMailInFlight)
{
    AddList("four", People("p", 4));
    SetSendJournalStepHook([this](const std::string &step) {
        if (step == "logs")
            TakeCrash();
    });
    recorder.answer = [this](int n, const DeliveredMail &) {
        if (n == 2)
            stop = true;
        return DeliveryResult{true, {}};
    };
    const RunSendResult live = Run(Job({"four"}));
    SetSendJournalStepHook({});
    Crash(live);

    const SendRecoveryReport report = RecoverInterruptedSend();

    EXPECT_TRUE(report.run.stopped);
    EXPECT_EQ(report.run.interruptedMail, 0);
    EXPECT_EQ(ListOf(report.run.unsentListName), Slice(People("p", 4), 2, 4));
    EXPECT_EQ(LogOf("A", report.run).fields[2], "2");
    EXPECT_EQ(report.message.find("送信の途中で終了したため"), std::string::npos);
    EXPECT_NE(report.message.find("未送信：2通"), std::string::npos);
}

TEST_F(SendJournalTest, ATornLastEntryCostsOnlyThatEntry)
{
    AddList("six", People("p", 6));
    RunAndCrashAt(Job({"six"}), 6);
    const std::string bytes = ReadBytes(SendProgressPath());
    WriteBytes(SendProgressPath(), bytes.substr(0, bytes.size() - 3));

    const SendRecoveryReport report = RecoverInterruptedSend();

    EXPECT_TRUE(report.tailDamaged);
    EXPECT_EQ(report.run.sentCount, 4);
    EXPECT_EQ(report.run.interruptedMail, 5);
    EXPECT_EQ(ListOf(report.run.unsentListName), Slice(People("p", 6), 4, 6));
    EXPECT_NE(report.message.find("※送信の記録の最後の部分が読めなかったため、読めたところまでを"
                                  "送信済み・送信失敗としています"),
              std::string::npos)
        << report.message;
}

TEST_F(SendJournalTest, ADamagedEntryEndsTheReadingThere)
{
    AddList("six", People("p", 6));
    RunAndCrashAt(Job({"six"}), 6);
    std::string bytes = ReadBytes(SendProgressPath());
    // Entries are of equal length: damage a byte inside the third one's
    // ciphertext.
    const std::size_t entry = bytes.size() / 5;
    bytes[2 * entry + 10] = static_cast<char>(bytes[2 * entry + 10] ^ 0x5a);
    WriteBytes(SendProgressPath(), bytes);

    const SendRecoveryReport report = RecoverInterruptedSend();

    EXPECT_TRUE(report.tailDamaged);
    EXPECT_EQ(report.run.sentCount, 2);
    EXPECT_EQ(ListOf(report.run.unsentListName), Slice(People("p", 6), 2, 6));
}

TEST_F(SendJournalTest, AJournalThatCannotBeReadIsSetAsideWithAMessageAndNothingElseChanges)
{
    AddList("four", People("p", 4));
    RunAndCrashAt(Job({"four"}), 3);
    const std::string plan = ReadBytes(SendJournalPath());
    const std::string progress = ReadBytes(SendProgressPath());
    struct Case
    {
        const char *what;
        std::string key;
        std::string planBytes;
    };
    const std::vector<Case> cases = {
        {"under the key before a password change", "Changed1", plan},
        {"cut short", std::string(DefaultKey), plan.substr(0, plan.size() / 2)},
        {"empty", std::string(DefaultKey), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(SendJournalPath(), c.planBytes);
        WriteBytes(SendProgressPath(), progress);
        fs::remove(fs::path(SendJournalPath().string() + ".unreadable"));
        const std::map<fs::path, std::string> before = FilesUnder(DataFolder() / "Receivers");
        const std::map<fs::path, std::string> logsBefore = FilesUnder(DataFolder() / "Logs");

        const SendRecoveryReport report = RecoverInterruptedSend(c.key);

        EXPECT_EQ(report.kind, SendRecoveryReport::Kind::Unreadable);
        const fs::path aside = SendJournalPath().string() + ".unreadable";
        EXPECT_EQ(report.setAside, aside);
        EXPECT_EQ(report.message,
                  "前回の送信は途中で終了しました。\r\n送信の記録を読み込めなかったため、送信ログと"
                  "送信失敗・未送信の宛先リストは作成できませんでした。\r\n送信の記録を読み込めま"
                  "せんでした（ファイルが壊れているか、別のパスワードで保存されています）: " +
                      SendJournalPath().string() +
                      "\r\n記録のファイルは次の名前で残しました: " + aside.string());
        EXPECT_EQ(ReadBytes(aside), c.planBytes);
        EXPECT_EQ(ReadBytes(SendProgressPath().string() + ".unreadable"), progress);
        EXPECT_FALSE(SendJournalPending());
        EXPECT_FALSE(fs::exists(SendProgressPath()));
        EXPECT_EQ(FilesUnder(DataFolder() / "Receivers"), before);
        EXPECT_EQ(FilesUnder(DataFolder() / "Logs"), logsBefore);
    }
}

TEST_F(SendJournalTest, APasswordChangeRewritesAPendingJournalWithEverythingElse)
{
    RegisterDestinationsRekeyKinds();
    RegisterSendersRekeyKinds();
    RegisterSendRekeyKinds();
    AddList("five", People("p", 5));
    RunAndCrashAt(Job({"five"}), 4, [](int n) {
        return n == 2 ? Refused("no") : DeliveryResult{true, {}};
    });
    // A torn last entry is dropped on the way.
    WriteBytes(SendProgressPath(), ReadBytes(SendProgressPath()) + std::string("\x30\0\0", 3));

    ReencryptAll(std::string(DefaultKey), "Changed1");

    EXPECT_EQ(Entries("Changed1").size(), 3u);
    EXPECT_EQ(ReadSendJournal("Changed1").mails.size(), 3u);
    const SendRecoveryReport report = RecoverInterruptedSend("Changed1");
    ASSERT_EQ(report.kind, SendRecoveryReport::Kind::Finished);
    EXPECT_FALSE(report.tailDamaged);
    EXPECT_EQ(report.run.sentCount, 2);
    EXPECT_EQ(LoadDestinationList(report.run.failedListName, "Changed1").recipients,
              Slice(People("p", 5), 1, 2));
    EXPECT_EQ(LoadDestinationList(report.run.unsentListName, "Changed1").recipients,
              Slice(People("p", 5), 3, 5));
    EXPECT_EQ(ReadSendLog(SendLogPath("A", report.run.startTime), 3, "Changed1").fields[2], "2");
}

TEST_F(SendJournalTest, ARestoreWaitsUntilAPendingJournalIsAccountedFor)
{
    RegisterSendJournalRestoreGuard();
    WriteConfig(std::string(DefaultKey));
    AddList("three", People("p", 3));
    RunAndCrashAt(Job({"three"}), 2);
    const fs::path backup = MakeBackup(TempDir());
    // A backup holds the sub-folders and config.dat only, never a journal.
    EXPECT_FALSE(fs::exists(backup / SendJournalPath().filename()));
    EXPECT_FALSE(fs::exists(backup / SendProgressPath().filename()));
    AddList("later", People("q", 1));

    try {
        RestoreBackup(backup, std::string(DefaultKey));
        ADD_FAILURE() << "the restore ran";
    } catch (const VostrelError &e) {
        EXPECT_STREQ(e.what(), "前回の送信の後処理が終わっていないため、復元できません。"
                               "ソフトを起動し直してから、もう一度お試しください。");
    }
    EXPECT_TRUE(fs::exists(DestinationListPath("later")));
    EXPECT_TRUE(SendJournalPending());

    RecoverInterruptedSend();
    RestoreBackup(backup, std::string(DefaultKey));
    EXPECT_FALSE(fs::exists(DestinationListPath("later")));
}

TEST_F(SendJournalTest, ListsChangedSinceTheRunGiveTheLogsButNoListBuiltFromThem)
{
    AddList("four", People("p", 4));
    RunAndCrashAt(Job({"four"}), 3, [](int n) {
        return n == 1 ? Refused("no") : DeliveryResult{true, {}};
    });
    std::vector<Recipient> changed = People("p", 4);
    changed[3] = Person("someone else", "else@example.jp");
    AddList("four", changed);

    const SendRecoveryReport report = RecoverInterruptedSend();

    EXPECT_EQ(report.run.sentCount, 1);
    EXPECT_EQ(LogOf("A", report.run).fields[2], "1");
    EXPECT_TRUE(report.run.failedListName.empty());
    EXPECT_TRUE(report.run.unsentListName.empty());
    EXPECT_EQ(ListVslNames(ReceiversFolder()), std::vector<std::string>{"four"});
    EXPECT_NE(report.message.find("※送信先リストの内容が送信の開始時から変わっているため、"
                                  "送信失敗・未送信の宛先を保存できませんでした"),
              std::string::npos)
        << report.message;
    EXPECT_FALSE(SendJournalPending());
}

TEST_F(SendJournalTest, AProgressFileWithoutItsPlanIsALeftoverAndGoesQuietly)
{
    WriteBytes(SendProgressPath(), "left over");
    const SendRecoveryReport report = RecoverInterruptedSend();
    EXPECT_EQ(report.kind, SendRecoveryReport::Kind::Nothing);
    EXPECT_TRUE(report.message.empty());
    EXPECT_FALSE(fs::exists(SendProgressPath()));
}

} // namespace
