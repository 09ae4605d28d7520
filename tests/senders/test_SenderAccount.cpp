// The account file: its four shapes byte for byte, reading files made by
// hand, damaged files, the folder listing, renaming and deleting.
#include "SenderFiles.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "senders/SenderAccount.h"
#include "support/VostrelTest.h"

#include <atomic>
#include <filesystem>
#include <thread>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;

class SenderAccountTest : public VostrelTest
{
protected:
    fs::path Senders() const { return DataFolder() / "Senders"; }
    fs::path Logs() const { return DataFolder() / "Logs"; }
    static std::string Key() { return std::string(DefaultKey); }
};

// The fields of the sample account in file order, for the given groups.
std::vector<std::string> SampleTexts(bool pop, bool auth)
{
    std::vector<std::string> t = {
        S("営業部"),    "smtp.example.jp", "587", "-1", "sales@example.jp",
        S("山田 太郎"), "reply@example.jp"};
    t.push_back(pop ? "-1" : "0");
    if (pop)
        t.insert(t.end(), {"pop.example.jp", "1995", "-1", "yamada", "p@ss,1"});
    t.push_back(auth ? "-1" : "0");
    if (auth)
        t.insert(t.end(), {"yamada-smtp", S("秘密")});
    return t;
}

TEST_F(SenderAccountTest, FourFileShapesHoldExactlyTheirFields)
{
    struct Shape
    {
        bool pop, auth;
        int fields;
    };
    for (const Shape shape : {Shape{false, false, 9}, Shape{false, true, 11},
                              Shape{true, false, 14}, Shape{true, true, 16}}) {
        SCOPED_TRACE(testing::Message() << "pop=" << shape.pop << " auth=" << shape.auth);
        SenderAccount account = SampleAccount(); // the groups' values are filled either way
        account.UsePOP = shape.pop;
        account.SMTPAuth = shape.auth;
        const fs::path path = Senders() / "shape.vsl";
        WriteSenderAccount(path, account);

        const std::string bytes = ReadBytes(path);
        EXPECT_EQ(CountFields(bytes), shape.fields);
        EXPECT_EQ(bytes, FileBytes(SampleTexts(shape.pop, shape.auth), Key()));
        // A group that is off is dropped, so it reads back at its defaults.
        SenderAccount expected = account;
        if (!shape.pop) {
            expected.POPAddress = expected.POPAccount = expected.POPPass = "";
            expected.POPPort = "110";
            expected.POPSSL = false;
        }
        if (!shape.auth)
            expected.SMTPAccount = expected.SMTPPass = "";
        EXPECT_EQ(ReadSenderAccount(path), expected);
    }
}

TEST_F(SenderAccountTest, BooleansAreMinusOneAndZeroAndPortsAreKeptAsTyped)
{
    SenderAccount account;
    account.ConfName = "plain";
    account.SMTPPort = " 0025x"; // never checked or converted here
    const fs::path path = Senders() / "plain.vsl";
    WriteSenderAccount(path, account);
    EXPECT_EQ(ReadBytes(path),
              FileBytes({"plain", "", " 0025x", "0", "", "", "", "0", "0"}, Key()));
    // The empty text costs one whole block: a field of 12 bytes.
    EXPECT_EQ(FieldBytes("", Key()).size(), 12u);
}

TEST_F(SenderAccountTest, ExplicitKeysServeTheRewriteUnderANewPassword)
{
    const SenderAccount account = SampleAccount();
    const fs::path path = Senders() / "k.vsl";
    WriteSenderAccount(path, account, "NewPass99");
    EXPECT_EQ(ReadBytes(path), FileBytes(SampleTexts(true, true), "NewPass99"));
    EXPECT_NE(ReadBytes(path), FileBytes(SampleTexts(true, true), Key()));
    EXPECT_EQ(ReadSenderAccount(path, "NewPass99"), account);
    EXPECT_EQ(CurrentKey(), Key()); // the key in effect is not touched
}

