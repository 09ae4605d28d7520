// The send run: sender rotation, addressing in both modes, the address logs,
// stop, failures and the list of failed recipients, errors outside a mail.
#include "SendRunFixture.h"
#include "SendTestUtil.h"

#include "core/AtomicFile.h"
#include "core/DataFolder.h"
#include "core/FieldStore.h"
#include "core/SjisCodec.h"
#include "send/SendJournal.h"
#include "senders/SenderAccount.h"

#include <chrono>
#include <filesystem>
#include <regex>

using namespace vostrel;
using namespace vostrel::test;

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Addresses(const std::vector<Recipient> &people)
{
    std::vector<std::string> out;
    for (const Recipient &r : people)
        out.push_back(r.Address());
    return out;
}

std::vector<std::vector<std::string>> RecipientsOf(const std::vector<DeliveredMail> &mails)
{
    std::vector<std::vector<std::string>> out;
    for (const DeliveredMail &mail : mails)
        out.push_back(mail.recipients);
    return out;
}

DeliveryResult Refused(const std::string &why)
{
    return DeliveryResult{false, why};
}

class SendEngineTest : public SendRunTest
{
protected:
    void SetUp() override
    {
        SendRunTest::SetUp();
        AddAccount("A", "a@sender.jp");
        AddAccount("B", "b@sender.jp");
    }
};

TEST_F(SendEngineTest, SendersTakeTurnsAfterTheSwitchCount)
{
    AddList("six", People("p", 6));
    SendJob job = Job({"six"});
    job.senderNames = {"A", "B"};
    job.senderSwitchEvery = 2;

    const RunSendResult result = Run(job);

    EXPECT_EQ(recorder.Accounts(), (std::vector<std::string>{"A", "A", "B", "B", "A", "A"}));
    EXPECT_EQ(senders, (std::vector<std::string>{"A", "A", "B", "B", "A", "A"}));
    for (const DeliveredMail &mail : recorder.Mails())
        EXPECT_EQ(mail.envelopeFrom, mail.account == "A" ? "a@sender.jp" : "b@sender.jp");
    EXPECT_EQ(positions, (std::vector<std::pair<long long, long long>>{
                             {1, 6}, {2, 6}, {3, 6}, {4, 6}, {5, 6}, {6, 6}}));
    EXPECT_EQ(result.outcome, SendOutcome::Finished);
    EXPECT_EQ(result.sentCount, 6);
    EXPECT_EQ(result.total, 6);
    EXPECT_FALSE(result.stopped);
}

TEST_F(SendEngineTest, IndividualSendingMailsEveryRecipientWithTheirOwnValues)
{
    AddList("L1", People("x", 3));
    AddList("L2", People("y", 2));

    const RunSendResult result = Run(Job({"L1", "L2"}));

    const std::vector<DeliveredMail> mails = recorder.Mails();
    ASSERT_EQ(mails.size(), 5u);
    const std::vector<std::string> ids = {"x1", "x2", "x3", "y1", "y2"};
    for (std::size_t i = 0; i < mails.size(); ++i) {
        SCOPED_TRACE(ids[i]);
        EXPECT_EQ(mails[i].recipients, std::vector<std::string>{ids[i] + "@example.jp"});
        EXPECT_EQ(HeaderOf(mails[i].data, "To"), ids[i] + "@example.jp");
        EXPECT_EQ(HeaderOf(mails[i].data, "Subject"), "Hello " + ids[i]);
        EXPECT_NE(mails[i].data.find("Dear " + ids[i] + ", code " + ids[i] + "-m1\r\n"),
                  std::string::npos);
    }
    EXPECT_EQ(result.total, 5);
    EXPECT_EQ(LogOf("A", result).fields[8],
              "x1@example.jp,x2@example.jp,x3@example.jp,y1@example.jp,y2@example.jp");
}

