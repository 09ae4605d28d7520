// The draft's logic without a window: names, work files, the preview page,
// text file encodings and the send job.
#include "compose/DraftFiles.h"
#include "compose/MailDraft.h"
#include "compose/Preview.h"
#include "core/AppState.h"
#include "core/Errors.h"
#include "core/SjisCodec.h"
#include "core/TextFile.h"
#include "destinations/DestinationStore.h"
#include "support/VostrelTest.h"

#include <QRegularExpression>
#include <QString>
#include <QStringEncoder>
#include <filesystem>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using ComposeLogicTest = VostrelTest;

Recipient Person(const char *name, const char *address)
{
    Recipient r;
    r.fields[0] = S(name);
    r.fields[2] = address;
    return r;
}

std::vector<std::string> FilesIn(const fs::path &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

// ---- Names ----

TEST(PictureNameTest, IsImageTimeUnderscoreEightDigitsAndTheExtensionAsGiven)
{
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 15;
    t.tm_hour = 14;
    t.tm_min = 30;
    t.tm_sec = 59;
    EXPECT_EQ(MakePictureName(t, 48210977, ".jpg"), "image240315143059_48210977.jpg");
    t.tm_year = 2009 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 2;
    t.tm_hour = 3;
    t.tm_min = 4;
    t.tm_sec = 5;
    EXPECT_EQ(MakePictureName(t, 10000000, ".PNG"), "image090102030405_10000000.PNG");

    const QRegularExpression form(u"^image(\\d{12})_(\\d{8})(.*)$"_qs);
    const auto stamp = [] {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        return MakePictureName(local, 0, "").substr(5, 12);
    };
    for (const auto &[chosen, extension] :
         std::vector<std::pair<std::string, std::string>>{{"photo.JPG", ".JPG"},
                                                          {"/home/u/a.b/pic.jpeg", ".jpeg"},
                                                          {S("写真.png"), ".png"},
                                                          {"noextension", ""}}) {
        const std::string before = stamp();
        const std::string name = PictureName(chosen);
        const std::string after = stamp();
        const auto match = form.match(QString::fromStdString(name));
        ASSERT_TRUE(match.hasMatch()) << name;
        EXPECT_GE(match.captured(1).toStdString(), before);
        EXPECT_LE(match.captured(1).toStdString(), after);
        const int random = match.captured(2).toInt();
        EXPECT_GE(random, 10000000);
        EXPECT_LE(random, 99999998);
        EXPECT_EQ(match.captured(3).toStdString(), extension);
    }
}

TEST(AttachmentNameTest, IsTheBaseNameWithFullWidthCommas)
{
    EXPECT_EQ(AttachmentName("/tmp/in/a,b.txt"), S("a，b.txt"));
    EXPECT_EQ(AttachmentName("/tmp/in/,,x,"), S("，，x，"));
    EXPECT_EQ(AttachmentName(fs::path("/tmp/見積,書/請求書.pdf")), S("請求書.pdf"));
    EXPECT_THROW(AttachmentName(fs::path("/tmp/\xF0\x9F\x98\x80.txt")), UnencodableCharacterError);
}

// ---- Work files ----

TEST_F(ComposeLogicTest, CopyNeverOverwritesAndLeavesNothingHalfWritten)
{
    const fs::path first = TempDir() / "first.pdf";
    const fs::path second = TempDir() / "second.pdf";
    WriteBytes(first, std::string(200000, 'a') + "end");
    WriteBytes(second, "other");
    const fs::path target = AttachmentFolder() / "x.pdf";

    EXPECT_EQ(CopyFileNoOverwrite(first, target), CopyResult::Copied);
    EXPECT_EQ(ReadBytes(target), ReadBytes(first));
    EXPECT_EQ(CopyFileNoOverwrite(second, target), CopyResult::AlreadyThere);
    EXPECT_EQ(ReadBytes(target), ReadBytes(first));
    EXPECT_EQ(FilesIn(AttachmentFolder()), std::vector<std::string>{"x.pdf"});

    try {
        CopyFileNoOverwrite(TempDir() / "missing.pdf", AttachmentFolder() / "m.pdf");
        ADD_FAILURE() << "a missing source was copied";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), TempDir() / "missing.pdf");
        EXPECT_NE(std::string(e.what()).find("ファイルを読み込めませんでした"), std::string::npos);
    }
    try {
        CopyFileNoOverwrite(first, TempDir() / "no-such-folder" / "x.pdf");
        ADD_FAILURE() << "a copy into a missing folder succeeded";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), TempDir() / "no-such-folder" / "x.pdf");
        EXPECT_NE(std::string(e.what()).find("ファイルに書き込めませんでした"), std::string::npos);
    }
    EXPECT_EQ(FilesIn(AttachmentFolder()), std::vector<std::string>{"x.pdf"});
}

