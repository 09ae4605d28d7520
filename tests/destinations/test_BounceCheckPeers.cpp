// The check of a sender's mailbox against a real POP3 server (dovecot, over
// STLS on its plain port and over POP3S): only mails not read before are
// read, the record of what was read is encrypted, mails are deleted only when
// asked, temporary failures count after three in a row; and the window that
// shows the findings, stores them as lists and removes them from every list.
#include "core/DataLayout.h"
#include "core/FieldStore.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "destinations/UnitBounceCheck.h"
#include "peers/MailPeers.h"
#include "send/BounceCheck.h"
#include "send/MailTransport.h"
#include "send/MailboxRecord.h"
#include "senders/SenderAccount.h"
#include "support/VostrelTest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <thread>

using namespace vostrel;
using namespace vostrel::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const std::string kPassword = "pop-secret";

std::string Bounce(const std::string &address, const std::string &status,
                   const std::string &messageId)
{
    const std::string action = status[0] == '4' ? "delayed" : "failed";
    return "From: MAILER-DAEMON@mx.example.jp (Mail Delivery System)\r\n"
           "To: news@sender.example.jp\r\n"
           "Subject: Undelivered Mail Returned to Sender\r\n"
           "Content-Type: multipart/report; report-type=delivery-status; boundary=\"B\"\r\n"
           "\r\n--B\r\nContent-Type: text/plain\r\n\r\nNot delivered.\r\n"
           "--B\r\nContent-Type: message/delivery-status\r\n\r\n"
           "Reporting-MTA: dns; mx.example.jp\r\n\r\n"
           "Final-Recipient: rfc822; " +
           address + "\r\nAction: " + action + "\r\nStatus: " + status +
           "\r\nDiagnostic-Code: smtp; " + status +
           " said no\r\n"
           "\r\n--B\r\nContent-Type: text/rfc822-headers\r\n\r\nMessage-ID: " +
           messageId + "\r\n\r\n--B--\r\n";
}

std::string Plain(const std::string &from, const std::string &subject,
                  const std::string &extra = {})
{
    return "From: " + from + "\r\nTo: news@sender.example.jp\r\nSubject: " + subject + "\r\n" +
           extra + "\r\n.leading dot line\r\n";
}

// A server that never answers: connecting waits until the user's stop.
class SilentTransport : public Transport
{
public:
    std::unique_ptr<Connection> Connect(const std::string &host, int port, bool,
                                        const TransportTimeouts &timeouts) override
    {
        waiting = true;
        while (!timeouts.stop->load())
            std::this_thread::yield();
        throw TransportError(wire_text::Stopped(PeerName(host, port)), true);
    }
    std::atomic<bool> waiting{false};
};

class BounceCheckPeersTest : public VostrelTest
{
protected:
    static void SetUpTestSuite()
    {
        folder_ = std::make_unique<PeerFolder>();
        certificates_ = std::make_unique<TestCertificates>(folder_->Path());
        Pop3PeerOptions options;
        options.certificate = certificates_->Server();
        for (const char *user : {"plain", "tls", "delete", "stop", "streak", "window", "bounced",
                                 "bouncedtls", "refused"})
            options.users.emplace_back(user, kPassword);
        pop_ = std::make_unique<Pop3Peer>(folder_->Path(), options);
    }
    static void TearDownTestSuite()
    {
        pop_.reset();
        certificates_.reset();
        folder_.reset();
    }

    static SenderAccount Account(const std::string &user, bool implicitTls)
    {
        SenderAccount account;
        account.ConfName = user;
        account.SMTPAddress = "127.0.0.1";
        account.FromAddress = "news@sender.example.jp";
        account.UsePOP = true;
        account.POPAddress = "127.0.0.1";
        account.POPPort = std::to_string(implicitTls ? pop_->TlsPort() : pop_->Port());
        account.POPSSL = implicitTls;
        account.POPAccount = user;
        account.POPPass = kPassword;
        return account;
    }

