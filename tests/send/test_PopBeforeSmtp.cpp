// POP-before-SMTP against a real POP3 server (dovecot, plain and POP3S)
// followed by SMTP to aiosmtpd. The wrong password comes last: dovecot
// slows down the log-ins after a failed one.
#include "core/Errors.h"
#include "peers/MailPeers.h"
#include "send/MailTransport.h"
#include "send/ServerTlsRecord.h"
#include "send/WireTestUtil.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>

using namespace vostrel;
using namespace vostrel::test;

namespace {

class PopBeforeSmtpTest : public VostrelTest
{
protected:
    static void SetUpTestSuite()
    {
        if (!Pop3Peer::Available())
            return;
        folder_ = new PeerFolder;
        certificates_ = new TestCertificates(folder_->Path());
        pop_ = new Pop3Peer(folder_->Path(), {.certificate = certificates_->Server(),
                                              .users = {{"alice", "pop-secret"}}});
        smtp_ = new SmtpPeer(folder_->Path(), {});
    }

    static void TearDownTestSuite()
    {
        delete smtp_;
        delete pop_;
        delete certificates_;
        delete folder_;
    }

    void SetUp() override
    {
        VostrelTest::SetUp();
        if (!pop_)
            GTEST_SKIP() << "dovecot needs root";
        smtp_->ClearSessions();
        caFile_.emplace(certificates_->CaFile());
    }

    void TearDown() override
    {
        caFile_.reset();
        VostrelTest::TearDown();
    }

    static SenderAccount Account(bool popSsl)
    {
        SenderAccount account = smtp_->Account();
        account.UsePOP = true;
        account.POPAddress = popSsl ? "localhost" : "127.0.0.1";
        account.POPPort = std::to_string(popSsl ? pop_->TlsPort() : pop_->Port());
        account.POPSSL = popSsl;
        account.POPAccount = "alice";
        account.POPPass = "pop-secret";
        return account;
    }

    static std::size_t Count(const std::string &text, const std::string &what)
    {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }

    // dovecot writes its log through a process of its own: the count of
    // lines holding what, once it reaches count or after ten seconds.
    static std::size_t LogCount(const std::string &what, std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::size_t n = Count(pop_->Log(), what);
        while (n < count && std::chrono::steady_clock::now() < deadline) {
            ::poll(nullptr, 0, 5);
            n = Count(pop_->Log(), what);
        }
        return n;
    }

    OutgoingMail Mail() { return BuildTestMail({"to@example.jp"}, S("件名"), S("本文\r\n")); }

    static inline PeerFolder *folder_ = nullptr;
    static inline TestCertificates *certificates_ = nullptr;
    static inline Pop3Peer *pop_ = nullptr;
    static inline SmtpPeer *smtp_ = nullptr;
    std::optional<ScopedCaFile> caFile_;
};

TEST_F(PopBeforeSmtpTest, LogsInOverPlainPop3ThenSends)
{
    const std::size_t before = Count(pop_->Log(), "Login: user=<alice>");
    ASSERT_EQ(Count(pop_->Log(), "Disconnected: Logged out"), before);
    const OutgoingMail mail = Mail();
    const DeliveryResult result = DeliverMail(RealTransport(), Account(false), mail);
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(LogCount("Login: user=<alice>", before + 1), before + 1) << pop_->Log();
    // QUIT ended the session.
    EXPECT_EQ(LogCount("Disconnected: Logged out", before + 1), before + 1) << pop_->Log();
    const auto sessions = smtp_->WaitForSessions(1);
    ASSERT_EQ(sessions.size(), 1u);
    ASSERT_EQ(sessions[0].mails.size(), 1u);
    EXPECT_EQ(sessions[0].mails[0].data, mail.data);
}

TEST_F(PopBeforeSmtpTest, LogsInOverPop3sThenSends)
{
    const std::size_t before = Count(pop_->Log(), ", TLS, session=");
    const DeliveryResult result = DeliverMail(RealTransport(), Account(true), Mail());
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(LogCount(", TLS, session=", before + 1), before + 1) << pop_->Log();
    EXPECT_EQ(smtp_->WaitForSessions(1).size(), 1u);
}

TEST_F(PopBeforeSmtpTest, Pop3sWithAnUntrustedCertificateFails)
{
    caFile_.reset();
    ScopedCaFile other(certificates_->Server().cert); // a leaf is no CA
    const DeliveryResult result = DeliverMail(RealTransport(), Account(true), Mail());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason.rfind("localhost:" + std::to_string(pop_->TlsPort()) +
                                      ": サーバーの証明書を検証できませんでした: ",
                                  0),
              0u)
        << result.reason;
    EXPECT_TRUE(smtp_->Sessions().empty());
}

TEST_F(PopBeforeSmtpTest, UnreachablePopServerFailsTheMail)
{
    SenderAccount account = Account(false);
    const int port = FreeLocalPort();
    account.POPPort = std::to_string(port);
    const DeliveryResult result = DeliverMail(RealTransport(), account, Mail());
    EXPECT_EQ(result.reason, wire_text::ConnectFailed("127.0.0.1:" + std::to_string(port),
                                                      FileError::ErrnoText(ECONNREFUSED)));
    EXPECT_TRUE(smtp_->Sessions().empty());
}

// Last: dovecot delays the log-ins after a failed one.
// dovecot offers STLS on its plain port: the first connection, through an
// honest relay, upgrades before USER and PASS; when the relay later hides
// STLS, the remembered server gets neither.
TEST_F(PopBeforeSmtpTest, APopServerThatHidItsStlsGetsNoUserOrPassword)
{
    const StripRelay relay(folder_->Path(), StripRelay::Protocol::Pop3, pop_->Port(), 1);
    SenderAccount account = Account(false);
    account.POPPort = std::to_string(relay.Port());
    ServerTlsRecord memory;
    const DeliveryResult honest = DeliverMail(RealTransport(), account, Mail(), {}, &memory);
    ASSERT_TRUE(honest.ok) << honest.reason;
    const DeliveryResult hidden = DeliverMail(RealTransport(), account, Mail(), {}, &memory);
    EXPECT_EQ(hidden.reason, "127.0.0.1:" + account.POPPort +
                                 ": 以前は暗号化通信 (STLS) を使えたサーバーが、今回は暗号化通信に"
                                 "対応していませんでした。通信の途中で暗号化が取り除かれたおそれ"
                                 "があるため、パスワードを送らずに送信を中止しました");
    const std::vector<std::string> sent = relay.WaitForConnections(2);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(sent[0].starts_with("CAPA\r\nSTLS\r\n")) << sent[0].substr(0, 40);
    EXPECT_EQ(sent[1], "CAPA\r\n");
    for (const std::string &bytes : sent)
        EXPECT_EQ(bytes.find("pop-secret"), std::string::npos);
    EXPECT_EQ(smtp_->WaitForSessions(1).size(), 1u); // the second mail never got to SMTP
}

TEST_F(PopBeforeSmtpTest, WrongPopPasswordFailsTheMailBeforeSmtp)
{
    SenderAccount account = Account(false);
    account.POPPass = "wrong";
    const DeliveryResult result = DeliverMail(RealTransport(), account, Mail());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "127.0.0.1:" + std::to_string(pop_->Port()) +
                                 ": POP3 の PASS に失敗しました: -ERR [AUTH] Authentication "
                                 "failed.");
    EXPECT_TRUE(smtp_->Sessions().empty());
}

} // namespace