TEST_F(SendEngineTest, PerListSendingMailsEachListOnceWithoutPersonalising)
{
    AddList("L1", People("x", 3));
    AddList("L2", People("y", 2));
    SendJob job = Job({"L1", "L2"});
    job.sendIndividually = false;

    const RunSendResult result = Run(job);

    const std::vector<DeliveredMail> mails = recorder.Mails();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].recipients, Addresses(People("x", 3)));
    EXPECT_EQ(mails[1].recipients, Addresses(People("y", 2)));
    EXPECT_EQ(HeaderOf(mails[0].data, "To"), "x1@example.jp, x2@example.jp, x3@example.jp");
    // The tags stay as typed.
    EXPECT_NE(mails[1].data.find("Dear <#-"), std::string::npos);
    EXPECT_EQ(positions, (std::vector<std::pair<long long, long long>>{{1, 2}, {2, 2}}));
    EXPECT_EQ(LogOf("A", result).fields[8], "y1@example.jp, y2@example.jp");
}

struct FirstOnlyCase
{
    bool sendIndividually;
    bool firstOnly;
    bool bccRole; // the Bcc lists beside To, else the Cc lists
};

class FirstOnlyTest : public SendEngineTest, public testing::WithParamInterface<FirstOnlyCase>
{};

TEST_P(FirstOnlyTest, SecondaryListsGoOnTheFirstMailOrOnEvery)
{
    const FirstOnlyCase c = GetParam();
    AddList("to", People("t", 3));
    AddList("c1", People("c", 2), {false, true, true});
    AddList("c2", People("d", 1), {false, true, true});
    SendJob job = Job({"to"});
    job.sendIndividually = c.sendIndividually;
    if (c.sendIndividually == false)
        job.toLists = {"to", "to"};
    (c.bccRole ? job.bccLists : job.ccLists) = {"c1", "c2"};
    (c.bccRole ? job.bccFirstOnly : job.ccFirstOnly) = c.firstOnly;
    // The other role's flag has no effect on this one.
    (c.bccRole ? job.ccFirstOnly : job.bccFirstOnly) = !c.firstOnly;

    const RunSendResult result = Run(job);

    const std::vector<std::string> extra = {"c1@example.jp", "c2@example.jp", "d1@example.jp"};
    const std::vector<DeliveredMail> mails = recorder.Mails();
    ASSERT_GE(mails.size(), 2u);
    for (std::size_t i = 0; i < mails.size(); ++i) {
        SCOPED_TRACE(i);
        const bool carries = !c.firstOnly || i == 0;
        std::vector<std::string> main =
            c.sendIndividually
                ? std::vector<std::string>{"t" + std::to_string(i + 1) + "@example.jp"}
                : Addresses(People("t", 3));
        std::vector<std::string> expected = main;
        if (carries)
            expected.insert(expected.end(), extra.begin(), extra.end());
        EXPECT_EQ(mails[i].recipients, expected);
        const auto header = HeaderOf(mails[i].data, "Cc");
        if (carries && !c.bccRole)
            EXPECT_EQ(header, "c1@example.jp, c2@example.jp, d1@example.jp");
        else
            EXPECT_EQ(header, std::nullopt);
        EXPECT_EQ(HeaderOf(mails[i].data, "Bcc"), std::nullopt);
    }
    const SendLog log = LogOf("A", result);
    EXPECT_EQ(log.fields[c.bccRole ? 10 : 9], "c1@example.jp, c2@example.jp, d1@example.jp");
    EXPECT_EQ(log.fields[c.bccRole ? 9 : 10], "");
}

INSTANTIATE_TEST_SUITE_P(
    Roles, FirstOnlyTest,
    testing::Values(FirstOnlyCase{true, true, false}, FirstOnlyCase{true, false, false},
                    FirstOnlyCase{false, true, false}, FirstOnlyCase{false, false, false},
                    FirstOnlyCase{true, true, true}, FirstOnlyCase{true, false, true},
                    FirstOnlyCase{false, false, true}));

class BccOnlyTest : public SendEngineTest, public testing::WithParamInterface<bool>
{};

