// Sending from the compose window to a real SMTP server (aiosmtpd): the
// fields as the user fills them, the questions, the mails received, the
// sent-mail log, and what the window does after a complete or a failed run.
#include "../destinations/WindowDriver.h"
#include "ComposeDriver.h"

#include "compose/DraftFiles.h"
#include "core/AppState.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "peers/MailPeers.h"
#include "send/SendLog.h"
#include "senders/SenderAccount.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTest>
#include <filesystem>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

const QString kConfirm = u"メールを送信します。よろしいですか？"_s;
const QString kDone = u"メール送信が完了しました"_s;

// What a standard mail reader (Python's email package) sees in a mail.
QJsonObject ParseMail(const fs::path &folder, const std::string &data)
{
    const fs::path file = folder / "mail.eml";
    WriteBytes(file, data);
    QString output;
    const int rc = RunProgram(u"" VOSTREL_PYTHON ""_s,
                              {u"" VOSTREL_SOURCE_DIR "/tests/send/parse_mail.py"_s,
                               QString::fromStdString(file.native())},
                              &output);
    EXPECT_EQ(rc, 0) << output.toStdString();
    return QJsonDocument::fromJson(output.toUtf8()).object();
}

QString Header(const QJsonObject &mail, const QString &name)
{
    for (const QJsonValue &h : mail[u"headers"_s].toArray()) {
        if (h[u"name"_s].toString() == name)
            return h[u"rfc2047"_s].toString();
    }
    return {};
}

QJsonObject PartOfType(const QJsonObject &mail, const QString &type)
{
    for (const QJsonValue &p : mail[u"parts"_s].toArray()) {
        if (p[u"content_type"_s].toString() == type)
            return p.toObject();
    }
    return {};
}

class ComposeSendTest : public ComposeTest
{
protected:
    static void SetUpTestSuite()
    {
        folder_ = new PeerFolder;
        smtp_ = new SmtpPeer(folder_->Path(), SmtpPeerOptions().User("vostrel", "secret"));
    }
    static void TearDownTestSuite()
    {
        delete smtp_;
        delete folder_;
    }

    void SetUp() override
    {
        ComposeTest::SetUp();
        smtp_->ClearSessions();
        SenderAccount account = smtp_->Account();
        account.ConfName = S("本店");
        account.FromAddress = "shop@example.jp";
        account.SenderName = S("山田商店");
        account.SMTPAuth = true;
        account.SMTPAccount = "vostrel";
        account.SMTPPass = "secret";
        WriteSenderAccount(SenderAccountPath(S("本店")), account);
        MakeList("得意先 A", true, false, true,
                 {{"佐藤", "sato@example.jp"}, {"鈴木", "suzuki@example.jp"}});
        WriteBytes(TempDir() / "価格表.csv", "item,price\r\n" + std::string(3000, 'x'));
    }

    // Fills the window as a user does: sender, lists, subject and body with
    // merge tags from the buttons, an attachment, no pause between mails.
    void ComposeMail(const QString &listButton)
    {
        Open();
        Pick(u"PNGBtnSender"_s, {u"本店"_s});
        Pick(listButton, {u"得意先 A"_s});
        Child<QSpinBox>(form.get(), u"SpinEditInterbal"_s)->setValue(0);

        QLineEdit *title = Edit(u"EditTitle"_s);
        title->setFocus();
        Click(u"PNGBtn_Sashi_Name"_s);
        TypeText(title, u"様へのご案内"_s);

        Memo()->setFocus();
        Click(u"PNGBtn_Sashi_Name"_s);
        Click(u"PNGBtn_Sashi_Ht"_s);
        QTest::keyClick(Memo(), Qt::Key_Return);
        TypeText(Memo(), u"コード: "_s);
        Click(u"PNGBtn_Sashi_1"_s);

        ChooseFile(u"OpenDialog"_s, TempDir() / "価格表.csv");
        Click(u"PNGBtnAppended"_s);
        ASSERT_EQ(Edit(u"EditAppended"_s)->text(), u"価格表.csv"_s);
    }

    static PeerFolder *folder_;
    static SmtpPeer *smtp_;
};

PeerFolder *ComposeSendTest::folder_ = nullptr;
SmtpPeer *ComposeSendTest::smtp_ = nullptr;

