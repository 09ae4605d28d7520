// The real transport against a real SMTP server (aiosmtpd): the exact
// dialogue the server saw over plain TCP, implicit TLS and STARTTLS, the bytes
// it received, certificate checks, and connections that go nowhere.
#include "core/Errors.h"
#include "peers/MailPeers.h"
#include "send/MailTransport.h"
#include "send/PzConv.h"
#include "send/WireTestUtil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

using namespace vostrel;
using namespace vostrel::test;

namespace {

const std::pair<std::string, std::string> kUser{"smtpuser", "p@ss word"};
// How long the slow server takes to accept a mail after its final ".".
constexpr int kSlowAcceptMs = 700;

// Sets an environment variable (or removes it) while it lives.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const std::optional<std::string> &value)
        : name_(name)
    {
        if (const char *old = std::getenv(name))
            old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    void Set(const std::optional<std::string> &value)
    {
        if (value)
            ::setenv(name_, value->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    const char *name_;
    std::optional<std::string> old_;
};

class SmtpWireTest : public VostrelTest
{
protected:
    static void SetUpTestSuite()
    {
        folder_ = new PeerFolder;
        certificates_ = new TestCertificates(folder_->Path());
        const auto start = [](SmtpPeerOptions options) {
            options.User(kUser.first, kUser.second).Refuse("nobody@example.jp");
            return new SmtpPeer(folder_->Path(), std::move(options));
        };
        const auto &certs = *certificates_;
        plain_ = start(SmtpPeerOptions());
        plainOnlyPlain_ = start(SmtpPeerOptions().Auth({"PLAIN"}));
        noAuth_ = start(SmtpPeerOptions().Auth({}));
        tls_ = start(SmtpPeerOptions().Security(SmtpSecurity::ImplicitTls, certs.Server()));
        startTls_ = start(SmtpPeerOptions().Security(SmtpSecurity::StartTls, certs.Server()));
        wrongHost_ =
            start(SmtpPeerOptions().Security(SmtpSecurity::ImplicitTls, certs.WrongHost()));
        expired_ = start(SmtpPeerOptions().Security(SmtpSecurity::StartTls, certs.Expired()));
        dropper_ = start(SmtpPeerOptions()
                             .Security(SmtpSecurity::ImplicitTls, certs.Server())
                             .DropDataAfter(64 * 1024));
        slowAccept_ = start(SmtpPeerOptions().DelayEndOfData(kSlowAcceptMs));
    }

    static std::vector<SmtpPeer *> Peers()
    {
        return {plain_,     plainOnlyPlain_, noAuth_,  tls_,       startTls_,
                wrongHost_, expired_,        dropper_, slowAccept_};
    }

    static void TearDownTestSuite()
    {
        for (SmtpPeer *peer : Peers())
            delete peer;
        delete certificates_;
        delete folder_;
    }

    void SetUp() override
    {
        VostrelTest::SetUp();
        for (SmtpPeer *peer : Peers())
            peer->ClearSessions();
        caFile_.emplace(certificates_->CaFile());
    }

    void TearDown() override
    {
        caFile_.reset();
        VostrelTest::TearDown();
    }

    static SenderAccount WithAuth(SenderAccount account)
    {
        account.SMTPAuth = true;
        account.SMTPAccount = kUser.first;
        account.SMTPPass = kUser.second;
        return account;
    }

    // A mail from the message builder whose body has lines that begin with
    // a dot, to three recipients.
    OutgoingMail TestMail()
    {
        return BuildTestMail({"to@example.jp", "cc@example.jp", "bcc@example.jp"}, S("お知らせ"),
                             S("山田様\r\n.先頭の点\r\n.\r\n..\r\nよろしくお願いします。\r\n"));
    }

    // Sends mail through the peer and returns the one session it recorded.
    SmtpPeerSession SendOne(SmtpPeer &peer, const SenderAccount &account, const OutgoingMail &mail)
    {
        const DeliveryResult result = DeliverMail(RealTransport(), account, mail);
        EXPECT_TRUE(result.ok) << result.reason;
        const auto sessions = peer.WaitForSessions(1);
        EXPECT_EQ(sessions.size(), 1u);
        return sessions.empty() ? SmtpPeerSession{} : sessions[0];
    }

    // The mail arrived whole: envelope, the exact bytes (the server removed
    // the dot-stuffing), and Python's mail parser reads it without defects.
    void ExpectReceived(const SmtpPeerSession &session, const OutgoingMail &mail)
    {
        ASSERT_EQ(session.mails.size(), 1u);
        const SmtpReceivedMail &received = session.mails[0];
        EXPECT_EQ(received.from, mail.envelopeFrom);
        EXPECT_EQ(received.recipients, mail.recipients);
        EXPECT_EQ(received.data, mail.data);
        EXPECT_EQ(received.wire, DotStuff(mail.data));
        const QJsonObject parsed = ParseWithPython(TempDir(), received.data);
        EXPECT_EQ(ParsedDefectCount(parsed), 0);
        EXPECT_EQ(ParsedHeader(parsed, QStringLiteral("Subject")), QStringLiteral("お知らせ"));
        EXPECT_EQ(ParsedText(parsed).remove(u'\r'),
                  QStringLiteral("山田様\n.先頭の点\n.\n..\nよろしくお願いします。\n"));
    }

    // The commands of the envelope and data after authentication.
    static std::vector<std::string> EnvelopeCommands(const OutgoingMail &mail)
    {
        std::vector<std::string> lines{"MAIL FROM:<" + mail.envelopeFrom + ">"};
        for (const auto &r : mail.recipients)
            lines.push_back("RCPT TO:<" + r + ">");
        lines.push_back("DATA");
        lines.push_back("QUIT");
        return lines;
    }

    static std::vector<std::string> Concat(std::vector<std::string> a,
                                           const std::vector<std::string> &b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    static inline PeerFolder *folder_ = nullptr;
    static inline TestCertificates *certificates_ = nullptr;
    static inline SmtpPeer *plain_ = nullptr;
    static inline SmtpPeer *plainOnlyPlain_ = nullptr;
    static inline SmtpPeer *noAuth_ = nullptr;
    static inline SmtpPeer *tls_ = nullptr;
    static inline SmtpPeer *startTls_ = nullptr;
    static inline SmtpPeer *wrongHost_ = nullptr;
    static inline SmtpPeer *expired_ = nullptr;
    static inline SmtpPeer *dropper_ = nullptr;
    static inline SmtpPeer *slowAccept_ = nullptr;
    std::optional<ScopedCaFile> caFile_;
};

TEST_F(SmtpWireTest, PlainWithAuthLogin)
{
    const OutgoingMail mail = TestMail();
    const SmtpPeerSession s = SendOne(*plain_, WithAuth(plain_->Account()), mail);
    EXPECT_EQ(s.Lines(),
              Concat({"EHLO " + HostName(), "AUTH LOGIN", B64(kUser.first), B64(kUser.second)},
                     EnvelopeCommands(mail)));
    ASSERT_EQ(s.auth.size(), 1u);
    EXPECT_EQ(s.auth[0].mechanism, "LOGIN");
    EXPECT_EQ(s.auth[0].login, kUser.first);
    EXPECT_EQ(s.auth[0].password, kUser.second);
    EXPECT_TRUE(s.auth[0].accepted);
    ExpectReceived(s, mail);
}

TEST_F(SmtpWireTest, PlainWithAuthPlainWhenLoginIsNotOffered)
{
    const OutgoingMail mail = TestMail();
    const SmtpPeerSession s = SendOne(*plainOnlyPlain_, WithAuth(plainOnlyPlain_->Account()), mail);
    EXPECT_EQ(s.Lines(), Concat({"EHLO " + HostName(),
                                 "AUTH PLAIN " + B64('\0' + kUser.first + '\0' + kUser.second)},
                                EnvelopeCommands(mail)));
    ASSERT_EQ(s.auth.size(), 1u);
    EXPECT_EQ(s.auth[0].mechanism, "PLAIN");
    EXPECT_EQ(s.auth[0].login, kUser.first);
    EXPECT_EQ(s.auth[0].password, kUser.second);
    ExpectReceived(s, mail);
}

TEST_F(SmtpWireTest, NoAuthWhenTheAccountDoesNotAskForIt)
{
    const OutgoingMail mail = TestMail();
    const SmtpPeerSession s = SendOne(*plain_, plain_->Account(), mail);
    EXPECT_EQ(s.Lines(), Concat({"EHLO " + HostName()}, EnvelopeCommands(mail)));
    ExpectReceived(s, mail);
}

TEST_F(SmtpWireTest, ImplicitTlsToAnIpAddress)
{
    const OutgoingMail mail = TestMail();
    const SmtpPeerSession s = SendOne(*tls_, WithAuth(tls_->Account("127.0.0.1")), mail);
    EXPECT_TRUE(s.implicitTls);
    EXPECT_EQ(s.Lines(),
              Concat({"EHLO " + HostName(), "AUTH LOGIN", B64(kUser.first), B64(kUser.second)},
                     EnvelopeCommands(mail)));
    for (const auto &c : s.commands)
        EXPECT_TRUE(c.tls) << c.line;
    ExpectReceived(s, mail);
}

// "localhost" also resolves to ::1, where nothing listens: the next address
// is tried. The certificate is checked against the name.
TEST_F(SmtpWireTest, StartTlsThenAuthOverTheUpgradedConnection)
{
    const OutgoingMail mail = TestMail();
    const SmtpPeerSession s = SendOne(*startTls_, WithAuth(startTls_->Account("localhost")), mail);
    EXPECT_EQ(s.Lines(), Concat({"EHLO " + HostName(), "STARTTLS", "EHLO " + HostName(),
                                 "AUTH LOGIN", B64(kUser.first), B64(kUser.second)},
                                EnvelopeCommands(mail)));
    ASSERT_GE(s.commands.size(), 3u);
    EXPECT_FALSE(s.commands[0].tls);
    EXPECT_FALSE(s.commands[1].tls);
    for (std::size_t i = 2; i < s.commands.size(); ++i)
        EXPECT_TRUE(s.commands[i].tls) << s.commands[i].line;
    ExpectReceived(s, mail);
}

TEST_F(SmtpWireTest, ManyMailsEachOnItsOwnConnection)
{
    const OutgoingMail mail = TestMail();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(DeliverMail(RealTransport(), plain_->Account(), mail).ok);
    const auto sessions = plain_->WaitForSessions(3);
    ASSERT_EQ(sessions.size(), 3u);
    for (const auto &s : sessions) {
        ASSERT_EQ(s.mails.size(), 1u);
        EXPECT_EQ(s.mails[0].data, mail.data);
    }
}

TEST_F(SmtpWireTest, WrongPasswordFailsWithTheServersReply)
{
    SenderAccount account = WithAuth(plain_->Account());
    account.SMTPPass = "wrong";
    const DeliveryResult result = DeliverMail(RealTransport(), account, TestMail());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "127.0.0.1:" + std::to_string(plain_->Port()) +
                                 ": SMTP認証 (AUTH LOGIN) に失敗しました: 535 5.7.8 "
                                 "Authentication credentials invalid");
    const auto sessions = plain_->WaitForSessions(1);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(sessions[0].mails.empty());
    EXPECT_EQ(sessions[0].Lines().back(), "QUIT");
}

TEST_F(SmtpWireTest, AuthAskedForButNotOfferedLeavesTheDecisionToTheServer)
{
    const OutgoingMail mail = TestMail();
    const SmtpPeerSession session = SendOne(*noAuth_, WithAuth(noAuth_->Account()), mail);
    EXPECT_EQ(session.Lines(), Concat({"EHLO " + HostName()}, EnvelopeCommands(mail)));
    EXPECT_TRUE(session.auth.empty());
}

TEST_F(SmtpWireTest, RefusedRecipientFailsTheMailWithTheReplyLine)
{
    OutgoingMail mail = TestMail();
    mail.recipients = {"to@example.jp", "nobody@example.jp", "cc@example.jp"};
    const DeliveryResult result = DeliverMail(RealTransport(), plain_->Account(), mail);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "127.0.0.1:" + std::to_string(plain_->Port()) +
                                 ": RCPT TO:<nobody@example.jp> に失敗しました: 550 5.1.1 "
                                 "<nobody@example.jp>: Recipient address rejected: User unknown");
    const auto sessions = plain_->WaitForSessions(1);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].refused, (std::vector<std::string>{"nobody@example.jp"}));
    EXPECT_TRUE(sessions[0].mails.empty());
    EXPECT_EQ(sessions[0].Lines().back(), "QUIT");
}