TEST_F(ComposeLogicTest, CopyAttachmentUsesTheListedName)
{
    const fs::path chosen = TempDir() / "a,b.txt";
    WriteBytes(chosen, "abc");
    EXPECT_EQ(CopyAttachment(chosen), S("a，b.txt"));
    EXPECT_EQ(ReadBytes(AttachmentFolder() / "a，b.txt"), "abc");
}

TEST_F(ComposeLogicTest, DeletingWorkFilesStaysInsideTheFolder)
{
    const fs::path victim = WorkFolder() / "victim.txt";
    WriteBytes(victim, "keep");
    WriteBytes(AttachmentFolder() / "a.txt", "go");
    WriteBytes(AttachmentFolder() / "添付.txt", "go");
    DeleteWorkFiles(AttachmentFolder(),
                    {"", ".", "..", "../victim.txt", "a.txt", S("添付.txt"), "not-there.txt"});
    EXPECT_TRUE(fs::exists(victim));
    EXPECT_TRUE(FilesIn(AttachmentFolder()).empty());
    EXPECT_TRUE(fs::is_directory(AttachmentFolder()));
}

TEST_F(ComposeLogicTest, DeleteDraftFilesRemovesCopiesPicturesAndThePreview)
{
    WriteBytes(AttachmentFolder() / "a.txt", "1");
    WriteBytes(AttachmentFolder() / "other.txt", "not of this draft");
    WriteBytes(PictureFolder() / "image1.png", "2");
    WriteBytes(PreviewFile(), "3");
    WriteBytes(WorkFolder() / "History_work.html", "history");
    DeleteDraftFiles({"a.txt"}, {"image1.png", "image2.png"});
    EXPECT_EQ(FilesIn(AttachmentFolder()), std::vector<std::string>{"other.txt"});
    EXPECT_TRUE(FilesIn(PictureFolder()).empty());
    EXPECT_FALSE(fs::exists(PreviewFile()));
    EXPECT_TRUE(fs::exists(WorkFolder() / "History_work.html"));
}

TEST_F(ComposeLogicTest, TheTemplateIsWrittenOnceAndDeclaresShiftJis)
{
    EXPECT_FALSE(fs::exists(HtmlTemplateFile()));
    EnsureHtmlTemplate();
    const std::string text = ReadBytes(HtmlTemplateFile());
    EXPECT_EQ(text, DefaultHtmlTemplate());
    EXPECT_TRUE(text.starts_with("<!DOCTYPE html>\r\n"));
    EXPECT_EQ(DeclaredCharset(text), "SHIFT_JIS");
    EXPECT_NE(text.find("<title>"), std::string::npos);
    WriteBytes(HtmlTemplateFile(), "mine");
    EnsureHtmlTemplate();
    EXPECT_EQ(ReadBytes(HtmlTemplateFile()), "mine");
}

// ---- Preview ----

struct CharsetCase
{
    const char *declaration;
    bool utf8;
};

