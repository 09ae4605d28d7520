// Merge tags, the MailMessage of a mail and its exact MIME bytes.
#include "SendTestUtil.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/Errors.h"
#include "send/MessageBuilder.h"
#include "support/VostrelTest.h"

#include <regex>
#include <set>
#include <sys/stat.h>

using namespace vostrel;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using vostrel::test::ReadBytes;
using vostrel::test::S;
using vostrel::test::ScopedTimeZone;
using vostrel::test::WriteBytes;

namespace {

const std::string kEscJis = "\x1B$B";
const std::string kEscAscii = "\x1B(B";
const std::string kBoundary = "AbCdEfGhIjKlMnOp=_QrStUvWxYz012345";

Recipient MakeRecipient(const std::string &name, const std::string &honorific,
                        const std::string &address)
{
    Recipient r;
    r.fields[0] = name;
    r.fields[1] = honorific;
    r.fields[2] = address;
    for (int i = 1; i <= 10; ++i)
        r.fields[2 + i] = "m" + std::to_string(i);
    return r;
}

std::vector<std::string> Lines(const std::string &mail)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < mail.size()) {
        const size_t end = mail.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(mail.substr(pos));
            break;
        }
        lines.push_back(mail.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// Each line followed by CR LF.
std::string CrLfLines(std::initializer_list<std::string_view> lines)
{
    std::string out;
    for (std::string_view line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

// The header block (up to the first empty line).
std::string HeaderBlock(const std::string &mail)
{
    const size_t end = mail.find("\r\n\r\n");
    return end == std::string::npos ? mail : mail.substr(0, end + 2);
}

class MessageBuilderTest : public vostrel::test::VostrelTest
{
protected:
    SenderAccount Account() const
    {
        SenderAccount a;
        a.ConfName = "main";
        a.FromAddress = "sender@example.jp";
        a.SenderName = S("差出人");
        a.ReturnAddress = "reply@example.jp";
        return a;
    }

    void PutAttachment(const std::string &sjisName, const std::string &bytes)
    {
        WriteBytes(WorkFolder() / "AppendedImage" / FileNameOf(sjisName), bytes);
    }
    void PutPicture(const std::string &sjisName, const std::string &bytes)
    {
        WriteBytes(WorkFolder() / "HtmlImage" / FileNameOf(sjisName), bytes);
    }

    // 2024-03-15 05:30:59 UTC, a Friday.
    static std::chrono::system_clock::time_point FixedTime()
    {
        return std::chrono::sys_days{std::chrono::year{2024} / 3 / 15} + 5h + 30min + 59s;
    }
    static MimeWriteOptions Fixed()
    {
        MimeWriteOptions o;
        o.time = FixedTime();
        o.boundary = kBoundary;
        return o;
    }

    // Checks the Message-ID line of a written mail and takes it out.
    static std::string WithoutMessageId(const std::string &mail, const MailMessage &message,
                                        const std::string &domain)
    {
        static const std::regex line(
            "Message-ID: (<[0-9]{14}\\.[0-9a-f]{16}\\.[0-9]+@([^>]+)>)\r\n");
        std::smatch m;
        EXPECT_TRUE(std::regex_search(mail, m, line)) << mail;
        if (m.empty())
            return mail;
        EXPECT_EQ(m[1].str(), message.messageId);
        EXPECT_EQ(m[2].str(), domain);
        return mail.substr(0, static_cast<size_t>(m.position(0))) + "Message-ID: <ID>\r\n" +
               mail.substr(static_cast<size_t>(m.position(0) + m.length(0)));
    }
};

} // namespace

TEST_F(MessageBuilderTest, MergeTagsAreTheThirteenFullWidthTagsInOrder)
{
    const std::vector<std::string> expected = {
        S("<#-送信先名->"), S("<#-敬称->"),   S("<#-メールアドレス->"), S("<#-差込１->"),
        S("<#-差込２->"),   S("<#-差込３->"), S("<#-差込４->"),         S("<#-差込５->"),
        S("<#-差込６->"),   S("<#-差込７->"), S("<#-差込８->"),         S("<#-差込９->"),
        S("<#-差込１０->")};
    ASSERT_EQ(MergeTags().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(MergeTags()[i], expected[i]) << i;
        EXPECT_EQ(MakeMergeTag(MergeTagLabels()[i]), expected[i]) << i;
    }
    // "１０" is two full-width digits: 82 50 82 4F.
    EXPECT_TRUE(MergeTags()[12].ends_with("\x82\x50\x82\x4F->"));
}

TEST_F(MessageBuilderTest, ApplyMergeTagsReplacesEachTagByItsValue)
{
    Recipient r = MakeRecipient(S("山田"), S("様"), "yamada@example.jp");
    std::string text;
    for (const std::string &tag : MergeTags())
        text += tag + "|";
    EXPECT_EQ(ApplyMergeTags(text, r),
              S("山田|様|") + "yamada@example.jp|m1|m2|m3|m4|m5|m6|m7|m8|m9|m10|");
    // Every occurrence, inside Japanese text.
    EXPECT_EQ(ApplyMergeTags(S("<#-送信先名-><#-敬称->、<#-送信先名->さん"), r),
              S("山田様、山田さん"));
    // Tags not in the table stay: ASCII digits, half-width forms, broken tags.
    const std::string untouched = S("<#-差込1-> <#-送信先名> <#-名前-> <#-差込11->");
    EXPECT_EQ(ApplyMergeTags(untouched, r), untouched);
    EXPECT_EQ(ApplyMergeTags("", r), "");
}

TEST_F(MessageBuilderTest, ApplyMergeTagsWorksStepByStepInTableOrder)
{
    // A name that holds the honorific tag gets it replaced at step 2.
    Recipient r = MakeRecipient(S("山田<#-敬称->"), S("様"), "y@example.jp");
    EXPECT_EQ(ApplyMergeTags(S("<#-送信先名->"), r), S("山田様"));
    // A later value holding an earlier tag keeps it literally.
    r.fields[3] = S("<#-送信先名->");
    EXPECT_EQ(ApplyMergeTags(S("<#-差込１->"), r), S("<#-送信先名->"));
    // Merge field 10 is not taken for merge field 1 followed by "０->".
    r.fields[3] = "one";
    r.fields[12] = "ten";
    EXPECT_EQ(ApplyMergeTags(S("<#-差込１-><#-差込１０->"), r), "oneten");
}

TEST_F(MessageBuilderTest, IndividualSubjectIsPersonalisedAndEncoded)
{
    SendJob job;
    job.subject = S("<#-送信先名-><#-敬称->");
    const Recipient r = MakeRecipient(S("山田"), S("様"), "y@example.jp");
    const MailMessage m = BuildMailMessage(job, Account(), {"y@example.jp"}, {}, {}, &r);
    EXPECT_TRUE(m.subject.encoded);
    // The word of 山田様, worked out with Python's codec.
    EXPECT_EQ(m.subject.words, std::vector<std::string>{"=?ISO-2022-JP?B?GyRCOzNFRE1NGyhC?="});
}

TEST_F(MessageBuilderTest, PerListSendingLeavesTagsInSubjectAndBody)
{
    SendJob job;
    job.sendIndividually = false;
    job.subject = S("<#-送信先名-><#-敬称->");
    job.body = S("<#-送信先名->様\r\n<#-差込１->");
    const MailMessage m =
        BuildMailMessage(job, Account(), {"a@example.jp", "b@example.jp"}, {}, {});
    EXPECT_EQ(m.subject.words,
              std::vector<std::string>{
                  "=?ISO-2022-JP?B?PCMtGyRCQXc/LkBoTD4bKEItPjwjLRskQjdJPk4bKEItPg==?="});
    ASSERT_EQ(m.parts.size(), 1u);
    EXPECT_EQ(m.parts[0].bodyLines,
              (std::vector<std::string>{"<#-" + kEscJis + "Aw?.@hL>" + kEscAscii + "->" + kEscJis +
                                            "MM" + kEscAscii,
                                        "<#-" + kEscJis + ":99~#1" + kEscAscii + "->"}));
    EXPECT_EQ(m.to, (std::vector<std::string>{"a@example.jp", "b@example.jp"}));
}

TEST_F(MessageBuilderTest, SingleTextMailExactBytes)
{
    ScopedTimeZone tz("JST-9");
    SendJob job;
    job.subject = S("テスト送信");
    job.body = S("こんにちは\r\nline2");
    const MailMessage m = BuildMailMessage(job, Account(), {"a@example.com", "b@example.com"},
                                           {"c@example.com"}, {"hidden@example.com"});
    EXPECT_EQ(m.envelopeSender, "sender@example.jp");
    EXPECT_EQ(m.bcc, std::vector<std::string>{"hidden@example.com"});
    EXPECT_EQ(m.topType, "text/plain");
    const std::string mail = WriteMimeMessage(m, Fixed());
    EXPECT_EQ(WithoutMessageId(mail, m, "example.jp"),
              "MIME-Version: 1.0\r\n"
              "From: =?ISO-2022-JP?B?GyRCOjk9UD9NGyhC?= <sender@example.jp>\r\n"
              "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIQXc/LhsoQg==?=\r\n"
              "To: a@example.com, b@example.com\r\n"
              "Cc: c@example.com\r\n"
              "Reply-To: reply@example.jp\r\n"
              "Date: Fri, 15 Mar 2024 14:30:59 +0900\r\n"
              "Message-ID: <ID>\r\n"
              "Content-Type: text/plain ; charset=\"ISO-2022-JP\"\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n"
              "\x1B$B$3$s$K$A$O\x1B(B\r\n"
              "line2\r\n");
    EXPECT_EQ(mail.find("hidden"), std::string::npos);
}

TEST_F(MessageBuilderTest, BodyLinesAreCutAtEveryKindOfLineBreak)
{
    SendJob job;
    job.body = "a\r\nb\nc\rd\r\n\r\ne\n";
    const MailMessage m = BuildMailMessage(job, Account(), {"x@example.jp"}, {}, {});
    ASSERT_EQ(m.parts.size(), 1u);
    EXPECT_EQ(m.parts[0].bodyLines, (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
    EXPECT_EQ(m.parts[0].transferEncoding, "7bit");
    job.body = "";
    EXPECT_TRUE(BuildMailMessage(job, Account(), {}, {}, {}).parts[0].bodyLines.empty());
    job.body = "\n";
    EXPECT_EQ(BuildMailMessage(job, Account(), {}, {}, {}).parts[0].bodyLines,
              std::vector<std::string>{""});
}

TEST_F(MessageBuilderTest, EmptyFieldsLeaveTheirHeaderLinesOut)
{
    ScopedTimeZone tz("JST-9");
    SenderAccount account = Account();
    account.SenderName.clear();
    account.ReturnAddress.clear();
    SendJob job;
    job.body = "hi";
    const MailMessage m = BuildMailMessage(job, account, {}, {}, {"b@example.jp"});
    const std::string mail = WriteMimeMessage(m, Fixed());
    EXPECT_EQ(WithoutMessageId(mail, m, "example.jp"),
              "MIME-Version: 1.0\r\n"
              "From: \"sender@example.jp\" <sender@example.jp>\r\n"
              "Date: Fri, 15 Mar 2024 14:30:59 +0900\r\n"
              "Message-ID: <ID>\r\n"
              "Content-Type: text/plain ; charset=\"ISO-2022-JP\"\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n"
              "hi\r\n");
}

TEST_F(MessageBuilderTest, AsciiDisplayNameIsQuotedWithEscapes)
{
    ScopedTimeZone tz("UTC0");
    SenderAccount account = Account();
    account.SenderName = "Sales \"Team\" \\ Tokyo";
    const MailMessage m = BuildMailMessage(SendJob{}, account, {"x@example.jp"}, {}, {});
    EXPECT_FALSE(m.fromName.encoded);
    const std::string mail = WriteMimeMessage(m, Fixed());
    EXPECT_NE(mail.find("\r\nFrom: \"Sales \\\"Team\\\" \\\\ Tokyo\" <sender@example.jp>\r\n"),
              std::string::npos)
        << mail;
}

TEST_F(MessageBuilderTest, HtmlMailIsPlainTextThenHtmlRelatedToItsPicturesExactly)
{
    ScopedTimeZone tz("JST-9");
    const std::string pic1 = "image240315143059_48210977.gif";
    const std::string pic2 = "image240315143100_10000000.png";
    PutPicture(pic1, "GIF89a");
    std::string pic2Bytes;
    for (int i = 0; i < 60; ++i)
        pic2Bytes += static_cast<char>(i);
    PutPicture(pic2, pic2Bytes);

    SendJob job;
    job.sendAsHtml = true;
    job.body = "<p>" + S("こんにちは") + "</p><img src=\"cid:" + pic1 +
               "\"><img src=\"cid:" + pic2 + "\">";
    job.inlinePictures = {pic1, pic2};
    SenderAccount account = Account();
    account.ReturnAddress.clear();
    const MailMessage m = BuildMailMessage(job, account, {"to@example.com"}, {}, {});
    EXPECT_EQ(m.topType, "multipart/alternative");
    ASSERT_EQ(m.parts.size(), 4u);
    EXPECT_EQ(m.parts[0].contentType, "text/plain");
    EXPECT_EQ(m.parts[1].contentType, "text/html");
    EXPECT_EQ(m.parts[2].contentId, pic1);
    EXPECT_EQ(m.parts[3].contentId, pic2);

    const std::string mail = WriteMimeMessage(m, Fixed());
    const std::string related = "1_" + kBoundary;
    EXPECT_EQ(
        WithoutMessageId(mail, m, "example.jp"),
        CrLfLines({"MIME-Version: 1.0",
                   "From: =?ISO-2022-JP?B?GyRCOjk9UD9NGyhC?= <sender@example.jp>",
                   "To: to@example.com",
                   "Content-Type: multipart/alternative;",
                   "\tcharset=\"ISO-2022-jp\"; boundary=\"" + kBoundary + "\"",
                   "Content-Transfer-Encoding: 7bit",
                   "Date: Fri, 15 Mar 2024 14:30:59 +0900",
                   "Message-ID: <ID>",
                   "",
                   "This is a multi-part message in MIME format",
                   "",
                   "--" + kBoundary,
                   "Content-Type: text/plain ; charset=\"ISO-2022-JP\"",
                   "Content-Transfer-Encoding: 7bit",
                   "",
                   "\x1B$B$3$s$K$A$O\x1B(B",
                   "",
                   "--" + kBoundary,
                   "Content-Type: multipart/related;",
                   "\tboundary=\"" + related + "\"",
                   "",
                   "--" + related,
                   "Content-Type: text/html ; charset=\"ISO-2022-JP\"",
                   "Content-Transfer-Encoding: 7bit",
                   "",
                   "<meta charset=\"ISO-2022-JP\"><p>\x1B$B$3$s$K$A$O\x1B(B</p>"
                   "<img src=\"cid:image240315143059_48210977.gif\">"
                   "<img src=\"cid:image240315143100_10000000.png\">",
                   "",
                   "--" + related,
                   "Content-Type: image/gif;",
                   "        name=\"image240315143059_48210977.gif\"",
                   "Content-Transfer-Encoding: base64",
                   "Content-Disposition: inline;",
                   "        filename=\"image240315143059_48210977.gif\"",
                   "Content-ID: <image240315143059_48210977.gif>",
                   "",
                   "R0lGODlh",
                   "",
                   "--" + related,
                   "Content-Type: image/png;",
                   "        name=\"image240315143100_10000000.png\"",
                   "Content-Transfer-Encoding: base64",
                   "Content-Disposition: inline;",
                   "        filename=\"image240315143100_10000000.png\"",
                   "Content-ID: <image240315143100_10000000.png>",
                   "",
                   "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4",
                   "OTo7",
                   "",
                   "--" + related + "--",
                   "",
                   "--" + kBoundary + "--",
                   ""}));
}

// The parts' order in the message, as the content types and file names of
// each part's header in turn.
std::vector<std::string> PartHeads(const std::string &mail)
{
    std::vector<std::string> heads;
    static const std::regex head(
        "\r\nContent-Type: ([a-z/]+)[^\r]*(?:\r\n[^\r]*name=\"([^\"]*)\")?");
    for (auto it = std::sregex_iterator(mail.begin(), mail.end(), head);
         it != std::sregex_iterator(); ++it)
        heads.push_back((*it)[1].str() + ((*it)[2].matched ? " " + (*it)[2].str() : ""));
    return heads;
}

TEST_F(MessageBuilderTest, TheBodyComesFirstThenPicturesAndAttachments)
{
    PutAttachment("a.pdf", "%PDF-1.4 test");
    PutPicture("image1.jpg", "JPEG");
    struct Shape
    {
        bool html, picture, attachment;
        std::string top;
        std::vector<std::string> heads;
    };
    const Shape shapes[] = {
        {false,
         false,
         true,
         "multipart/mixed",
         {"multipart/mixed", "text/plain", "application/pdf a.pdf"}},
        {false,
         true,
         true,
         "multipart/mixed",
         {"multipart/mixed", "text/plain", "image/jpeg image1.jpg", "application/pdf a.pdf"}},
        {true,
         false,
         false,
         "multipart/alternative",
         {"multipart/alternative", "text/plain", "text/html"}},
        {true,
         false,
         true,
         "multipart/mixed",
         {"multipart/mixed", "multipart/alternative", "text/plain", "text/html",
          "application/pdf a.pdf"}},
        {true,
         true,
         true,
         "multipart/mixed",
         {"multipart/mixed", "multipart/alternative", "text/plain", "multipart/related",
          "text/html", "image/jpeg image1.jpg", "application/pdf a.pdf"}},
    };
    for (const Shape &shape : shapes) {
        SendJob job;
        job.sendAsHtml = shape.html;
        job.body = shape.html ? "<p>x</p><img src=\"cid:image1.jpg\">" : "x";
        if (shape.picture)
            job.inlinePictures = {"image1.jpg"};
        if (shape.attachment)
            job.attachments = {"a.pdf"};
        const MailMessage m = BuildMailMessage(job, Account(), {"to@example.com"}, {}, {});
        SCOPED_TRACE(shape.top + (shape.picture ? " picture" : "") + (shape.html ? " html" : ""));
        EXPECT_EQ(m.topType, shape.top);
        EXPECT_EQ(PartHeads(WriteMimeMessage(m, Fixed())), shape.heads);
    }
}

TEST_F(MessageBuilderTest, AsciiAttachmentNameIsShownUnchanged)
{
    PutAttachment("report 2024.txt", "x");
    SendJob job;
    job.attachments = {"report 2024.txt"};
    const MailMessage m = BuildMailMessage(job, Account(), {"to@example.com"}, {}, {});
    ASSERT_EQ(m.parts.size(), 2u);
    const std::string mail = WriteMimeMessage(m, Fixed());
    EXPECT_NE(mail.find("Content-Type: text/plain;\r\n"
                        "        name=\"report 2024.txt\"\r\n"
                        "Content-Transfer-Encoding: base64\r\n"
                        "Content-Disposition: attachment;\r\n"
                        "        filename=\"report 2024.txt\"\r\n\r\neA==\r\n"),
              std::string::npos)
        << mail;
    // A quote or backslash in a name is escaped inside the quotes.
    PutAttachment("say \"hi\".txt", "y");
    job.attachments = {"say \"hi\".txt"};
    const std::string quoted =
        WriteMimeMessage(BuildMailMessage(job, Account(), {"to@example.com"}, {}, {}), Fixed());
    EXPECT_NE(quoted.find("        filename=\"say \\\"hi\\\".txt\"\r\n"), std::string::npos);
}

// An attachment is encoded once for many mails, but a file changed between
// two mails goes out as it is now (here with the same size).
TEST_F(MessageBuilderTest, AnAttachmentChangedBetweenTwoMailsGoesOutAsItIsNow)
{
    SendJob job;
    job.attachments = {"a.txt"};
    for (const auto &[bytes, base64] :
         {std::pair{"x", "\r\n\r\neA==\r\n"}, std::pair{"x", "\r\n\r\neA==\r\n"},
          std::pair{"y", "\r\n\r\neQ==\r\n"}}) {
        PutAttachment("a.txt", bytes);
        const std::string mail =
            WriteMimeMessage(BuildMailMessage(job, Account(), {"to@example.com"}, {}, {}), Fixed());
        EXPECT_NE(mail.find(base64), std::string::npos) << bytes;
    }
}

// A mail never goes without what the user attached: a file that is gone or
// cannot be read when the mail is built fails it, naming the file.
TEST_F(MessageBuilderTest, AFileThatIsGoneOrUnreadableIsRefusedWithItsName)
{
    struct Case
    {
        const char *what;
        std::vector<std::string> attachments;
        std::vector<std::string> pictures;
        fs::path file;
        std::string message;
    };
    const fs::path attachments = WorkFolder() / "AppendedImage";
    const fs::path pictures = WorkFolder() / "HtmlImage";
    PutAttachment("here.txt", "x");
    PutPicture("here.png", "x");
    fs::create_directory(pictures / "folder.png");
    const std::vector<Case> cases = {
        {"missing attachment",
         {"here.txt", S("資料.zip")},
         {"here.png"},
         attachments / "資料.zip",
         "添付ファイル「資料.zip」が見つかりません: " + (attachments / "資料.zip").string()},
        {"missing picture",
         {"here.txt"},
         {"gone.png"},
         pictures / "gone.png",
         "画像ファイル「gone.png」が見つかりません: " + (pictures / "gone.png").string()},
        {"unreadable picture",
         {},
         {"folder.png"},
         pictures / "folder.png",
         "画像ファイル「folder.png」を読み込めません: " + (pictures / "folder.png").string() +
             "\n" + FileError::ErrnoText(EISDIR)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SendJob job;
        job.body = "text";
        job.attachments = c.attachments;
        job.inlinePictures = c.pictures;
        try {
            BuildMailMessage(job, Account(), {"to@example.com"}, {}, {});
            ADD_FAILURE() << "built";
        } catch (const FileError &e) {
            EXPECT_EQ(e.what(), c.message);
            EXPECT_EQ(e.File(), c.file);
        }
    }
}

TEST_F(MessageBuilderTest, TheStartCheckNamesTheFirstFileThatIsGoneUnreadableOrBadlyNamed)
{
    PutAttachment("a.txt", "x");
    PutPicture("p.png", "x");
    fs::create_symlink("/proc/self/mem", WorkFolder() / "AppendedImage" / "mem.bin");
    SendJob job;
    job.attachments = {"a.txt"};
    job.inlinePictures = {"p.png"};
    EXPECT_EQ(JobFilesProblem(job), "");
    // An empty file is there and readable.
    PutAttachment("empty.txt", "");
    job.attachments.push_back("empty.txt");
    EXPECT_EQ(JobFilesProblem(job), "");

    job.inlinePictures.push_back("..");
    EXPECT_EQ(JobFilesProblem(job), "画像ファイルの名前が正しくないため、送信できません: ..");
    // Attachments are looked at first.
    job.attachments.push_back("mem.bin");
    const fs::path mem = WorkFolder() / "AppendedImage" / "mem.bin";
    EXPECT_EQ(JobFilesProblem(job), "添付ファイル「mem.bin」を読み込めないため、送信を始められ"
                                    "ません。添付し直してください\r\n" +
                                        mem.string() + "\r\n" + FileError::ErrnoText(EIO));
    // A pipe is never waited on.
    const fs::path pipe = WorkFolder() / "AppendedImage" / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    job.attachments = {"pipe"};
    EXPECT_EQ(JobFilesProblem(job), "添付ファイル「pipe」を読み込めないため、送信を始められ"
                                    "ません。添付し直してください\r\n" +
                                        pipe.string() + "\r\n通常のファイルではありません");
}

TEST_F(MessageBuilderTest, PicturesBesideAPlainTextBodyMakeAMixedMessage)
{
    PutPicture("image9.png", "PNG");
    SendJob job;
    job.body = "text";
    job.inlinePictures = {"image9.png"};
    const MailMessage m = BuildMailMessage(job, Account(), {"to@example.com"}, {}, {});
    EXPECT_EQ(m.topType, "multipart/mixed");
    ASSERT_EQ(m.parts.size(), 2u);
    EXPECT_EQ(m.parts[0].contentType, "text/plain");
    EXPECT_EQ(m.parts[1].contentId, "image9.png");
    const std::string mail = WriteMimeMessage(m, Fixed());
    EXPECT_NE(mail.find("Content-Type: multipart/mixed;\r\n"), std::string::npos);
}

TEST_F(MessageBuilderTest, LineBreaksNeverReachAHeaderLine)
{
    SenderAccount account = Account();
    account.SenderName = "Evil\r\nBcc: victim@example.com";
    account.ReturnAddress = "r@example.jp\r\nX-Injected: 1";
    SendJob job;
    job.subject = S("件名\r\nBcc: a@example.com <#-送信先名->");
    job.body = "line1\r\nline2";
    const std::string attachment = "file\r\nX-Bad: 1.txt";
    PutAttachment(attachment, "data");
    job.attachments = {attachment};
    const Recipient r = MakeRecipient("Name\nX-Also: bad", S("様"), "r@example.jp");
    const MailMessage m = BuildMailMessage(job, account, {"to@example.com\r\nX-To: 1"}, {}, {}, &r);
    const std::string mail = WriteMimeMessage(m, Fixed());
    const std::string header = HeaderBlock(mail);
    for (const std::string &line : Lines(mail)) {
        EXPECT_FALSE(line.starts_with("Bcc:")) << line;
        EXPECT_FALSE(line.starts_with("X-")) << line;
    }
    EXPECT_NE(header.find("From: \"EvilBcc: victim@example.com\" <sender@example.jp>\r\n"),
              std::string::npos)
        << header;
    EXPECT_NE(header.find("Reply-To: r@example.jpX-Injected: 1\r\n"), std::string::npos);
    EXPECT_NE(header.find("To: to@example.comX-To: 1\r\n"), std::string::npos);
    EXPECT_NE(mail.find("filename=\"fileX-Bad: 1.txt\""), std::string::npos);
    // The subject decodes to the text without its line breaks.
    ASSERT_TRUE(m.subject.encoded);
    std::string subject;
    for (const std::string &word : m.subject.words) {
        ASSERT_TRUE(word.starts_with("=?ISO-2022-JP?B?") && word.ends_with("?=")) << word;
        const QByteArray jis =
            QByteArray::fromBase64(QByteArray::fromStdString(word.substr(16, word.size() - 18)),
                                   QByteArray::AbortOnBase64DecodingErrors);
        subject += vostrel::test::Iso2022JpToUtf8(jis.toStdString()).value_or("?");
    }
    EXPECT_EQ(subject, "件名Bcc: a@example.com NameX-Also: bad");
    // The body keeps its lines.
    EXPECT_NE(mail.find("\r\n\r\nline1\r\nline2\r\n"), std::string::npos);
}

TEST_F(MessageBuilderTest, LongHeaderValuesFoldWithinTheLineLimit)
{
    std::string subject;
    for (int i = 0; i < 100; ++i)
        subject += S("件");
    SendJob job;
    job.subject = subject;
    std::vector<std::string> to;
    for (int i = 0; i < 300; ++i)
        to.push_back("recipient" + std::to_string(i) + "@example.com");
    SenderAccount account = Account();
    account.SenderName = std::string(1500, 'N'); // ASCII, too long for one line
    const MailMessage m = BuildMailMessage(job, account, to, to, {});
    EXPECT_GT(m.subject.words.size(), 1u);
    EXPECT_TRUE(m.fromName.encoded);
    const std::string mail = WriteMimeMessage(m, Fixed());
    const std::string header = HeaderBlock(mail);
    size_t continuation = 0;
    for (const std::string &line : Lines(header)) {
        EXPECT_LE(line.size(), 998u);
        if (line.starts_with(" "))
            ++continuation;
        if (line.find("=?") != std::string::npos && !line.starts_with("From:") &&
            !line.starts_with("Subject:")) {
            // A continuation with encoded-words holds just one word (and, on
            // the From line's last one, the address).
            EXPECT_TRUE(line.starts_with(" =?ISO-2022-JP?B?")) << line;
        }
    }
    EXPECT_GT(continuation, 10u);
    // The To list folds at commas and keeps every address.
    const size_t toStart = header.find("\r\nTo: ");
    ASSERT_NE(toStart, std::string::npos);
    const size_t toEnd = header.find("\r\nCc: ");
    std::string toValue = header.substr(toStart + 6, toEnd - toStart - 6);
    EXPECT_NE(toValue.find(",\r\n "), std::string::npos);
    std::string unfolded;
    for (size_t i = 0; i < toValue.size(); ++i) {
        if (toValue.compare(i, 3, "\r\n ") == 0) {
            i += 2;
            unfolded += ' ';
            continue;
        }
        unfolded += toValue[i];
    }
    std::string joined;
    for (size_t i = 0; i < to.size(); ++i)
        joined += (i ? ", " : "") + to[i];
    EXPECT_EQ(unfolded, joined);
}

// Every line that carries an encoded-word stays within 76 characters, the
// field name or parameter indent included, whatever the length of the text.
TEST_F(MessageBuilderTest, EncodedWordLinesStayWithin76Characters)
{
    for (int length : {1, 5, 9, 10, 11, 12, 20, 23, 24, 25, 40, 61}) {
        SCOPED_TRACE("characters: " + std::to_string(length));
        std::string text;
        for (int i = 0; i < length; ++i)
            text += S(i % 3 ? "件" : "ｶﾞ");
        const std::string fileName = text + ".pdf";
        PutAttachment(fileName, "%PDF");
        PutPicture(text + ".png", "PNG");
        SendJob job;
        job.subject = text;
        job.attachments = {fileName};
        job.sendAsHtml = true;
        job.inlinePictures = {text + ".png"};
        SenderAccount account = Account();
        account.SenderName = text;
        account.FromAddress =
            "a-rather-long-sender-address-" + std::to_string(length) + "@subdomain.example.co.jp";
        const std::string mail =
            WriteMimeMessage(BuildMailMessage(job, account, {"to@example.com"}, {}, {}), Fixed());
        int encodedLines = 0;
        for (const std::string &line : Lines(mail))
            if (line.find("=?") != std::string::npos) {
                ++encodedLines;
                EXPECT_LE(line.size(), 76u) << line;
            }
        EXPECT_GE(encodedLines, 6); // subject, from, name= and filename= of two parts
        // The address follows the display name, on its own line when needed.
        EXPECT_TRUE(mail.find("?= <" + account.FromAddress + ">\r\n") != std::string::npos ||
                    mail.find("?=\r\n <" + account.FromAddress + ">\r\n") != std::string::npos);
    }
}

// Only plain names of files inside the work folder's picture and attachment
// folders are read: anything that could point elsewhere fails the mail.
TEST_F(MessageBuilderTest, NamesThatAreNoPlainFileNamesAreRefused)
{
    WriteBytes(DataFolder() / "secret.txt", "secret");
    for (const std::string &name :
         {std::string("../../secret.txt"), std::string("/etc/passwd"), std::string("a/b.txt"),
          std::string(".."), std::string(""), std::string("a\0b", 3)}) {
        SCOPED_TRACE(name);
        SendJob attach;
        attach.attachments = {name};
        EXPECT_THROW(BuildMailMessage(attach, Account(), {"to@example.com"}, {}, {}), VostrelError);
        SendJob picture;
        picture.inlinePictures = {name};
        try {
            BuildMailMessage(picture, Account(), {"to@example.com"}, {}, {});
            ADD_FAILURE() << "accepted";
        } catch (const VostrelError &e) {
            EXPECT_TRUE(std::string(e.what()).starts_with(
                "画像ファイルの名前が正しくないため、送信できません: "))
                << e.what();
        }
    }
    // A name with two dots that is a plain name is fine.
    PutAttachment("a..b.txt", "x");
    SendJob job;
    job.attachments = {"a..b.txt"};
    EXPECT_EQ(BuildMailMessage(job, Account(), {"to@example.com"}, {}, {}).parts.size(), 2u);
}

TEST_F(MessageBuilderTest, AUserDefinedCharacterFailsTheMailNamingRecipientFieldAndCharacter)
{
    const std::string gaiji = "\xF0\x40"; // U+E000
    const std::string named = "の「\uE000」(U+E000, Shift_JIS F040) は外字（ユーザー定義文字）の"
                              "ため、受け取った人には読めません。";
    const Recipient plain = MakeRecipient(S("山田"), S("様"), "y@example.jp");
    Recipient gaijiName = plain;
    gaijiName.fields[0] = S("山") + gaiji;
    Recipient gaijiMerge = plain;
    gaijiMerge.fields[4] = S("支店") + gaiji; // 差込２
    const std::vector<std::string> four = {"a@example.jp", "b@example.jp", "c@example.jp",
                                           "d@example.jp"};
    struct Case
    {
        const char *what;
        SendJob job;
        SenderAccount account;
        const Recipient *recipient;
        std::vector<std::string> to, bcc;
        std::string message;
    };
    auto job = [](std::string subject, std::string body) {
        SendJob j;
        j.subject = std::move(subject);
        j.body = std::move(body);
        return j;
    };
    SendJob attachment = job("a", "b");
    attachment.attachments = {S("資料") + gaiji + ".pdf"};
    SendJob picture = job("a", "b");
    picture.sendAsHtml = true;
    picture.inlinePictures = {"p" + gaiji + ".png"};
    SenderAccount gaijiSender = Account();
    gaijiSender.SenderName = S("差出") + gaiji;
    const std::string toYamada = "山田 <y@example.jp> へのメール: ";
    const Case cases[] = {
        {"typed in the subject",
         job(S("件名") + gaiji, ""),
         Account(),
         &plain,
         {"y@example.jp"},
         {},
         toYamada + "件名" + named},
        {"typed in the body",
         job("", S("本文\r\n２行目") + gaiji),
         Account(),
         &plain,
         {"y@example.jp"},
         {},
         toYamada + "本文" + named},
        {"the sender's display name",
         job("a", "b"),
         gaijiSender,
         &plain,
         {"y@example.jp"},
         {},
         toYamada + "送信元「main」の送信者名" + named},
        {"a name brought in by a merge tag",
         job(S("<#-送信先名->様"), ""),
         Account(),
         &gaijiName,
         {"y@example.jp"},
         {},
         "山\uE000 <y@example.jp> へのメール: 件名（差込タグ「送信先名」の値）" + named},
        {"a merge field in the body",
         job("", S("<#-差込１-> <#-差込２->")),
         Account(),
         &gaijiMerge,
         {"y@example.jp"},
         {},
         toYamada + "本文（差込タグ「差込２」の値）" + named},
        {"an attachment's name",
         attachment,
         Account(),
         &plain,
         {"y@example.jp"},
         {},
         toYamada + "添付ファイル名" + named},
        {"a picture's name",
         picture,
         Account(),
         &plain,
         {"y@example.jp"},
         {},
         toYamada + "画像ファイル名" + named},
        {"a mail to a list",
         job(S("件名") + gaiji, ""),
         Account(),
         nullptr,
         four,
         {},
         "a@example.jp, b@example.jp, c@example.jp ほか 1 件 へのメール: 件名" + named},
        {"a mail to a Bcc list",
         job("", gaiji),
         Account(),
         nullptr,
         {},
         {"x@example.jp"},
         "x@example.jp へのメール: 本文" + named},
    };
    for (const Case &c : cases) {
        try {
            BuildMailMessage(c.job, c.account, c.to, {}, c.bcc, c.recipient);
            ADD_FAILURE() << c.what << ": built";
        } catch (const VostrelError &e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.what;
        }
    }
    // A value that the mail does not use stops nothing.
    const MailMessage m = BuildMailMessage(job(S("<#-敬称->"), S("<#-差込１->")), Account(),
                                           {"y@example.jp"}, {}, {}, &gaijiName);
    EXPECT_EQ(m.parts.size(), 1u);
}

TEST_F(MessageBuilderTest, ExtensionCharactersGoOutInSevenBits)
{
    ScopedTimeZone tz("JST-9");
    // The program's own codec gives 髙 and 﨑 their IBM codes (FB FC, FA B1).
    ASSERT_EQ(S("髙﨑"), "\xFB\xFC\xFA\xB1");
    SendJob job;
    job.subject = S("<#-送信先名-><#-敬称-> ⅰ");
    job.body = S("<#-送信先名->様\r\n∵ ￢");
    const Recipient r = MakeRecipient(S("髙﨑"), S("様"), "t@example.jp");
    SenderAccount account = Account();
    account.SenderName = S("德田");
    const MailMessage m = BuildMailMessage(job, account, {"t@example.jp"}, {}, {}, &r);
    const std::string mail = WriteMimeMessage(m, Fixed());
    for (unsigned char c : mail)
        ASSERT_LT(c, 0x80) << mail;
    // Worked out from Python's cp932 codec: 髙 EEE0, 﨑 ED95, 德 ED9E, ⅰ EEEF,
    // ∵ 81E6, ￢ 81CA, then the arithmetic.
    EXPECT_EQ(m.parts[0].transferEncoding, "7bit");
    EXPECT_EQ(m.parts[0].bodyLines, (std::vector<std::string>{kEscJis + "|byuMM" + kEscAscii,
                                                              kEscJis + "\"h" + kEscAscii + " " +
                                                                  kEscJis + "\"L" + kEscAscii}));
    EXPECT_EQ(m.subject.words,
              std::vector<std::string>{"=?ISO-2022-JP?B?GyRCfGJ5dU1NGyhCIBskQnxxGyhC?="});
    EXPECT_EQ(m.fromName.words, std::vector<std::string>{"=?ISO-2022-JP?B?GyRCeX5FRBsoQg==?="});
}

TEST_F(MessageBuilderTest, LongAsciiSubjectBecomesEncodedWords)
{
    SendJob job;
    job.subject = std::string(995, 's'); // "Subject: " + 995 > 998
    MailMessage m = BuildMailMessage(job, Account(), {"a@example.jp"}, {}, {});
    EXPECT_TRUE(m.subject.encoded);
    EXPECT_GT(m.subject.words.size(), 1u);
    job.subject = std::string(989, 's'); // exactly 998 with "Subject: "
    m = BuildMailMessage(job, Account(), {"a@example.jp"}, {}, {});
    EXPECT_FALSE(m.subject.encoded);
    EXPECT_EQ(m.subject.words, std::vector<std::string>{job.subject});
    const std::string mail = WriteMimeMessage(m, Fixed());
    EXPECT_NE(mail.find("\r\nSubject: " + job.subject + "\r\n"), std::string::npos);
}

TEST_F(MessageBuilderTest, TransferEncodingFollowsTheBodyBytes)
{
    SendJob job;
    job.body = S("日本語") + "\r\nplain";
    EXPECT_EQ(BuildMailMessage(job, Account(), {}, {}, {}).parts[0].transferEncoding, "7bit");
    // A byte that starts no character stays 8-bit.
    job.body = "x\xFD";
    MailMessage m = BuildMailMessage(job, Account(), {}, {}, {});
    EXPECT_EQ(m.parts[0].transferEncoding, "8bit");
    EXPECT_NE(WriteMimeMessage(m, Fixed()).find("\r\nContent-Transfer-Encoding: 8bit\r\n"),
              std::string::npos);
    // A line of 998 bytes is fine; 999 bytes go out in Base64.
    job.body = std::string(998, 'a') + "\r\nshort";
    EXPECT_EQ(BuildMailMessage(job, Account(), {}, {}, {}).parts[0].transferEncoding, "7bit");
    job.body = "first\r\n" + std::string(999, 'b') + "\r\n" + S("終わり");
    m = BuildMailMessage(job, Account(), {}, {}, {});
    EXPECT_EQ(m.parts[0].transferEncoding, "base64");
    const std::string mail = WriteMimeMessage(m, Fixed());
    const size_t bodyStart = mail.find("\r\n\r\n");
    ASSERT_NE(bodyStart, std::string::npos);
    EXPECT_NE(HeaderBlock(mail).find("Content-Transfer-Encoding: base64\r\n"), std::string::npos);
    std::string base64;
    for (const std::string &line : Lines(mail.substr(bodyStart + 4))) {
        EXPECT_LE(line.size(), 76u);
        base64 += line;
    }
    const QByteArray decoded = QByteArray::fromBase64(QByteArray::fromStdString(base64),
                                                      QByteArray::AbortOnBase64DecodingErrors);
    EXPECT_EQ(decoded.toStdString(), "first\r\n" + std::string(999, 'b') + "\r\n" + kEscJis +
                                         "=*$o$j" + kEscAscii + "\r\n");
}

TEST_F(MessageBuilderTest, FilePartsAreBase64In76CharacterLines)
{
    std::string data;
    for (int i = 0; i < 10000; ++i)
        data += static_cast<char>((i * 7 + i / 256) & 0xFF);
    PutAttachment("data.bin", data);
    SendJob job;
    job.attachments = {"data.bin"};
    const std::string mail =
        WriteMimeMessage(BuildMailMessage(job, Account(), {"a@example.jp"}, {}, {}), Fixed());
    const std::string marker = "filename=\"data.bin\"\r\n\r\n";
    const size_t start = mail.find(marker);
    ASSERT_NE(start, std::string::npos);
    const size_t end = mail.find("\r\n\r\n--" + kBoundary, start + marker.size());
    ASSERT_NE(end, std::string::npos);
    const std::vector<std::string> lines =
        Lines(mail.substr(start + marker.size(), end + 2 - start - marker.size()));
    ASSERT_EQ(lines.size(), (10000u + 56u) / 57u);
    std::string base64;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i + 1 < lines.size()) {
            EXPECT_EQ(lines[i].size(), 76u);
        }
        base64 += lines[i];
    }
    EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(base64)).toStdString(), data);
}

TEST_F(MessageBuilderTest, AFileThatVanishesBeforeWritingIsAnError)
{
    PutAttachment("soon-gone.txt", "x");
    SendJob job;
    job.attachments = {"soon-gone.txt"};
    const MailMessage m = BuildMailMessage(job, Account(), {"a@example.jp"}, {}, {});
    ASSERT_EQ(m.parts.size(), 2u);
    std::filesystem::remove(WorkFolder() / "AppendedImage" / "soon-gone.txt");
    try {
        WriteMimeMessage(m, Fixed());
        ADD_FAILURE() << "no error";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), WorkFolder() / "AppendedImage" / "soon-gone.txt");
        EXPECT_NE(std::string(e.what()).find("soon-gone.txt"), std::string::npos);
    }
}

