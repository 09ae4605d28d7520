// What came back to the sender's mailbox, recognised from hand-written
// samples of each form: delivery status notifications, the plain-text bounces
// of Postfix, qmail, Exim and a Japanese provider, unsubscribe requests and
// auto-replies.
#include "send/BounceRecognizer.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

using namespace vostrel;

namespace {

// UTF-8 -> ISO-2022-JP by the C library, as a provider's mail server writes it.
std::string Jis(const std::string &utf8)
{
    iconv_t cd = iconv_open("ISO-2022-JP", "UTF-8");
    std::string in = utf8, out(utf8.size() * 4 + 16, '\0');
    char *inPtr = in.data(), *outPtr = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::string Base64(const std::string &bytes)
{
    static const char *kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (unsigned char c : bytes) {
        bits = (bits << 8) | c;
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += kChars[(bits >> count) & 63];
        }
    }
    if (count > 0)
        out += kChars[(bits << (6 - count)) & 63];
    while (out.size() % 4)
        out += '=';
    return out;
}

std::string JisWord(const std::string &utf8)
{
    return "=?ISO-2022-JP?B?" + Base64(Jis(utf8)) + "?=";
}

const std::string kOriginal = "Return-Path: <news@sender.example.jp>\n"
                              "Message-ID: <20261210021500.1a2b3c4d5e6f7a8b.1@sender.example.jp>\n"
                              "From: news@sender.example.jp\n"
                              "Subject: =?ISO-2022-JP?B?GyRCJCpDTiRpJDsbKEI=?=\n";

const std::string kDsn =
    "From: MAILER-DAEMON@mx.example.jp (Mail Delivery System)\n"
    "To: news@sender.example.jp\n"
    "Subject: Undelivered Mail Returned to Sender\n"
    "Auto-Submitted: auto-replied\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/report; report-type=delivery-status;\n"
    "\tboundary=\"B1\"\n"
    "\n"
    "--B1\n"
    "Content-Type: text/plain; charset=us-ascii\n"
    "\n"
    "I'm sorry to have to inform you that your message could not be delivered.\n"
    "\n"
    "--B1\n"
    "Content-Type: message/delivery-status\n"
    "\n"
    "Reporting-MTA: dns; mx.example.jp\n"
    "Arrival-Date: Thu, 10 Dec 2026 11:15:00 +0900 (JST)\n"
    "\n"
    "Final-Recipient: rfc822; taro@example.jp\n"
    "Original-Recipient: rfc822;Taro@Example.jp\n"
    "Action: failed\n"
    "Status: 5.1.1\n"
    "Diagnostic-Code: smtp; 550 5.1.1 <taro@example.jp>: Recipient address\n"
    "    rejected: User unknown\n"
    "\n"
    "Final-Recipient: rfc822; busy@example.jp\n"
    "Action: delayed\n"
    "Status: 4.2.2\n"
    "Diagnostic-Code: smtp; 452 4.2.2 Mailbox full\n"
    "\n"
    "Final-Recipient: rfc822; fine@example.jp\n"
    "Action: delivered\n"
    "Status: 2.0.0\n"
    "\n"
    "--B1\n"
    "Content-Type: text/rfc822-headers\n"
    "\n" +
    kOriginal + "\n--B1--\n";

const std::string kPostfixText =
    "From: MAILER-DAEMON@mx.example.jp (Mail Delivery System)\n"
    "To: news@sender.example.jp\n"
    "Subject: Undelivered Mail Returned to Sender\n"
    "\n"
    "This is the mail system at host mx.example.jp.\n"
    "\n"
    "I'm sorry to have to inform you that your message could not\n"
    "be delivered to one or more recipients. It's attached below.\n"
    "\n"
    "                   The mail system\n"
    "\n"
    "<jiro@example.jp>: host mail.example.jp[192.0.2.25] said: 550 5.1.1\n"
    "    <jiro@example.jp>: Recipient address rejected: User unknown (in reply to\n"
    "    RCPT TO command)\n"
    "\n"
    "<full@example.jp>: host mail.example.jp[192.0.2.25] said: 452 4.2.2 Mailbox\n"
    "    full (in reply to RCPT TO command)\n"
    "\n"
    "--- Original message follows.\n"
    "\n" +
    kOriginal;

const std::string kQmail = "Return-Path: <>\n"
                           "From: MAILER-DAEMON@mail.example.jp\n"
                           "To: news@sender.example.jp\n"
                           "Subject: failure notice\n"
                           "\n"
                           "Hi. This is the qmail-send program at mail.example.jp.\n"
                           "I'm afraid I wasn't able to deliver your message to the following "
                           "addresses.\n"
                           "This is a permanent error; I've given up. Sorry it didn't work out.\n"
                           "\n"
                           "<hanako@example.jp>:\n"
                           "Sorry, no mailbox here by that name. (#5.1.1)\n"
                           "\n"
                           "--- Below this line is a copy of the message.\n"
                           "\n" +
                           kOriginal + "To: someone.else@example.jp\n";

const std::string kExim =
    "From: Mail Delivery System <Mailer-Daemon@mx.example.jp>\n"
    "To: news@sender.example.jp\n"
    "Subject: Mail delivery failed: returning message to sender\n"
    "\n"
    "This message was created automatically by mail delivery software.\n"
    "\n"
    "A message that you sent could not be delivered to one or more of its\n"
    "recipients. This is a permanent error. The following address(es) failed:\n"
    "\n"
    "  saburo@example.jp\n"
    "    SMTP error from remote mail server after RCPT TO:<saburo@example.jp>:\n"
    "    550 5.1.1 User unknown\n"
    "\n"
    "------ This is a copy of the message, including all the headers. ------\n"
    "\n" +
    kOriginal;

const std::string kJapanese = "From: postmaster@mail.example.ne.jp\n"
                              "To: news@sender.example.jp\n"
                              "Subject: " +
                              JisWord("配信エラーのお知らせ") +
                              "\n"
                              "MIME-Version: 1.0\n"
                              "Content-Type: text/plain; charset=ISO-2022-JP\n"
                              "Content-Transfer-Encoding: 7bit\n"
                              "\n" +
                              Jis("お客様が送信されたメールは、以下の宛先に配信できませんでした。\n"
                                  "\n"
                                  "宛先: shiro@example.ne.jp\n"
                                  "理由: 宛先のメールアドレスが存在しません。\n"
                                  "\n"
                                  "以下、元のメッセージです。\n") +
                              kOriginal;

std::string Mail(const std::string &headers, const std::string &body = "Hello.\n")
{
    return "From: Ichiro <ichiro@example.jp>\nTo: news@sender.example.jp\n" + headers + "\n" + body;
}

struct Case
{
    const char *name;
    std::string mail;
    MailKind kind;
    std::vector<Finding> findings;
    std::string messageId;
};

const std::string kOriginalId = "<20261210021500.1a2b3c4d5e6f7a8b.1@sender.example.jp>";

std::vector<Case> Cases()
{
    using K = FindingKind;
    return {
        {"Dsn",
         kDsn,
         MailKind::Bounce,
         {{"taro@example.jp", K::Permanent,
           "550 5.1.1 <taro@example.jp>: Recipient address rejected: User unknown"},
          {"busy@example.jp", K::Temporary, "452 4.2.2 Mailbox full"}},
         kOriginalId},
        {"PostfixText",
         kPostfixText,
         MailKind::Bounce,
         {{"jiro@example.jp", K::Permanent,
           "host mail.example.jp[192.0.2.25] said: 550 5.1.1 <jiro@example.jp>: Recipient "
           "address rejected: User unknown (in reply to RCPT TO command)"},
          {"full@example.jp", K::Temporary,
           "host mail.example.jp[192.0.2.25] said: 452 4.2.2 Mailbox full (in reply to RCPT TO "
           "command)"}},
         kOriginalId},
        {"Qmail",
         kQmail,
         MailKind::Bounce,
         {{"hanako@example.jp", K::Permanent, "Sorry, no mailbox here by that name. (#5.1.1)"}},
         kOriginalId},
        {"Exim",
         kExim,
         MailKind::Bounce,
         {{"saburo@example.jp", K::Permanent,
           "SMTP error from remote mail server after RCPT TO:<saburo@example.jp>: 550 5.1.1 "
           "User unknown"}},
         kOriginalId},
        {"JapaneseIso2022Jp",
         kJapanese,
         MailKind::Bounce,
         {{"shiro@example.ne.jp", K::Permanent, "理由: 宛先のメールアドレスが存在しません。"}},
         kOriginalId},
        {"UnsubscribeFromSender",
         Mail("Subject: unsubscribe\n"),
         MailKind::Unsubscribe,
         {{"ichiro@example.jp", K::Unsubscribe, "unsubscribe"}},
         ""},
        {"UnsubscribeNamingAddress",
         Mail("Subject: UNSUBSCRIBE <Goro@Example.jp>\n"),
         MailKind::Unsubscribe,
         {{"goro@example.jp", K::Unsubscribe, "UNSUBSCRIBE <Goro@Example.jp>"}},
         ""},
        {"UnsubscribeJapanese",
         Mail("Subject: " + JisWord("配信停止") + "\n"),
         MailKind::Unsubscribe,
         {{"ichiro@example.jp", K::Unsubscribe, "配信停止"}},
         ""},
        {"UnsubscribeJapaneseNamingAddress",
         Mail("Subject: " + JisWord("配信停止　rokuro@example.jp") + "\n"),
         MailKind::Unsubscribe,
         {{"rokuro@example.jp", K::Unsubscribe, "配信停止　rokuro@example.jp"}},
         ""},
        {"ReplyQuotingUnsubscribe", Mail("Subject: Re: unsubscribe\n"), MailKind::Other, {}, ""},
        {"UnsubscribedIsNotTheWord",
         Mail("Subject: unsubscribed already\n"),
         MailKind::Other,
         {},
         ""},
        {"AutoSubmitted",
         Mail("Subject: unsubscribe\nAuto-Submitted: auto-replied\n",
              "I am away. Mail to taro@example.jp failed? Write to jiro@example.jp.\n"),
         MailKind::AutoReply,
         {},
         ""},
        {"VacationNotice",
         Mail("Subject: " + JisWord("自動応答: 不在のお知らせ") + "\n"),
         MailKind::AutoReply,
         {},
         ""},
        {"OutOfOffice",
         Mail("Subject: Out of Office: until Monday\n"),
         MailKind::AutoReply,
         {},
         ""},
        {"OrdinaryReply",
         Mail("Subject: Re: news\n", "Thanks, see jiro@example.jp.\n"),
         MailKind::Other,
         {},
         ""},
    };
}

class RecognizeMailTest : public ::testing::TestWithParam<Case>
{};

TEST_P(RecognizeMailTest, KindFindingsAndQuotedMessageId)
{
    const Case &c = GetParam();
    for (const bool crlf : {false, true}) {
        std::string mail = c.mail;
        if (crlf)
            for (std::size_t at = mail.find('\n'); at != std::string::npos;
                 at = mail.find('\n', at + 2))
                mail.replace(at, 1, "\r\n");
        const RecognizedMail got = RecognizeMail(mail);
        EXPECT_EQ(got.kind, c.kind) << (crlf ? "CR LF" : "LF");
        ASSERT_EQ(got.findings.size(), c.findings.size()) << (crlf ? "CR LF" : "LF");
        for (std::size_t i = 0; i < c.findings.size(); ++i) {
            EXPECT_EQ(got.findings[i].address, c.findings[i].address);
            EXPECT_EQ(got.findings[i].kind, c.findings[i].kind) << c.findings[i].address;
            EXPECT_EQ(got.findings[i].reason, c.findings[i].reason);
        }
        EXPECT_EQ(got.originalMessageId, c.messageId);
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, RecognizeMailTest, ::testing::ValuesIn(Cases()),
                         [](const auto &param) { return std::string(param.param.name); });

TEST(BounceRecognizerTest, HeaderWordsOfAnyCharsetDecodeToUtf8)
{
    EXPECT_EQ(DecodeHeaderText(JisWord("配信") + " \t" + JisWord("停止")), "配信停止");
    EXPECT_EQ(DecodeHeaderText("=?UTF-8?Q?caf=C3=A9_au_lait?= ok"), "café au lait ok");
    EXPECT_EQ(DecodeHeaderText("=?Shift_JIS?B?" + Base64("\x94\x7A\x90\x4D") + "?="), "配信");
    EXPECT_EQ(DecodeHeaderText("plain =?broken"), "plain =?broken");
}

TEST(BounceRecognizerTest, AddressesAreFoundBareBracketedOrAsMailto)
{
    EXPECT_EQ(FindAddress("rfc822; Taro.Y@Example.JP."), "taro.y@example.jp");
    EXPECT_EQ(FindAddress("<mailto:a+b@x.example.jp>"), "a+b@x.example.jp");
    EXPECT_EQ(FindAddress("user@localhost then b@c.jp"), "b@c.jp");
    EXPECT_EQ(FindAddress("no address @ all"), "");
}

} // namespace