TEST_F(SenderAccountTest, HandMadeFilesReadBack)
{
    // All groups on, with the other spellings a boolean may have.
    const fs::path full = WriteHandMadeAccount(
        "full.vsl", {"Full", "mail.example.com", "465", "True", "a@example.com", S("差出人"), "",
                     "1", "pop.example.com", "110", "false", "acct", "pw", "TRUE", "sa", "sp"});
    SenderAccount expected;
    expected.ConfName = "Full";
    expected.SMTPAddress = "mail.example.com";
    expected.SMTPPort = "465";
    expected.SMTPSSL = true;
    expected.FromAddress = "a@example.com";
    expected.SenderName = S("差出人");
    expected.UsePOP = true;
    expected.POPAddress = "pop.example.com";
    expected.POPPort = "110";
    expected.POPSSL = false;
    expected.POPAccount = "acct";
    expected.POPPass = "pw";
    expected.SMTPAuth = true;
    expected.SMTPAccount = "sa";
    expected.SMTPPass = "sp";
    EXPECT_EQ(ReadSenderAccount(full), expected);

    // Nine fields: reading stops at the end, the groups keep their defaults.
    const fs::path nine =
        WriteHandMadeAccount("nine.vsl", {"Nine", "h", "25", "0", "f@x", "n", "r@x", "0", "0"});
    const SenderAccount read = ReadSenderAccount(nine);
    EXPECT_EQ(read.ConfName, "Nine");
    EXPECT_EQ(read.ReturnAddress, "r@x");
    EXPECT_FALSE(read.UsePOP);
    EXPECT_EQ(read.POPPort, "110");
    EXPECT_EQ(read.POPAddress, "");
    EXPECT_FALSE(read.SMTPAuth);
    EXPECT_EQ(read.SMTPAccount, "");

    // Eleven fields: only the SMTP account group follows.
    const fs::path eleven = WriteHandMadeAccount(
        "eleven.vsl", {"E", "h", "25", "0", "f", "n", "r", "0", "-1", "user", "secret"});
    const SenderAccount e = ReadSenderAccount(eleven);
    EXPECT_FALSE(e.UsePOP);
    EXPECT_TRUE(e.SMTPAuth);
    EXPECT_EQ(e.SMTPAccount, "user");
    EXPECT_EQ(e.SMTPPass, "secret");
}

TEST_F(SenderAccountTest, DamagedFilesFailNamingTheFile)
{
    const std::vector<std::string> full = SampleTexts(true, true);
    const std::string bytes = FileBytes(full, Key());
    const fs::path path = Senders() / "broken.vsl";

    // Cut after 15 of the 16 fields, inside the last field, and inside a length.
    const size_t lastField = bytes.size() - FieldBytes(full.back(), Key()).size();
    for (size_t cut : {lastField, bytes.size() - 3, lastField + 2, size_t(0)}) {
        SCOPED_TRACE(cut);
        WriteBytes(path, bytes.substr(0, cut));
        try {
            ReadSenderAccount(path);
            ADD_FAILURE() << "a cut-short file was read";
        } catch (const FileError &e) {
            EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
        }
    }

    // UsePOP says the POP group follows, but the file ends after field 8.
    WriteBytes(path, FileBytes({"a", "b", "25", "0", "c", "d", "e", "-1"}, Key()));
    EXPECT_THROW(ReadSenderAccount(path), FileError);

    // A boolean field that is no boolean.
    const fs::path notBool =
        WriteHandMadeAccount("notbool.vsl", {"a", "b", "25", "yes", "c", "d", "e", "0", "0"});
    try {
        ReadSenderAccount(notBool);
        ADD_FAILURE() << "a non-boolean SSL field was accepted";
    } catch (const ConversionError &e) {
        EXPECT_NE(std::string(e.what()).find(notBool.string()), std::string::npos) << e.what();
    }

    // No file at all.
    EXPECT_THROW(ReadSenderAccount(Senders() / "missing.vsl"), FileError);
}

TEST_F(SenderAccountTest, PathIsTheNameInUtf8PlusVsl)
{
    EXPECT_EQ(SenderAccountPath(S("営業部")), DataFolder() / "Senders" / "営業部.vsl");
    EXPECT_EQ(SenderAccountPath("Office 1"), DataFolder() / "Senders" / "Office 1.vsl");
    EXPECT_EQ(SenderAccountPath(""), DataFolder() / "Senders" / ".vsl");
    EXPECT_EQ(SenderAccountPath("").filename().string(), ".vsl");
}

