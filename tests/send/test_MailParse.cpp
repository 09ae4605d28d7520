// Built mails read back by a standard mail parser (Python's email package,
// policy default): headers decode to the original Japanese texts, bodies to
// the original text, files to the original bytes, content ids resolve, and
// the parser reports no defects.
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/SjisCodec.h"
#include "send/MessageBuilder.h"
#include "support/VostrelTest.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <map>

using namespace vostrel;
using vostrel::test::S;
using vostrel::test::WriteBytes;
using namespace Qt::Literals::StringLiterals;

namespace {

QString Q(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

QString Sha256(const std::string &bytes)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
            .toHex());
}

QString WithoutCr(QString text)
{
    return text.remove(u'\r');
}

// The defects a standard reader reports for the file-name parameters in the
// form this program writes them (an encoded-word inside the quotes): Python
// decodes the name but names the form. Nothing else is accepted.
bool IsQuotedWordDefect(const QString &defect)
{
    return defect == u"InvalidHeaderDefect: encoded word inside quoted string"_s ||
           defect == u"InvalidHeaderDefect: missing trailing whitespace after encoded-word"_s;
}

class MailParseTest : public vostrel::test::VostrelTest
{
protected:
    SenderAccount Account() const
    {
        SenderAccount a;
        a.FromAddress = "sender@example.jp";
        a.SenderName = S("営業部 山本");
        a.ReturnAddress = "reply@example.jp";
        return a;
    }

    void Put(const char *folder, const std::string &sjisName, const std::string &bytes)
    {
        WriteBytes(WorkFolder() / folder / FileNameOf(sjisName), bytes);
        files_[SjisToUtf8(sjisName)] = bytes;
    }

