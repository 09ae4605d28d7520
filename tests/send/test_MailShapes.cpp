// Every shape of mail the program sends, delivered through a real Postfix on
// 127.0.0.1, then read three ways (tests/send/check_mail_shapes.py): Python's
// email package and postal-mime from npm must both read exactly what was
// built (subject, sender, recipients, both bodies, the files' names, types
// and bytes), and SpamAssassin (local tests only) must find nothing in the
// header, MIME or HTML rules; only ALL_TRUSTED, the rule for mail that
// crossed nothing but 127.0.0.1, may hit. The scores are printed.
#include "core/DataFolder.h"
#include "core/SjisCodec.h"
#include "peers/MailPeers.h"
#include "send/HtmlText.h"
#include "send/MailTransport.h"
#include "send/WireTestUtil.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <iostream>

using namespace vostrel;
using namespace vostrel::test;
namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

namespace {

struct Shape
{
    std::string name; // also the mailbox of the first recipient
    SendJob job;
    std::vector<std::string> to, cc;
    bool individual = false;
};

QJsonObject Address(const std::string &name, const std::string &address)
{
    return {{u"name"_s, QString::fromStdString(name)},
            {u"address"_s, QString::fromStdString(address)}};
}

QJsonArray Addresses(const std::vector<std::string> &list)
{
    QJsonArray out;
    for (const std::string &a : list)
        out.append(Address("", a));
    return out;
}

QJsonValue Text(const std::string &sjis)
{
    std::string text = SjisToUtf8(sjis);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return QString::fromStdString(out);
}

class MailShapesTest : public VostrelTest
{
protected:
    static void SetUpTestSuite()
    {
        if (!PostfixPeer::Available())
            return;
        folder_ = new PeerFolder;
        mta_ = new PostfixPeer(folder_->Path(),
                               {.mailboxes = {"text", "html", "htmlpictures", "htmlfiles",
                                              "japanesenames", "perlist"}});
    }

    static void TearDownTestSuite()
    {
        delete mta_;
        delete folder_;
        mta_ = nullptr;
    }

    void SetUp() override
    {
        VostrelTest::SetUp();
        if (!mta_)
            GTEST_SKIP() << "Postfix needs root";
    }

    // postal-mime, installed with npm into the build folder once.
    static fs::path NpmFolder()
    {
        const fs::path dir = fs::path(VOSTREL_BINARY_DIR) / "tests" / "npm";
        if (!fs::exists(dir / "node_modules" / "postal-mime" / "package.json")) {
            fs::create_directories(dir);
            QString output;
            const int rc =
                RunProgram(QStringLiteral("npm"),
                           {QStringLiteral("install"), QStringLiteral("--prefix"),
                            QString::fromStdString(dir.string()), QStringLiteral("--no-audit"),
                            QStringLiteral("--no-fund"), QStringLiteral("postal-mime@4")},
                           &output, {}, 300000);
            EXPECT_EQ(rc, 0) << output.toStdString();
        }
        return dir;
    }

    static SenderAccount Sender()
    {
        SenderAccount account = mta_->Account();
        account.SenderName = S("山田商店 お知らせ");
        account.ReturnAddress = "reply@local.test";
        return account;
    }