TEST_P(BccOnlyTest, BccListsAloneAreTheMainFieldAndNoToHeaderIsWritten)
{
    const bool individually = GetParam();
    AddList("b1", People("b", 3), {false, false, true});
    AddList("b2", People("e", 2), {false, false, true});
    AddList("cc", People("c", 1), {false, true, false});
    SendJob job = Job();
    job.bccLists = {"b1", "b2"};
    job.bccFirstOnly = true; // has no say over the main field
    job.ccLists = {"cc"};
    job.ccFirstOnly = true;
    job.sendIndividually = individually;

    const RunSendResult result = Run(job);

    const std::vector<DeliveredMail> mails = recorder.Mails();
    ASSERT_EQ(mails.size(), individually ? 5u : 2u);
    for (const DeliveredMail &mail : mails) {
        EXPECT_EQ(HeaderOf(mail.data, "To"), std::nullopt);
        EXPECT_EQ(HeaderOf(mail.data, "Bcc"), std::nullopt);
    }
    // Cc first, then the Bcc recipients.
    if (individually) {
        EXPECT_EQ(mails[0].recipients,
                  (std::vector<std::string>{"c1@example.jp", "b1@example.jp"}));
        EXPECT_EQ(mails[4].recipients, std::vector<std::string>{"e2@example.jp"});
    } else {
        EXPECT_EQ(mails[1].recipients, Addresses(People("e", 2)));
    }
    const SendLog log = LogOf("A", result);
    EXPECT_EQ(log.fields[1], "");
    EXPECT_EQ(log.fields[7], "b1,b2");
    EXPECT_EQ(log.fields[8], "");
    EXPECT_EQ(log.fields[10], individually ? "b1@example.jp,b2@example.jp,b3@example.jp,"
                                             "e1@example.jp,e2@example.jp"
                                           : "e1@example.jp, e2@example.jp");
}

INSTANTIATE_TEST_SUITE_P(IndividuallyOrPerList, BccOnlyTest, testing::Bool());

TEST_F(SendEngineTest, StopTakesEffectBeforeTheNextMail)
{
    AddList("ten", People("p", 10));
    recorder.answer = [this](int n, const DeliveredMail &) {
        if (n == 3)
            stop = true;
        return DeliveryResult{true, {}};
    };

    const RunSendResult result = Run(Job({"ten"}));

    EXPECT_EQ(recorder.Mails().size(), 3u);
    EXPECT_EQ(positions.size(), 3u);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.outcome, SendOutcome::Finished);
    EXPECT_EQ(result.sentCount, 3);
    EXPECT_EQ(result.total, 10);
    const SendLog log = LogOf("A", result);
    EXPECT_EQ(log.fields[2], "3");
    EXPECT_EQ(log.fields[3], "10");
}

TEST_F(SendEngineTest, StopCutsThePauseAfterTheMailShort)
{
    AddList("two", People("p", 2));
    SendJob job = Job({"two"});
    job.intervalMs = 100000;
    recorder.answer = [this](int, const DeliveredMail &) {
        stop = true;
        return DeliveryResult{true, {}};
    };

    const auto before = std::chrono::steady_clock::now();
    const RunSendResult result = Run(job);
    const auto elapsed = std::chrono::steady_clock::now() - before;

    EXPECT_EQ(recorder.Mails().size(), 1u);
    EXPECT_TRUE(result.stopped);
    // The whole pause would have taken 100 s.
    EXPECT_LT(elapsed, std::chrono::seconds(50));
}

TEST_F(SendEngineTest, StopSetBeforeTheRunSendsNothing)
{
    AddList("two", People("p", 2));
    stop = true;
    const RunSendResult result = Run(Job({"two"}));
    EXPECT_TRUE(recorder.Mails().empty());
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(LogOf("A", result).fields[2], "0");
    EXPECT_EQ(LogOf("A", result).fields[3], "2");
}

TEST_F(SendEngineTest, ListsWithoutRecipientsPlanNoMailAndStillLeaveLogs)
{
    AddList("empty", {});
    SendJob job = Job({"empty"});
    job.senderNames = {"A", "B"};

    const RunSendResult result = Run(job);

    EXPECT_TRUE(recorder.Mails().empty());
    EXPECT_TRUE(positions.empty());
    EXPECT_EQ(result.outcome, SendOutcome::Finished);
    EXPECT_FALSE(result.stopped);
    for (const char *account : {"A", "B"}) {
        const SendLog log = LogOf(account, result);
        EXPECT_EQ(log.fields[2], "0");
        EXPECT_EQ(log.fields[3], "0");
    }
}

class AllFailTest : public SendEngineTest, public testing::WithParamInterface<bool>
{};