    // Writes the mail to a file, has the parser describe it and checks what
    // holds for every mail: no defects, lines within 998 octets, CR LF only.
    QJsonObject Parse(const MailMessage &message)
    {
        const std::string mail = WriteMimeMessage(message);
        const auto path = TempDir() / ("mail" + std::to_string(++count_) + ".eml");
        WriteBytes(path, mail);
        QString output;
        const int rc = vostrel::test::RunProgram(
            QStringLiteral(VOSTREL_PYTHON),
            {QStringLiteral(VOSTREL_SOURCE_DIR "/tests/send/parse_mail.py"),
             QString::fromStdString(path.string())},
            &output);
        EXPECT_EQ(rc, 0) << output.toStdString();
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(output.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << output.toStdString();
        const QJsonObject json = doc.object();

        EXPECT_EQ(json[u"defects"_s].toArray().size(), 0)
            << QJsonDocument(json[u"defects"_s].toArray()).toJson().toStdString();
        EXPECT_LE(json[u"max_line_length"_s].toInt(), 998);
        EXPECT_LE(json[u"max_encoded_word_line"_s].toInt(), 76);
        EXPECT_EQ(json[u"bare_line_breaks"_s].toInt(), 0);
        CheckHeaderDefects(json[u"headers"_s].toArray(), false);
        for (const QJsonValue &p : json[u"parts"_s].toArray()) {
            const QJsonObject part = p.toObject();
            EXPECT_EQ(part[u"defects"_s].toArray().size(), 0)
                << QJsonDocument(part[u"defects"_s].toArray()).toJson().toStdString();
            const QString filename = part[u"filename"_s].toString();
            bool asciiName = true;
            for (QChar c : filename)
                asciiName = asciiName && c.unicode() < 0x80;
            CheckHeaderDefects(part[u"headers"_s].toArray(), !asciiName);
        }
        return json;
    }

    static void CheckHeaderDefects(const QJsonArray &headers, bool encodedFileName)
    {
        for (const QJsonValue &h : headers) {
            const QJsonObject header = h.toObject();
            const QString name = header[u"name"_s].toString();
            const bool fileNameHeader =
                encodedFileName && (name == u"Content-Type"_s || name == u"Content-Disposition"_s);
            for (const QJsonValue &d : header[u"defects"_s].toArray()) {
                const QString defect = d.toString();
                EXPECT_TRUE(fileNameHeader && IsQuotedWordDefect(defect))
                    << name.toStdString() << ": " << defect.toStdString();
            }
        }
    }

    static QJsonObject Header(const QJsonArray &headers, const QString &name)
    {
        QJsonObject found;
        int count = 0;
        for (const QJsonValue &h : headers)
            if (h.toObject()[u"name"_s].toString() == name) {
                found = h.toObject();
                ++count;
            }
        EXPECT_LE(count, 1) << name.toStdString();
        return found;
    }
    static QJsonObject Header(const QJsonObject &json, const QString &name)
    {
        return Header(json[u"headers"_s].toArray(), name);
    }
    static QJsonArray Parts(const QJsonObject &json) { return json[u"parts"_s].toArray(); }

    // The file parts carry the original bytes under their original names,
    // typed after their extension; pictures shown in the text are inline.
    void ExpectFilePart(const QJsonObject &part, const std::string &utf8Name, const QString &type,
                        const QString &contentId = {})
    {
        EXPECT_EQ(part[u"content_type"_s].toString(), type);
        EXPECT_EQ(part[u"disposition"_s].toString(),
                  contentId.isEmpty() ? u"attachment"_s : u"inline"_s);
        EXPECT_EQ(part[u"filename"_s].toString(), Q(utf8Name));
        EXPECT_EQ(part[u"name_param"_s].toString(), Q(utf8Name));
        ASSERT_TRUE(files_.count(utf8Name)) << utf8Name;
        EXPECT_EQ(part[u"sha256"_s].toString(), Sha256(files_[utf8Name])) << utf8Name;
        EXPECT_EQ(part[u"size"_s].toInt(), static_cast<int>(files_[utf8Name].size()));
        EXPECT_EQ(part[u"content_id"_s].toString(), contentId);
    }

    // Every "cid:" reference of an HTML text names the Content-ID of a part.
    static int ExpectContentIdsResolve(const QJsonObject &json, const QString &html)
    {
        static const QRegularExpression cid(u"cid:([^\"'>\\s]+)"_s);
        int resolved = 0;
        auto it = cid.globalMatch(html);
        while (it.hasNext()) {
            const QString id = it.next().captured(1);
            int matches = 0;
            for (const QJsonValue &p : Parts(json))
                if (p.toObject()[u"content_id"_s].toString() == u'<' + id + u'>')
                    ++matches;
            EXPECT_EQ(matches, 1) << id.toStdString();
            resolved += matches;
        }
        return resolved;
    }

    std::map<std::string, std::string> files_; // UTF-8 name -> bytes
    int count_ = 0;
};

Recipient Yamada()
{
    Recipient r;
    r.fields[0] = S("山田 太郎");
    r.fields[1] = S("様");
    r.fields[2] = "yamada@example.com";
    r.fields[3] = S("東京都");
    return r;
}

} // namespace

TEST_F(MailParseTest, SinglePartPersonalisedTextMail)
{
    SendJob job;
    job.subject = S("<#-送信先名-><#-敬称->へのご案内");
    job.body = S("<#-送信先名-><#-敬称->\r\nいつもお世話になっております。\r\n所在地: "
                 "<#-差込１->\r\nASCII line\r\n");
    const Recipient r = Yamada();
    const QJsonObject json = Parse(BuildMailMessage(job, Account(), {"yamada@example.com"},
                                                    {"cc@example.com"}, {"bcc@example.com"}, &r));
    EXPECT_EQ(Header(json, u"Subject"_s)[u"value"_s].toString(), u"山田 太郎様へのご案内"_s);
    EXPECT_EQ(Header(json, u"Subject"_s)[u"rfc2047"_s].toString(), u"山田 太郎様へのご案内"_s);
    const QJsonArray from = Header(json, u"From"_s)[u"addresses"_s].toArray();
    ASSERT_EQ(from.size(), 1);
    EXPECT_EQ(from[0].toObject()[u"display_name"_s].toString(), u"営業部 山本"_s);
    EXPECT_EQ(from[0].toObject()[u"addr_spec"_s].toString(), u"sender@example.jp"_s);
    EXPECT_EQ(Header(json, u"To"_s)[u"value"_s].toString(), u"yamada@example.com"_s);
    EXPECT_EQ(Header(json, u"Cc"_s)[u"value"_s].toString(), u"cc@example.com"_s);
    EXPECT_TRUE(Header(json, u"Bcc"_s).isEmpty());
    EXPECT_EQ(Header(json, u"Reply-To"_s)[u"value"_s].toString(), u"reply@example.jp"_s);
    EXPECT_FALSE(Header(json, u"Date"_s).isEmpty());
    EXPECT_TRUE(Header(json, u"Message-ID"_s)[u"value"_s].toString().endsWith(u"@example.jp>"_s));

    const QJsonArray parts = Parts(json);
    ASSERT_EQ(parts.size(), 1);
    const QJsonObject text = parts[0].toObject();
    EXPECT_EQ(text[u"content_type"_s].toString(), u"text/plain"_s);
    EXPECT_EQ(text[u"charset"_s].toString(), u"iso-2022-jp"_s);
    EXPECT_EQ(WithoutCr(text[u"text"_s].toString()),
              u"山田 太郎様\nいつもお世話になっております。\n所在地: 東京都\nASCII line\n"_s);
}