    BounceCheckResult Check(const SenderAccount &account, bool deleteFromServer = false,
                            const BounceCheckProgress &progress = {},
                            const std::atomic<bool> *stop = nullptr)
    {
        BounceCheckOptions options;
        options.deleteFromServer = deleteFromServer;
        options.timeouts = TransportTimeouts::All(10000);
        options.recordPath = MailboxRecordPath();
        options.key = CurrentKey();
        return CheckMailbox(RealTransport(), account, options, progress, stop);
    }

    static std::vector<std::string> Addresses(const BounceCheckResult &result)
    {
        std::vector<std::string> out;
        for (const BounceRow &row : result.rows)
            out.push_back(row.address + " " + FindingKindText(row.kind));
        return out;
    }

    inline static std::unique_ptr<PeerFolder> folder_;
    inline static std::unique_ptr<TestCertificates> certificates_;
    inline static std::unique_ptr<Pop3Peer> pop_;
};

TEST_F(BounceCheckPeersTest, ReadsOnlyTheMailsNotReadBeforeOverStlsAndPop3s)
{
    const ScopedCaFile ca(certificates_->CaFile());
    for (const bool implicitTls : {false, true}) {
        SCOPED_TRACE(implicitTls ? "POP3S" : "STLS");
        const std::string user = implicitTls ? "tls" : "plain";
        const SenderAccount account = Account(user, implicitTls);
        pop_->Deliver(user, Bounce("taro@example.jp", "5.1.1", "<m1@sender.example.jp>"));
        pop_->Deliver(user, Plain("Ichiro <ichiro@example.jp>", "unsubscribe"));
        pop_->Deliver(
            user, Plain("jiro@example.jp", "Out of office", "Auto-Submitted: auto-replied\r\n"));

        BounceCheckResult first = Check(account);
        EXPECT_TRUE(first.completed) << first.error;
        EXPECT_EQ(first.read, 3u);
        EXPECT_EQ(Addresses(first),
                  (std::vector<std::string>{"taro@example.jp 不達", "ichiro@example.jp 配信停止"}));
        EXPECT_EQ(first.rows[0].reason, "5.1.1 said no");

        pop_->Deliver(user, Bounce("saburo@example.jp", "5.2.1", "<m2@sender.example.jp>"));
        BounceCheckResult second = Check(account);
        EXPECT_TRUE(second.completed) << second.error;
        EXPECT_EQ(second.onServer, 4u);
        EXPECT_EQ(second.read, 1u);
        EXPECT_EQ(Addresses(second), std::vector<std::string>{"saburo@example.jp 不達"});
        EXPECT_EQ(pop_->MailCount(user), 4u) << "nothing deleted unless asked";
    }
    // The record: encrypted under the key, one mailbox per server account.
    const std::string bytes = ReadBytes(MailboxRecordPath());
    EXPECT_EQ(bytes.find("VOSTREL-MAILBOX-CHECK"), std::string::npos);
    EncryptedFieldFile file = EncryptedFieldFile::OpenRead(MailboxRecordPath(), CurrentKey());
    EXPECT_EQ(file.ReadField(), "VOSTREL-MAILBOX-CHECK 1");
    EXPECT_EQ(file.ReadField(), "2");
    EXPECT_EQ(file.ReadField(), "127.0.0.1");
    EXPECT_EQ(file.ReadField(), "plain");
    EXPECT_EQ(file.ReadField(), "4");
}

TEST_F(BounceCheckPeersTest, DeletesOnlyTheRecognisedMailsWhenAsked)
{
    const ScopedCaFile ca(certificates_->CaFile());
    const SenderAccount account = Account("delete", true);
    pop_->Deliver("delete", Bounce("taro@example.jp", "5.1.1", "<d1@sender.example.jp>"));
    pop_->Deliver("delete", Plain("hanako@example.jp", "Re: news"));
    pop_->Deliver("delete", Plain("goro@example.jp", "unsubscribe"));

    const BounceCheckResult result = Check(account, true);
    EXPECT_TRUE(result.completed) << result.error;
    EXPECT_EQ(result.deleted, 2u);
    EXPECT_EQ(pop_->MailCount("delete"), 1u) << "the ordinary reply stays";
}

