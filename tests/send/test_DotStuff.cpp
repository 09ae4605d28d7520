// What is decided before any byte goes out: dot-stuffing of the data, the
// port texts of an account, and values that must never reach a command line.
#include "send/FaultTransport.h"
#include "send/MailTransport.h"
#include "support/VostrelTest.h"

#include <gtest/gtest.h>

using namespace vostrel;
using vostrel::test::FaultTransport;
using vostrel::test::S;

namespace {

struct StuffCase
{
    const char *name;
    std::string data;
    std::string wire;
};

// The case's name in test output.
void PrintTo(const StuffCase &c, std::ostream *os)
{
    *os << c.name;
}

class DotStuffTest : public ::testing::TestWithParam<StuffCase>
{};

TEST_P(DotStuffTest, DoublesLeadingDotsAndEndsWithTheEndLine)
{
    EXPECT_EQ(DotStuff(GetParam().data), GetParam().wire);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DotStuffTest,
    ::testing::Values(StuffCase{"Empty", "", ".\r\n"},
                      StuffCase{"PlainLines", "a\r\nb\r\n", "a\r\nb\r\n.\r\n"},
                      StuffCase{"FirstLineDot", ".a\r\n", "..a\r\n.\r\n"},
                      StuffCase{"LoneDotLine", "a\r\n.\r\nb\r\n", "a\r\n..\r\nb\r\n.\r\n"},
                      StuffCase{"TwoDots", "..\r\n", "...\r\n.\r\n"},
                      StuffCase{"DotInsideLine", "a.b\r\n x.\r\n", "a.b\r\n x.\r\n.\r\n"},
                      StuffCase{"LastLineWithoutBreak", "a\r\n.b", "a\r\n..b\r\n.\r\n"},
                      StuffCase{"EmptyLines", "\r\n\r\n.\r\n", "\r\n\r\n..\r\n.\r\n"},
                      // A bare LF or CR would end a line for some servers and not for
                      // others; every line ends in CR LF on the wire.
                      StuffCase{"BareLf", "a\n.\nb", "a\r\n..\r\nb\r\n.\r\n"},
                      StuffCase{"BareCr", "a\r.\rb\r\n", "a\r\n..\r\nb\r\n.\r\n"},
                      StuffCase{"CrCrLf", "a\r\r\n.", "a\r\n\r\n..\r\n.\r\n"},
                      StuffCase{"ShiftJisTrailBytes", S("表.\r\n.能\r\n"),
                                S("表.\r\n..能\r\n.\r\n")}),
    [](const auto &param) { return std::string(param.param.name); });

struct PortCase
{
    const char *name;
    std::string text;
    int port; // 0: not a port
};

// The case's name in test output.
void PrintTo(const PortCase &c, std::ostream *os)
{
    *os << c.name;
}

class ParsePortTest : public ::testing::TestWithParam<PortCase>
{};

TEST_P(ParsePortTest, AcceptsDecimalOneTo65535Only)
{
    const auto port = ParsePort(GetParam().text);
    if (GetParam().port == 0)
        EXPECT_FALSE(port.has_value()) << *port;
    else
        EXPECT_EQ(port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParsePortTest,
    ::testing::Values(PortCase{"One", "1", 1}, PortCase{"Smtp", "25", 25},
                      PortCase{"Max", "65535", 65535}, PortCase{"LeadingZeros", "0587", 587},
                      PortCase{"Empty", "", 0}, PortCase{"Zero", "0", 0},
                      PortCase{"TooBig", "65536", 0}, PortCase{"Huge", "99999999999999999999", 0},
                      PortCase{"Negative", "-25", 0}, PortCase{"Plus", "+25", 0},
                      PortCase{"Space", " 25", 0}, PortCase{"TrailingSpace", "25 ", 0},
                      PortCase{"Letters", "smtp", 0}, PortCase{"Hex", "0x19", 0},
                      PortCase{"FullWidth", S("２５"), 0}),
    [](const auto &param) { return std::string(param.param.name); });

SenderAccount FullAccount()
{
    SenderAccount a;
    a.SMTPAddress = "smtp.example.jp";
    a.SMTPPort = "587";
    a.FromAddress = "sender@example.jp";
    a.UsePOP = true;
    a.POPAddress = "pop.example.jp";
    a.POPPort = "110";
    a.POPAccount = "popuser";
    a.POPPass = "poppass";
    a.SMTPAuth = true;
    a.SMTPAccount = "smtpuser";
    a.SMTPPass = "smtppass";
    return a;
}

OutgoingMail SmallMail()
{
    return {"sender@example.jp", {"to@example.jp", "cc@example.jp"}, "Subject: x\r\n\r\nbody\r\n"};
}

// A case of an account or mail that must fail before any connection.
struct RefusedCase
{
    const char *name;
    void (*spoil)(SenderAccount &, OutgoingMail &);
    std::string reason;
};

// The case's name in test output.
void PrintTo(const RefusedCase &c, std::ostream *os)
{
    *os << c.name;
}

class RefusedBeforeConnectingTest : public ::testing::TestWithParam<RefusedCase>
{};

TEST_P(RefusedBeforeConnectingTest, FailsWithItsReasonAndConnectsNowhere)
{
    SenderAccount account = FullAccount();
    OutgoingMail mail = SmallMail();
    GetParam().spoil(account, mail);
    FaultTransport wire;
    const DeliveryResult result = DeliverMail(wire, account, mail);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, GetParam().reason);
    EXPECT_TRUE(wire.Sessions().empty());
}

constexpr const char *kUnusable = "に使えない文字 (改行など) が含まれているため送信できません";

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedBeforeConnectingTest,
    ::testing::Values(
        RefusedCase{
            "SmtpPortLetters", [](SenderAccount &a, OutgoingMail &) { a.SMTPPort = "smtp"; },
            "SMTPポート番号「smtp」が正しくありません (1～65535 の半角数字で指定してください)"},
        RefusedCase{
            "SmtpPortZero", [](SenderAccount &a, OutgoingMail &) { a.SMTPPort = "0"; },
            "SMTPポート番号「0」が正しくありません (1～65535 の半角数字で指定してください)"},
        RefusedCase{"SmtpPortTooBig",
                    [](SenderAccount &a, OutgoingMail &) { a.SMTPPort = "65536"; },
                    "SMTPポート番号「65536」が正しくありません (1～65535 "
                    "の半角数字で指定してください)"},
        RefusedCase{"SmtpPortFullWidth",
                    [](SenderAccount &a, OutgoingMail &) { a.SMTPPort = S("５８７"); },
                    "SMTPポート番号「５８７」が正しくありません (1～65535 "
                    "の半角数字で指定してください)"},
        RefusedCase{"PopPortEmpty", [](SenderAccount &a, OutgoingMail &) { a.POPPort = ""; },
                    "POP3ポート番号「」が正しくありません (1～65535 の半角数字で指定してください)"},
        RefusedCase{"SmtpHostEmpty", [](SenderAccount &a, OutgoingMail &) { a.SMTPAddress = ""; },
                    "SMTPサーバーのアドレスが設定されていません"},
        RefusedCase{"SmtpHostLineBreak",
                    [](SenderAccount &a, OutgoingMail &) { a.SMTPAddress = "smtp.example.jp\r\n"; },
                    std::string("SMTPサーバーのアドレス「smtp.example.jp\\r\\n」") + kUnusable},
        RefusedCase{"SmtpHostNul",
                    [](SenderAccount &a, OutgoingMail &) {
                        a.SMTPAddress = std::string("evil.example") + '\0' + "smtp.example.jp";
                    },
                    std::string("SMTPサーバーのアドレス「evil.example\\0smtp.example.jp」") +
                        kUnusable},
        RefusedCase{"PopHostLineBreak",
                    [](SenderAccount &a, OutgoingMail &) { a.POPAddress = "pop\n"; },
                    std::string("POP3サーバーのアドレス「pop\\n」") + kUnusable},
        RefusedCase{"PopAccountLineBreak",
                    [](SenderAccount &a, OutgoingMail &) { a.POPAccount = "u\r\nDELE 1"; },
                    std::string("POP3のアカウント「u\\r\\nDELE 1」") + kUnusable},
        // Passwords are never shown.
        RefusedCase{"PopPasswordLineBreak",
                    [](SenderAccount &a, OutgoingMail &) { a.POPPass = "secret\r\nDELE 1"; },
                    std::string("POP3のパスワード") + kUnusable},
        RefusedCase{"SmtpAccountLineBreak",
                    [](SenderAccount &a, OutgoingMail &) { a.SMTPAccount = "u\n"; },
                    std::string("SMTPのアカウント「u\\n」") + kUnusable},
        RefusedCase{"SmtpPasswordLineBreak",
                    [](SenderAccount &a, OutgoingMail &) { a.SMTPPass = "p\r"; },
                    std::string("SMTPのパスワード") + kUnusable},
        RefusedCase{"FromLineBreak",
                    [](SenderAccount &, OutgoingMail &m) {
                        m.envelopeFrom = "a@example.jp>\r\nRCPT TO:<victim@example.jp";
                    },
                    std::string("送信元メールアドレス「a@example.jp>\\r\\nRCPT "
                                "TO:<victim@example.jp」") +
                        kUnusable},
        RefusedCase{"RecipientLineBreak",
                    [](SenderAccount &, OutgoingMail &m) {
                        m.recipients[1] = "cc@example.jp>\r\nDATA\r\n<x";
                    },
                    std::string("宛先メールアドレス「cc@example.jp>\\r\\nDATA\\r\\n<x」") +
                        kUnusable},
        RefusedCase{"NoRecipients", [](SenderAccount &, OutgoingMail &m) { m.recipients.clear(); },
                    "宛先がないため送信できません"}),
    [](const auto &param) { return std::string(param.param.name); });

// The values of groups that are switched off are not used, so they cannot
// fail the mail.
TEST(RefusedBeforeConnecting, IgnoresValuesOfGroupsThatAreOff)
{
    SenderAccount account = FullAccount();
    account.UsePOP = false;
    account.POPPort = "none";
    account.POPPass = "a\r\nb";
    account.SMTPAuth = false;
    account.SMTPPass = "a\r\nb";
    FaultTransport wire;
    const DeliveryResult result = DeliverMail(wire, account, SmallMail());
    EXPECT_TRUE(result.ok) << result.reason;
    ASSERT_EQ(wire.Sessions().size(), 1u);
    EXPECT_FALSE(wire.Sessions()[0].pop);
}

} // namespace