TEST(PreviewPageTest, ConvertsToUtf8ExactlyWhenTheDeclaredCharsetSaysSo)
{
    const CharsetCase cases[] = {
        {"<meta charset=utf-8>", true},
        {"<meta charset=\"UTF-8\">", true},
        {"<meta charset='Utf-8'>", true},
        {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">", true},
        {"<meta charset=\r\n\"utf-8\"\r\n>", true}, // line breaks belong to the run
        {"<meta charset=>utf-8>", true},            // the run is at least one character
        {"<meta CHARSET=utf-8>", false},            // the keyword is case-sensitive
        {"<meta Charset=\"utf-8\">", false},
        {"<meta charset=\"Shift_JIS\">", false},
        {"<meta charset=\"utf8\">", false},
        {"<meta charset=utf-8 <p", true}, // the run ends at the first ">"
        {"", false},
    };
    const std::string body = S("<p>日本語の本文</p>");
    for (const CharsetCase &c : cases) {
        const std::string source = std::string(c.declaration) + body;
        const std::string page = PreviewPage(source, "/tmp/pics/");
        EXPECT_EQ(page, c.utf8 ? SjisToUtf8(source) : source) << c.declaration;
    }
    // No ">" after the keyword: no declaration.
    const std::string unclosed = body + "<meta charset=utf-8";
    EXPECT_EQ(PreviewPage(unclosed, "/tmp/pics/"), unclosed);
    // Only the first declaration counts.
    const std::string twice = "<meta charset=\"Shift_JIS\"><meta charset=\"utf-8\">" + body;
    EXPECT_EQ(PreviewPage(twice, "/tmp/pics/"), twice);
}

TEST(PreviewPageTest, EveryCidBecomesTheLocalPictureFolder)
{
    const std::string source = "<img src=\"cid:image1.jpg\"><p>" + S("ツ") +
                               "id: cid: text</p><img src=\"cid:image2.png\">";
    const std::string folderUrl = "file:///tmp/%E5%86%99%E7%9C%9F%20a/HtmlImage/";
    EXPECT_EQ(PreviewPage(source, "/tmp/写真 a/HtmlImage/"),
              "<img src=\"" + folderUrl + "image1.jpg\"><p>" + S("ツ") + "id: " + folderUrl +
                  " text</p><img src=\"" + folderUrl + "image2.png\">");
    // In a page converted to UTF-8 as well.
    const std::string utf8 = "<meta charset=utf-8>" + S("画像") + "<img src=\"cid:p.gif\">";
    EXPECT_EQ(PreviewPage(utf8, "/tmp/写真 a/HtmlImage"),
              "<meta charset=utf-8>画像<img src=\"" + folderUrl + "p.gif\">");
}

TEST_F(ComposeLogicTest, ThePreviewFileIsReplacedWhole)
{
    WriteBytes(PreviewFile(), std::string(5000, 'x'));
    EXPECT_EQ(WritePreviewFile("<p>cid:a</p>"), PreviewFile());
    EXPECT_EQ(ReadBytes(PreviewFile()), PreviewPage("<p>cid:a</p>", PictureFolder()));
}

TEST(MergeTagUseTest, FindsAnyOfTheThirteenTags)
{
    EXPECT_FALSE(UsesMergeTags(""));
    EXPECT_FALSE(UsesMergeTags(S("<#-送信先名> <#-差込11->")));
    EXPECT_TRUE(UsesMergeTags(S("様 <#-送信先名->")));
    EXPECT_TRUE(UsesMergeTags(S("<#-差込１０->")));
}

TEST_F(ComposeLogicTest, PreviewRecipientsComeFromTheReadableListsInOrder)
{
    SaveDestinationList("a", {true, false, false},
                        {Person("一", "1@example.jp"), Person("二", "2@example.jp")});
    SaveDestinationList("b", {true, false, false}, {Person("三", "3@example.jp")});
    const auto recipients = PreviewRecipients({"b", "missing", "a"});
    ASSERT_EQ(recipients.size(), 3u);
    EXPECT_EQ(recipients[0].listName, "b");
    EXPECT_EQ(recipients[0].recipient.Address(), "3@example.jp");
    EXPECT_EQ(recipients[1].recipient.Name(), S("一"));
    EXPECT_EQ(recipients[2].listName, "a");
    // Only as many as asked for.
    const auto first = PreviewRecipients({"a", "b"}, 2);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1].recipient.Address(), "2@example.jp");
    // A list cut short offers what was read before the cut.
    const std::string whole = ReadBytes(DestinationListPath("a"));
    WriteBytes(DestinationListPath("a"), whole.substr(0, whole.size() - 10));
    const auto cut = PreviewRecipients({"a"});
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].recipient.Name(), S("一"));
}