// Real bounces: mail sent through Postfix to a domain whose delivery fails
// after Postfix accepted it comes back as Postfix's delivery status
// notification into the sender's mailbox, read over STLS and over POP3S.
TEST_F(BounceCheckPeersTest, PostfixBouncesAreReadOverStlsAndPop3s)
{
    const ScopedCaFile ca(certificates_->CaFile());
    PostfixPeer mta(folder_->Path(), {.mailboxes = {"bounced", "bouncedtls"}});
    for (const bool implicitTls : {false, true}) {
        SCOPED_TRACE(implicitTls ? "POP3S" : "STLS");
        const std::string user = implicitTls ? "bouncedtls" : "bounced";
        // Postfix delivers into the Maildir that dovecot serves.
        std::filesystem::create_directory_symlink(mta.Maildirs() / user,
                                                  pop_->Maildir(user).parent_path());
        OutgoingMail mail;
        mail.envelopeFrom = user + "@local.test";
        mail.recipients = {"Gone@bounce.test", "alice@local.test"};
        mail.data = "From: " + user +
                    "@local.test\r\nTo: Gone@bounce.test\r\n"
                    "Subject: news\r\nMessage-ID: <news-" +
                    user + "@local.test>\r\n\r\nHello.\r\n";
        const DeliveryResult sent = DeliverMail(RealTransport(), mta.Account(), mail);
        ASSERT_TRUE(sent.ok) << sent.reason;
        ASSERT_EQ(mta.WaitForMails(user, 1).size(), 1u) << mta.Log();

        const BounceCheckResult result = Check(Account(user, implicitTls));
        EXPECT_TRUE(result.completed) << result.error;
        EXPECT_EQ(result.read, 1u);
        EXPECT_EQ(Addresses(result), std::vector<std::string>{"gone@bounce.test 不達"});
        EXPECT_EQ(result.rows.at(0).reason, "mailbox unavailable");
    }
}

// A stop keeps what was read and deletes nothing; the next check reads the
// rest.
TEST_F(BounceCheckPeersTest, StopKeepsWhatWasReadAndDeletesNothing)
{
    const ScopedCaFile ca(certificates_->CaFile());
    const SenderAccount account = Account("stop", true);
    for (int n = 1; n <= 5; ++n)
        pop_->Deliver("stop", Bounce("s" + std::to_string(n) + "@example.jp", "5.1.1",
                                     "<s" + std::to_string(n) + "@sender.example.jp>"));
    std::atomic<bool> stop{false};
    std::vector<std::size_t> reports;
    const BounceCheckResult stopped = Check(
        account, true,
        [&](std::size_t done, std::size_t total) {
            reports.push_back(done * 10 + total);
            stop = done == 2;
        },
        &stop);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(stopped.completed);
    EXPECT_EQ(stopped.error, "");
    EXPECT_EQ(reports, (std::vector<std::size_t>{5, 15, 25}));
    EXPECT_EQ(Addresses(stopped),
              (std::vector<std::string>{"s1@example.jp 不達", "s2@example.jp 不達"}));
    EXPECT_EQ(stopped.deleted, 0u);
    EXPECT_EQ(pop_->MailCount("stop"), 5u);

    const BounceCheckResult rest = Check(account);
    EXPECT_EQ(rest.read, 3u);
    EXPECT_EQ(rest.rows.front().address, "s3@example.jp");
}

