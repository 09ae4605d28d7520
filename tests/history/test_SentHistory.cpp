// The history's logic: rows read from real logs, long fields kept in part,
// which files are listed, where an entry's pictures are, deleting, the sort
// order and the page for the browser.
#include "HistoryFixture.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/SjisCodec.h"
#include "history/SentHistory.h"
#include "send/SendLog.h"

#include <QLocale>
#include <QUrl>
#include <filesystem>
#include <gtest/gtest.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;

using SentHistoryTest = HistoryTest;

TEST_F(SentHistoryTest, ARowHoldsTheFirstTwelveFieldsOfTheLogAndItsFolder)
{
    AddSender("営業部");
    LogSpec spec{.sender = "営業部", .startTime = StartTime(2)};
    spec.subject = "件名 <#-送信先名->";
    spec.toLists = {"顧客", "取引先"};
    spec.attachments = {"a.txt"};
    spec.sent = 3;
    spec.total = 10;
    const fs::path file = WriteLog(spec);

    const HistoryEntry entry = ReadHistoryEntry(file, S("営業部"));
    const SendLog stored = ReadSendLog(file); // all fifteen, through the store
    for (int i = 0; i < HistoryEntry::kFieldCount; ++i)
        EXPECT_EQ(entry.fields[static_cast<std::size_t>(i)],
                  stored.fields[static_cast<std::size_t>(i)])
            << "field " << i + 1;
    EXPECT_EQ(entry.Subject(), S("件名 <#-送信先名->"));
    EXPECT_EQ(entry.Column(1), S("顧客,取引先"));
    EXPECT_EQ(entry.Column(2), "3");
    EXPECT_EQ(entry.Column(3), "10");
    EXPECT_EQ(entry.StartTime(), S(StartTime(2).c_str()));
    EXPECT_EQ(entry.Column(11), "営業部@example.jp");
    EXPECT_EQ(entry.Column(HistoryEntry::kSenderColumn), S("営業部"));
    EXPECT_EQ(entry.cutFields, 0);
    EXPECT_EQ(entry.file, file);
}

TEST_F(SentHistoryTest, AnAddressFieldOfTenThousandAddressesIsKeptInPart)
{
    AddSender("A");
    std::string addresses;
    for (int i = 0; i < 10000; ++i)
        addresses += (i ? ", " : "") + std::string("user") + std::to_string(i) + "@example.jp";
    LogSpec spec{.sender = "A", .startTime = StartTime(1)};
    spec.toAddresses = addresses;
    const HistoryEntry entry = ReadHistoryEntry(WriteLog(spec), "A");
    EXPECT_EQ(entry.Column(8), addresses.substr(0, kHistoryFieldLimit));
    EXPECT_TRUE(entry.IsCut(8));
    EXPECT_FALSE(entry.IsCut(7));
    EXPECT_EQ(entry.cutFields, 1u << 8);
    // The fields after it are read as they are.
    EXPECT_EQ(entry.Column(9), "");
    EXPECT_EQ(entry.Column(11), "A@example.jp");

    // A cut that would split a double-byte character leaves it out whole.
    std::string japanese = "a";
    while (japanese.size() < 3 * kHistoryFieldLimit)
        japanese += "日本";
    spec.startTime = StartTime(2);
    spec.toAddresses = japanese;
    const HistoryEntry cut = ReadHistoryEntry(WriteLog(spec), "A");
    const std::string sjis = S(japanese.c_str());
    EXPECT_EQ(cut.Column(8), sjis.substr(0, kHistoryFieldLimit - 1));
    EXPECT_TRUE(cut.IsCut(8));
}

TEST_F(SentHistoryTest, EveryPlainFileOfASenderFolderIsListedByName)
{
    const fs::path folder = DataFolder() / "Logs" / "A";
    EXPECT_TRUE(HistoryFiles(folder).empty());     // no folder yet
    fs::create_directories(folder / StartTime(1)); // a picture folder
    for (const char *name : {"b.vsl", "a.log", "c", ".b.vsl.tmp-x1Y2z3"})
        WriteBytes(folder / name, "x");
    const std::vector<fs::path> files = HistoryFiles(folder);
    EXPECT_EQ(files, (std::vector<fs::path>{folder / "a.log", folder / "b.vsl", folder / "c"}));
    EXPECT_EQ(HistorySenderFolder(HistoryLogRoot(), S("営業部")), DataFolder() / "Logs" / "営業部");
}

