// The account editor, driven through its controls: reset, the groups that
// follow their check boxes, the standard ports, OK's checks and the help panel.
#include "SenderFiles.h"

#include "senders/UnitAddSender.h"
#include "support/VostrelTest.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace vostrel::test {
namespace {

const QStringList AllEdits = {u"EditConfName"_s,    u"EditSMTPAddress"_s, u"EditSMTPPort"_s,
                              u"EditFromAddress"_s, u"EditSenderName"_s,  u"EditReturnAddress"_s,
                              u"EditPOPAddress"_s,  u"EditPOPPort"_s,     u"EditPOPAccount"_s,
                              u"EditPOPPass"_s,     u"EditSMTPAccount"_s, u"EditSMTPPass"_s};
const QStringList POPGroup = {u"CheckBoxPOPSSL"_s,   u"EditPOPAddress"_s, u"EditPOPPort"_s,
                              u"ButtonPOPDefault"_s, u"EditPOPAccount"_s, u"EditPOPPass"_s,
                              u"LabelPOPAddress"_s,  u"LabelPOPPort"_s,   u"LabelPOPAccount"_s,
                              u"LabelPOPPass"_s};
const QStringList AuthGroup = {u"EditSMTPAccount"_s, u"EditSMTPPass"_s, u"LabelSMTPAccount"_s,
                               u"LabelSMTPPass"_s};

const QString PopMessage = u"POPサーバーの入力欄に不備があります。再確認してください"_s;
const QString NameMessage = u"この設定の名前に「/」と「,」は使用できません"_s;

class AddSenderTest : public VostrelTest
{
protected:
    QLineEdit *Edit(const QString &name) { return Child<QLineEdit>(&form, name); }
    QCheckBox *Box(const QString &name) { return Child<QCheckBox>(&form, name); }
    QPushButton *Button(const QString &name) { return Child<QPushButton>(&form, name); }
    QWidget *Widget(const QString &name) { return Child<QWidget>(&form, name); }
    QString Help() { return Child<QPlainTextEdit>(&form, u"Mm_Exp"_s)->toPlainText(); }