TEST_P(AllFailTest, EveryFailedMailPutsItsMainRecipientsIntoTheFailureList)
{
    const bool viaBcc = GetParam();
    AddList("L1", People("x", 3));
    AddList("L2", People("y", 2));
    AddList("cc", People("c", 1), {false, true, false});
    recorder.answer = [](int n, const DeliveredMail &) {
        return Refused("refused " + std::to_string(n));
    };
    SendJob job = Job();
    (viaBcc ? job.bccLists : job.toLists) = {"L1", "L2"};
    job.ccLists = {"cc"};

    const RunSendResult result = Run(job);

    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(result.sentCount, 0);
    EXPECT_EQ(result.firstFailure, "refused 1");
    ASSERT_EQ(result.failures.size(), 5u);
    EXPECT_EQ(result.failures[4].position, 5);
    EXPECT_EQ(result.failures[4].reason, "refused 5");
    EXPECT_EQ(result.failedListName, result.startTime + S("_送信失敗"));
    std::vector<Recipient> expected = People("x", 3);
    for (const Recipient &r : People("y", 2))
        expected.push_back(r);
    EXPECT_EQ(ListOf(result.failedListName), expected); // the Cc recipient is not there
    const std::vector<std::string> raw = RawFields(DestinationListPath(result.failedListName));
    ASSERT_EQ(raw.size(), 4u + 5 * 13);
    const std::vector<std::string> header = viaBcc ? std::vector<std::string>{"0", "0", "-1", "5"}
                                                   : std::vector<std::string>{"-1", "0", "0", "5"};
    EXPECT_EQ(std::vector<std::string>(raw.begin(), raw.begin() + 4), header);
    EXPECT_EQ(LogOf("A", result).fields[2], "0");
}

INSTANTIATE_TEST_SUITE_P(ToOrBcc, AllFailTest, testing::Bool());

TEST_F(SendEngineTest, AFailedPerListMailStoresTheWholeListOnlyOnce)
{
    AddList("L1", People("x", 3));
    AddList("L2", People("y", 2));
    SendJob job = Job({"L1", "L2", "L1"});
    job.sendIndividually = false;
    recorder.answer = [](int n, const DeliveredMail &) {
        return n == 2 ? DeliveryResult{true, {}} : Refused("no");
    };

    const RunSendResult result = Run(job);

    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(result.sentCount, 1);
    // Mail 3 mails L1 again: its entries are already in the list.
    EXPECT_EQ(ListOf(result.failedListName), People("x", 3));
}

TEST_F(SendEngineTest, AnAddressUnderTwoNamesIsStoredOncePerName)
{
    AddList("L1", {Person("Yamada", "same@example.jp"), Person("other", "o@example.jp")});
    AddList("L2", {Person("Tanaka", "same@example.jp"), Person("Yamada", "same@example.jp")});
    recorder.answer = [](int n, const DeliveredMail &) {
        return n == 1 ? Refused("no") : DeliveryResult{true, {}};
    };

    const RunSendResult result = Run(Job({"L1", "L2"}));

    // One mail per entry; the first failing collects every entry with its
    // address, the entry of the same name only once.
    EXPECT_EQ(recorder.Mails().size(), 4u);
    EXPECT_EQ(result.sentCount, 3);
    const std::vector<Recipient> stored = ListOf(result.failedListName);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].Name(), "Yamada");
    EXPECT_EQ(stored[1].Name(), "Tanaka");
}

TEST_F(SendEngineTest, LaterFailuresOfAnAddressAddOnlyNewNames)
{
    AddList("L1", {Person("n1", "same@example.jp")});
    AddList("L2", {Person("n2", "same@example.jp"), Person("n1", "same@example.jp")});
    SendJob job = Job({"L1", "L2"});
    job.sendIndividually = false;
    recorder.answer = [](int, const DeliveredMail &) { return Refused("no"); };

    const RunSendResult result = Run(job);

    const std::vector<Recipient> stored = ListOf(result.failedListName);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].Name(), "n1");
    EXPECT_EQ(stored[1].Name(), "n2");
}

TEST_F(SendEngineTest, OneMailCarriesToThenCcThenBccAndTheMessageWithoutBcc)
{
    AddList("to", People("t", 1));
    AddList("cc", People("c", 1), {false, true, false});
    AddList("bcc", People("b", 1), {false, false, true});
    SendJob job = Job({"to"});
    job.ccLists = {"cc"};
    job.bccLists = {"bcc"};

    Run(job);

    const std::vector<DeliveredMail> mails = recorder.Mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].recipients,
              (std::vector<std::string>{"t1@example.jp", "c1@example.jp", "b1@example.jp"}));
    EXPECT_EQ(mails[0].envelopeFrom, "a@sender.jp");
    EXPECT_EQ(HeaderOf(mails[0].data, "From"), "\"A\" <a@sender.jp>");
    EXPECT_EQ(mails[0].data.find("b1@example.jp"), std::string::npos);
}