TEST_F(SmtpWireTest, CertificateForAnotherHostIsRejected)
{
    const DeliveryResult result =
        DeliverMail(RealTransport(), WithAuth(wrongHost_->Account("localhost")), TestMail());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "localhost:" + std::to_string(wrongHost_->Port()) +
                                 ": サーバーの証明書を検証できませんでした: hostname mismatch");
    for (const auto &s : wrongHost_->Sessions())
        EXPECT_TRUE(s.commands.empty());
}

TEST_F(SmtpWireTest, CertificateForAnotherAddressIsRejected)
{
    // The certificate names wrong.example only, not 127.0.0.1.
    const DeliveryResult result =
        DeliverMail(RealTransport(), wrongHost_->Account("127.0.0.1"), TestMail());
    EXPECT_EQ(result.reason, "127.0.0.1:" + std::to_string(wrongHost_->Port()) +
                                 ": サーバーの証明書を検証できませんでした: IP address mismatch");
}

TEST_F(SmtpWireTest, ExpiredCertificateIsRejectedAfterStartTls)
{
    const DeliveryResult result =
        DeliverMail(RealTransport(), WithAuth(expired_->Account("localhost")), TestMail());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "localhost:" + std::to_string(expired_->Port()) +
                                 ": サーバーの証明書を検証できませんでした: certificate has "
                                 "expired (STARTTLS)");
    const auto sessions = expired_->WaitForSessions(1);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].Lines(), (std::vector<std::string>{"EHLO " + HostName(), "STARTTLS"}));
    EXPECT_TRUE(sessions[0].auth.empty());
}