TEST_F(ComposeSendTest, AMailComposedInTheWindowReachesEveryRecipientPersonalised)
{
    ComposeMail(u"PNGBtnTo"_s);
    const MailDraft typed = form->Draft();
    EXPECT_EQ(typed.subject, S("<#-送信先名->様へのご案内"));
    EXPECT_EQ(typed.textBody, S("<#-送信先名-><#-敬称->\r\nコード: <#-差込１->"));

    dialogs.Answer(true);
    Click(u"PNGBtnMailSend"_s);
    EXPECT_EQ(dialogs.Heads(), (QStringList{kConfirm, kDone}));
    // A complete run closes the window without the close question.
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(closeQuestion->KeepDraft());

    // Both mails over one connection, logged in once.
    const auto sessions = smtp_->WaitForSessions(1);
    ASSERT_EQ(sessions.size(), 1u);
    ASSERT_EQ(sessions[0].auth.size(), 1u);
    EXPECT_EQ(sessions[0].auth[0].mechanism, "LOGIN");
    EXPECT_TRUE(sessions[0].auth[0].accepted);
    ASSERT_EQ(sessions[0].mails.size(), 2u);
    const QByteArray csv = QByteArray::fromStdString(ReadBytes(TempDir() / "価格表.csv"));
    const QString csvHash =
        QString::fromLatin1(QCryptographicHash::hash(csv, QCryptographicHash::Sha256).toHex());
    const std::pair<QString, std::string> people[] = {{u"佐藤"_s, "sato@example.jp"},
                                                      {u"鈴木"_s, "suzuki@example.jp"}};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const auto &[name, address] = people[i];
        const SmtpReceivedMail &received = sessions[0].mails[i];
        EXPECT_EQ(received.from, "shop@example.jp");
        EXPECT_EQ(received.recipients, std::vector<std::string>{address});

        const QJsonObject mail = ParseMail(TempDir(), received.data);
        EXPECT_EQ(Header(mail, u"Subject"_s), name + u"様へのご案内"_s);
        EXPECT_EQ(Header(mail, u"To"_s), QString::fromStdString(address));
        EXPECT_TRUE(Header(mail, u"From"_s).contains(u"山田商店"_s));
        const QJsonObject text = PartOfType(mail, u"text/plain"_s);
        EXPECT_EQ(text[u"text"_s].toString(), name + u"様\r\nコード: "_s + name + u"-1\r\n"_s);
        const QJsonObject file = PartOfType(mail, u"text/csv"_s);
        EXPECT_EQ(file[u"filename"_s].toString(), u"価格表.csv"_s);
        EXPECT_EQ(file[u"sha256"_s].toString(), csvHash);
    }

    // The run's log, as typed.
    const fs::path logs = DataFolder() / "Logs" / "本店";
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(logs))
        files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    const SendLog log = ReadSendLog(files[0]);
    EXPECT_EQ(log.Subject(), typed.subject);
    EXPECT_EQ(log.fields[1], S("得意先 A"));
    EXPECT_EQ(log.fields[2], "2");
    EXPECT_EQ(log.fields[3], "2");
    EXPECT_EQ(log.fields[8], "sato@example.jp,suzuki@example.jp");
    EXPECT_EQ(log.fields[11], "shop@example.jp");
    EXPECT_EQ(log.Body(), typed.textBody);
    EXPECT_EQ(log.Attachments(), S("価格表.csv"));
    EXPECT_EQ(files[0].filename().native(), SjisToUtf8(log.StartTime()) + ".vsl");

    // The next opening starts a new mail; the attachment copy is gone.
    dialogs.Clear();
    Open();
    EXPECT_TRUE(Edit(u"EditTitle"_s)->text().isEmpty());
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    EXPECT_TRUE(Edit(u"EditSender"_s)->text().isEmpty());
    EXPECT_TRUE(Edit(u"EditAppended"_s)->text().isEmpty());
    EXPECT_FALSE(fs::exists(AttachmentFolder() / "価格表.csv"));
    EXPECT_TRUE(form->State().askOnClose);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ComposeSendTest, AFailedBccRunLeavesTheWindowOpenWithItsDraft)
{
    SenderAccount account = ReadSenderAccount(SenderAccountPath(S("本店")));
    account.SMTPPort = std::to_string(FreeLocalPort()); // nothing listens there
    WriteSenderAccount(SenderAccountPath(S("本店")), account);
    ComposeMail(u"PNGBtnBcc"_s);
    auto *bccFirstOnly = Child<QCheckBox>(form.get(), u"CBBccOneSend"_s);
    ASSERT_TRUE(bccFirstOnly->isChecked());
    const MailDraft before = form->Draft();

    // No at the first question: nothing happens.
    dialogs.Answer(false);
    Click(u"PNGBtnMailSend"_s);
    EXPECT_TRUE(bccFirstOnly->isChecked());

    dialogs.Clear();
    dialogs.Answer(true);
    dialogs.Answer(true);
    Click(u"PNGBtnMailSend"_s);
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[0].text, u"BCCメールを送信します。よろしいですか？\r\n"
                                     u"※BCCの「１通目のみ送信」を解除して送信します"_s);
    EXPECT_EQ(dialogs.Heads()[1], kConfirm);
    EXPECT_TRUE(dialogs.shown[2].text.startsWith(
        u"メール送信に失敗したため、中断しました。送信元の接続設定を再度ご確認ください\r\n"
        u"送信 0 件・失敗 2 件・総件数 2 件\r\n\r\n"
        u"※失敗した宛先を送信リストに追加しました\r\n送信リスト「"_s))
        << dialogs.shown[2].text.toStdString();

    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(Child<QWidget>(form.get(), u"PanelMain"_s)->isEnabled());
    EXPECT_FALSE(bccFirstOnly->isChecked());
    MailDraft after = form->Draft();
    after.bccFirstOnly = true;
    EXPECT_EQ(after, before);
    EXPECT_TRUE(form->State().askOnClose);
    EXPECT_TRUE(fs::exists(AttachmentFolder() / "価格表.csv"));
    EXPECT_TRUE(smtp_->Sessions().empty());
}

} // namespace
} // namespace vostrel::test
