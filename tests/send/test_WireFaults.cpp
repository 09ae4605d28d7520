// The SMTP and POP3 dialogues against the fault transport's scripted server:
// the exact commands, the choice of EHLO/HELO, STARTTLS and AUTH, and every
// fault no real server produces on demand, each with the reason the user
// reads. The connection is closed in every case.
#include "core/Errors.h"
#include "send/FaultTransport.h"
#include "send/MailTransport.h"
#include "send/PzConv.h"
#include "send/WireTestUtil.h"
#include "support/VostrelTest.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vostrel;
using namespace vostrel::test;

namespace {

const std::string kPeer = "smtp.example.jp:587";
const std::string kPopPeer = "pop.example.jp:110";
const TransportTimeouts kShort{.connectMs = 50, .replyMs = 50};

SenderAccount Account()
{
    SenderAccount a;
    a.SMTPAddress = "smtp.example.jp";
    a.SMTPPort = "587";
    a.FromAddress = "sender@example.jp";
    return a;
}

SenderAccount AuthAccount()
{
    SenderAccount a = Account();
    a.SMTPAuth = true;
    a.SMTPAccount = "smtpuser";
    a.SMTPPass = "smtppass";
    return a;
}

SenderAccount PopAccount()
{
    SenderAccount a = Account();
    a.UsePOP = true;
    a.POPAddress = "pop.example.jp";
    a.POPPort = "110";
    a.POPAccount = "popuser";
    a.POPPass = "poppass";
    return a;
}

OutgoingMail Mail(std::vector<std::string> to = {"to@example.jp", "cc@example.jp"})
{
    return {"sender@example.jp", std::move(to),
            "Subject: test\r\n\r\nfirst line\r\n.leading dot\r\n.\r\nlast line\r\n"};
}

// Sends one mail and checks what holds after every mail, good or bad.
DeliveryResult Send(FaultTransport &wire, const SenderAccount &account,
                    const OutgoingMail &mail = Mail(), const TransportTimeouts &timeouts = {})
{
    const DeliveryResult result = DeliverMail(wire, account, mail, timeouts);
    EXPECT_TRUE(wire.AllClosed()) << "a connection was left open";
    EXPECT_EQ(result.ok, result.reason.empty()) << result.reason;
    return result;
}

TEST(WireDialogue, SendsTheExactCommandsAndData)
{
    FaultTransport wire;
    const DeliveryResult result = Send(wire, AuthAccount());
    ASSERT_TRUE(result.ok) << result.reason;
    const auto sessions = wire.Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    const WireSession &s = sessions[0];
    EXPECT_EQ(s.host, "smtp.example.jp");
    EXPECT_EQ(s.port, 587);
    EXPECT_FALSE(s.implicitTls);
    EXPECT_EQ(s.commands, (std::vector<std::string>{
                              "EHLO " + HostName(), "AUTH LOGIN", B64("smtpuser"), B64("smtppass"),
                              "MAIL FROM:<sender@example.jp>", "RCPT TO:<to@example.jp>",
                              "RCPT TO:<cc@example.jp>", "DATA", "QUIT"}));
    EXPECT_EQ(s.authMechanism, "LOGIN");
    EXPECT_EQ(s.authLogin, "smtpuser");
    EXPECT_EQ(s.authPassword, "smtppass");
    EXPECT_EQ(s.wireData, DotStuff(Mail().data));
    EXPECT_EQ(s.data, Mail().data);
    EXPECT_TRUE(s.delivered);
}

TEST(WireDialogue, PassesTheTimeoutsToTheTransport)
{
    FaultTransport wire;
    ASSERT_TRUE(Send(wire, Account(), Mail(), {.connectMs = 1234, .replyMs = 5678}).ok);
    EXPECT_EQ(wire.Sessions()[0].timeouts.connectMs, 1234);
    EXPECT_EQ(wire.Sessions()[0].timeouts.replyMs, 5678);
}

TEST(WireDialogue, NoAuthWhenTheAccountDoesNotAskForIt)
{
    FaultTransport wire;
    ASSERT_TRUE(Send(wire, Account()).ok);
    EXPECT_EQ(wire.Sessions()[0].commands[1], "MAIL FROM:<sender@example.jp>");
    EXPECT_TRUE(wire.Sessions()[0].authMechanism.empty());
}

TEST(WireDialogue, UsesPlainWhenLoginIsNotOffered)
{
    FaultTransport wire;
    wire.server.authMechanisms = {"CRAM-MD5", "plain"};
    ASSERT_TRUE(Send(wire, AuthAccount()).ok);
    const WireSession s = wire.Sessions()[0];
    EXPECT_EQ(s.commands[1], "AUTH PLAIN " + B64(std::string("\0smtpuser\0smtppass", 18)));
    EXPECT_EQ(s.authMechanism, "PLAIN");
    EXPECT_EQ(s.authLogin, "smtpuser");
    EXPECT_EQ(s.authPassword, "smtppass");
}

TEST(WireDialogue, AuthPlainAnswersAChallenge)
{
    FaultTransport wire;
    wire.server.authMechanisms = {"PLAIN"};
    wire.server.plainChallenge = true;
    ASSERT_TRUE(Send(wire, AuthAccount()).ok);
    const WireSession s = wire.Sessions()[0];
    const std::string credentials = B64(std::string("\0smtpuser\0smtppass", 18));
    EXPECT_EQ(s.commands[1], "AUTH PLAIN " + credentials);
    EXPECT_EQ(s.commands[2], credentials);
    EXPECT_EQ(s.authPassword, "smtppass");
}

TEST(WireDialogue, CredentialsGoOutAsTheirBytes)
{
    FaultTransport wire;
    SenderAccount account = AuthAccount();
    account.SMTPAccount = S("営業");
    account.SMTPPass = "p:ss w0rd";
    wire.server.login = account.SMTPAccount;
    wire.server.password = account.SMTPPass;
    ASSERT_TRUE(Send(wire, account).ok);
    EXPECT_EQ(wire.Sessions()[0].authLogin, S("営業"));
}

TEST(WireDialogue, FailsWhenAuthIsRequiredButNotOffered)
{
    FaultTransport wire;
    wire.server.authMechanisms = {"CRAM-MD5"};
    const DeliveryResult result = Send(wire, AuthAccount());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, kPeer + ": SMTP認証を行う設定ですが、サーバーが AUTH LOGIN にも "
                                     "AUTH PLAIN にも対応していないため送信できません");
    EXPECT_EQ(wire.Sessions()[0].commands,
              (std::vector<std::string>{"EHLO " + HostName(), "QUIT"}));
}