TEST_F(MailParseTest, HtmlMailWithTwoInlinePictures)
{
    const std::string pic1 = "image240315143059_48210977.gif";
    const std::string pic2 = "image240315143100_10000000.jpg";
    std::string bytes1 = "GIF89a", bytes2;
    for (int i = 0; i < 5000; ++i)
        bytes2 += static_cast<char>((i * 31) & 0xFF);
    Put("HtmlImage", pic1, bytes1);
    Put("HtmlImage", pic2, bytes2);
    SendJob job;
    job.sendAsHtml = true;
    job.subject = S("写真付きのお知らせ");
    job.body = "<html><body><p>" + S("写真です") + "</p>\r\n<img src=\"cid:" + pic1 +
               "\">\r\n<img src=\"cid:" + pic2 + "\">\r\n</body></html>";
    job.inlinePictures = {pic1, pic2};
    const QJsonObject json = Parse(BuildMailMessage(job, Account(), {"a@example.com"}, {}, {}));

    EXPECT_EQ(Header(json, u"Subject"_s)[u"value"_s].toString(), u"写真付きのお知らせ"_s);
    const QJsonArray parts = Parts(json);
    ASSERT_EQ(parts.size(), 6);
    EXPECT_EQ(parts[0].toObject()[u"content_type"_s].toString(), u"multipart/alternative"_s);
    EXPECT_EQ(WithoutCr(parts[1].toObject()[u"text"_s].toString()), u"写真です\n"_s);
    EXPECT_EQ(parts[2].toObject()[u"content_type"_s].toString(), u"multipart/related"_s);
    const QJsonObject html = parts[3].toObject();
    EXPECT_EQ(html[u"content_type"_s].toString(), u"text/html"_s);
    const QString expectedHtml = u"<html><meta charset=\"ISO-2022-JP\"><body><p>写真です</p>\n"
                                 u"<img src=\"cid:"_s +
                                 Q(pic1) + u"\">\n<img src=\"cid:"_s + Q(pic2) +
                                 u"\">\n</body></html>\n"_s;
    EXPECT_EQ(WithoutCr(html[u"text"_s].toString()), expectedHtml);
    ExpectFilePart(parts[4].toObject(), pic1, u"image/gif"_s, Q("<" + pic1 + ">"));
    ExpectFilePart(parts[5].toObject(), pic2, u"image/jpeg"_s, Q("<" + pic2 + ">"));
    EXPECT_EQ(ExpectContentIdsResolve(json, html[u"text"_s].toString()), 2);
}