// Errors outside the sending of a mail fail that mail (or that step) and
// the run goes on.

TEST_F(SendEngineTest, AnAccountThatCannotBeReadFailsItsMailsOnly)
{
    AddList("four", People("p", 4));
    SendJob job = Job({"four"});
    job.senderNames = {"A", "gone"};

    const RunSendResult result = Run(job);

    EXPECT_EQ(recorder.Accounts(), (std::vector<std::string>{"A", "A"}));
    EXPECT_EQ(result.sentCount, 2);
    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    // Mails 2 and 4, then its log.
    ASSERT_EQ(result.failures.size(), 3u);
    EXPECT_EQ(result.failures[0].position, 2);
    EXPECT_NE(result.firstFailure.find("送信元「gone」の設定を読み込めませんでした"),
              std::string::npos);
    EXPECT_NE(result.firstFailure.find("gone.vsl"), std::string::npos);
    EXPECT_EQ(result.failures[2].position, 0);
    EXPECT_TRUE(fs::exists(SendLogPath("A", result.startTime)));
    EXPECT_FALSE(fs::exists(SendLogPath("gone", result.startTime)));
    // An account that is gone would get no log on another try either: the
    // run is accounted for all the same.
    EXPECT_TRUE(result.unwrittenFiles.empty());
    EXPECT_FALSE(result.journalKept);
    EXPECT_FALSE(SendJournalPending());
    const std::vector<Recipient> stored = ListOf(result.failedListName);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].Address(), "p2@example.jp");
    EXPECT_EQ(stored[1].Address(), "p4@example.jp");
}

class UnreadableListTest : public SendEngineTest, public testing::WithParamInterface<bool>
{};

TEST_P(UnreadableListTest, AMainListThatCannotBeReadIsAFailureAndTheOthersAreSent)
{
    const bool individually = GetParam();
    AddList("ok", People("p", 2));
    // A list that announces 3 recipients and holds one.
    {
        EncryptedFieldFile file = EncryptedFieldFile::Create(ReceiversFolder() / "cut.vsl");
        for (const char *field : {"-1", "0", "0", "3"})
            file.WriteField(field);
        const Recipient q1 = People("q", 1)[0];
        for (const std::string &f : q1.fields)
            file.WriteField(f);
        file.Commit();
    }
    SendJob job = Job({"missing", "cut", "ok"});
    job.sendIndividually = individually;

    const RunSendResult result = Run(job);

    ASSERT_FALSE(result.failures.empty());
    EXPECT_NE(result.firstFailure.find("missing.vsl"), std::string::npos);
    if (individually) {
        // The recipient read before the damage is mailed too.
        EXPECT_EQ(RecipientsOf(recorder.Mails()),
                  (std::vector<std::vector<std::string>>{
                      {"q1@example.jp"}, {"p1@example.jp"}, {"p2@example.jp"}}));
        EXPECT_EQ(result.outcome, SendOutcome::Failed);
        EXPECT_EQ(result.total, 3);
        EXPECT_EQ(result.failures.size(), 2u);
    } else {
        // Neither damaged list is mailed; what was read of one is kept.
        EXPECT_EQ(RecipientsOf(recorder.Mails()),
                  (std::vector<std::vector<std::string>>{Addresses(People("p", 2))}));
        EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
        EXPECT_EQ(ListOf(result.failedListName), People("q", 1));
    }
    EXPECT_TRUE(fs::exists(SendLogPath("A", result.startTime)));
}

INSTANTIATE_TEST_SUITE_P(IndividuallyOrPerList, UnreadableListTest, testing::Bool());

TEST_F(SendEngineTest, ACcListThatCannotBeReadFailsEveryMailThatCarriesIt)
{
    AddList("to", People("t", 2));
    SendJob job = Job({"to"});
    job.ccLists = {"nowhere"};
    job.ccFirstOnly = true;

    const RunSendResult result = Run(job);

    // Only the first mail carries the Cc lists.
    EXPECT_EQ(RecipientsOf(recorder.Mails()),
              (std::vector<std::vector<std::string>>{{"t2@example.jp"}}));
    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_EQ(ListOf(result.failedListName), People("t", 1));
}

