// The list files: exact bytes written, hand-written files read back, the
// append used after a send, renaming, deleting and the name rules.
#include "ListFiles.h"

#include "core/AppState.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "support/VostrelTest.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;

class DestinationStoreTest : public DestinationTest
{};

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Recipient MakeRecipient(const std::string &tag)
{
    Recipient r;
    const std::vector<std::string> fields = RecipientFields(tag);
    std::copy(fields.begin(), fields.end(), r.fields.begin());
    return r;
}

TEST_F(DestinationStoreTest, NewListHoldsThreeFlagsAndZeroCount)
{
    CreateDestinationList(S("顧客"), true, false, false);
    EXPECT_EQ(ReadBytes(ListFile("顧客")), FieldsBytes({"-1", "0", "0", "0"}));

    CreateDestinationList("other", false, true, true);
    EXPECT_EQ(ReadBytes(ListFile("other")), FieldsBytes({"0", "-1", "-1", "0"}));
    // The empty text field takes 12 bytes: each of these short texts one block.
    EXPECT_EQ(ReadBytes(ListFile("other")).size(), 4u * 12u);
}

TEST_F(DestinationStoreTest, CreateOverAnExistingListLeavesItEmpty)
{
    WriteListFile(ListFile("old"), {"-1", "-1", "-1"}, "1", RecipientFields("a"));
    CreateDestinationList("old", false, false, true);
    EXPECT_EQ(ReadFieldsOf(ListFile("old")), (std::vector<std::string>{"0", "0", "-1", "0"}));
}

TEST_F(DestinationStoreTest, HandWrittenFileReadsBack)
{
    // "ソ" and "表" carry a backslash code as their second byte.
    std::vector<std::string> first = RecipientFields(S("山田ソ"));
    first[1] = S("御中");
    first[12] = S("表\\x");
    const std::vector<std::string> second = RecipientFields("b");
    WriteListFile(ListFile("名簿"), {"-1", "0", "1"}, "2", Concat({first, second}));

    const DestinationList list = LoadDestinationList(S("名簿"));
    EXPECT_EQ(list.name, S("名簿"));
    EXPECT_EQ(list.sendType, (SendType{true, false, true}));
    ASSERT_EQ(list.recipients.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(list.recipients[0].fields.begin(),
                                       list.recipients[0].fields.end()),
              first);
    EXPECT_EQ(list.recipients[1].Name(), "b" + S("-名前"));
    EXPECT_EQ(list.recipients[1].Address(), "b@example.jp");
    EXPECT_EQ(list.recipients[1].Merge(10), "b-10");
}

TEST_F(DestinationStoreTest, FlagTextsAreReadAsNumbers)
{
    WriteListFile(ListFile("a"), {"0", "7", "x"}, "0", {});
    EXPECT_EQ(LoadDestinationList("a").sendType, (SendType{false, true, false}));
    WriteListFile(ListFile("b"), {"True", "+0", "-2"}, "0", {});
    EXPECT_EQ(LoadDestinationList("b").sendType, (SendType{true, false, true}));
}

TEST_F(DestinationStoreTest, SaveWritesFlagsCountAndEveryFieldInOrder)
{
    const std::vector<Recipient> recipients = {MakeRecipient("x"), MakeRecipient(S("ｶﾅ")),
                                               Recipient{}};
    size_t calls = 0, last = 0;
    SaveDestinationList("s", SendType{false, true, false}, recipients, CurrentKey(),
                        [&](size_t written) {
                            ++calls;
                            EXPECT_EQ(written, last + 1);
                            last = written;
                        });
    EXPECT_EQ(calls, 3u);
    std::vector<std::string> empty(13);
    EXPECT_EQ(ReadBytes(ListFile("s")),
              FieldsBytes(Concat(
                  {{"0", "-1", "0", "3"}, RecipientFields("x"), RecipientFields(S("ｶﾅ")), empty})));
    EXPECT_EQ(LoadDestinationList("s").recipients, recipients);
}

TEST_F(DestinationStoreTest, AppendKeepsFlagFieldsAndAddsGroupsOfThirteen)
{
    // Flag texts that the program itself would never write must survive.
    WriteListFile(ListFile("fail"), {"1", "False", "-1"}, "3",
                  Concat({RecipientFields("r1"), RecipientFields("r2"), RecipientFields("r3")}));
    const std::string before = ReadBytes(ListFile("fail"));
    const std::vector<std::string> beforeFields = RawFieldsOf(before);
    const std::vector<std::string> before3(beforeFields.begin(), beforeFields.begin() + 3);

    AppendRecipients("fail", Concat({RecipientFields("n1"), RecipientFields("n2")}));

    const std::vector<std::string> raw = RawFieldsOf(ReadBytes(ListFile("fail")));
    ASSERT_EQ(raw.size(), 4u + 5u * 13u);
    EXPECT_EQ(std::vector<std::string>(raw.begin(), raw.begin() + 3), before3);
    EXPECT_EQ(ReadFieldsOf(ListFile("fail")), Concat({{"1", "False", "-1", "5"},
                                                      RecipientFields("r1"),
                                                      RecipientFields("r2"),
                                                      RecipientFields("r3"),
                                                      RecipientFields("n1"),
                                                      RecipientFields("n2")}));
}

