// The private Postfix that other tests deliver through: local delivery to
// Maildirs, a real bounce for bounce.test, relaying the rest to a recording
// SMTP server; mails sent by the real transport.
#include "peers/MailPeers.h"
#include "send/MailTransport.h"
#include "send/WireTestUtil.h"

#include <gtest/gtest.h>

using namespace vostrel;
using namespace vostrel::test;

namespace {

class PostfixPeerTest : public VostrelTest
{
protected:
    static void SetUpTestSuite()
    {
        if (!PostfixPeer::Available())
            return;
        folder_ = new PeerFolder;
        relay_ = new SmtpPeer(folder_->Path(), SmtpPeerOptions().Auth({}));
        mta_ = new PostfixPeer(folder_->Path(),
                               {.mailboxes = {"sender", "alice"}, .relayPort = relay_->Port()});
    }

    static void TearDownTestSuite()
    {
        delete mta_;
        delete relay_;
        delete folder_;
        mta_ = nullptr;
    }

    void SetUp() override
    {
        VostrelTest::SetUp();
        if (!mta_)
            GTEST_SKIP() << "Postfix needs root";
    }

    // Sends a test mail from sender@local.test; the body names the test.
    static void Send(const std::vector<std::string> &to, const std::string &body)
    {
        OutgoingMail mail = BuildTestMail(to, "postfix", body);
        mail.envelopeFrom = "sender@local.test";
        const DeliveryResult result = DeliverMail(RealTransport(), mta_->Account(), mail);
        ASSERT_TRUE(result.ok) << result.reason << "\n" << mta_->Log();
    }

    static inline PeerFolder *folder_ = nullptr;
    static inline SmtpPeer *relay_ = nullptr;
    static inline PostfixPeer *mta_ = nullptr;
};

TEST_F(PostfixPeerTest, DeliversLocalTestToNamedAndCatchAllMaildirs)
{
    Send({"alice@local.test", "nobody-named@local.test"}, "local delivery");
    for (const char *box : {"alice", "catchall"}) {
        const auto mails = mta_->WaitForMails(box, 1);
        ASSERT_EQ(mails.size(), 1u) << box << "\n" << mta_->Log();
        EXPECT_NE(mails[0].find("by mta.local.test (Postfix)"), std::string::npos);
        EXPECT_NE(mails[0].find("local delivery"), std::string::npos);
    }
}

TEST_F(PostfixPeerTest, BouncesBounceTestWithADeliveryStatusNotification)
{
    Send({"gone@bounce.test"}, "to be bounced");
    const auto mails = mta_->WaitForMails("sender", 1);
    ASSERT_EQ(mails.size(), 1u) << mta_->Log();
    EXPECT_NE(mails[0].find("Content-Type: multipart/report; report-type=delivery-status"),
              std::string::npos);
    EXPECT_NE(mails[0].find("Final-Recipient: rfc822; gone@bounce.test"), std::string::npos);
    EXPECT_NE(mails[0].find("to be bounced"), std::string::npos);
}

TEST_F(PostfixPeerTest, RelaysOtherDomainsToTheGivenPort)
{
    Send({"bob@example.net"}, "relayed");
    const auto sessions =
        relay_->WaitForSession([](const SmtpPeerSession &s) { return !s.mails.empty(); }, 20000);
    ASSERT_TRUE(sessions) << mta_->Log();
    const SmtpReceivedMail &mail = sessions->back().mails.at(0);
    EXPECT_EQ(mail.from, "sender@local.test");
    EXPECT_EQ(mail.recipients, std::vector<std::string>{"bob@example.net"});
    EXPECT_NE(mail.data.find("relayed"), std::string::npos);
}

} // namespace