TEST_F(MessageBuilderTest, DateIsLocalTimeWithTheNumericOffset)
{
    {
        ScopedTimeZone tz("JST-9");
        EXPECT_EQ(FormatMailDate(FixedTime()), "Fri, 15 Mar 2024 14:30:59 +0900");
    }
    {
        ScopedTimeZone tz("EST5");
        EXPECT_EQ(FormatMailDate(FixedTime()), "Fri, 15 Mar 2024 00:30:59 -0500");
    }
    {
        ScopedTimeZone tz("XST10");
        EXPECT_EQ(FormatMailDate(FixedTime()), "Thu, 14 Mar 2024 19:30:59 -1000");
    }
    {
        ScopedTimeZone tz("IST-5:30");
        EXPECT_EQ(FormatMailDate(FixedTime()), "Fri, 15 Mar 2024 11:00:59 +0530");
    }
    {
        ScopedTimeZone tz("UTC0");
        EXPECT_EQ(FormatMailDate(std::chrono::sys_days{std::chrono::year{2023} / 1 / 2} + 3h),
                  "Mon, 02 Jan 2023 03:00:00 +0000");
    }
}

TEST_F(MessageBuilderTest, MessageIdIsUniqueAndCarriesTheSendersDomain)
{
    std::set<std::string> ids;
    for (int i = 0; i < 2000; ++i)
        ids.insert(NewMessageId("someone@mail.example.org"));
    EXPECT_EQ(ids.size(), 2000u);
    const std::regex form("<[0-9]{14}\\.[0-9a-f]{16}\\.[0-9]+@mail\\.example\\.org>");
    for (const std::string &id : ids)
        EXPECT_TRUE(std::regex_match(id, form)) << id;
    // No usable domain: the host name (or localhost) stands in.
    const std::regex fallback("<[0-9]{14}\\.[0-9a-f]{16}\\.[0-9]+@[A-Za-z0-9.-]+>");
    for (const char *address : {"nodomain", "a@bad domain", "a@", "a@x..y", "a@\x82\xA0"}) {
        const std::string id = NewMessageId(address);
        EXPECT_TRUE(std::regex_match(id, fallback)) << id;
        // (The random part is hexadecimal and may well spell "bad".)
        EXPECT_EQ(id.substr(id.find('@')).find("bad"), std::string::npos) << id;
    }
    // The header sits right after Date.
    const MailMessage m = BuildMailMessage(SendJob{}, Account(), {"a@example.jp"}, {}, {});
    const std::string mail = WriteMimeMessage(m);
    const size_t date = mail.find("\r\nDate: ");
    ASSERT_NE(date, std::string::npos);
    EXPECT_EQ(mail.find("\r\nMessage-ID: " + m.messageId + "\r\n"), mail.find("\r\n", date + 2));
}