TEST_F(DestinationStoreTest, AppendToANewListAndWithAShortLastGroup)
{
    CreateDestinationList(S("送信失敗"), false, false, true);
    AppendRecipients(S("送信失敗"), RecipientFields("a"));
    std::vector<std::string> shortGroup = {"only", "two"};
    AppendRecipients(S("送信失敗"), shortGroup);
    std::vector<std::string> padded = {"only", "two"};
    padded.resize(13);
    EXPECT_EQ(ReadFieldsOf(ListFile("送信失敗")),
              Concat({{"0", "0", "-1", "2"}, RecipientFields("a"), padded}));
}

TEST_F(DestinationStoreTest, CountThatIsNotANumberReadsAsEmpty)
{
    WriteListFile(ListFile("abc"), {"-1", "0", "0"}, "abc", RecipientFields("hidden"));
    const DestinationList list = LoadDestinationList("abc");
    EXPECT_TRUE(list.recipients.empty());
    SaveDestinationList("abc", list.sendType, list.recipients);
    EXPECT_EQ(ReadFieldsOf(ListFile("abc")), (std::vector<std::string>{"-1", "0", "0", "0"}));

    // The append reads the bad count as 0 too: the new count counts only the new ones.
    WriteListFile(ListFile("bad"), {"0", "-1", "0"}, "12x", RecipientFields("hidden"));
    AppendRecipients("bad", RecipientFields("new"));
    EXPECT_EQ(ReadFieldsOf(ListFile("bad")),
              Concat({{"0", "-1", "0", "1"}, RecipientFields("new")}));

    WriteListFile(ListFile("neg"), {"0", "-1", "0"}, "-4", {});
    EXPECT_TRUE(LoadDestinationList("neg").recipients.empty());
}

TEST_F(DestinationStoreTest, FileCutShortReportsWhatWasRead)
{
    // Three recipients announced; the file ends inside the third one.
    std::string bytes = FieldsBytes(Concat({{"-1", "0", "0", "3"},
                                            RecipientFields("r1"),
                                            RecipientFields("r2"),
                                            RecipientFields("r3")}));
    bytes.resize(bytes.size() - 30);
    WriteBytes(ListFile("cut"), bytes);
    try {
        LoadDestinationList("cut");
        FAIL() << "no error for a file cut short";
    } catch (const DestinationListDamagedError &e) {
        EXPECT_EQ(e.RecipientsRead(), 2u);
        ASSERT_EQ(e.Partial().recipients.size(), 2u);
        EXPECT_EQ(e.Partial().recipients[1], MakeRecipient("r2"));
        EXPECT_EQ(e.Partial().sendType, (SendType{true, false, false}));
        const std::string text = e.what();
        EXPECT_NE(text.find(ListFile("cut").string()), std::string::npos) << text;
        EXPECT_NE(text.find("読み込めた宛先は 2 件です。"), std::string::npos) << text;
    }
    // Nothing is written over a file that cannot be read whole.
    EXPECT_THROW(AppendRecipients("cut", RecipientFields("x")), DestinationListDamagedError);
    EXPECT_EQ(ReadBytes(ListFile("cut")), bytes);

    // Ending before the count.
    WriteBytes(ListFile("head"), FieldsBytes({"-1", "0"}));
    try {
        LoadDestinationList("head");
        FAIL() << "no error for a file without a count";
    } catch (const DestinationListDamagedError &e) {
        EXPECT_EQ(e.RecipientsRead(), 0u);
        EXPECT_TRUE(e.Partial().recipients.empty());
    }
    EXPECT_THROW(LoadDestinationList("missing"), FileError);
}