TEST_F(BounceCheckPeersTest, TemporaryFailuresCountAfterThreeFailedMailsInARow)
{
    const ScopedCaFile ca(certificates_->CaFile());
    const SenderAccount account = Account("streak", true);
    const std::string address = "busy@example.jp";
    auto rows = [&](std::initializer_list<std::string> mails) {
        for (const std::string &mail : mails)
            pop_->Deliver("streak", mail);
        const BounceCheckResult result = Check(account);
        EXPECT_TRUE(result.completed) << result.error;
        return Addresses(result);
    };
    const std::vector<std::string> none;
    const std::vector<std::string> counted{"busy@example.jp 一時的"};
    // Two failed mails, the second noticed twice: not yet.
    EXPECT_EQ(rows({Bounce(address, "4.2.2", "<t1@s.jp>"), Bounce(address, "4.2.2", "<t2@s.jp>"),
                    Bounce(address, "4.2.2", "<t2@s.jp>")}),
              none);
    // A reply from the address shows its mailbox works: the count starts again.
    EXPECT_EQ(rows({Plain(address, "Re: news"), Bounce(address, "4.2.2", "<t3@s.jp>"),
                    Bounce(address, "4.2.2", "<t4@s.jp>")}),
              none);
    // The third in a row, at a later check: counted.
    EXPECT_EQ(rows({Bounce(address, "4.2.2", "<t5@s.jp>")}), counted);
}

TEST_F(BounceCheckPeersTest, ServerWhoseCertificateDoesNotVerifyGetsNoPassword)
{
    const SenderAccount account = Account("refused", true); // the private CA is not trusted
    const BounceCheckResult result = Check(account);
    EXPECT_FALSE(result.completed);
    EXPECT_NE(result.error.find("127.0.0.1:" + account.POPPort +
                                ": サーバーの証明書を検証できませんでした"),
              std::string::npos)
        << result.error;
    EXPECT_EQ(pop_->Log().find("user=<refused>"), std::string::npos);
}