    static inline PeerFolder *folder_ = nullptr;
    static inline PostfixPeer *mta_ = nullptr;
};

TEST_F(MailShapesTest, EveryShapeParsesAlikeTwiceAndScoresCleanInSpamAssassin)
{
    const std::string pdf = "%PDF-1.4\n" + std::string(3000, 'x') + "\n%%EOF\n";
    const std::string csv = S("品名,価格\r\nりんご,100\r\n");
    std::string png("\x89PNG\r\n\x1A\n", 8);
    png += std::string(600, '\x01');
    WriteBytes(WorkFolder() / "AppendedImage" / "report.pdf", pdf);
    WriteBytes(WorkFolder() / "AppendedImage" / FileNameOf(S("見積書 2024年.pdf")), pdf);
    WriteBytes(WorkFolder() / "AppendedImage" / FileNameOf(S("価格表.csv")), csv);
    WriteBytes(WorkFolder() / "HtmlImage" / "image1.png", png);
    const std::map<std::string, std::pair<std::string, std::string>> files = {
        // name as shown (UTF-8) -> type, bytes
        {"report.pdf", {"application/pdf", pdf}},
        {"見積書 2024年.pdf", {"application/pdf", pdf}},
        {"価格表.csv", {"text/csv", csv}},
        {"image1.png", {"image/png", png}},
    };

    SendJob base;
    base.subject = S("<#-送信先名->様 春の新商品のご案内");
    base.listUnsubscribe = true;
    base.unsubscribeUrl = "https://local.test/unsubscribe?list=news";
    const std::string text =
        S("<#-送信先名->様\r\n\r\nいつもご利用ありがとうございます。\r\n"
          "春の新商品をご案内いたします。\r\n詳しくは当店の案内ページをご覧ください。\r\n");
    // Pages as people write them: one element a line, words enough beside
    // the picture.
    const std::string html = S(
        "<!DOCTYPE html>\r\n<html lang=\"ja\">\r\n<head>\r\n<meta charset=\"Shift_JIS\">\r\n"
        "<title>ご案内</title>\r\n</head>\r\n<body>\r\n<p><#-送信先名->様</p>\r\n"
        "<p>いつもご利用ありがとうございます。<br>\r\n春の新商品をご案内いたします。</p>\r\n"
        "<ul>\r\n<li>新茶 100g</li>\r\n<li>桜餅 6個入り</li>\r\n</ul>\r\n"
        "<p>詳しくは <a href=\"https://local.test/spring\">案内ページ</a> をご覧ください。</p>\r\n"
        "</body>\r\n</html>\r\n");
    // SpamAssassin scores a picture with less than 3200 bytes of words
    // beside it (HTML_IMAGE_ONLY_*): a newsletter's worth of text.
    std::string news;
    for (int i = 1; i <= 50; ++i)
        news += "<p>" + std::to_string(i) +
                S("．新茶は一番摘みの茶葉だけを使い、低い温度でゆっくり蒸し上げました。"
                  "湯冷ましした七十度ほどのお湯で一分待つと、甘みがいちばん引き立ちます。") +
                "</p>\r\n";
    const std::string htmlWithPicture =
        S("<html>\r\n<head>\r\n<meta charset=\"Shift_JIS\">\r\n</head>\r\n<body>\r\n"
          "<p>新商品の写真です。</p>\r\n"
          "<p><img src=\"cid:image1.png\" alt=\"新商品\" width=\"40\" height=\"40\"></p>\r\n") +
        news + S("<p>ご来店を心よりお待ちしております。</p>\r\n</body>\r\n</html>\r\n");

    auto shape = [&](std::string name, bool asHtml, const std::string &body) {
        Shape s;
        s.name = name;
        s.job = base;
        s.job.sendAsHtml = asHtml;
        s.job.body = body;
        s.to = {name + "@local.test"};
        s.individual = true;
        return s;
    };
    std::vector<Shape> shapes;
    shapes.push_back(shape("text", false, text));
    shapes.push_back(shape("html", true, html));
    shapes.push_back(shape("htmlpictures", true, htmlWithPicture));
    shapes.back().job.inlinePictures = {"image1.png"};
    shapes.push_back(shape("htmlfiles", true, htmlWithPicture));
    shapes.back().job.inlinePictures = {"image1.png"};
    shapes.back().job.attachments = {"report.pdf"};
    shapes.push_back(shape("japanesenames", false, text));
    shapes.back().job.attachments = {S("見積書 2024年.pdf"), S("価格表.csv")};
    shapes.push_back(
        shape("perlist", false, S("会員の皆様\r\n\r\n春の新商品をご案内いたします。\r\n")));
    shapes.back().individual = false;
    shapes.back().job.subject = S("春の新商品のご案内");
    shapes.back().to = {"perlist@local.test", "member2@local.test"};
    shapes.back().cc = {"office@local.test"};

    QStringList args{QStringLiteral(VOSTREL_SOURCE_DIR "/tests/send/check_mail_shapes.py"),
                     QStringLiteral("--npm"),
                     QString::fromStdString(NpmFolder().string()),
                     QStringLiteral("--home"),
                     QString::fromStdString((TempDir() / "sa").string()),
                     QStringLiteral("--out"),
                     QString::fromStdString((TempDir() / "shapes.json").string())};
    std::vector<QJsonObject> expected;
    for (const Shape &s : shapes) {
        Recipient recipient;
        recipient.fields[0] = S("佐藤");
        recipient.fields[2] = s.to.front();
        const MailMessage message =
            BuildMailMessage(s.job, Sender(), s.to, s.cc, {}, s.individual ? &recipient : nullptr);
        std::vector<std::string> all = s.to;
        all.insert(all.end(), s.cc.begin(), s.cc.end());
        const DeliveryResult result =
            DeliverMail(RealTransport(), mta_->Account(),
                        {"sender@local.test", all, WriteMimeMessage(message)});
        ASSERT_TRUE(result.ok) << result.reason;

        const std::string body = s.individual ? ApplyMergeTags(s.job.body, recipient) : s.job.body;
        QJsonArray attachments;
        for (const auto &list : {s.job.inlinePictures, s.job.attachments})
            for (const std::string &name : list) {
                const auto &[type, bytes] = files.at(SjisToUtf8(name));
                attachments.append(QJsonObject{
                    {u"filename"_s, QString::fromStdString(SjisToUtf8(name))},
                    {u"type"_s, QString::fromStdString(type)},
                    {u"sha256"_s,
                     QString::fromLatin1(QCryptographicHash::hash(QByteArray::fromStdString(bytes),
                                                                  QCryptographicHash::Sha256)
                                             .toHex())}});
            }
        expected.push_back(QJsonObject{
            {u"subject"_s,
             Text(s.individual ? ApplyMergeTags(s.job.subject, recipient) : s.job.subject)},
            {u"from"_s, Address("山田商店 お知らせ", "sender@local.test")},
            {u"to"_s, Addresses(s.to)},
            {u"cc"_s, Addresses(s.cc)},
            {u"text"_s, Text(s.job.sendAsHtml ? HtmlToPlainText(body) : body)},
            {u"html"_s,
             s.job.sendAsHtml ? Text(DeclareHtmlCharset(body, "ISO-2022-JP")) : QJsonValue()},
            {u"attachments"_s, attachments},
        });
    }
    for (const Shape &s : shapes) {
        const auto mails = mta_->WaitForMails(s.to.front().substr(0, s.to.front().find('@')), 1);
        ASSERT_EQ(mails.size(), 1u) << s.name << "\n" << mta_->Log();
        const fs::path file = TempDir() / (s.name + ".eml");
        WriteBytes(file, mails[0]);
        args << QString::fromStdString(file.string());
    }

    QString output;
    ASSERT_EQ(RunProgram(QStringLiteral(VOSTREL_PYTHON), args, &output), 0) << output.toStdString();
    const QJsonArray results =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReadBytes(TempDir() / "shapes.json")))
            .array();
    ASSERT_EQ(results.size(), static_cast<qsizetype>(shapes.size()));
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        SCOPED_TRACE(shapes[i].name);
        const QJsonObject r = results[static_cast<qsizetype>(i)].toObject();
        EXPECT_EQ(r[u"python"_s].toObject(), expected[i])
            << QJsonDocument(r[u"python"_s].toObject()).toJson().toStdString();
        EXPECT_EQ(r[u"postal"_s].toObject(), expected[i])
            << QJsonDocument(r[u"postal"_s].toObject()).toJson().toStdString();
        const QJsonObject sa = r[u"sa"_s].toObject();
        std::string hits;
        for (const QString &rule : sa[u"tests"_s].toObject().keys()) {
            const QString family = sa[u"families"_s].toObject()[rule].toString();
            hits += " " + rule.toStdString() + "=" +
                    QString::number(sa[u"tests"_s].toObject()[rule].toDouble()).toStdString() +
                    "(" + family.toStdString() + ")";
            // Stricter than the families: no rule at all but the one for mail
            // that crossed only 127.0.0.1, and the marker every HTML mail
            // gets (HTML_MESSAGE, 0.001, which says no more than "has HTML").
            if (rule != u"ALL_TRUSTED" && !(rule == u"HTML_MESSAGE" && shapes[i].job.sendAsHtml))
                ADD_FAILURE() << rule.toStdString() << " (" << family.toStdString() << ")";
        }
        std::cout << "SpamAssassin " << shapes[i].name << ": score " << sa[u"score"_s].toDouble()
                  << ";" << hits << std::endl;
    }
}

} // namespace