// ---- Text files ----

struct EncodingCase
{
    TextEncoding encoding;
    const char *bom;
    const char *codec; // QStringConverter name
};

TEST(TextFileTest, EachEncodingRoundTripsByteForByte)
{
    const QString text = u"<p>日本語テキスト ｶﾀｶﾅ ①</p>\r\nline 2\nline 3"_qs;
    const EncodingCase cases[] = {
        {TextEncoding::Utf8, "\xEF\xBB\xBF", "UTF-8"},
        {TextEncoding::Utf16LE, "\xFF\xFE", "UTF-16LE"},
        {TextEncoding::Utf16BE, "\xFE\xFF", "UTF-16BE"},
    };
    for (const EncodingCase &c : cases) {
        QStringEncoder encoder(c.codec);
        const QByteArray encoded = encoder.encode(text);
        const std::string bytes = std::string(c.bom) + encoded.toStdString();
        const DecodedText decoded = DecodeTextFile(bytes);
        EXPECT_EQ(decoded.encoding, c.encoding) << c.codec;
        EXPECT_EQ(decoded.text, QStringToSjis(text)) << c.codec;
        EXPECT_EQ(EncodeTextFile(decoded.text, c.encoding), bytes) << c.codec;
    }
    const std::string sjis = QStringToSjis(text);
    const DecodedText plain = DecodeTextFile(sjis);
    EXPECT_EQ(plain.encoding, TextEncoding::ShiftJis);
    EXPECT_EQ(plain.text, sjis);
    EXPECT_EQ(EncodeTextFile(sjis, TextEncoding::ShiftJis), sjis);
}

TEST(TextFileTest, UnmarkedUtf8IsReadAndWrittenBackWithoutAMark)
{
    for (const std::string utf8 : {"こんにちは\n", "<p>日本語 ｶﾅ ①</p>\r\n"}) {
        const DecodedText decoded = DecodeTextFile(utf8);
        EXPECT_EQ(decoded.encoding, TextEncoding::Utf8NoMark) << utf8;
        EXPECT_EQ(decoded.text, Utf8ToSjis(utf8));
        EXPECT_EQ(EncodeTextFile(decoded.text, decoded.encoding), utf8);
    }
}

TEST(TextFileTest, ContentThatCannotBeTheProgramsTextNamesItsLine)
{
    const std::pair<std::string, std::size_t> bad[] = {
        {"a\r\nb\r\nc😀", 3},         // UTF-8: a character Shift_JIS lacks
        {"a\rb\n\n\xF0\x40", 4},     // Shift_JIS: a user-defined character
        {"\xEF\xBB\xBF\n\n\xFF", 3}, // marked UTF-8 that is not UTF-8
        {"\x88\x9F\r\n\x88", 2},     // neither
    };
    for (const auto &[bytes, line] : bad) {
        try {
            DecodeTextFile(bytes);
            ADD_FAILURE() << bytes << " was read";
        } catch (const TextContentError &e) {
            EXPECT_EQ(e.Line(), line) << bytes;
            EXPECT_TRUE(std::string(e.what()).starts_with(std::to_string(line) + " 行目"))
                << e.what();
        }
    }
}

TEST_F(ComposeLogicTest, BadContentIsRefusedNamingTheFile)
{
    const std::pair<const char *, std::string> bad[] = {
        {"odd.txt", std::string("\xFF\xFE\x41", 3)},
        {"lone.txt", std::string("\xFF\xFE\x00\xD8\x41\x00", 6)},
        {"emoji.txt", "\xEF\xBB\xBF\xF0\x9F\x98\x80"},
        {"broken.txt", "\xEF\xBB\xBF\xC3"},
    };
    for (const auto &[name, bytes] : bad) {
        WriteBytes(TempDir() / name, bytes);
        try {
            ReadEditorFile(TempDir() / name);
            ADD_FAILURE() << name << " was read";
        } catch (const FileError &e) {
            EXPECT_EQ(e.File(), TempDir() / name);
        }
    }
    EXPECT_THROW(ReadFileBytes(TempDir() / "missing.txt"), FileError);
}