    // Clicks a button or check box where its text starts.
    static void Click(QAbstractButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
    void ShowActive()
    {
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }
    // Runs the dialog modally; action drives it while it is open.
    int Exec(std::function<void()> action)
    {
        WhenModal(u"TFormAddSender"_s, [action](QWidget *) { action(); });
        return form.exec();
    }

    TFormAddSender form;
};

TEST_F(AddSenderTest, ResetGivesTheStateOfANewAccount)
{
    ShowActive();
    for (const QString &name : AllEdits)
        Edit(name)->setEnabled(true);
    for (const QString &name : AllEdits)
        Type(Edit(name), u"typed"_s);
    for (const char *name :
         {"CheckBoxSMTPSSL", "CheckBoxUsePOP", "CheckBoxPOPSSL", "CheckBoxSMTPAuth"})
        Click(Box(QString::fromLatin1(name)));
    Edit(u"EditPOPPort"_s)->setFocus();
    const QString helpBefore = Help();

    form.ResetEditor();

    for (const QString &name : AllEdits) {
        const QString expected = name == u"EditSMTPPort"_s  ? u"25"_s
                                 : name == u"EditPOPPort"_s ? u"110"_s
                                                            : QString();
        EXPECT_EQ(Edit(name)->text(), expected) << name.toStdString();
    }
    for (const char *name :
         {"CheckBoxSMTPSSL", "CheckBoxUsePOP", "CheckBoxPOPSSL", "CheckBoxSMTPAuth"})
        EXPECT_FALSE(Box(QString::fromLatin1(name))->isChecked()) << name;
    for (const QString &name : POPGroup + AuthGroup)
        EXPECT_FALSE(Widget(name)->isEnabled()) << name.toStdString();
    for (const char *name : {"EditConfName", "EditSMTPAddress", "CheckBoxSMTPSSL",
                             "ButtonSMTPDefault", "CheckBoxUsePOP", "CheckBoxSMTPAuth", "ButtonOK"})
        EXPECT_TRUE(Widget(QString::fromLatin1(name))->isEnabled()) << name;
    EXPECT_EQ(Help(), helpBefore); // the help panel keeps its text
    EXPECT_EQ(form.Account(), SenderAccount{});
}

TEST_F(AddSenderTest, ControlsAreAsDescribed)
{
    EXPECT_EQ(form.objectName(), u"TFormAddSender"_s);
    EXPECT_EQ(Edit(u"EditPOPPass"_s)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit(u"EditSMTPPass"_s)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit(u"EditConfName"_s)->echoMode(), QLineEdit::Normal);
    for (const char *name : {"EditSMTPPort", "EditPOPPort", "EditPOPPass", "EditSMTPPass"})
        EXPECT_FALSE(Edit(QString::fromLatin1(name))->testAttribute(Qt::WA_InputMethodEnabled))
            << name;
    EXPECT_TRUE(Edit(u"EditFromAddress"_s)->testAttribute(Qt::WA_InputMethodEnabled));
    for (const QString &name : AllEdits)
        EXPECT_EQ(Edit(name)->maxLength(), std::numeric_limits<int>::max()) << name.toStdString();

    auto *help = Child<QPlainTextEdit>(&form, u"Mm_Exp"_s);
    EXPECT_TRUE(help->isReadOnly());
    EXPECT_EQ(help->focusPolicy(), Qt::NoFocus);

    form.show();
    EXPECT_TRUE(Edit(u"EditErrorAddress"_s)->isHidden());
    EXPECT_TRUE(Child<QLabel>(&form, u"LabelErrorAddress"_s)->isHidden());
    EXPECT_EQ(Child<QLabel>(&form, u"LabelErrorAddress"_s)->text(),
              u"エラーメールを受信するメールアドレス"_s);
    EXPECT_EQ(Button(u"ButtonSMTPDefault"_s)->text(), u"標準"_s);
    EXPECT_EQ(Button(u"ButtonPOPDefault"_s)->text(), u"標準"_s);
    EXPECT_EQ(Button(u"ButtonCancel"_s)->text(), u"キャンセル"_s);
    EXPECT_EQ(Box(u"CheckBoxUsePOP"_s)->text(), u"POP Before SMTPによる認証が必要"_s);
    EXPECT_EQ(Box(u"CheckBoxSMTPAuth"_s)->text(), u"SMTP認証が必要"_s);
    EXPECT_EQ(Box(u"CheckBoxSMTPSSL"_s)->text(), u"SSL接続"_s);
    EXPECT_EQ(Box(u"CheckBoxPOPSSL"_s)->text(), u"SSL接続"_s);
    EXPECT_EQ(Child<QLabel>(&form, u"LabelPOPPass"_s)->text(), u"POP3のパスワード"_s);
    EXPECT_EQ(Child<QLabel>(&form, u"LabelSMTPAccount"_s)->text(), u"SMTPのアカウント"_s);

    form.SetCaptions(u"接続設定の編集"_s, u"変更する"_s);
    EXPECT_EQ(form.windowTitle(), u"接続設定の編集"_s);
    EXPECT_EQ(Button(u"ButtonOK"_s)->text(), u"変更する"_s);
}

TEST_F(AddSenderTest, CheckBoxesEnableTheirGroupsAndKeepValues)
{
    ShowActive();
    Click(Box(u"CheckBoxUsePOP"_s));
    for (const QString &name : POPGroup)
        EXPECT_TRUE(Widget(name)->isEnabled()) << name.toStdString();
    for (const QString &name : AuthGroup)
        EXPECT_FALSE(Widget(name)->isEnabled()) << name.toStdString();
    Type(Edit(u"EditPOPAddress"_s), u"pop.example.jp"_s);
    Click(Box(u"CheckBoxUsePOP"_s));
    for (const QString &name : POPGroup)
        EXPECT_FALSE(Widget(name)->isEnabled()) << name.toStdString();
    EXPECT_EQ(Edit(u"EditPOPAddress"_s)->text(), u"pop.example.jp"_s);

    Click(Box(u"CheckBoxSMTPAuth"_s));
    for (const QString &name : AuthGroup)
        EXPECT_TRUE(Widget(name)->isEnabled()) << name.toStdString();
    Type(Edit(u"EditSMTPAccount"_s), u"user"_s);
    Click(Box(u"CheckBoxSMTPAuth"_s));
    for (const QString &name : AuthGroup)
        EXPECT_FALSE(Widget(name)->isEnabled()) << name.toStdString();
    EXPECT_EQ(Edit(u"EditSMTPAccount"_s)->text(), u"user"_s);
}

TEST_F(AddSenderTest, SslBoxesAndStandardButtonsSetThePorts)
{
    ShowActive();
    QLineEdit *smtp = Edit(u"EditSMTPPort"_s);
    Type(smtp, u"587"_s);
    Click(Box(u"CheckBoxSMTPSSL"_s));
    EXPECT_EQ(smtp->text(), u"465"_s);
    Click(Box(u"CheckBoxSMTPSSL"_s));
    EXPECT_EQ(smtp->text(), u"25"_s);
    Type(smtp, u"2525"_s);
    Click(Button(u"ButtonSMTPDefault"_s));
    EXPECT_EQ(smtp->text(), u"25"_s);
    Click(Box(u"CheckBoxSMTPSSL"_s));
    Type(smtp, u"10465"_s);
    Click(Button(u"ButtonSMTPDefault"_s));
    EXPECT_EQ(smtp->text(), u"465"_s);

    QLineEdit *pop = Edit(u"EditPOPPort"_s);
    Click(Box(u"CheckBoxUsePOP"_s));
    Type(pop, u"1110"_s);
    Click(Box(u"CheckBoxPOPSSL"_s));
    EXPECT_EQ(pop->text(), u"995"_s);
    Type(pop, u"1995"_s);
    Click(Button(u"ButtonPOPDefault"_s));
    EXPECT_EQ(pop->text(), u"995"_s);
    Click(Box(u"CheckBoxPOPSSL"_s));
    EXPECT_EQ(pop->text(), u"110"_s);
    Type(pop, u"7"_s);
    Click(Button(u"ButtonPOPDefault"_s));
    EXPECT_EQ(pop->text(), u"110"_s);
    EXPECT_EQ(smtp->text(), u"465"_s); // each box minds its own port
}

TEST_F(AddSenderTest, LoadingKeepsStoredPortsAndSkipsGroupsThatAreOff)
{
    ShowActive();
    SenderAccount a = SampleAccount(); // SSL on, ports 587 and 1995
    form.ResetEditor();
    form.LoadAccount(a);
    EXPECT_TRUE(Box(u"CheckBoxSMTPSSL"_s)->isChecked());
    EXPECT_EQ(Edit(u"EditSMTPPort"_s)->text(), u"587"_s);
    EXPECT_TRUE(Box(u"CheckBoxPOPSSL"_s)->isChecked());
    EXPECT_EQ(Edit(u"EditPOPPort"_s)->text(), u"1995"_s);
    EXPECT_EQ(Edit(u"EditConfName"_s)->text(), u"営業部"_s);
    EXPECT_EQ(Edit(u"EditSenderName"_s)->text(), u"山田 太郎"_s);
    EXPECT_EQ(Edit(u"EditPOPPass"_s)->text(), u"p@ss,1"_s);
    EXPECT_EQ(Edit(u"EditSMTPPass"_s)->text(), u"秘密"_s);
    for (const QString &name : POPGroup + AuthGroup)
        EXPECT_TRUE(Widget(name)->isEnabled()) << name.toStdString();
    EXPECT_EQ(form.Account(), a);

    // Groups that are off are not loaded: the reset values stay.
    a.UsePOP = false;
    a.SMTPAuth = false;
    form.ResetEditor();
    form.LoadAccount(a);
    EXPECT_FALSE(Box(u"CheckBoxUsePOP"_s)->isChecked());
    EXPECT_FALSE(Box(u"CheckBoxPOPSSL"_s)->isChecked());
    EXPECT_EQ(Edit(u"EditPOPAddress"_s)->text(), QString());
    EXPECT_EQ(Edit(u"EditPOPPort"_s)->text(), u"110"_s);
    EXPECT_EQ(Edit(u"EditPOPPass"_s)->text(), QString());
    EXPECT_EQ(Edit(u"EditSMTPAccount"_s)->text(), QString());
    for (const QString &name : POPGroup + AuthGroup)
        EXPECT_FALSE(Widget(name)->isEnabled()) << name.toStdString();
    EXPECT_EQ(Edit(u"EditSMTPPort"_s)->text(), u"587"_s);
}

TEST_F(AddSenderTest, OkRefusesIncompletePopFieldsOnlyWhenPopIsTicked)
{
    const QStringList popFields = {u"EditPOPAddress"_s, u"EditPOPPort"_s, u"EditPOPAccount"_s,
                                   u"EditPOPPass"_s};
    bool stayedOpen = true;
    const int result = Exec([&] {
        Click(Box(u"CheckBoxUsePOP"_s));
        for (const QString &empty : popFields) {
            for (const QString &name : popFields)
                Type(Edit(name), name == empty ? QString() : u"x"_s);
            dialogs.Clear();
            Click(Button(u"ButtonOK"_s));
            EXPECT_EQ(dialogs.Texts(), QStringList{PopMessage}) << empty.toStdString();
            if (!dialogs.shown.empty()) {
                EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Message);
            }
            stayedOpen = stayedOpen && form.isVisible();
        }
        // Unticked, the same empty fields are no obstacle.
        Type(Edit(u"EditPOPPass"_s), QString());
        Click(Box(u"CheckBoxUsePOP"_s));
        Type(Edit(u"EditConfName"_s), u"main"_s);
        dialogs.Clear();
        Click(Button(u"ButtonOK"_s));
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(dialogs.Texts().isEmpty());
}

TEST_F(AddSenderTest, OkWithCompletePopFieldsClosesAndWithEverythingEmptyAsksForAName)
{
    int result = Exec([&] {
        Type(Edit(u"EditConfName"_s), u"main"_s);
        Click(Box(u"CheckBoxUsePOP"_s));
        for (const char *name : {"EditPOPAddress", "EditPOPAccount", "EditPOPPass"})
            Type(Edit(QString::fromLatin1(name)), u"v"_s);
        Click(Button(u"ButtonOK"_s));
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(dialogs.Texts().isEmpty());

    // Every field empty: an account without a name could not be listed.
    form.ResetEditor();
    bool stayedOpen = false;
    result = Exec([&] {
        for (const QString &name : AllEdits)
            Type(Edit(name), QString());
        Click(Button(u"ButtonOK"_s));
        stayedOpen = form.isVisible();
        Click(Button(u"ButtonCancel"_s));
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(dialogs.Texts(), QStringList{u"この設定の名前を入力してください"_s});
}

// The ports that can be used: a number from 1 to 65535, leading zeros
// allowed; the POP port only counts while POP before SMTP is ticked, since
// otherwise it is neither stored nor used.
TEST_F(AddSenderTest, OkAcceptsPortsFromOneTo65535AndLooksAtThePopPortOnlyWhenTicked)
{
    for (const QString &port : {u"1"_s, u"65535"_s, u"00025"_s}) {
        SCOPED_TRACE(port.toStdString());
        form.ResetEditor();
        const int result = Exec([&] {
            Type(Edit(u"EditConfName"_s), u"main"_s);
            Type(Edit(u"EditSMTPPort"_s), port);
            Click(Box(u"CheckBoxUsePOP"_s));
            for (const char *name : {"EditPOPAddress", "EditPOPAccount", "EditPOPPass"})
                Type(Edit(QString::fromLatin1(name)), u"v"_s);
            Type(Edit(u"EditPOPPort"_s), port);
            Click(Button(u"ButtonOK"_s));
        });
        EXPECT_EQ(result, QDialog::Accepted);
        EXPECT_EQ(form.Account().SMTPPort, port.toStdString());
        EXPECT_EQ(form.Account().POPPort, port.toStdString());
    }
    form.ResetEditor();
    const int result = Exec([&] {
        Type(Edit(u"EditConfName"_s), u"main"_s);
        Click(Box(u"CheckBoxUsePOP"_s));
        Type(Edit(u"EditPOPPort"_s), u"ab99999"_s);
        Click(Box(u"CheckBoxUsePOP"_s));
        Click(Button(u"ButtonOK"_s));
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_FALSE(form.Account().UsePOP);
    EXPECT_TRUE(dialogs.Texts().isEmpty());
}

TEST_F(AddSenderTest, OkRefusesSlashAndCommaInTheName)
{
    QStringList refused;
    const int result = Exec([&] {
        for (const QString &name : {u"本社/支店"_s, u"a,b"_s, u"/"_s}) {
            Type(Edit(u"EditConfName"_s), name);
            dialogs.Clear();
            Click(Button(u"ButtonOK"_s));
            if (dialogs.Texts() == QStringList{NameMessage} && form.isVisible())
                refused << name;
        }
        Type(Edit(u"EditConfName"_s), u"本社／支店，大阪"_s); // full-width forms are fine
        Click(Button(u"ButtonOK"_s));
    });
    EXPECT_EQ(refused, (QStringList{u"本社/支店"_s, u"a,b"_s, u"/"_s}));
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(form.Account().ConfName, S("本社／支店，大阪"));
}

TEST_F(AddSenderTest, OkRefusesCharactersShiftJisCannotHold)
{
    bool stayedOpen = false;
    const int result = Exec([&] {
        Type(Edit(u"EditSenderName"_s), u"山田😀"_s);
        Click(Button(u"ButtonOK"_s));
        stayedOpen = form.isVisible();
        Click(Button(u"ButtonCancel"_s));
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(result, QDialog::Rejected);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[0].text.contains(u"😀"_s)) << dialogs.shown[0].text.toStdString();
}

TEST_F(AddSenderTest, EscapeCancels)
{
    const int result = Exec([&] {
        Type(Edit(u"EditConfName"_s), u"x"_s);
        QTest::keyClick(&form, Qt::Key_Escape);
    });
    EXPECT_EQ(result, QDialog::Rejected);
}

// The help texts, line by line.
QString Lines(const QStringList &lines)
{
    return lines.join(u'\n');
}
const QString AskIfUnsure = u"この項目に何を入れればよいかわからない場合、"_s;
const QString AskProvider =
    u"お使いのメールアドレスのプロバイダ、またはサーバー管理者へお尋ね下さい。"_s;

const QString HelpSMTPAddress =
    Lines({u"■SMTPサーバーのアドレス"_s, u""_s, u"送信に使用するSMTPサーバーのアドレスです。"_s,
           u"「SMTPサーバー」以外に「送信サーバー」等とよばれる場合もあります。"_s, u""_s,
           AskIfUnsure, AskProvider});

const std::vector<std::pair<QString, QString>> EditHelp = {
    {u"EditConfName"_s, Lines({u"■この設定の名前"_s, u""_s, u"送信設定を識別するための名前です。"_s,
                               u""_s, u"あとで見たときにわかりやすい名前をつけてください。"_s})},
    {u"EditSMTPAddress"_s, HelpSMTPAddress},
    {u"EditSMTPPort"_s,
     Lines({u"■SMTP接続に使うポート番号"_s, u""_s, u"SMTP接続をする際に使用するポート番号です。"_s,
            u""_s, u"「25」が標準とされています。（SSL接続時は「465」）"_s, AskIfUnsure,
            AskProvider})},
    {u"EditFromAddress"_s,
     Lines({u"■送信に使用するメールアドレス"_s, u""_s, u"送信に使用するメールアドレスです。"_s,
            u"ここに入力したアドレスが送信元として"_s, u"送り先に知らされます。"_s})},
    {u"EditSenderName"_s, Lines({u"■送信者名"_s, u""_s, u"メールアドレスとともに、"_s,
                                 u"ここに入力した内容が送り先に知らされます。"_s,
                                 u"（※送り先の環境によっては表示されません）"_s})},
    {u"EditReturnAddress"_s,
     Lines(
         {u"■返信されたメールを受信するメールアドレス"_s, u""_s,
          u"送信したメールに対して、受信側で返信をした場合、"_s,
          u"ここに入力したメールアドレスに返信されます。"_s, u""_s,
          u"未入力の場合は「送信に使用するメールアドレス」が使用されます。"_s,
          u"（※送り先の環境によっては「送信に使用するメールアドレス」に返信される場合があります。）"_s})},
    {u"EditPOPAddress"_s,
     Lines(
         {u"■POP3サーバーのアドレス"_s, u""_s,
          u"POP Before SMTP認証に使用するPOPサーバーのアドレスです。"_s,
          u"「POP3サーバー」以外に、「POPサーバー」・「受信サーバー」等とよばれる場合もあります。"_s,
          u""_s, AskIfUnsure, AskProvider})},
    {u"EditPOPPort"_s,
     Lines({u"■POP接続に使うポート番号"_s, u""_s, u"POP接続をする際に使用するポート番号です。"_s,
            u""_s, u"「110」が標準とされています。（SSL接続時は「995」）"_s, AskIfUnsure,
            AskProvider})},
    {u"EditPOPAccount"_s,
     Lines({u"■POP3のアカウント"_s, u""_s, u"POP Before SMTP認証に使用するアカウントです。"_s,
            u"「アカウント」以外に、「ID」・「ユーザー名」等とよばれる場合もあります。"_s, u""_s,
            AskIfUnsure, AskProvider})},
    {u"EditPOPPass"_s,
     Lines({u"■POP3のパスワード"_s, u""_s, u"POP Before SMTP認証に使用するパスワードです"_s, u""_s,
            AskIfUnsure, AskProvider})},
    {u"EditSMTPAccount"_s,
     Lines({u"■SMTPのアカウント"_s, u""_s, u"SMTP認証に使用するアカウントです。"_s,
            u"「アカウント」以外に、「ID」・「ユーザー名」等とよばれる場合もあります。"_s, u""_s,
            AskIfUnsure, AskProvider})},
    {u"EditSMTPPass"_s, Lines({u"■SMTPのパスワード"_s, u""_s, u"SMTP認証に使用するパスワードです"_s,
                               u""_s, AskIfUnsure, AskProvider})},
};

const QString HelpSSL = Lines(
    {u"■SSL接続"_s, u""_s, u"サーバーへの接続の際にSSLを使用して接続を行います。"_s,
     u"お使いのサーバーによってはSSLで接続する必要があります。"_s, u""_s,
     u"SSL接続が必要であるかわからない場合はプロバイダ、またはサーバー管理者へお尋ね下さい。"_s});
const QStringList AuthLines = {
    u""_s,
    u"送信に使うメールサーバーによっては、送信時に認証が必要な場合があります。"_s,
    u"お使いのメールアドレスでの送信の際にこの形式の認証がある場合はこの項目にチェックを入れ、"_s,
    u"必要な項目に設定を入力してください。"_s,
    u""_s,
    u"この認証が必要であるかわからない場合はプロバイダ、またはサーバー管理者へお尋ね下さい。"_s};
const QString HelpSMTPAuth = Lines(QStringList{u"■SMTP認証が必要"_s} + AuthLines);
const QString HelpUsePOP = Lines(QStringList{u"■POP Before SMTPによる認証が必要"_s} + AuthLines);

TEST_F(AddSenderTest, OpensInTheNameFieldWithItsHelp)
{
    QString first;
    QWidget *focused = nullptr;
    for (int opening = 0; opening < 2; ++opening) {
        form.ResetEditor();
        const int result = Exec([&] {
            EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
            first = Help();
            focused = QApplication::focusWidget();
            QTest::mouseClick(Edit(u"EditSMTPAddress"_s), Qt::LeftButton);
            EXPECT_EQ(Help(), HelpSMTPAddress);
            Click(Button(u"ButtonCancel"_s));
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_EQ(focused, Edit(u"EditConfName"_s)) << "opening " << opening;
        EXPECT_EQ(first, EditHelp[0].second) << "opening " << opening;
    }
}

TEST_F(AddSenderTest, EnteringEachEditShowsItsHelp)
{
    ShowActive();
    Click(Box(u"CheckBoxUsePOP"_s));
    Click(Box(u"CheckBoxSMTPAuth"_s));
    // By mouse, in reverse order so that every click moves the focus.
    for (auto it = EditHelp.rbegin(); it != EditHelp.rend(); ++it) {
        QTest::mouseClick(Edit(it->first), Qt::LeftButton);
        EXPECT_EQ(Help(), it->second) << it->first.toStdString();
    }
    // By keyboard, with Tab from the first edit.
    QTest::mouseClick(Edit(u"EditConfName"_s), Qt::LeftButton);
    EXPECT_EQ(Help(), EditHelp[0].second);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Edit(u"EditSMTPAddress"_s));
    EXPECT_EQ(Help(), HelpSMTPAddress);
}

TEST_F(AddSenderTest, HoveringCheckBoxesShowsTheirHelpEvenWhenDisabled)
{
    ShowActive();
    const std::pair<QString, QString> boxes[] = {{u"CheckBoxSMTPAuth"_s, HelpSMTPAuth},
                                                 {u"CheckBoxSMTPSSL"_s, HelpSSL},
                                                 {u"CheckBoxUsePOP"_s, HelpUsePOP},
                                                 {u"CheckBoxPOPSSL"_s, HelpSSL}};
    ASSERT_FALSE(Box(u"CheckBoxPOPSSL"_s)->isEnabled());
    for (const auto &[name, text] : boxes) {
        QTest::mouseClick(Edit(u"EditConfName"_s), Qt::LeftButton); // another text first
        QTest::mouseClick(Edit(u"EditSenderName"_s), Qt::LeftButton);
        ASSERT_EQ(Help(), EditHelp[4].second);
        QTest::mouseMove(Box(name), QPoint(6, Box(name)->height() / 2));
        for (int waited = 0; Help() != text && waited < 1000; waited += 10)
            QTest::qWait(10);
        EXPECT_EQ(Help(), text) << name.toStdString();
        QTest::mouseMove(&form, QPoint(1, 1));
    }
    // Hovering leaves the ticks alone.
    for (const auto &[name, text] : boxes)
        EXPECT_FALSE(Box(name)->isChecked()) << name.toStdString();
}

} // namespace
} // namespace vostrel::test