TEST_F(MailParseTest, AttachmentWithJapaneseNamePlusPicture)
{
    const std::string attachment = S("見積書 2024年3月.pdf");
    std::string pdf = "%PDF-1.4\n";
    for (int i = 0; i < 3000; ++i)
        pdf += static_cast<char>(i & 0xFF);
    Put("AppendedImage", attachment, pdf);
    Put("HtmlImage", "image1.png", std::string("\x89PNG\r\n\x1A\n", 8));
    SendJob job;
    job.sendAsHtml = true;
    job.subject = S("見積書の送付");
    job.body = S("<p>見積書を添付します。</p><img src=\"cid:image1.png\">");
    job.attachments = {attachment};
    job.inlinePictures = {"image1.png"};
    const QJsonObject json = Parse(BuildMailMessage(job, Account(), {"a@example.com"}, {}, {}));

    const QJsonArray parts = Parts(json);
    ASSERT_EQ(parts.size(), 7);
    EXPECT_EQ(parts[0].toObject()[u"content_type"_s].toString(), u"multipart/mixed"_s);
    EXPECT_EQ(parts[1].toObject()[u"content_type"_s].toString(), u"multipart/alternative"_s);
    EXPECT_EQ(WithoutCr(parts[2].toObject()[u"text"_s].toString()), u"見積書を添付します。\n"_s);
    EXPECT_EQ(parts[3].toObject()[u"content_type"_s].toString(), u"multipart/related"_s);
    const QJsonObject html = parts[4].toObject();
    EXPECT_EQ(html[u"content_type"_s].toString(), u"text/html"_s);
    EXPECT_EQ(
        WithoutCr(html[u"text"_s].toString()),
        u"<meta charset=\"ISO-2022-JP\"><p>見積書を添付します。</p><img src=\"cid:image1.png\">\n"_s);
    ExpectFilePart(parts[5].toObject(), "image1.png", u"image/png"_s, u"<image1.png>"_s);
    ExpectFilePart(parts[6].toObject(), "見積書 2024年3月.pdf", u"application/pdf"_s);
    EXPECT_EQ(ExpectContentIdsResolve(json, html[u"text"_s].toString()), 1);
}

TEST_F(MailParseTest, EmptySenderNameAndEmptySubject)
{
    SenderAccount account = Account();
    account.SenderName.clear();
    account.ReturnAddress.clear();
    SendJob job;
    job.body = S("本文のみ");
    const QJsonObject json = Parse(BuildMailMessage(job, account, {"a@example.com"}, {}, {}));
    const QJsonArray from = Header(json, u"From"_s)[u"addresses"_s].toArray();
    ASSERT_EQ(from.size(), 1);
    EXPECT_EQ(from[0].toObject()[u"display_name"_s].toString(), u"sender@example.jp"_s);
    EXPECT_EQ(from[0].toObject()[u"addr_spec"_s].toString(), u"sender@example.jp"_s);
    EXPECT_TRUE(Header(json, u"Subject"_s).isEmpty());
    EXPECT_TRUE(Header(json, u"Reply-To"_s).isEmpty());
    ASSERT_EQ(Parts(json).size(), 1);
    EXPECT_EQ(WithoutCr(Parts(json)[0].toObject()[u"text"_s].toString()), u"本文のみ\n"_s);
}

TEST_F(MailParseTest, PerListSendingKeepsTheTags)
{
    SendJob job;
    job.sendIndividually = false;
    job.subject = S("<#-送信先名-><#-敬称->へ");
    job.body = S("<#-送信先名-> <#-差込１０->");
    const QJsonObject json = Parse(BuildMailMessage(
        job, Account(), {"a@example.com", "b@example.com", "c@example.com"}, {}, {}));
    EXPECT_EQ(Header(json, u"Subject"_s)[u"value"_s].toString(), u"<#-送信先名-><#-敬称->へ"_s);
    const QJsonArray to = Header(json, u"To"_s)[u"addresses"_s].toArray();
    ASSERT_EQ(to.size(), 3);
    EXPECT_EQ(to[2].toObject()[u"addr_spec"_s].toString(), u"c@example.com"_s);
    EXPECT_EQ(WithoutCr(Parts(json)[0].toObject()[u"text"_s].toString()),
              u"<#-送信先名-> <#-差込１０->\n"_s);
}