TEST_F(DestinationStoreTest, ListingGivesNamesFlagsAndCounts)
{
    WriteListFile(ListFile("b"), {"-1", "0", "-1"}, "2",
                  Concat({RecipientFields("1"), RecipientFields("2")}));
    WriteListFile(ListFile("a"), {"0", "-1", "0"}, "0", {});
    WriteListFile(DataFolder() / "Receivers" / "Upper.VSL", {"0", "0", "-1"}, "x", {});
    WriteBytes(ListFile("short"), FieldsBytes({"-1"}));
    WriteBytes(DataFolder() / "Receivers" / "note.txt", "not a list");
    fs::create_directory(ListFile("folder"));

    const std::vector<DestinationListEntry> entries = ListDestinationLists();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "Upper");
    EXPECT_EQ(entries[0].sendType, (SendType{false, false, true}));
    EXPECT_EQ(entries[0].count, 0);
    EXPECT_TRUE(entries[0].headerReadable);
    EXPECT_EQ(entries[1].name, "a");
    EXPECT_EQ(entries[1].sendType, (SendType{false, true, false}));
    EXPECT_EQ(entries[2].name, "b");
    EXPECT_EQ(entries[2].sendType, (SendType{true, false, true}));
    EXPECT_EQ(entries[2].count, 2);
    EXPECT_EQ(entries[3].name, "short");
    EXPECT_FALSE(entries[3].headerReadable);
    EXPECT_EQ(entries[3].sendType, (SendType{true, false, false}));

    // A list whose extension has another letter case is still that list.
    EXPECT_EQ(DestinationListPath("Upper"), DataFolder() / "Receivers" / "Upper.VSL");
    EXPECT_EQ(LoadDestinationList("Upper").sendType, (SendType{false, false, true}));
}

TEST_F(DestinationStoreTest, AListNamedWithAUserDefinedCharacterIsStillListed)
{
    // Named before such characters were refused: it can still be found and
    // opened.
    const std::string name = "list\xF0\x40";
    WriteListFile(DataFolder() / "Receivers" / "list\uE000.vsl", {"-1", "0", "0"}, "1",
                  RecipientFields("1"));
    const std::vector<DestinationListEntry> entries = ListDestinationLists();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, name);
    EXPECT_EQ(LoadDestinationList(name).recipients.size(), 1u);
}

TEST_F(DestinationStoreTest, RenameAndDelete)
{
    WriteListFile(ListFile("one"), {"-1", "0", "0"}, "1", RecipientFields("x"));
    WriteListFile(ListFile("two"), {"0", "-1", "0"}, "0", {});
    const std::string one = ReadBytes(ListFile("one"));
    const std::string two = ReadBytes(ListFile("two"));

    // Never over another list.
    EXPECT_FALSE(RenameDestinationList("one", "two"));
    EXPECT_EQ(ReadBytes(ListFile("one")), one);
    EXPECT_EQ(ReadBytes(ListFile("two")), two);

    EXPECT_TRUE(RenameDestinationList("one", S("新しい名前")));
    EXPECT_FALSE(fs::exists(ListFile("one")));
    EXPECT_EQ(ReadBytes(ListFile("新しい名前")), one);

    EXPECT_TRUE(DeleteDestinationList("two"));
    EXPECT_FALSE(fs::exists(ListFile("two")));
    EXPECT_FALSE(DeleteDestinationList("two"));
}

TEST_F(DestinationStoreTest, ListNameRules)
{
    const std::string empty = S("送信先リスト名を入力してください");
    const std::string forbidden = S("送信先リスト名に「\\/:*?\"<>|」の文字は使えません");
    const std::string comma = S("送信先リスト名に「,」の文字は使えません");
    const std::string exists = S("既に存在する送信先リスト名です");

    EXPECT_EQ(CheckListName("", ""), empty);
    for (char c : std::string("\\/:*?\"<>|"))
        EXPECT_EQ(CheckListName(std::string("a") + c + "b", ""), forbidden) << c;
    EXPECT_EQ(CheckListName("a,b", ""), comma);
    // The forbidden characters are looked for first.
    EXPECT_EQ(CheckListName("a,b|", ""), forbidden);
    // Second bytes of double-byte characters never count.
    EXPECT_EQ(CheckListName(S("ソフト表示"), ""), "");
    EXPECT_EQ(CheckListName(S("ー|"), ""), forbidden);
    EXPECT_EQ(CheckListName(" ", ""), "");

    CreateDestinationList(S("顧客"), true, false, false);
    EXPECT_EQ(CheckListName(S("顧客"), ""), exists);
    EXPECT_EQ(CheckListName(S("顧客"), "other"), exists);
    EXPECT_EQ(CheckListName(S("顧客"), S("顧客")), "");
    // The file system decides about letter case.
    CreateDestinationList("Abc", true, false, false);
    EXPECT_EQ(CheckListName("ABC", ""), "");
    EXPECT_EQ(CheckListName("", S("顧客")), empty);
}

} // namespace
} // namespace vostrel::test