TEST(TextFileTest, MemoLinesEachEndInCrLf)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a", "a\r\n"},
        {"a\nb", "a\r\nb\r\n"},
        {"a\r\n", "a\r\n"},
        {"a\r\rb\r\n\r\n", "a\r\n\r\nb\r\n\r\n"},
        {"\n", "\r\n"},
    };
    for (const auto &[text, file] : cases)
        EXPECT_EQ(TextLinesWithCrLf(text), file);
}

// ---- The draft ----

TEST(MailDraftTest, TheSendJobSplitsEveryListAndPrefersTheTextBody)
{
    MailDraft draft;
    draft.senders = S("本店,My Account");
    draft.senderSwitchEvery = 3;
    draft.sendIndividually = false;
    draft.toLists = S("My List,得意先");
    draft.ccLists = "c";
    draft.ccFirstOnly = false;
    draft.bccLists = "";
    draft.bccFirstOnly = true;
    draft.attachments = S("a，b.txt,x.pdf,x.pdf");
    draft.subject = S("件名 <#-送信先名->");
    draft.textBody = "text\r\nbody";
    draft.htmlBody = "<p>html</p>";
    draft.sendAsHtml = true;
    draft.intervalMs = 0;
    draft.inlinePictures = {"image1.png"};

    SendJob expected;
    expected.senderNames = {S("本店"), "My Account"};
    expected.senderSwitchEvery = 3;
    expected.sendIndividually = false;
    expected.toLists = {"My List", S("得意先")};
    expected.ccLists = {"c"};
    expected.ccFirstOnly = false;
    expected.bccLists = {};
    expected.bccFirstOnly = true;
    expected.subject = draft.subject;
    expected.body = "text\r\nbody";
    expected.sendAsHtml = true;
    expected.attachments = {S("a，b.txt"), "x.pdf", "x.pdf"};
    expected.inlinePictures = {"image1.png"};
    expected.intervalMs = 0;
    EXPECT_EQ(BuildSendJob(draft), expected);

    draft.textBody.clear();
    EXPECT_EQ(BuildSendJob(draft).body, "<p>html</p>");
    EXPECT_EQ(MainLists(draft), (std::vector<std::string>{"My List", S("得意先")}));
    draft.toLists.clear();
    draft.bccLists = "b1,b2";
    EXPECT_EQ(MainLists(draft), (std::vector<std::string>{"b1", "b2"}));
}

TEST(MailDraftTest, FreshStartUnlessComingBackFromThePreviewToTheSamePage)
{
    for (const ComposePage last : {ComposePage::Text, ComposePage::Html}) {
        for (const bool preview : {false, true}) {
            for (const ComposePage entered : {ComposePage::Text, ComposePage::Html}) {
                ComposeState state;
                state.lastEditPage = last;
                state.previewShown = preview;
                EXPECT_EQ(NeedsFreshStart(state, entered), !(preview && last == entered));
            }
        }
    }
}

TEST_F(ComposeLogicTest, AKeptDraftKeepsOnlyNamesWhoseFilesStillServe)
{
    WriteBytes(DataFolder() / "Senders" / "Main Office.vsl", "");
    WriteBytes(DataFolder() / "Senders" / (std::string("支店") + ".vsl"), "");
    EXPECT_EQ(KeepExistingSenders(S("gone,Main Office,支店")), S("Main Office,支店"));
    EXPECT_EQ(KeepExistingSenders(""), "");

    const std::vector<Recipient> one{Person("一", "1@example.jp")};
    SaveDestinationList("My List", {true, false, true}, one);
    SaveDestinationList("cc only", {false, true, false}, one);
    SaveDestinationList("emptied", {true, true, true}, {});
    WriteBytes(DataFolder() / "Receivers" / "broken.vsl", "\x08");
    const std::string all = "My List,cc only,emptied,broken,missing";
    EXPECT_EQ(KeepUsableLists(all, ListRole::To), "My List");
    EXPECT_EQ(KeepUsableLists(all, ListRole::Cc), "cc only");
    EXPECT_EQ(KeepUsableLists(all, ListRole::Bcc), "My List");
    EXPECT_EQ(KeepUsableLists("", ListRole::To), "");
}

} // namespace
} // namespace vostrel::test