TEST_F(SentHistoryTest, AnEntryHasPicturesOnlyBesideItsOwnFileUnderAPlainName)
{
    const fs::path folder = DataFolder() / "Logs" / "A";
    struct Case
    {
        std::string fileName;
        std::string startTime;
        bool hasPictures;
    };
    const Case cases[] = {
        {StartTime(1) + ".vsl", StartTime(1), true},
        {"copy.vsl", StartTime(1), false},
        {StartTime(1), StartTime(1), false},
        {"...vsl", "..", false},
        {".vsl", "", false},
        {"x.vsl", "../x", false},
    };
    for (const Case &c : cases) {
        HistoryEntry entry;
        entry.fields[4] = S(c.startTime.c_str());
        entry.file = folder / c.fileName;
        const std::optional<fs::path> pictures = HistoryPictureFolder(entry);
        EXPECT_EQ(pictures.has_value(), c.hasPictures) << c.fileName;
        if (pictures) {
            EXPECT_EQ(*pictures, folder / c.startTime);
        }
    }
}

TEST_F(SentHistoryTest, DeletingRemovesTheFileAndThePicturesAndNothingElse)
{
    AddSender("A");
    LogSpec spec{.sender = "A", .startTime = StartTime(1)};
    spec.pictures = {{"p.png", "png"}};
    const fs::path file = WriteLog(spec);
    spec.startTime = StartTime(2);
    const fs::path other = WriteLog(spec);
    const HistoryEntry entry = ReadHistoryEntry(file, "A");
    ASSERT_TRUE(fs::exists(DataFolder() / "Logs" / "A" / StartTime(1) / "p.png"));

    DeleteHistoryEntry(entry);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(DataFolder() / "Logs" / "A" / StartTime(1)));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(DataFolder() / "Logs" / "A" / StartTime(2) / "p.png"));
    // Gone already: silent.
    EXPECT_NO_THROW(DeleteHistoryEntry(entry));

    // A file that cannot be deleted is named, and its pictures stay.
    HistoryEntry stuck = ReadHistoryEntry(other, "A");
    const fs::path blocked = DataFolder() / "Logs" / "A" / "blocked";
    fs::create_directories(blocked / "inside");
    stuck.file = blocked;
    try {
        DeleteHistoryEntry(stuck);
        ADD_FAILURE() << "no error";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), blocked);
        EXPECT_NE(std::string(e.what()).find(blocked.string()), std::string::npos);
    }
    EXPECT_TRUE(fs::exists(blocked / "inside"));
}

TEST_F(SentHistoryTest, RowsSortAsTextByTheSignedColumnAndEqualRowsKeepTheirOrder)
{
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    const auto reset = [] { QLocale::setDefault(QLocale::c()); };
    struct Row
    {
        const char *subject;
        const char *count;
        const char *sender;
    };
    const Row rows[] = {{"b", "9", "B"}, {"A", "10", "A"}, {"a", "100", "B"}, {"B", "9", "A"}};
    std::vector<HistoryEntry> entries;
    for (const Row &row : rows) {
        HistoryEntry entry;
        entry.fields[0] = row.subject;
        entry.fields[2] = row.count;
        entry.sender = row.sender;
        entries.push_back(entry);
    }
    struct Case
    {
        int sortState;
        std::vector<std::size_t> order;
    };
    const Case cases[] = {
        {0, {0, 1, 2, 3}},   {1, {2, 1, 0, 3}}, // a A b B: case-sensitive, lower case first
        {-1, {3, 0, 1, 2}},                     // reversed
        {3, {1, 2, 0, 3}},   // "10" "100" "9" "9": numbers as text, ties in order
        {-3, {0, 3, 2, 1}},  // ties keep their order both ways
        {13, {1, 3, 0, 2}},  // the sender column
        {-13, {0, 2, 1, 3}}, //
        {14, {0, 1, 2, 3}},  // no such column: unsorted
    };
    for (const Case &c : cases)
        EXPECT_EQ(HistorySortOrder(entries, c.sortState), c.order) << c.sortState;
    reset();
}