TEST_F(SendEngineTest, ALogFolderThatCannotBeMadeFailsTheRunAfterEveryMailWasSent)
{
    AddList("two", People("p", 2));
    WriteBytes(DataFolder() / "Logs" / "B", "a file where the folder should be");
    SendJob job = Job({"two"});
    job.senderNames = {"B", "A"};

    const RunSendResult result = Run(job);

    EXPECT_EQ(result.sentCount, 2);
    EXPECT_EQ(result.outcome, SendOutcome::Failed);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_NE(result.firstFailure.find("送信元「B」の送信ログを書き込めませんでした"),
              std::string::npos);
    EXPECT_NE(result.firstFailure.find("Logs/B"), std::string::npos);
    // The next account's log is written all the same.
    EXPECT_EQ(LogOf("A", result).fields[2], "2");
    // The log that is missing keeps the journal for another try.
    EXPECT_EQ(result.unwrittenFiles, std::vector<fs::path>{SendLogPath("B", result.startTime)});
    EXPECT_TRUE(result.journalKept);
    EXPECT_TRUE(SendJournalPending());
}

TEST_F(SendEngineTest, AMessageThatCannotBeWrittenFailsThatMail)
{
    AddList("two", People("p", 2));
    // An attachment that exists but cannot be read.
    const fs::path attachment = WorkFolder() / "AppendedImage" / "broken.bin";
    fs::create_symlink("/proc/self/mem", attachment);
    SendJob job = Job({"two"});
    job.attachments = {"broken.bin"};

    const RunSendResult result = Run(job);

    EXPECT_TRUE(recorder.Mails().empty());
    EXPECT_EQ(result.outcome, SendOutcome::FailedListStored);
    EXPECT_NE(result.firstFailure.find("メールを作成できませんでした"), std::string::npos);
    EXPECT_NE(result.firstFailure.find("broken.bin"), std::string::npos);
    EXPECT_EQ(ListOf(result.failedListName), People("p", 2));
}

// An attachment or inline picture that disappears during the run fails the
// mails built while it is gone, with a reason naming it; the mails before and
// after it go with the file.
class VanishingFileTest : public SendEngineTest, public testing::WithParamInterface<bool>
{};

TEST_P(VanishingFileTest, AFileGoneDuringTheRunFailsThatMailAndTheOthersGoWithIt)
{
    const bool picture = GetParam();
    AddList("three", People("p", 3));
    SendJob job = Job({"three"});
    job.sendAsHtml = picture;
    const char *name = picture ? "図1.png" : "報告書.txt";
    const fs::path file = WorkFolder() / (picture ? "HtmlImage" : "AppendedImage") / name;
    std::vector<std::string> &files = picture ? job.inlinePictures : job.attachments;
    files.push_back(S(name));
    WriteBytes(file, "x");
    SendProgressSink sink;
    sink.onPosition = [&](long long n, long long) {
        if (n == 2)
            fs::remove(file);
        if (n == 3)
            WriteBytes(file, "x");
    };

    const RunSendResult result = RunSend(job, sink, stop, recorder.Options());

    const std::vector<DeliveredMail> mails = recorder.Mails();
    ASSERT_EQ(RecipientsOf(mails),
              (std::vector<std::vector<std::string>>{{"p1@example.jp"}, {"p3@example.jp"}}))
        << result.firstFailure;
    for (const DeliveredMail &mail : mails)
        EXPECT_NE(mail.data.find("\r\n\r\neA==\r\n"), std::string::npos); // the file's "x"
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].position, 2);
    EXPECT_EQ(result.failures[0].reason,
              std::string("メールを作成できませんでした\n") +
                  (picture ? "画像ファイル「図1.png」" : "添付ファイル「報告書.txt」") +
                  "が見つかりません: " + file.string());
    EXPECT_EQ(result.sentCount, 2);
    EXPECT_EQ(ListOf(result.failedListName), std::vector<Recipient>{People("p", 3)[1]});
}