TEST(WireDialogue, FallsBackToHeloWhenEhloIsRefused)
{
    FaultTransport wire;
    wire.RefuseAt(WireStep::Ehlo);
    ASSERT_TRUE(Send(wire, Account()).ok);
    const auto commands = wire.Sessions()[0].commands;
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], "EHLO " + HostName());
    EXPECT_EQ(commands[1], "HELO " + HostName());
    EXPECT_EQ(commands[2], "MAIL FROM:<sender@example.jp>");
    EXPECT_TRUE(wire.Sessions()[0].delivered);
}

TEST(WireDialogue, HeloOffersNoAuthentication)
{
    FaultTransport wire;
    wire.RefuseAt(WireStep::Ehlo);
    const DeliveryResult result = Send(wire, AuthAccount());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.reason.find("AUTH LOGIN にも AUTH PLAIN にも対応していない"),
              std::string::npos)
        << result.reason;
}

TEST(WireDialogue, UpgradesWithStartTlsAndGreetsAgain)
{
    FaultTransport wire;
    wire.server.offerStartTls = true;
    ASSERT_TRUE(Send(wire, AuthAccount()).ok);
    const WireSession s = wire.Sessions()[0];
    EXPECT_TRUE(s.tls);
    ASSERT_GE(s.commands.size(), 4u);
    EXPECT_EQ(s.commands[0], "EHLO " + HostName());
    EXPECT_EQ(s.commands[1], "STARTTLS");
    EXPECT_EQ(s.commands[2], "EHLO " + HostName());
    EXPECT_EQ(s.commands[3], "AUTH LOGIN");
}

TEST(WireDialogue, ImplicitTlsNeverSendsStartTls)
{
    FaultTransport wire;
    wire.server.offerStartTls = true;
    SenderAccount account = Account();
    account.SMTPSSL = true;
    account.SMTPPort = "465";
    ASSERT_TRUE(Send(wire, account).ok);
    const WireSession s = wire.Sessions()[0];
    EXPECT_TRUE(s.implicitTls);
    EXPECT_EQ(s.port, 465);
    for (const auto &c : s.commands)
        EXPECT_NE(c, "STARTTLS");
}

// A refusal at one step: the mail fails with the server's reply line, the
// client still says QUIT, and nothing after the refused step is sent.
struct RefusalCase
{
    const char *name;
    WireStep step;
    bool offerStartTls;
    std::string reason; // after "<peer>: "
    std::string lastCommandBeforeQuit;
};

// The case's name in test output.
void PrintTo(const RefusalCase &c, std::ostream *os)
{
    *os << c.name;
}