// The log does not say whether a mail was HTML: its body's tags do.
TEST_F(SentHistoryTest, OnlyABodyWithHtmlTagsIsTakenForHtml)
{
    for (const char *html :
         {"<p>本文</p>", "<!DOCTYPE html>\r\n本文", "<!doctype HTML>", "本文<BR>続き", "本文<br/>",
          "<div\r\nclass=\"x\">", "前</FONT>後", "<font color=red>赤</font>", "<h1>見出し</h1>",
          "<img src=\"cid:image1.png\">", "<table border=1>"})
        EXPECT_TRUE(LooksLikeHtml(S(html))) << html;
    for (const char *text :
         {"", "本文だけ", "山田 <yamada@example.jp> 様", "a < b かつ b > c", "<http://example.jp/>",
          "<>", "<p", "<pa>", "<!-- 注 -->", "<<<", "価格 <100円>", "<!DOCTYP"})
        EXPECT_FALSE(LooksLikeHtml(S(text))) << text;
}

// A text mail is shown as text: escaped, its lines kept, in a Shift_JIS page.
TEST_F(SentHistoryTest, ATextBodyIsShownAsTextWithItsLineBreaks)
{
    const std::string page = HistoryPage(S("一行目\n二行目 a < b & \"c\" > d\r\n\r\n四行目"),
                                         DataFolder() / "Logs" / "x" / StartTime(1));
    EXPECT_EQ(page, S("<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"Shift_JIS\">\r\n"
                      "</head>\r\n<body>\r\n<pre style=\"white-space: pre-wrap; "
                      "font-family: inherit;\">一行目\r\n二行目 a &lt; b &amp; &quot;c&quot; "
                      "&gt; d\r\n\r\n四行目\r\n</pre>\r\n</body>\r\n</html>\r\n"));
    // A trail byte that looks like an ASCII letter or "\\" stays as it is.
    EXPECT_NE(HistoryPage(S("ソ表"), std::nullopt).find(S("ソ表")), std::string::npos);
}

TEST_F(SentHistoryTest, ThePageFollowsTheDeclaredCharsetAndPointsContentIdsAtThePictures)
{
    const fs::path pictures = DataFolder() / "Logs" / "営業部" / StartTime(1);
    const std::string folderUrl =
        QUrl::fromLocalFile(QString::fromStdString((pictures / "").native()))
            .toEncoded()
            .toStdString();
    ASSERT_EQ(folderUrl.find("営"), std::string::npos); // percent-encoded
    struct Case
    {
        std::string body; // UTF-8 here, Shift_JIS in the log
        bool withPictures;
        std::string page; // the expected bytes, before any conversion
        bool utf8;
    };
    const Case cases[] = {
        {"<meta charset=\"utf-8\">\n<p>日本語</p><img src=\"cid:p.png\">", true,
         "<meta charset=\"utf-8\">\r\n<p>日本語</p><img src=\"" + folderUrl + "p.png\">\r\n", true},
        {"<meta charset='UTF-8'><p>日本語</p>", true, "<meta charset='UTF-8'><p>日本語</p>\r\n",
         true},
        {"<meta charset=\"Shift_JIS\">\r\n<p>日本語</p>", true,
         "<meta charset=\"Shift_JIS\">\r\n<p>日本語</p>\r\n", false},
        {"<p>日本語 cid:x</p>", true, "<p>日本語 " + folderUrl + "x</p>\r\n", false},
        {"<p>cid:x</p>\r<p>b</p>", false, "<p>cid:x</p>\r\n<p>b</p>\r\n", false},
        {"", true, "", false},
    };
    for (const Case &c : cases) {
        const std::optional<fs::path> folder =
            c.withPictures ? std::optional<fs::path>(pictures) : std::nullopt;
        const std::string expected = c.utf8 ? c.page : S(c.page.c_str());
        EXPECT_EQ(HistoryPage(S(c.body.c_str()), folder), expected) << c.body;
    }
    const fs::path file = WriteHistoryPage(S("<p>日本語</p>"), std::nullopt);
    EXPECT_EQ(file, WorkFolder() / "History_work.html");
    EXPECT_EQ(ReadBytes(file), S("<p>日本語</p>\r\n"));
}

} // namespace
} // namespace vostrel::test