INSTANTIATE_TEST_SUITE_P(AttachmentOrPicture, VanishingFileTest, testing::Bool());

TEST_F(SendEngineTest, AUserDefinedCharacterFailsItsMailBeforeAnythingIsSent)
{
    // The second recipient's name holds a user-defined character (F0 40),
    // which the subject brings in.
    std::vector<Recipient> people = People("p", 3);
    people[1].fields[0] = "p2\xF0\x40";
    AddList("three", people);
    SendJob job = Job({"three"});
    job.subject = S("<#-送信先名->様");

    const RunSendResult result = Run(job);

    EXPECT_EQ(RecipientsOf(recorder.Mails()),
              (std::vector<std::vector<std::string>>{{"p1@example.jp"}, {"p3@example.jp"}}));
    EXPECT_EQ(result.sentCount, 2);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].position, 2);
    EXPECT_EQ(result.firstFailure,
              "メールを作成できませんでした\np2\uE000 <p2@example.jp> へのメール: "
              "件名（差込タグ「送信先名」の値）の「\uE000」(U+E000, Shift_JIS F040) は外字"
              "（ユーザー定義文字）のため、受け取った人には読めません。");
    EXPECT_EQ(ListOf(result.failedListName), std::vector<Recipient>{people[1]});
}

TEST_F(SendEngineTest, AMailWithoutAnyAddressFailsWithoutBeingHandedOver)
{
    AddList("empty", {});
    AddList("full", People("p", 1));
    SendJob job = Job({"empty", "full"});
    job.sendIndividually = false;

    const RunSendResult result = Run(job);

    EXPECT_EQ(RecipientsOf(recorder.Mails()),
              (std::vector<std::vector<std::string>>{{"p1@example.jp"}}));
    EXPECT_EQ(result.outcome, SendOutcome::Failed);
    EXPECT_EQ(result.failures.at(0).position, 1);
}

TEST_F(SendEngineTest, AHookThatThrowsFailsOnlyThatMail)
{
    AddList("two", People("p", 2));
    recorder.answer = [](int n, const DeliveredMail &) -> DeliveryResult {
        if (n == 1)
            throw std::runtime_error("lost");
        return {true, {}};
    };
    const RunSendResult result = Run(Job({"two"}));
    EXPECT_EQ(result.sentCount, 1);
    EXPECT_NE(result.firstFailure.find("lost"), std::string::npos);
    EXPECT_EQ(ListOf(result.failedListName), People("p", 1));
}

TEST_F(SendEngineTest, AFailureListThatCannotBeWrittenLeavesNoEmptyList)
{
    AddList("one", People("p", 1));
    recorder.answer = [](int, const DeliveredMail &) { return Refused("no"); };
    // The empty list is made; adding the recipients to it fails.
    AtomicFile::SetFaultInjector([](const fs::path &target) {
        return target.native().find("_送信失敗") == std::string::npos || !fs::exists(target);
    });
    const RunSendResult result = Run(Job({"one"}));
    AtomicFile::SetFaultInjector({});

    EXPECT_EQ(result.outcome, SendOutcome::Failed);
    EXPECT_TRUE(result.failedListName.empty());
    ASSERT_EQ(result.failures.size(), 2u);
    EXPECT_EQ(result.firstFailure, "no");
    EXPECT_NE(result.failures[1].reason.find("_送信失敗」に保存できませんでした"),
              std::string::npos);
    EXPECT_EQ(ListVslNames(ReceiversFolder()), std::vector<std::string>{"one"});
}

TEST(SendTimeTextTest, NumbersAreZeroPaddedAndTheEndFormHasOneSpace)
{
    ScopedTimeZone tz("JST-9");
    // 2024-03-05 00:15:02 UTC = 09:15:02 in Tokyo.
    const auto t = std::chrono::system_clock::from_time_t(1709597702);
    EXPECT_EQ(SjisToUtf8(SendTimeText(t)), "2024年03月05日09時15分02秒");
    EXPECT_EQ(SjisToUtf8(SendTimeText(t, true)), "2024年03月05日 09時15分02秒");
    // 2007-01-02 03:04:05 in Tokyo: every field short.
    EXPECT_EQ(SjisToUtf8(SendTimeText(std::chrono::system_clock::from_time_t(1167674645))),
              "2007年01月02日03時04分05秒");
}

} // namespace