class RefusalTest : public ::testing::TestWithParam<RefusalCase>
{};

TEST_P(RefusalTest, FailsWithTheReplyAndQuits)
{
    const RefusalCase &c = GetParam();
    FaultTransport wire;
    wire.server.offerStartTls = c.offerStartTls;
    if (c.step == WireStep::Helo)
        wire.RefuseAt(WireStep::Ehlo);
    wire.RefuseAt(c.step);
    const DeliveryResult result = Send(wire, AuthAccount());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, kPeer + ": " + c.reason);
    const WireSession s = wire.Sessions()[0];
    EXPECT_FALSE(s.delivered);
    ASSERT_FALSE(s.commands.empty());
    EXPECT_EQ(s.commands.back(), "QUIT");
    if (!c.lastCommandBeforeQuit.empty()) {
        ASSERT_GE(s.commands.size(), 2u);
        EXPECT_EQ(s.commands[s.commands.size() - 2], c.lastCommandBeforeQuit);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusalTest,
    ::testing::Values(
        RefusalCase{"Greeting", WireStep::Greeting, false,
                    "サーバーが接続を受け付けませんでした: 554 5.3.2 Service unavailable", ""},
        RefusalCase{"Helo", WireStep::Helo, false,
                    "HELO に失敗しました: 501 5.5.4 Syntax error in HELO", "HELO " + HostName()},
        RefusalCase{"StartTls", WireStep::StartTls, true,
                    "STARTTLS に失敗しました: 454 4.7.0 TLS not available due to local problem",
                    "STARTTLS"},
        RefusalCase{"Auth", WireStep::Auth, false,
                    "SMTP認証 (AUTH LOGIN) に失敗しました: 535 5.7.8 Authentication credentials "
                    "invalid",
                    B64("smtppass")},
        RefusalCase{"MailFrom", WireStep::MailFrom, false,
                    "MAIL FROM:<sender@example.jp> に失敗しました: 553 5.7.1 Sender address "
                    "rejected: not owned by user",
                    "MAIL FROM:<sender@example.jp>"},
        RefusalCase{"RcptTo", WireStep::RcptTo, false,
                    "RCPT TO:<to@example.jp> に失敗しました: 550 5.1.1 User unknown",
                    "RCPT TO:<to@example.jp>"},
        RefusalCase{"Data", WireStep::Data, false,
                    "DATA に失敗しました: 554 5.5.1 Error: no valid recipients", "DATA"},
        RefusalCase{"EndOfData", WireStep::EndOfData, false,
                    "メール本文の送信に失敗しました: 554 5.6.0 Message rejected as spam", ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(WireFaults, TemporaryEhloRefusalFailsWithoutHelo)
{
    FaultTransport wire;
    wire.RefuseAt(WireStep::Ehlo, 0, "421 4.3.2 Service shutting down");
    const DeliveryResult result = Send(wire, Account());
    EXPECT_EQ(result.reason, kPeer + ": EHLO に失敗しました: 421 4.3.2 Service shutting down");
    EXPECT_EQ(wire.Sessions()[0].commands,
              (std::vector<std::string>{"EHLO " + HostName(), "QUIT"}));
}

TEST(WireFaults, RefusedRecipientIsNamedAndLaterOnesAreNotTried)
{
    FaultTransport wire;
    wire.RefuseRecipient("b@example.jp");
    EXPECT_TRUE(Send(wire, Account(), Mail({"a@example.jp"})).ok);
    const DeliveryResult result =
        Send(wire, Account(), Mail({"a@example.jp", "b@example.jp", "c@example.jp"}));
    EXPECT_EQ(result.reason,
              kPeer + ": RCPT TO:<b@example.jp> に失敗しました: 550 5.1.1 User unknown");
    const auto commands = wire.Sessions()[1].commands;
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "RCPT TO:<c@example.jp>"), 0);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "DATA"), 0);
}

TEST(WireFaults, StrikesOnlyTheNumberedMail)
{
    FaultTransport wire;
    wire.DropAt(WireStep::EndOfData, 2);
    EXPECT_TRUE(Send(wire, Account()).ok);
    EXPECT_FALSE(Send(wire, Account()).ok);
    EXPECT_TRUE(Send(wire, Account()).ok);
    const auto delivered = wire.Delivered();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].number, 1);
    EXPECT_EQ(delivered[1].number, 3);
}

TEST(WireFaults, StrikesOnlyTheNamedHost)
{
    FaultTransport wire;
    wire.Add(Fault(WireStep::Connect).OnHost("down.example.jp"));
    SenderAccount down = Account();
    down.SMTPAddress = "down.example.jp";
    EXPECT_FALSE(Send(wire, down).ok);
    EXPECT_TRUE(Send(wire, Account()).ok);
}

