// The sent-mail log: its sixteen fields as a run writes them, its folders and
// picture copies, and reading it back.
#include "SendRunFixture.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "core/SjisCodec.h"
#include "send/SendJournal.h"

#include <filesystem>
#include <regex>

using namespace vostrel;
using namespace vostrel::test;

namespace {

namespace fs = std::filesystem;

const std::regex kStartTime(R"(\d{4}年\d{2}月\d{2}日\d{2}時\d{2}分\d{2}秒)");
const std::regex kEndTime(R"(\d{4}年\d{2}月\d{2}日 \d{2}時\d{2}分\d{2}秒)");

// Every field of a file through the field store itself, to its very end.
std::vector<std::string> StoreFields(const fs::path &path)
{
    EncryptedFieldFile file = EncryptedFieldFile::OpenRead(path);
    std::vector<std::string> fields;
    while (!file.AtEnd())
        fields.push_back(file.ReadField());
    return fields;
}

class SendLogTest : public SendRunTest
{
protected:
    void SetUp() override
    {
        SendRunTest::SetUp();
        AddAccount(S("営業部"), "sales@sender.jp");
        AddAccount("A", "a@sender.jp");
        AddAccount("B", "b@sender.jp");
        AddList("to1", People("t", 2));
        AddList("to2", People("u", 1));
        AddList("cc", People("c", 2), {false, true, false});
        AddList("bcc", People("b", 1), {false, false, true});
    }

    SendJob FullJob()
    {
        SendJob job = Job({"to1", "to2"});
        job.senderNames = {S("営業部"), "B"};
        job.ccLists = {"cc"};
        job.ccFirstOnly = false;
        job.bccLists = {"bcc"};
        job.bccFirstOnly = true;
        job.attachments = {"a.txt", S("資料.pdf")};
        job.listUnsubscribe = true;
        WriteBytes(WorkFolder() / "AppendedImage" / "a.txt", "text");
        WriteBytes(WorkFolder() / "AppendedImage" / "資料.pdf", "%PDF");
        return job;
    }