TEST_F(SenderAccountTest, ListTakesVslInAnyCaseAndNothingElse)
{
    for (const char *name : {"b.vsl", "A.VSL", "c.Vsl", ".vsl", "営業.vsl", "d.txt", "e.vsl.bak",
                             "fvsl", "g.vs", "h.vsl~"})
        WriteBytes(Senders() / name, "x");
    fs::create_directory(Senders() / "folder.vsl");
    const std::vector<std::string> expected = {"", "A", "b", "c", S("営業")};
    EXPECT_EQ(ListSenderAccounts(), expected);
    EXPECT_TRUE(SenderAccountExists("A"));
    EXPECT_EQ(SenderAccountPath("A"), Senders() / "A.VSL");
    EXPECT_EQ(SenderAccountPath("c"), Senders() / "c.Vsl");
    EXPECT_EQ(SenderAccountPath("b"), Senders() / "b.vsl");
    EXPECT_EQ(SenderAccountPath("d"), Senders() / "d.vsl"); // no such account yet
    WriteBytes(Senders() / "c.vsl", "x");                   // the exact spelling comes first
    EXPECT_EQ(SenderAccountPath("c"), Senders() / "c.vsl");
    EXPECT_TRUE(SenderAccountExists(""));
    EXPECT_FALSE(SenderAccountExists("a")); // names are compared exactly
    EXPECT_FALSE(SenderAccountExists("d"));
}

TEST_F(SenderAccountTest, ReadableFromOtherThreadsAtOnce)
{
    std::vector<SenderAccount> accounts;
    for (int i = 0; i < 3; ++i) {
        SenderAccount a = SampleAccount();
        a.ConfName = "acc" + std::to_string(i);
        a.SMTPPort = std::to_string(1000 + i);
        a.UsePOP = i != 1;
        WriteSenderAccount(SenderAccountPath(a.ConfName), a);
        accounts.push_back(a);
    }
    std::atomic<int> mismatches = 0, reads = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int round = 0; round < 10; ++round)
                for (const SenderAccount &a : accounts) {
                    if (!(ReadSenderAccount(SenderAccountPath(a.ConfName)).SMTPPort == a.SMTPPort))
                        ++mismatches;
                    ++reads;
                }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(reads, 120);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(ReadSenderAccount(SenderAccountPath("acc1")).UsePOP, false);
}

TEST_F(SenderAccountTest, EditedAccountMovesFileAndLogsFolder)
{
    SenderAccount a = SampleAccount();
    a.ConfName = "Old";
    WriteSenderAccount(SenderAccountPath("Old"), a);
    fs::create_directories(Logs() / "Old");
    WriteBytes(Logs() / "Old" / "run.vsl", "history");

    a.ConfName = S("新しい名前");
    a.SMTPPort = "2525";
    SaveEditedSenderAccount("Old", a);

    EXPECT_FALSE(fs::exists(Senders() / "Old.vsl"));
    std::vector<std::string> texts = SampleTexts(true, true);
    texts[0] = S("新しい名前");
    texts[2] = "2525";
    EXPECT_EQ(ReadBytes(Senders() / "新しい名前.vsl"), FileBytes(texts, Key()));
    EXPECT_FALSE(fs::exists(Logs() / "Old"));
    EXPECT_EQ(ReadBytes(Logs() / "新しい名前" / "run.vsl"), "history");

    // Without a Logs folder the file still moves.
    fs::remove_all(Logs() / "新しい名前");
    a.ConfName = "Fourth";
    EXPECT_NO_THROW(SaveEditedSenderAccount(S("新しい名前"), a));
    EXPECT_TRUE(fs::exists(Senders() / "Fourth.vsl"));
    EXPECT_FALSE(fs::exists(Logs() / "Fourth"));
    EXPECT_EQ(ListSenderAccounts(), std::vector<std::string>{"Fourth"});
}

