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

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <thread>
#include <unistd.h>

using namespace vostrel;
using namespace vostrel::test;

namespace {

const std::string kPeer = "smtp.example.jp:25";
const std::string kPopPeer = "pop.example.jp:110";
const TransportTimeouts kShort = TransportTimeouts::All(50);

SenderAccount Account()
{
    SenderAccount a;
    a.SMTPAddress = "smtp.example.jp";
    a.SMTPPort = "25";
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
    EXPECT_EQ(s.port, 25);
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

TEST(WireDialogue, GoesOnWithoutAuthWhenNeitherLoginNorPlainIsOffered)
{
    FaultTransport wire;
    wire.server.authMechanisms = {"CRAM-MD5"};
    ASSERT_TRUE(Send(wire, AuthAccount()).ok);
    EXPECT_EQ(wire.Sessions()[0].commands[1], "MAIL FROM:<sender@example.jp>");
    EXPECT_TRUE(wire.Sessions()[0].delivered);
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

TEST(WireDialogue, HeloOffersNoAuthenticationSoNoneIsTried)
{
    FaultTransport wire;
    wire.RefuseAt(WireStep::Ehlo);
    ASSERT_TRUE(Send(wire, AuthAccount()).ok);
    EXPECT_EQ(wire.Sessions()[0].commands[2], "MAIL FROM:<sender@example.jp>");
    EXPECT_TRUE(wire.Sessions()[0].authPassword.empty());
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
    [](const auto &param) { return std::string(param.param.name); });

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
              (std::vector<std::string>{"CAPA", "USER popuser", "PASS poppass", "QUIT"}));
    EXPECT_FALSE(sessions[0].tls);
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
    [](const auto &param) { return std::string(param.param.name); });

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

// ---- Servers that hid their encryption ----------------------------------------

// What the program knows of servers' encryption, in memory.
class NotedServers : public ServerTlsMemory
{
public:
    std::optional<TlsUpgrade> Known(const std::string &host, int port) override
    {
        const auto found = noted.find({host, port});
        return found == noted.end() ? std::nullopt : std::optional(found->second);
    }
    void Remember(const std::string &host, int port, TlsUpgrade how) override
    {
        noted[{host, port}] = how;
    }
    std::map<std::pair<std::string, int>, TlsUpgrade> noted;
};

const std::string kDowngrade =
    " を使えたサーバーが、今回は暗号化通信に対応していませんでした。通信の途中で暗号化が取り除かれ"
    "たおそれがあるため、パスワードを送らずに送信を中止しました";

struct RememberCase
{
    const char *name;
    std::function<void(SenderAccount &, FaultServerSettings &)> setUp;
    std::map<std::pair<std::string, int>, TlsUpgrade> noted;
};

void PrintTo(const RememberCase &c, std::ostream *os)
{
    *os << c.name;
}

class RememberTest : public ::testing::TestWithParam<RememberCase>
{};

TEST_P(RememberTest, EveryServerReachedEncryptedIsNoted)
{
    FaultTransport wire;
    SenderAccount account = PopAccount();
    GetParam().setUp(account, wire.server);
    NotedServers memory;
    ASSERT_TRUE(DeliverMail(wire, account, Mail(), {}, &memory).ok);
    EXPECT_EQ(memory.noted, GetParam().noted);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RememberTest,
    ::testing::Values(
        RememberCase{"Plain", [](SenderAccount &, FaultServerSettings &) {}, {}},
        RememberCase{"StartTls",
                     [](SenderAccount &, FaultServerSettings &s) { s.offerStartTls = true; },
                     {{{"smtp.example.jp", 25}, TlsUpgrade::StartTls}}},
        RememberCase{"ImplicitTls",
                     [](SenderAccount &a, FaultServerSettings &) {
                         a.SMTPSSL = true;
                         a.SMTPPort = "465";
                     },
                     {{{"smtp.example.jp", 465}, TlsUpgrade::ImplicitTls}}},
        RememberCase{"Stls",
                     [](SenderAccount &, FaultServerSettings &s) { s.offerStls = true; },
                     {{{"pop.example.jp", 110}, TlsUpgrade::Stls}}},
        RememberCase{"Pop3s",
                     [](SenderAccount &a, FaultServerSettings &) {
                         a.POPSSL = true;
                         a.POPPort = "995";
                     },
                     {{{"pop.example.jp", 995}, TlsUpgrade::ImplicitTls}}}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(HiddenEncryption, ARememberedSmtpServerWithoutStartTlsGetsNoPassword)
{
    for (const TlsUpgrade before : {TlsUpgrade::StartTls, TlsUpgrade::ImplicitTls}) {
        for (const SenderAccount &account : {AuthAccount(), Account()}) {
            FaultTransport wire;
            NotedServers memory;
            memory.Remember("smtp.example.jp", 25, before);
            const DeliveryResult result = DeliverMail(wire, account, Mail(), {}, &memory);
            EXPECT_FALSE(result.ok);
            EXPECT_EQ(result.reason, kPeer + ": 以前は暗号化通信 (" +
                                         (before == TlsUpgrade::StartTls ? "STARTTLS" : "SSL/TLS") +
                                         ")" + kDowngrade);
            EXPECT_EQ(wire.Sessions()[0].commands,
                      (std::vector<std::string>{"EHLO " + HostName(), "QUIT"}));
            EXPECT_TRUE(wire.Delivered().empty());
        }
    }
}

TEST(HiddenEncryption, ARememberedServerStillTakesTheMailWhenItUpgrades)
{
    FaultTransport wire;
    wire.server.offerStartTls = true;
    NotedServers memory;
    memory.Remember("smtp.example.jp", 25, TlsUpgrade::StartTls);
    ASSERT_TRUE(DeliverMail(wire, AuthAccount(), Mail(), {}, &memory).ok);
    EXPECT_EQ(wire.Sessions()[0].authPassword, "smtppass");
}

TEST(HiddenEncryption, ARememberedPopServerWithoutStlsGetsNoUserOrPass)
{
    FaultTransport wire;
    NotedServers memory;
    memory.Remember("pop.example.jp", 110, TlsUpgrade::Stls);
    const DeliveryResult result = DeliverMail(wire, PopAccount(), Mail(), {}, &memory);
    EXPECT_EQ(result.reason, kPopPeer + ": 以前は暗号化通信 (STLS)" + kDowngrade);
    EXPECT_EQ(wire.PopSessions()[0].commands, std::vector<std::string>{"CAPA"});
    EXPECT_TRUE(wire.SmtpSessions().empty());
}

TEST(HiddenEncryption, PopUsesStlsWhenOfferedAndGoesOnWhenCapaIsUnknown)
{
    {
        FaultTransport wire;
        wire.server.offerStls = true;
        ASSERT_TRUE(Send(wire, PopAccount()).ok);
        EXPECT_EQ(
            wire.PopSessions()[0].commands,
            (std::vector<std::string>{"CAPA", "STLS", "USER popuser", "PASS poppass", "QUIT"}));
        EXPECT_TRUE(wire.PopSessions()[0].tls);
    }
    {
        FaultTransport wire;
        wire.server.popCapa = false;
        ASSERT_TRUE(Send(wire, PopAccount()).ok);
        EXPECT_EQ(wire.PopSessions()[0].commands[1], "USER popuser");
    }
}

TEST(HiddenEncryption, TheSubmissionPortWithoutStartTlsGetsNoPasswordEvenTheFirstTime)
{
    SenderAccount account = AuthAccount();
    account.SMTPPort = "587";
    {
        FaultTransport wire;
        const DeliveryResult result = Send(wire, account);
        EXPECT_EQ(result.reason, "smtp.example.jp:587: 送信用のポート 587 のサーバーが暗号化通信 "
                                 "(STARTTLS) に対応していないため、パスワードを送らずに送信を中止"
                                 "しました");
        EXPECT_EQ(wire.Sessions()[0].commands,
                  (std::vector<std::string>{"EHLO " + HostName(), "QUIT"}));
    }
    {
        FaultTransport wire; // with STARTTLS the password goes, encrypted
        wire.server.offerStartTls = true;
        ASSERT_TRUE(Send(wire, account).ok);
        EXPECT_EQ(wire.Sessions()[0].authPassword, "smtppass");
    }
    {
        FaultTransport wire; // no password, nothing to protect
        account.SMTPAuth = false;
        ASSERT_TRUE(Send(wire, account).ok);
    }
}

// ---- Time-outs and the stop ------------------------------------------------------

struct StepLimitCase
{
    const char *name;
    WireStep step;
    int expectedMs;
    std::string during;
};

void PrintTo(const StepLimitCase &c, std::ostream *os)
{
    *os << c.name;
}

class StepLimitTest : public ::testing::TestWithParam<StepLimitCase>
{};

TEST_P(StepLimitTest, EachStepWaitsItsOwnLimit)
{
    const StepLimitCase &c = GetParam();
    TransportTimeouts limits = TransportTimeouts::All(20);
    limits.dataReplyMs = 30;
    limits.endOfDataMs = 40;
    FaultTransport wire;
    wire.SilentAt(c.step);
    const DeliveryResult result = Send(wire, Account(), Mail(), limits);
    EXPECT_EQ(result.reason, wire_text::TimedOut(kPeer, c.expectedMs) + " (" + c.during + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Table, StepLimitTest,
    ::testing::Values(StepLimitCase{"Greeting", WireStep::Greeting, 20, "接続時の応答"},
                      StepLimitCase{"MailFrom", WireStep::MailFrom, 20,
                                    "MAIL FROM:<sender@example.jp>"},
                      StepLimitCase{"Data", WireStep::Data, 30, "DATA"},
                      StepLimitCase{"EndOfData", WireStep::EndOfData, 40, "メール本文の送信"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(WireStop, TheStopClosesAMailInProgressAndItCountsAsNotSent)
{
    FaultTransport wire;
    wire.SilentAt(WireStep::EndOfData);
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop = true;
    });
    const auto started = std::chrono::steady_clock::now();
    const DeliveryResult result = DeliverMail(wire, Account(), Mail(), {}, nullptr, &stop);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.reason, wire_text::Stopped(kPeer));
    EXPECT_TRUE(wire.AllClosed());
}

TEST(WireReasons, AReasonIsKeptToOneKilobyteAtACharacterBoundary)
{
    EXPECT_EQ(CutReason("短い理由"), "短い理由");
    EXPECT_EQ(CutReason(std::string(1024, 'x')), std::string(1024, 'x'));
    EXPECT_EQ(CutReason(std::string(1025, 'x')), std::string(1021, 'x') + "…");
    std::string kana;
    while (kana.size() < 2000)
        kana += "あ"; // three bytes each
    const std::string cut = CutReason("x" + kana);
    EXPECT_EQ(cut, "x" + kana.substr(0, 1020) + "…");
    // Every reason of a delivery passes through it, however long the value it names.
    SenderAccount account = Account();
    account.SMTPAddress = kana + "\n";
    const DeliveryResult result = DeliverMail(*std::make_unique<FaultTransport>(), account, Mail());
    EXPECT_LE(result.reason.size(), kMaxReasonBytes);
    EXPECT_TRUE(result.reason.ends_with("…"));
}

TEST(WireLookup, ANameLookupThatHangsIsLeftBehindAtItsLimitOrTheStop)
{
    std::promise<void> answer;
    const std::shared_future<void> answered = answer.get_future().share();
    const ServerResolver hangs = [answered](const std::string &, int) {
        answered.wait();
        return std::vector<ServerAddress>{};
    };
    TransportTimeouts limits;
    limits.lookupMs = 50;
    try {
        LookUpServer("slow.example.jp", 25, limits, hangs);
        ADD_FAILURE() << "the lookup did not time out";
    } catch (const TransportError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "slow.example.jp:25: サーバーのアドレスを 50 ミリ秒以内に調べられませんでした");
        EXPECT_FALSE(e.Stopped());
    }
    std::atomic<bool> stop{true};
    limits.lookupMs = 60000;
    limits.stop = &stop;
    try {
        LookUpServer("slow.example.jp", 25, limits, hangs);
        ADD_FAILURE() << "the stop did not end the lookup";
    } catch (const TransportError &e) {
        EXPECT_TRUE(e.Stopped());
    }
    answer.set_value(); // the lookups left behind end now
    const ServerResolver unknown = [](const std::string &, int) -> std::vector<ServerAddress> {
        throw std::runtime_error("Name or service not known");
    };
    EXPECT_THROW(
        {
            try {
                LookUpServer("none.example.jp", 25, {}, unknown);
            } catch (const TransportError &e) {
                EXPECT_EQ(std::string(e.what()), "none.example.jp:25: サーバーのアドレスが見つかり"
                                                 "ませんでした: Name or service not known");
                throw;
            }
        },
        TransportError);
}

// ---- Consecutive mails over one connection ----------------------------------

// The commands of one mail to the addresses, as Mail() sends them.
std::vector<std::string> Envelope(const std::vector<std::string> &to)
{
    std::vector<std::string> lines{"MAIL FROM:<sender@example.jp>"};
    for (const std::string &address : to)
        lines.push_back("RCPT TO:<" + address + ">");
    lines.push_back("DATA");
    return lines;
}

std::vector<std::string> Joined(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const auto &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

class SessionTest : public ::testing::TestWithParam<bool>
{
protected:
    SessionTest() { wire.server.offerPipelining = GetParam(); }

    // Sends mails one after another over one session, then closes it.
    std::vector<DeliveryResult> SendAll(const std::vector<OutgoingMail> &mails,
                                        const SenderAccount &account = Account())
    {
        std::vector<DeliveryResult> results;
        {
            MailSession session(wire);
            for (const OutgoingMail &mail : mails)
                results.push_back(session.Send(account, mail));
        }
        EXPECT_TRUE(wire.AllClosed());
        return results;
    }

    FaultTransport wire;
};

TEST_P(SessionTest, ConsecutiveMailsShareOneConnectionAndItsLogIn)
{
    const std::vector<OutgoingMail> mails{Mail(), Mail({"x@example.jp"}), Mail()};
    for (const DeliveryResult &result : SendAll(mails, AuthAccount()))
        EXPECT_TRUE(result.ok) << result.reason;

    const auto sessions = wire.Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    const std::vector<std::string> pair{"to@example.jp", "cc@example.jp"};
    EXPECT_EQ(sessions[0].commands,
              Joined({{"EHLO " + HostName(), "AUTH LOGIN", B64("smtpuser"), B64("smtppass")},
                      Envelope(pair),
                      Envelope({"x@example.jp"}),
                      Envelope(pair),
                      {"QUIT"}}));
    ASSERT_EQ(sessions[0].mails.size(), 3u);
    for (const WireMail &mail : sessions[0].mails) {
        EXPECT_TRUE(mail.delivered);
        EXPECT_EQ(mail.data, Mail().data);
    }
    EXPECT_EQ(sessions[0].mails[1].recipients, std::vector<std::string>{"x@example.jp"});
    // With PIPELINING the envelope of a mail is one write.
    const std::string group = "MAIL FROM:<sender@example.jp>\r\nRCPT TO:<x@example.jp>\r\nDATA\r\n";
    const auto &writes = sessions[0].writes;
    EXPECT_EQ(std::count(writes.begin(), writes.end(), group), GetParam() ? 1 : 0);
}

// Given the next mail, its envelope follows the data of this one in the
// same write (with PIPELINING): the dialogue stays the same. A connection
// closed with an envelope ahead carries no mail of it and no QUIT.
TEST_P(SessionTest, TheNextEnvelopeFollowsTheDataAndAClosedSessionSendsNothingOfIt)
{
    const std::vector<OutgoingMail> mails{Mail({"a@example.jp"}), Mail({"b@example.jp"}),
                                          Mail({"c@example.jp"})};
    {
        MailSession session(wire);
        EXPECT_TRUE(session.Send(Account(), mails[0], &mails[1]).ok);
        EXPECT_TRUE(session.Send(Account(), mails[1], &mails[2]).ok);
    }
    const auto sessions = wire.Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    const std::vector<std::string> written{"MAIL FROM:<sender@example.jp>",
                                           "RCPT TO:<c@example.jp>", "DATA"};
    EXPECT_EQ(sessions[0].commands,
              Joined({{"EHLO " + HostName()},
                      Envelope({"a@example.jp"}),
                      Envelope({"b@example.jp"}),
                      GetParam() ? written : std::vector<std::string>{"QUIT"}}));
    const auto &writes = sessions[0].writes;
    EXPECT_EQ(std::count(writes.begin(), writes.end(),
                         DotStuff(Mail().data) +
                             "MAIL FROM:<sender@example.jp>\r\nRCPT TO:<b@example.jp>\r\nDATA\r\n"),
              GetParam() ? 1 : 0);
    EXPECT_EQ(wire.Delivered().size(), 2u);
    EXPECT_TRUE(wire.AllClosed());
}

TEST_P(SessionTest, AFailedMailIsFollowedByRsetAndTheNextMailOnTheSameConnection)
{
    wire.Add(Fault(WireStep::RcptTo).OnTransaction(2));
    const std::vector<DeliveryResult> results =
        SendAll({Mail({"a@example.jp"}), Mail({"b@example.jp"}), Mail({"c@example.jp"})});

    EXPECT_TRUE(results[0].ok);
    EXPECT_EQ(results[1].reason,
              kPeer + ": RCPT TO:<b@example.jp> に失敗しました: 550 5.1.1 User unknown");
    EXPECT_FALSE(results[1].temporary);
    EXPECT_TRUE(results[2].ok);
    const auto sessions = wire.Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    // Without PIPELINING DATA is not sent after the refusal; with it DATA
    // went out with the envelope and the server refused it.
    std::vector<std::string> refused{"MAIL FROM:<sender@example.jp>", "RCPT TO:<b@example.jp>"};
    if (GetParam())
        refused.push_back("DATA");
    EXPECT_EQ(sessions[0].commands, Joined({{"EHLO " + HostName()},
                                            Envelope({"a@example.jp"}),
                                            refused,
                                            {"RSET"},
                                            Envelope({"c@example.jp"}),
                                            {"QUIT"}}));
    EXPECT_EQ(wire.Delivered().size(), 2u);
}

// A kept connection that the server closed, or answers 421, before it took
// the MAIL FROM: the mail goes out on a new connection and nothing fails.
TEST_P(SessionTest, AKeptConnectionThatIsGoneCarriesTheMailOnANewOne)
{
    for (FaultKind kind : {FaultKind::Drop, FaultKind::Refuse}) {
        SCOPED_TRACE(static_cast<int>(kind));
        FaultTransport gone;
        gone.server.offerPipelining = GetParam();
        gone.Add(Fault(WireStep::MailFrom, kind).Reply("421 4.4.2 Idle too long").OnTransaction(2));
        {
            MailSession session(gone);
            for (int i = 0; i < 3; ++i) {
                const DeliveryResult result = session.Send(Account(), Mail());
                EXPECT_TRUE(result.ok) << result.reason;
            }
        }
        const auto sessions = gone.Sessions();
        ASSERT_EQ(sessions.size(), 2u);
        const auto &first = sessions[0].commands;
        EXPECT_EQ(std::count(first.begin(), first.end(), "MAIL FROM:<sender@example.jp>"), 2);
        EXPECT_NE(first.back(), "QUIT");
        EXPECT_EQ(sessions[0].mails.size(), 1u);
        EXPECT_EQ(sessions[1].commands.front(), "EHLO " + HostName());
        EXPECT_EQ(sessions[1].mails.size(), 2u);
        EXPECT_EQ(gone.Delivered().size(), 3u);
        EXPECT_TRUE(gone.AllClosed());
    }
}

// With PIPELINING DATA is answered 354 even when a recipient was refused:
// the mail must not go, so the connection is closed without its content and
// the next mail opens a new one.
TEST_P(SessionTest, ARefusalAfterTheServerTookDataClosesTheConnection)
{
    wire.Add(Fault(WireStep::RcptTo).ForAddress("cc@example.jp").OnTransaction(1));
    const std::vector<DeliveryResult> results = SendAll({Mail(), Mail()});

    EXPECT_EQ(results[0].reason,
              kPeer + ": RCPT TO:<cc@example.jp> に失敗しました: 550 5.1.1 User unknown");
    EXPECT_TRUE(results[1].ok);
    const auto sessions = wire.Sessions();
    ASSERT_EQ(sessions.size(), GetParam() ? 2u : 1u);
    EXPECT_TRUE(sessions[0].mails[0].wireData.empty());
    if (GetParam()) {
        EXPECT_EQ(sessions[0].commands.back(), "DATA");
    }
    EXPECT_EQ(wire.Delivered().size(), 1u);
}

TEST_P(SessionTest, AnotherAccountOrTheHundredthMailEndsTheConnection)
{
    SenderAccount other = Account();
    other.FromAddress = "other@example.jp";
    {
        MailSession session(wire);
        for (int i = 0; i < 201; ++i)
            ASSERT_TRUE(session.Send(Account(), Mail()).ok);
        ASSERT_TRUE(session.Send(other, Mail()).ok);
        ASSERT_TRUE(session.Send(Account(), Mail()).ok);
        EXPECT_EQ(session.Connections(), 5);
    }
    std::vector<std::size_t> perConnection;
    for (const WireSession &s : wire.Sessions()) {
        perConnection.push_back(s.mails.size());
        EXPECT_EQ(s.commands.back(), "QUIT");
    }
    EXPECT_EQ(perConnection, (std::vector<std::size_t>{100, 100, 1, 1, 1}));
    EXPECT_TRUE(wire.AllClosed());
}

INSTANTIATE_TEST_SUITE_P(Pipelining, SessionTest, ::testing::Bool(),
                         [](const auto &param) { return param.param ? "On" : "Off"; });

// Which refusals ask to try the mail again later.
TEST(WireFaults, OnlyA4xxAtTheGreetingMailFromOrRcptToIsTemporary)
{
    const struct
    {
        WireStep step;
        const char *reply;
        bool temporary;
    } cases[] = {
        {WireStep::Greeting, "421 4.7.0 Try again later", true},
        {WireStep::MailFrom, "451 4.3.0 Local error", true},
        {WireStep::RcptTo, "452 4.5.3 Too many recipients", true},
        {WireStep::RcptTo, "450 4.2.1 Mailbox busy", true},
        {WireStep::RcptTo, "550 5.1.1 User unknown", false},
        {WireStep::Data, "451 4.3.0 Local error", false},
        {WireStep::EndOfData, "451 4.3.0 Local error", false},
        {WireStep::Auth, "454 4.7.0 Temporary authentication failure", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        FaultTransport wire;
        wire.RefuseAt(c.step, 0, c.reply);
        const DeliveryResult result = Send(wire, AuthAccount());
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.temporary, c.temporary);
        EXPECT_NE(result.reason.find(c.reply), std::string::npos) << result.reason;
    }
}

} // namespace