TEST_F(SmtpWireTest, UntrustedCertificateIsRejected)
{
    caFile_.reset();                                  // the private CA is not trusted now
    ScopedCaFile other(certificates_->Server().cert); // a leaf is no CA
    const DeliveryResult result = DeliverMail(RealTransport(), tls_->Account(), TestMail());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.reason.find("127.0.0.1:" + std::to_string(tls_->Port()) +
                                 ": サーバーの証明書を検証できませんでした: "),
              std::string::npos)
        << result.reason;
}

TEST_F(SmtpWireTest, UnreachablePort)
{
    const int port = FreeLocalPort();
    SenderAccount account = plain_->Account();
    account.SMTPPort = std::to_string(port);
    const DeliveryResult result = DeliverMail(RealTransport(), account, TestMail());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, wire_text::ConnectFailed("127.0.0.1:" + std::to_string(port),
                                                      FileError::ErrnoText(ECONNREFUSED)));
}

TEST_F(SmtpWireTest, UnknownHost)
{
    SenderAccount account = plain_->Account();
    account.SMTPAddress = "no-such-host.invalid";
    const DeliveryResult result = DeliverMail(RealTransport(), account, TestMail());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason.rfind("no-such-host.invalid:" + account.SMTPPort +
                                      ": サーバーのアドレスが見つかりませんでした: ",
                                  0),
              0u)
        << result.reason;
}