// The window: accounts with POP3 fields only, the findings with the lists
// holding them, storing them as two new lists and removing them after one
// question.
TEST_F(BounceCheckPeersTest, WindowShowsFindingsStoresThemAndRemovesThemFromEveryList)
{
    const ScopedCaFile ca(certificates_->CaFile());
    WriteSenderAccount(SenderAccountPath("window"), Account("window", true));
    SenderAccount noPop = Account("nopop", false);
    noPop.UsePOP = false;
    WriteSenderAccount(SenderAccountPath("nopop"), noPop);
    auto person = [](const char *name, const std::string &address) {
        Recipient r;
        r.fields[0] = S(name);
        r.fields[2] = address;
        return r;
    };
    SaveDestinationList(S("会員"), {true, false, false},
                        {person("太郎", "Taro@example.jp"), person("花子", "hanako@example.jp"),
                         person("一郎", "ichiro@example.jp")});
    SaveDestinationList(S("顧客"), {false, false, true}, {person("太郎", "taro@example.jp")});
    pop_->Deliver("window", Bounce("taro@example.jp", "5.1.1", "<w1@sender.example.jp>"));
    pop_->Deliver("window", Plain("ichiro@example.jp", "=?ISO-2022-JP?B?GyRCR1s/LkRkO18bKEI=?="));
    pop_->Deliver("window", Bounce("nobody@example.jp", "5.1.1", "<w2@sender.example.jp>"));

    TFormBounceCheck window;
    window.SetTimeouts(TransportTimeouts::All(10000));
    window.show();
    auto *accounts = window.findChild<QComboBox *>(u"ComboBoxAccount"_s);
    ASSERT_NE(accounts, nullptr);
    EXPECT_EQ(accounts->count(), 1);
    EXPECT_EQ(accounts->currentText(), u"window"_s);
    EXPECT_EQ(window.windowTitle(), u"不達・配信停止の確認"_s);
    EXPECT_EQ(window.findChild<QCheckBox *>(u"CBDeleteFromServer"_s)->text(),
              u"確認したメールをサーバーから削除する"_s);

    QSignalSpy finished(&window, &TFormBounceCheck::CheckFinished);
    window.findChild<QPushButton *>(u"BtnStart"_s)->click();
    EXPECT_TRUE(window.Running());
    EXPECT_FALSE(window.findChild<QPushButton *>(u"BtnStart"_s)->isEnabled());
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(dialogs.Texts(), QStringList{});
    EXPECT_EQ(window.findChild<QLabel *>(u"LabelProgress"_s)->text(),
              u"新しいメール 3 通を確認しました (不達 2 件、一時的 0 件、配信停止 1 件)"_s);

    auto *result = window.findChild<QTreeWidget *>(u"ListViewResult"_s);
    ASSERT_EQ(result->topLevelItemCount(), 3);
    auto row = [&](int i) {
        QStringList cells;
        for (int c = 0; c < 4; ++c)
            cells << result->topLevelItem(i)->text(c);
        return cells;
    };
    EXPECT_EQ(row(0),
              (QStringList{u"taro@example.jp"_s, u"不達"_s, u"5.1.1 said no"_s, u"会員、顧客"_s}));
    EXPECT_EQ(row(1),
              (QStringList{u"ichiro@example.jp"_s, u"配信停止"_s, u"配信停止"_s, u"会員"_s}));
    EXPECT_EQ(row(2),
              (QStringList{u"nobody@example.jp"_s, u"不達"_s, u"5.1.1 said no"_s, QString()}));

    window.findChild<QPushButton *>(u"BtnStoreList"_s)->click();
    const QString date = QDate::currentDate().toString(u"yyyy年MM月dd日"_s);
    EXPECT_EQ(dialogs.Texts(),
              QStringList{u"送信先リスト「%1_不達」に 2 件を保存しました。\r\n"
                          "送信先リスト「%1_配信停止」に 1 件を保存しました。"_s.arg(date)});
    const DestinationList bounced = LoadDestinationList(QStringToSjis(date + u"_不達"_s));
    EXPECT_EQ(bounced.sendType, (SendType{true, false, false}));
    ASSERT_EQ(bounced.recipients.size(), 2u);
    EXPECT_EQ(bounced.recipients[0], person("太郎", "Taro@example.jp")) << "as the list holds it";
    EXPECT_EQ(bounced.recipients[1].Address(), "nobody@example.jp");

    dialogs.Clear();
    dialogs.Answer(true);
    window.findChild<QPushButton *>(u"BtnRemoveFromLists"_s)->click();
    EXPECT_EQ(dialogs.Texts(),
              (QStringList{u"2 件のアドレスを、登録されているすべての送信先リストから削除します。"
                           "\r\nよろしいですか？"_s,
                           u"3 件の宛先を 2 個の送信先リストから削除しました。"_s}));
    EXPECT_EQ(LoadDestinationList(S("会員")).recipients,
              std::vector<Recipient>{person("花子", "hanako@example.jp")});
    EXPECT_TRUE(LoadDestinationList(S("顧客")).recipients.empty());
    EXPECT_EQ(row(0).at(3), QString());
}

// The reading runs beside the window: it stays responsive, the stop button
// ends the reading, and a close request while reading closes the window once
// the reading has ended.
TEST_F(BounceCheckPeersTest, WindowStaysResponsiveAndStopsOrClosesWhileReading)
{
    WriteSenderAccount(SenderAccountPath("window"), Account("window", true));
    SilentTransport silent;
    TFormBounceCheck window;
    window.SetTransport(silent);
    window.show();
    QSignalSpy finished(&window, &TFormBounceCheck::CheckFinished);
    auto *label = window.findChild<QLabel *>(u"LabelProgress"_s);
    auto *stop = window.findChild<QPushButton *>(u"BtnStop"_s);

    window.findChild<QPushButton *>(u"BtnStart"_s)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return silent.waiting.load(); }));
    EXPECT_EQ(label->text(), u"サーバーに接続しています..."_s);
    EXPECT_TRUE(stop->isEnabled());
    stop->click();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(window.Running());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_EQ(label->text(), u"中止しました (0 通を確認: 不達 0 件、一時的 0 件、配信停止 0 件)"_s);
    EXPECT_EQ(dialogs.Texts(), QStringList{});

    silent.waiting = false;
    window.findChild<QPushButton *>(u"BtnStart"_s)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return silent.waiting.load(); }));
    window.reject();
    EXPECT_TRUE(window.isVisible()) << "open until the reading has ended";
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(window.isVisible());
}

} // namespace