TEST(WireFaults, ConnectionRefused)
{
    FaultTransport wire;
    wire.RefuseAt(WireStep::Connect);
    const DeliveryResult result = Send(wire, Account());
    EXPECT_EQ(result.reason, wire_text::ConnectFailed(kPeer, FileError::ErrnoText(ECONNREFUSED)));
    EXPECT_FALSE(wire.Sessions()[0].connected);
}

TEST(WireFaults, ConnectTimesOut)
{
    FaultTransport wire;
    wire.SilentAt(WireStep::Connect);
    const DeliveryResult result = Send(wire, Account(), Mail(), kShort);
    EXPECT_EQ(result.reason, kPeer + ": サーバーから 50 ミリ秒間応答がありませんでした");
}

TEST(WireFaults, SilentServerTimesOutWithoutQuit)
{
    FaultTransport wire;
    wire.SilentAt(WireStep::Greeting);
    const DeliveryResult result = Send(wire, Account(), Mail(), kShort);
    EXPECT_EQ(result.reason, wire_text::TimedOut(kPeer, 50) + " (接続時の応答)");
    EXPECT_TRUE(wire.Sessions()[0].commands.empty());
}

TEST(WireFaults, ServerThatStopsAnsweringAtRcpt)
{
    FaultTransport wire;
    wire.SilentAt(WireStep::RcptTo);
    const DeliveryResult result = Send(wire, Account(), Mail(), kShort);
    EXPECT_EQ(result.reason,
              kPeer + ": サーバーから 50 ミリ秒間応答がありませんでした (RCPT TO:<to@example.jp>)");
    EXPECT_EQ(wire.Sessions()[0].commands.back(), "RCPT TO:<to@example.jp>");
}

TEST(WireFaults, TimeoutTextsInSecondsOrMilliseconds)
{
    EXPECT_EQ(wire_text::TimedOut("h:25", 60000),
              "h:25: サーバーから 60 秒間応答がありませんでした");
    EXPECT_EQ(wire_text::TimedOut("h:25", 1500),
              "h:25: サーバーから 1500 ミリ秒間応答がありませんでした");
}

TEST(WireFaults, SilentAfterTheFinalDot)
{
    FaultTransport wire;
    wire.SilentAt(WireStep::EndOfData);
    const DeliveryResult result = Send(wire, Account(), Mail(), kShort);
    EXPECT_EQ(result.reason, wire_text::TimedOut(kPeer, 50) + " (メール本文の送信)");
    EXPECT_FALSE(wire.Sessions()[0].delivered);
}

TEST(WireFaults, ConnectionDroppedInTheMiddleOfData)
{
    FaultTransport wire;
    wire.DropAt(WireStep::DataContent, 0, 20);
    const DeliveryResult result = Send(wire, Account());
    EXPECT_EQ(result.reason, wire_text::Closed(kPeer) + " (メール本文の送信)");
    const WireSession s = wire.Sessions()[0];
    EXPECT_EQ(s.wireData, DotStuff(Mail().data).substr(0, 20));
    EXPECT_FALSE(s.delivered);
}

TEST(WireFaults, ConnectionDroppedInsteadOfTheGreeting)
{
    FaultTransport wire;
    wire.DropAt(WireStep::Greeting);
    EXPECT_EQ(Send(wire, Account()).reason, wire_text::Closed(kPeer) + " (接続時の応答)");
}

TEST(WireFaults, QuitErrorsDoNotFailASentMail)
{
    for (const FaultKind kind : {FaultKind::Refuse, FaultKind::Drop}) {
        FaultTransport wire;
        wire.Add(Fault(WireStep::Quit, kind));
        const DeliveryResult result = Send(wire, Account());
        EXPECT_TRUE(result.ok) << result.reason;
        EXPECT_TRUE(wire.Sessions()[0].delivered);
    }
}

TEST(WireFaults, CertificateRejectedOnImplicitTls)
{
    FaultTransport wire;
    wire.FailTlsAt(WireStep::Connect);
    SenderAccount account = Account();
    account.SMTPSSL = true;
    EXPECT_EQ(Send(wire, account).reason,
              kPeer + ": サーバーの証明書を検証できませんでした: certificate has expired");
}

TEST(WireFaults, CertificateRejectedAfterStartTls)
{
    FaultTransport wire;
    wire.server.offerStartTls = true;
    wire.FailTlsAt(WireStep::StartTls, 0, "hostname mismatch");
    const DeliveryResult result = Send(wire, AuthAccount());
    EXPECT_EQ(result.reason,
              kPeer + ": サーバーの証明書を検証できませんでした: hostname mismatch (STARTTLS)");
    // Nothing goes over a connection whose upgrade failed, credentials least of all.
    EXPECT_EQ(wire.Sessions()[0].commands,
              (std::vector<std::string>{"EHLO " + HostName(), "STARTTLS"}));
}