TEST_F(MessageBuilderTest, BoundaryIsMadeOncePerRun)
{
    const std::regex form("[A-Za-z0-9]*=_[A-Za-z0-9]*");
    const std::string &b = MimeBoundary();
    EXPECT_EQ(&MimeBoundary(), &b);
    EXPECT_EQ(b.size(), 34u);
    EXPECT_TRUE(std::regex_match(b, form)) << b;
    std::set<size_t> positions;
    std::set<std::string> made;
    for (int i = 0; i < 300; ++i) {
        const std::string fresh = MakeMimeBoundary();
        ASSERT_EQ(fresh.size(), 34u);
        ASSERT_TRUE(std::regex_match(fresh, form)) << fresh;
        positions.insert(fresh.find("=_"));
        made.insert(fresh);
    }
    EXPECT_EQ(made.size(), 300u);
    EXPECT_GT(positions.size(), 10u); // the pair stands at a random position
    // Two messages of one run share the boundary read back from their header.
    PutPicture("p.png", "P");
    SendJob job;
    job.sendAsHtml = true;
    job.inlinePictures = {"p.png"};
    const std::string one = WriteMimeMessage(BuildMailMessage(job, Account(), {"a@x.jp"}, {}, {}));
    const std::string two = WriteMimeMessage(BuildMailMessage(job, Account(), {"b@x.jp"}, {}, {}));
    const std::regex boundaryParam("boundary=\"([^\"]+)\"");
    std::smatch m1, m2;
    ASSERT_TRUE(std::regex_search(one, m1, boundaryParam));
    ASSERT_TRUE(std::regex_search(two, m2, boundaryParam));
    EXPECT_EQ(m1[1].str(), b);
    EXPECT_EQ(m2[1].str(), b);
    EXPECT_NE(one.find("\r\n--" + b + "--\r\n"), std::string::npos);
}