TEST_F(SenderAccountTest, EditedAccountUnderItsOwnNameIsRewrittenInPlace)
{
    SenderAccount a = SampleAccount();
    WriteSenderAccount(SenderAccountPath(a.ConfName), a);
    fs::create_directories(Logs() / "営業部");
    a.UsePOP = false;
    SaveEditedSenderAccount(a.ConfName, a);
    EXPECT_EQ(ReadBytes(SenderAccountPath(a.ConfName)), FileBytes(SampleTexts(false, true), Key()));
    EXPECT_TRUE(fs::is_directory(Logs() / "営業部"));
    EXPECT_EQ(ListSenderAccounts().size(), 1u);
}

TEST_F(SenderAccountTest, EditedAccountNeverReplacesAnotherFile)
{
    SenderAccount a = SampleAccount();
    a.ConfName = "A";
    WriteSenderAccount(SenderAccountPath("A"), a);
    WriteBytes(SenderAccountPath("B"), "other account");
    const std::string before = ReadBytes(SenderAccountPath("A"));
    a.ConfName = "B";
    EXPECT_THROW(SaveEditedSenderAccount("A", a), FileError);
    EXPECT_EQ(ReadBytes(SenderAccountPath("A")), before);
    EXPECT_EQ(ReadBytes(SenderAccountPath("B")), "other account");
}

TEST_F(SenderAccountTest, EmptyNamesNeverMoveTheLogsFolderItself)
{
    WriteBytes(Logs() / "keep.txt", "x");
    SenderAccount a;
    WriteSenderAccount(SenderAccountPath(""), a);
    a.ConfName = "Named";
    SaveEditedSenderAccount("", a);
    EXPECT_TRUE(fs::exists(SenderAccountPath("Named")));
    EXPECT_FALSE(fs::exists(SenderAccountPath("")));
    EXPECT_EQ(ReadBytes(Logs() / "keep.txt"), "x");
    EXPECT_FALSE(fs::exists(Logs() / "Named"));

    a.ConfName = "";
    SaveEditedSenderAccount("Named", a);
    EXPECT_TRUE(fs::exists(SenderAccountPath("")));
    EXPECT_EQ(ReadBytes(Logs() / "keep.txt"), "x");
}

TEST_F(SenderAccountTest, DeleteRemovesTheFileOnly)
{
    WriteSenderAccount(SenderAccountPath("Gone"), SenderAccount{});
    fs::create_directories(Logs() / "Gone");
    EXPECT_TRUE(DeleteSenderAccount("Gone"));
    EXPECT_FALSE(fs::exists(SenderAccountPath("Gone")));
    EXPECT_TRUE(fs::is_directory(Logs() / "Gone"));
    EXPECT_FALSE(DeleteSenderAccount("Gone"));
}

TEST(SenderAccountName, SlashCommaEmptyAndDotsAreRefused)
{
    EXPECT_FALSE(IsUsableSenderAccountName("/"));
    EXPECT_FALSE(IsUsableSenderAccountName("a/b"));
    EXPECT_FALSE(IsUsableSenderAccountName("a,b"));
    EXPECT_FALSE(IsUsableSenderAccountName(S("営業,部")));
    EXPECT_FALSE(IsUsableSenderAccountName(S("ソ/")));
    // Logs/"" and Logs/".." would be the Logs folder or the data folder, and
    // Senders/".vsl" a file no list shows.
    EXPECT_FALSE(IsUsableSenderAccountName(""));
    EXPECT_FALSE(IsUsableSenderAccountName("."));
    EXPECT_FALSE(IsUsableSenderAccountName(".."));
    EXPECT_TRUE(IsUsableSenderAccountName("..."));
    EXPECT_TRUE(IsUsableSenderAccountName(".a"));
    EXPECT_TRUE(IsUsableSenderAccountName(" "));
    EXPECT_TRUE(IsUsableSenderAccountName("a b;c\\d"));
    EXPECT_TRUE(IsUsableSenderAccountName(S("ソ表能")));     // trail byte 0x5C
    EXPECT_TRUE(IsUsableSenderAccountName(S("Ａ／Ｂ，Ｃ"))); // full-width forms
}

} // namespace
} // namespace vostrel::test