    void AddPicture(const std::string &name, const std::string &bytes)
    {
        WriteBytes(WorkFolder() / "HtmlImage" / name, bytes);
    }
};

TEST_F(SendLogTest, PathsAreTheAccountFolderAndTheStartTime)
{
    const std::string start = S("2024年03月05日09時15分02秒");
    EXPECT_EQ(SendLogPath(S("営業部"), start),
              DataFolder() / "Logs" / "営業部" / "2024年03月05日09時15分02秒.vsl");
    EXPECT_EQ(SendLogPictureFolder(S("営業部"), start).native(),
              (DataFolder() / "Logs" / "営業部" / "2024年03月05日09時15分02秒" / "").native());
    EXPECT_EQ(SendLogPictureFolder("A", start).native().back(), '/');
}

TEST_F(SendLogTest, ARunWithTwoAccountsWritesTheSameSixteenFieldsButTheSender)
{
    const SendJob job = FullJob();
    const RunSendResult result = Run(job);
    ASSERT_EQ(result.outcome, SendOutcome::Finished);

    const std::string start = SjisToUtf8(result.startTime);
    ASSERT_TRUE(std::regex_match(start, kStartTime)) << start;
    for (const auto &[account, from] :
         {std::pair{S("営業部"), "sales@sender.jp"}, std::pair{std::string("B"), "b@sender.jp"}}) {
        SCOPED_TRACE(SjisToUtf8(account));
        const fs::path path = SendLogPath(account, result.startTime);
        EXPECT_EQ(path.filename().native(), start + ".vsl");
        EXPECT_EQ(path.parent_path().filename().native(), SjisToUtf8(account));
        const SendLog log = ReadSendLog(path);
        const std::array<std::string, 16> expected = {
            job.subject,
            "to1,to2",
            "3",
            "3",
            result.startTime,
            result.endTime,
            "cc",
            "bcc",
            "t1@example.jp,t2@example.jp,u1@example.jp",
            "c1@example.jp, c2@example.jp",
            "b1@example.jp",
            from,
            job.body,
            "a.txt," + S("資料.pdf"),
            account,
            "-1",
        };
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(log.fields[i], expected[i]) << "field " << i + 1;
        // Subject and body keep their merge tags.
        EXPECT_NE(log.Subject().find("<#-"), std::string::npos);
        EXPECT_NE(log.Body().find("<#-"), std::string::npos);
        EXPECT_TRUE(std::regex_match(SjisToUtf8(log.fields[5]), kEndTime)) << log.fields[5];
        EXPECT_GE(SjisToUtf8(log.fields[5]).substr(0, 17), start.substr(0, 17));
        EXPECT_TRUE(log.ListUnsubscribe());
        // The file itself: exactly these sixteen fields, one after another.
        const std::vector<std::string> all(expected.begin(), expected.end());
        EXPECT_EQ(RawFields(path), all);
        EXPECT_EQ(StoreFields(path), all);
        EXPECT_FALSE(fs::exists(SendLogPictureFolder(account, result.startTime)));
    }
}

TEST_F(SendLogTest, AStoppedRunRecordsWhatWasSentOfWhatWasPlanned)
{
    AddList("ten", People("p", 10));
    SendJob job = Job({"ten"});
    recorder.answer = [this](int n, const DeliveredMail &) {
        if (n == 3)
            stop = true;
        return DeliveryResult{n != 2, "no"};
    };
    const RunSendResult result = Run(job);
    const std::vector<std::string> fields = RawFields(SendLogPath("A", result.startTime));
    ASSERT_EQ(fields.size(), 16u);
    EXPECT_EQ(fields[15], "0");
    EXPECT_EQ(StoreFields(SendLogPath("A", result.startTime)), fields);
    const SendLog log = ReadSendLog(SendLogPath("A", result.startTime));
    EXPECT_EQ(std::vector<std::string>(log.fields.begin(), log.fields.end()), fields);
    EXPECT_EQ(fields[2], "2");
    EXPECT_EQ(fields[3], "10");
    EXPECT_EQ(fields[8], "p1@example.jp,p2@example.jp,p3@example.jp");
}

TEST_F(SendLogTest, AnHtmlRunKeepsCopiesOfItsPicturesNextToEveryLog)
{
    AddPicture("image1.png", "png-one");
    AddPicture("image2.jpg", "jpg-two");
    AddPicture("vanished.gif", "gif");
    SendJob job = FullJob();
    job.sendAsHtml = true;
    job.body = "<img src=\"cid:image1.png\"><img src=\"cid:image2.jpg\">";
    job.inlinePictures = {"image1.png", "image2.jpg", "vanished.gif"};
    // Every mail goes with the three pictures; one is gone before the logs.
    SetSendJournalStepHook([](const std::string &step) {
        if (step == "ended")
            fs::remove(WorkFolder() / "HtmlImage" / "vanished.gif");
    });

    const RunSendResult result = Run(job);
    SetSendJournalStepHook({});

    EXPECT_EQ(result.outcome, SendOutcome::Finished);
    for (const std::string &account : job.senderNames) {
        const fs::path folder = SendLogPictureFolder(account, result.startTime);
        ASSERT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(folder.parent_path().parent_path(),
                  SendLogPath(account, result.startTime).parent_path());
        EXPECT_EQ(StoreFields(SendLogPath(account, result.startTime)).size(), 16u);
        EXPECT_EQ(ReadSendLog(SendLogPath(account, result.startTime)).Body(), job.body);
        EXPECT_EQ(ReadBytes(folder / "image1.png"), "png-one");
        EXPECT_EQ(ReadBytes(folder / "image2.jpg"), "jpg-two");
        // A picture that is gone is not copied, and that is no failure.
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
    }
}

TEST_F(SendLogTest, ACopyNeverOverwritesAndTheSameAccountTwiceIsNoFailure)
{
    AddPicture("image1.png", "first");
    SendJob job = Job({"to1"});
    job.inlinePictures = {"image1.png"};
    const std::string start = S("2024年03月05日09時15分02秒");
    const std::string end = S("2024年03月05日 09時15分09秒");
    WriteSendLog("A", job, 1, 2, start, end, "x", "", "");
    AddPicture("image1.png", "second");
    WriteSendLog("A", job, 2, 2, start, end, "y", "", "");

    EXPECT_EQ(ReadBytes(SendLogPictureFolder("A", start) / "image1.png"), "first");
    // The file itself is made anew.
    EXPECT_EQ(ReadSendLog(SendLogPath("A", start)).fields[2], "2");

    job.senderNames = {"A", "A"};
    const RunSendResult result = Run(job);
    EXPECT_EQ(result.outcome, SendOutcome::Finished);
    EXPECT_TRUE(result.failures.empty());
}

TEST_F(SendLogTest, TheLogIsWrittenUnderTheKeyInEffect)
{
    SetCurrentKey("Secret42");
    AddAccount("A", "a@sender.jp"); // rewritten under the new key
    SaveDestinationList("to1", {true, false, false}, People("t", 1));
    const RunSendResult result = Run(Job({"to1"}));
    ASSERT_EQ(result.outcome, SendOutcome::Finished);
    const fs::path path = SendLogPath("A", result.startTime);
    EXPECT_EQ(RawFields(path, "Secret42")[14], "A");
    EXPECT_EQ(ReadSendLog(path, 15, "Secret42").AccountName(), "A");
    EXPECT_NE(RawFields(path, std::string(DefaultKey))[14], "A");
}

TEST_F(SendLogTest, ReadingStopsAfterTheFieldsAsked)
{
    const RunSendResult result = Run(Job({"to1"}));
    const fs::path path = SendLogPath("A", result.startTime);
    const SendLog head = ReadSendLog(path, 12);
    EXPECT_EQ(head.fields[11], "a@sender.jp");
    EXPECT_EQ(head.fields[12], "");
    EXPECT_EQ(head.fields[14], "");
    EXPECT_EQ(ReadSendLog(path, 1).Subject(), Job().subject);

    // A file cut after five fields reads that far and no further.
    {
        EncryptedFieldFile file = EncryptedFieldFile::Create(path);
        for (int i = 0; i < 5; ++i)
            file.WriteField(head.fields[static_cast<std::size_t>(i)]);
        file.Commit();
    }
    EXPECT_EQ(ReadSendLog(path, 5).StartTime(), result.startTime);
    EXPECT_THROW(ReadSendLog(path), FileError);
    EXPECT_THROW(ReadSendLog(DataFolder() / "Logs" / "A" / "none.vsl"), FileError);
}

TEST_F(SendLogTest, ALogOfFifteenFieldsReadsAsARunWithoutListUnsubscribe)
{
    // A log as written before the sixteenth field existed: the same fifteen
    // fields and nothing after them.
    const RunSendResult result = Run(Job({"to1"}));
    const fs::path path = SendLogPath("A", result.startTime);
    std::vector<std::string> fields = StoreFields(path);
    ASSERT_EQ(fields.size(), 16u);
    fields.pop_back();
    {
        EncryptedFieldFile file = EncryptedFieldFile::Create(path);
        for (const std::string &field : fields)
            file.WriteField(field);
        file.Commit();
    }
    const SendLog old = ReadSendLog(path);
    EXPECT_EQ(std::vector<std::string>(old.fields.begin(), old.fields.begin() + 15), fields);
    EXPECT_EQ(old.fields[15], "");
    EXPECT_FALSE(old.ListUnsubscribe());
}

TEST_F(SendLogTest, AnAccountThatCannotBeReadGetsNoLog)
{
    SendJob job = Job({"to1"});
    EXPECT_THROW(WriteSendLog("nobody", job, 0, 0, "s", "e", "", "", ""), FileError);
    EXPECT_FALSE(fs::exists(DataFolder() / "Logs" / "nobody"));
}

} // namespace