namespace {

TEST_F(MessageBuilderTest, MergeTagsReachBothPartsOfAnHtmlMail)
{
    SendJob job;
    job.sendAsHtml = true;
    job.body = S("<p><#-送信先名-><#-敬称-></p>");
    const Recipient r = MakeRecipient(S("山田"), S("様"), "y@example.jp");
    const MailMessage m = BuildMailMessage(job, Account(), {"y@example.jp"}, {}, {}, &r);
    ASSERT_EQ(m.parts.size(), 2u);
    const std::string name = kEscJis + ";3EDMM" + kEscAscii; // 山田様
    EXPECT_EQ(m.parts[0].bodyLines, std::vector<std::string>{name});
    EXPECT_EQ(m.parts[1].bodyLines,
              std::vector<std::string>{"<meta charset=\"ISO-2022-JP\"><p>" + name + "</p>"});
}

TEST_F(MessageBuilderTest, ListUnsubscribeNamesTheReplyAddressAndTheOneClickUrlWithAListId)
{
    struct Case
    {
        const char *what;
        bool individual;
        std::string returnAddress, url;
        std::vector<std::string> headers;
    };
    const Case cases[] = {
        {"per list, reply address",
         false,
         "reply@example.jp",
         "",
         {"List-Id: <sender.example.jp>",
          "List-Unsubscribe: <mailto:reply@example.jp?subject=unsubscribe>"}},
        {"no reply address: the sending address",
         false,
         "",
         "",
         {"List-Id: <sender.example.jp>",
          "List-Unsubscribe: <mailto:sender@example.jp?subject=unsubscribe>"}},
        {"individually, with a one-click URL",
         true,
         "reply@example.jp",
         "https://example.jp/stop?id=1",
         {"List-Id: <sender.example.jp>",
          "List-Unsubscribe: "
          "<mailto:reply@example.jp?subject=unsubscribe%20%3Cy%2Bnews@example.jp%3E>,",
          " <https://example.jp/stop?id=1>", "List-Unsubscribe-Post: List-Unsubscribe=One-Click"}},
    };
    const Recipient r = MakeRecipient(S("山田"), S("様"), "y+news@example.jp");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SendJob job;
        job.body = "x";
        job.listUnsubscribe = true;
        job.unsubscribeUrl = c.url;
        SenderAccount account = Account();
        account.ReturnAddress = c.returnAddress;
        const std::string mail = WriteMimeMessage(BuildMailMessage(
            job, account, {"y+news@example.jp"}, {}, {}, c.individual ? &r : nullptr));
        std::vector<std::string> found;
        bool in = false;
        for (const std::string &line : Lines(HeaderBlock(mail))) {
            in = line.starts_with("List-") || (in && line.starts_with(" "));
            if (in)
                found.push_back(line);
        }
        EXPECT_EQ(found, c.headers) << mail;
    }
    // Off: no header at all.
    SendJob job;
    job.body = "x";
    job.unsubscribeUrl = "https://example.jp/";
    EXPECT_EQ(WriteMimeMessage(BuildMailMessage(job, Account(), {"a@example.jp"}, {}, {}))
                  .find("List-Unsubscribe"),
              std::string::npos);
}

TEST_F(MessageBuilderTest, OnlyAnHttpsUrlServesForOneClickUnsubscribing)
{
    for (const char *good : {"", "https://example.jp/u", "HTTPS://example.jp/u?a=1&b=%20"})
        EXPECT_EQ(UnsubscribeUrlProblem(good), "") << good;
    for (const char *bad : {"http://example.jp/u", "https://", "https:///path", "example.jp",
                            "https://example.jp/a b", "https://example.jp/<x>", "mailto:a@b.jp"})
        EXPECT_EQ(UnsubscribeUrlProblem(bad),
                  std::string("配信停止のアドレスには https:// で始まるURLを入力してください: ") +
                      bad)
            << bad;
    SendJob job;
    job.body = "x";
    job.listUnsubscribe = true;
    job.unsubscribeUrl = "http://example.jp/u";
    EXPECT_THROW(BuildMailMessage(job, Account(), {"a@example.jp"}, {}, {}), VostrelError);
}

} // namespace