// A server that accepts the connection and never says a word.
TEST_F(SmtpWireTest, ServerThatNeverAnswersTimesOut)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
    SenderAccount account = plain_->Account();
    account.SMTPPort = std::to_string(ntohs(address.sin_port));
    const DeliveryResult result =
        DeliverMail(RealTransport(), account, TestMail(), {.connectMs = 5000, .replyMs = 200});
    ::close(fd);
    EXPECT_EQ(result.reason,
              wire_text::TimedOut("127.0.0.1:" + account.SMTPPort, 200) + " (接続時の応答)");
}

TEST_F(SmtpWireTest, ImplicitTlsToAPlainServerFails)
{
    SenderAccount account = plain_->Account();
    account.SMTPSSL = true;
    const DeliveryResult result =
        DeliverMail(RealTransport(), account, TestMail(), {.connectMs = 5000, .replyMs = 5000});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(
        result.reason.rfind("127.0.0.1:" + account.SMTPPort + ": TLS で接続できませんでした: ", 0),
        0u)
        << result.reason;
}

// Writing into a TLS connection the server has reset would raise SIGPIPE;
// the mail fails and the program lives on.
TEST_F(SmtpWireTest, ConnectionResetInTheMiddleOfData)
{
    std::string body;
    while (body.size() < 1024 * 1024)
        body += S("本文の行です。This line is long enough to fill the buffers.\r\n");
    const OutgoingMail mail = BuildTestMail({"to@example.jp"}, S("件名"), body);
    const DeliveryResult result = DeliverMail(RealTransport(), dropper_->Account(), mail);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, wire_text::Closed("127.0.0.1:" + std::to_string(dropper_->Port())) +
                                 " (メール本文の送信)");
    const auto sessions = dropper_->WaitForSessions(1);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(sessions[0].mails.empty());
}