TEST(WireFaults, ReplyThatIsNotSmtp)
{
    FaultTransport wire;
    wire.RefuseAt(WireStep::Greeting, 0, "hello there");
    EXPECT_EQ(Send(wire, Account()).reason,
              kPeer + ": サーバーの応答が正しくありません: hello there (接続時の応答)");
}

TEST(WireFaults, ReplyBytesThatAreNotTextAreShownAsQuestionMarks)
{
    FaultTransport wire;
    wire.RefuseAt(WireStep::RcptTo, 0, "550 5.1.1 \xff\xfe\x01 宛先不明");
    EXPECT_EQ(Send(wire, Account()).reason,
              kPeer + ": RCPT TO:<to@example.jp> に失敗しました: 550 5.1.1 ??? 宛先不明");
}

// ---- POP-before-SMTP ----------------------------------------------------------

TEST(PopFaults, LogsInThenSends)
{
    FaultTransport wire;
    ASSERT_TRUE(Send(wire, PopAccount()).ok);
    const auto sessions = wire.Sessions();
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_TRUE(sessions[0].pop);
    EXPECT_EQ(sessions[0].host, "pop.example.jp");
    EXPECT_EQ(sessions[0].commands,
              (std::vector<std::string>{"USER popuser", "PASS poppass", "QUIT"}));
    EXPECT_FALSE(sessions[1].pop);
    EXPECT_TRUE(sessions[1].delivered);
}

TEST(PopFaults, Pop3sConnectsWithTls)
{
    FaultTransport wire;
    SenderAccount account = PopAccount();
    account.POPSSL = true;
    account.POPPort = "995";
    ASSERT_TRUE(Send(wire, account).ok);
    EXPECT_TRUE(wire.PopSessions()[0].implicitTls);
    EXPECT_EQ(wire.PopSessions()[0].port, 995);
}

struct PopRefusalCase
{
    const char *name;
    WireStep step;
    std::string reason; // after "<peer>: "
};

// The case's name in test output.
void PrintTo(const PopRefusalCase &c, std::ostream *os)
{
    *os << c.name;
}

class PopRefusalTest : public ::testing::TestWithParam<PopRefusalCase>
{};

TEST_P(PopRefusalTest, FailsTheMailBeforeSmtp)
{
    FaultTransport wire;
    wire.RefuseAt(GetParam().step);
    const DeliveryResult result = Send(wire, PopAccount());
    EXPECT_EQ(result.reason, kPopPeer + ": " + GetParam().reason);
    EXPECT_TRUE(wire.SmtpSessions().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, PopRefusalTest,
    ::testing::Values(
        PopRefusalCase{"Greeting", WireStep::PopGreeting,
                       "POP3 サーバーが接続を受け付けませんでした: -ERR Service unavailable"},
        PopRefusalCase{"User", WireStep::PopUser, "POP3 の USER に失敗しました: -ERR No such user"},
        PopRefusalCase{"Pass", WireStep::PopPass,
                       "POP3 の PASS に失敗しました: -ERR [AUTH] Authentication failed."},
        PopRefusalCase{"Quit", WireStep::PopQuit, "POP3 の QUIT に失敗しました: -ERR QUIT failed"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PopFaults, UnreachablePopServerFailsTheMail)
{
    FaultTransport wire;
    wire.RefuseAt(WireStep::PopConnect);
    const DeliveryResult result = Send(wire, PopAccount());
    EXPECT_EQ(result.reason,
              wire_text::ConnectFailed(kPopPeer, FileError::ErrnoText(ECONNREFUSED)));
    EXPECT_TRUE(wire.SmtpSessions().empty());
}

TEST(PopFaults, DroppedPopConnection)
{
    FaultTransport wire;
    wire.DropAt(WireStep::PopPass);
    EXPECT_EQ(Send(wire, PopAccount()).reason, wire_text::Closed(kPopPeer) + " (POP3 の PASS)");
}

TEST(PopFaults, PopAnswerThatIsNotPop3)
{
    FaultTransport wire;
    wire.RefuseAt(WireStep::PopUser, 0, "220 this is smtp");
    EXPECT_EQ(Send(wire, PopAccount()).reason,
              kPopPeer +
                  ": POP3 サーバーの応答が正しくありません: 220 this is smtp (POP3 の USER)");
}

} // namespace