TEST_F(MailParseTest, LongTextsFoldAndStillDecode)
{
    // Long subject, long Japanese display name, long Japanese file name with
    // half-width voiced kana, a long To list, and a body line over 998 bytes.
    std::string subjectUtf8, nameUtf8, fileHalf, fileFull;
    for (int i = 0; i < 40; ++i)
        subjectUtf8 += "長い件名のテスト";
    for (int i = 0; i < 15; ++i)
        nameUtf8 += (i ? " " : "") + std::string("株式会社サンプル");
    for (int i = 0; i < 10; ++i) { // 214 bytes on disk, 144 bytes of ISO-2022-JP
        fileHalf += "ﾃﾞｰﾀﾌｧｲﾙ";
        fileFull += "データファイル";
    }
    fileHalf += ".csv";
    fileFull += ".csv";
    const std::string fileName = S(fileHalf.c_str());
    const std::string csv = "a,b,c\r\n1,2,3\r\n";
    WriteBytes(WorkFolder() / "AppendedImage" / FileNameOf(fileName), csv);
    files_[fileFull] = csv; // shown with full-width kana

    SenderAccount account = Account();
    account.SenderName = S(nameUtf8.c_str());
    SendJob job;
    job.subject = S(subjectUtf8.c_str());
    std::string longLine;
    for (int i = 0; i < 300; ++i)
        longLine += "長文";
    job.body = S(("先頭行\r\n" + longLine + "\r\n末尾").c_str());
    job.attachments = {fileName};
    std::vector<std::string> to;
    for (int i = 0; i < 120; ++i)
        to.push_back("member" + std::to_string(i) + "@lists.example.com");

    const QJsonObject json = Parse(BuildMailMessage(job, account, to, {}, {}));
    EXPECT_EQ(Header(json, u"Subject"_s)[u"value"_s].toString(), Q(subjectUtf8));
    EXPECT_EQ(Header(json, u"Subject"_s)[u"rfc2047"_s].toString(), Q(subjectUtf8));
    // The display name of several encoded-words: the parser's address
    // reader puts a space between the words (RFC 2047 says white space between
    // encoded-words is dropped, which the package's own RFC 2047 decoder does).
    const QJsonObject fromHeader = Header(json, u"From"_s);
    EXPECT_EQ(fromHeader[u"rfc2047"_s].toString(), Q(nameUtf8) + u" <sender@example.jp>"_s);
    const QJsonArray from = fromHeader[u"addresses"_s].toArray();
    ASSERT_EQ(from.size(), 1);
    EXPECT_EQ(from[0].toObject()[u"addr_spec"_s].toString(), u"sender@example.jp"_s);
    EXPECT_EQ(from[0].toObject()[u"display_name"_s].toString().remove(u' '),
              Q(nameUtf8).remove(u' '));
    const QJsonArray toParsed = Header(json, u"To"_s)[u"addresses"_s].toArray();
    ASSERT_EQ(toParsed.size(), 120);
    for (int i = 0; i < 120; ++i)
        EXPECT_EQ(toParsed[i].toObject()[u"addr_spec"_s].toString(), Q(to[static_cast<size_t>(i)]));

    const QJsonArray parts = Parts(json);
    ASSERT_EQ(parts.size(), 3);
    ExpectFilePart(parts[2].toObject(), fileFull, u"text/csv"_s);
    const QJsonObject text = parts[1].toObject();
    EXPECT_EQ(text[u"transfer_encoding"_s].toString(), u"base64"_s);
    EXPECT_EQ(WithoutCr(text[u"text"_s].toString()), u"先頭行\n"_s + Q(longLine) + u"\n末尾\n"_s);
}

TEST_F(MailParseTest, PicturesBesideAPlainTextBody)
{
    Put("HtmlImage", "image5.png", "PNGDATA");
    SendJob job;
    job.subject = "Plain";
    job.body = S("テキスト本文");
    job.inlinePictures = {"image5.png"};
    const QJsonObject json = Parse(BuildMailMessage(job, Account(), {"a@example.com"}, {}, {}));
    EXPECT_EQ(Header(json, u"Subject"_s)[u"value"_s].toString(), u"Plain"_s);
    const QJsonArray parts = Parts(json);
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts[0].toObject()[u"content_type"_s].toString(), u"multipart/mixed"_s);
    EXPECT_EQ(WithoutCr(parts[1].toObject()[u"text"_s].toString()), u"テキスト本文\n"_s);
    ExpectFilePart(parts[2].toObject(), "image5.png", u"image/png"_s, u"<image5.png>"_s);
}