TEST_F(SmtpWireTest, LargeMailArrivesWhole)
{
    std::string body;
    for (int i = 0; body.size() < 1024 * 1024; ++i)
        body += (i % 7 == 0 ? "." : "") + std::to_string(i) + S(" 行目のテキスト\r\n");
    const OutgoingMail mail = BuildTestMail({"to@example.jp"}, S("大きなメール"), body);
    const SmtpPeerSession s = SendOne(*tls_, tls_->Account(), mail);
    ASSERT_EQ(s.mails.size(), 1u);
    EXPECT_EQ(s.mails[0].data, mail.data);
}

TEST_F(SmtpWireTest, EachStepHasItsOwnLimitAndTheWholeMailOneMore)
{
    const std::string peer = "127.0.0.1:" + std::to_string(slowAccept_->Port());
    TransportTimeouts limits = TransportTimeouts::All(kSlowAcceptMs / 2);
    // A server that scans a mail before it accepts it is no failure: the
    // reply after the final "." has a limit of its own.
    limits.endOfDataMs = kSlowAcceptMs * 10;
    const DeliveryResult slow =
        DeliverMail(RealTransport(), slowAccept_->Account(), TestMail(), limits);
    EXPECT_TRUE(slow.ok) << slow.reason;
    ASSERT_EQ(slowAccept_->WaitForSessions(1).at(0).mails.size(), 1u);

    limits.endOfDataMs = kSlowAcceptMs / 2;
    EXPECT_EQ(DeliverMail(RealTransport(), slowAccept_->Account(), TestMail(), limits).reason,
              wire_text::TimedOut(peer, kSlowAcceptMs / 2) + " (メール本文の送信)");

    limits.endOfDataMs = kSlowAcceptMs * 10;
    limits.mailMs = kSlowAcceptMs / 2;
    EXPECT_EQ(DeliverMail(RealTransport(), slowAccept_->Account(), TestMail(), limits).reason,
              wire_text::MailTooLong(peer, kSlowAcceptMs / 2) + " (メール本文の送信)");
}

// SSL_CERT_FILE replaces the system's certificates; the system's folder of
// certificates (here SSL_CERT_DIR, holding the private CA) is not consulted.
TEST_F(SmtpWireTest, TheCertificateFileIsTrustedInsteadOfTheSystemsCertificates)
{
    const std::filesystem::path folder = TempDir() / "system-certs";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(certificates_->CaFile(), folder / "private-ca.pem");
    QString output;
    ASSERT_EQ(RunProgram(QStringLiteral("openssl"),
                         {QStringLiteral("rehash"), QString::fromStdString(folder.string())},
                         &output),
              0)
        << output.toStdString();
    const TestCertificates other(TempDir());
    caFile_.reset();
    const ScopedEnv dir("SSL_CERT_DIR", folder.string());
    {
        const ScopedEnv noFile("SSL_CERT_FILE", std::nullopt);
        const DeliveryResult trusted = DeliverMail(RealTransport(), tls_->Account(), TestMail());
        EXPECT_TRUE(trusted.ok) << trusted.reason;
    }
    const ScopedEnv file("SSL_CERT_FILE", other.CaFile().string());
    EXPECT_EQ(DeliverMail(RealTransport(), tls_->Account(), TestMail()).reason,
              wire_text::CertificateRejected("127.0.0.1:" + std::to_string(tls_->Port()),
                                             "unable to get local issuer certificate"));
}

TEST_F(SmtpWireTest, ACertificateFileThatCannotBeReadFailsEachMailNamingIt)
{
    caFile_.reset();
    const std::string missing = (TempDir() / "no-such-ca.pem").string();
    const ScopedEnv file("SSL_CERT_FILE", missing);
    for (int mail = 0; mail < 2; ++mail) {
        const DeliveryResult result = DeliverMail(RealTransport(), tls_->Account(), TestMail());
        EXPECT_EQ(
            result.reason.rfind(wire_text::TlsFailed("127.0.0.1:" + std::to_string(tls_->Port()),
                                                     "環境変数 SSL_CERT_FILE の証明書ファイル「" +
                                                         missing + "」を読み込めませんでした: "),
                                0),
            0u)
            << result.reason;
    }
}

} // namespace
