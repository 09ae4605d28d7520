#include "senders/UnitAddSender.h"

#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"

#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace vostrel {

namespace {

const QString StandardSMTPPort = u"25"_s;
const QString StandardSMTPSSLPort = u"465"_s;
const QString StandardPOPPort = u"110"_s;
const QString StandardPOPSSLPort = u"995"_s;

// The closing lines that most help entries share.
const QString AskIfUnsure = u"この項目に何を入れればよいかわからない場合、"_s;
const QString AskProvider =
    u"お使いのメールアドレスのプロバイダ、またはサーバー管理者へお尋ね下さい。"_s;

QStringList HelpConfName()
{
    return {u"■この設定の名前"_s, QString(), u"送信設定を識別するための名前です。"_s, QString(),
            u"あとで見たときにわかりやすい名前をつけてください。"_s};
}

QStringList HelpSMTPAddress()
{
    return {u"■SMTPサーバーのアドレス"_s,
            QString(),
            u"送信に使用するSMTPサーバーのアドレスです。"_s,
            u"「SMTPサーバー」以外に「送信サーバー」等とよばれる場合もあります。"_s,
            QString(),
            AskIfUnsure,
            AskProvider};
}

QStringList HelpSMTPPort()
{
    return {u"■SMTP接続に使うポート番号"_s,
            QString(),
            u"SMTP接続をする際に使用するポート番号です。"_s,
            QString(),
            u"「25」が標準とされています。（SSL接続時は「465」）"_s,
            AskIfUnsure,
            AskProvider};
}

QStringList HelpFromAddress()
{
    return {u"■送信に使用するメールアドレス"_s, QString(), u"送信に使用するメールアドレスです。"_s,
            u"ここに入力したアドレスが送信元として"_s, u"送り先に知らされます。"_s};
}

QStringList HelpSenderName()
{
    return {u"■送信者名"_s, QString(), u"メールアドレスとともに、"_s,
            u"ここに入力した内容が送り先に知らされます。"_s,
            u"（※送り先の環境によっては表示されません）"_s};
}

QStringList HelpReturnAddress()
{
    return {
        u"■返信されたメールを受信するメールアドレス"_s,
        QString(),
        u"送信したメールに対して、受信側で返信をした場合、"_s,
        u"ここに入力したメールアドレスに返信されます。"_s,
        QString(),
        u"未入力の場合は「送信に使用するメールアドレス」が使用されます。"_s,
        u"（※送り先の環境によっては「送信に使用するメールアドレス」に返信される場合があります。）"_s};
}

QStringList HelpPOPAddress()
{
    return {
        u"■POP3サーバーのアドレス"_s,
        QString(),
        u"POP Before SMTP認証に使用するPOPサーバーのアドレスです。"_s,
        u"「POP3サーバー」以外に、「POPサーバー」・「受信サーバー」等とよばれる場合もあります。"_s,
        QString(),
        AskIfUnsure,
        AskProvider};
}

QStringList HelpPOPPort()
{
    return {u"■POP接続に使うポート番号"_s,
            QString(),
            u"POP接続をする際に使用するポート番号です。"_s,
            QString(),
            u"「110」が標準とされています。（SSL接続時は「995」）"_s,
            AskIfUnsure,
            AskProvider};
}

QStringList HelpPOPAccount()
{
    return {u"■POP3のアカウント"_s,
            QString(),
            u"POP Before SMTP認証に使用するアカウントです。"_s,
            u"「アカウント」以外に、「ID」・「ユーザー名」等とよばれる場合もあります。"_s,
            QString(),
            AskIfUnsure,
            AskProvider};
}

QStringList HelpPOPPass()
{
    // The password lines end without "。".
    return {u"■POP3のパスワード"_s,
            QString(),
            u"POP Before SMTP認証に使用するパスワードです"_s,
            QString(),
            AskIfUnsure,
            AskProvider};
}

QStringList HelpSMTPAccount()
{
    return {u"■SMTPのアカウント"_s,
            QString(),
            u"SMTP認証に使用するアカウントです。"_s,
            u"「アカウント」以外に、「ID」・「ユーザー名」等とよばれる場合もあります。"_s,
            QString(),
            AskIfUnsure,
            AskProvider};
}

QStringList HelpSMTPPass()
{
    return {u"■SMTPのパスワード"_s,
            QString(),
            u"SMTP認証に使用するパスワードです"_s,
            QString(),
            AskIfUnsure,
            AskProvider};
}

QStringList HelpSSL()
{
    return {
        u"■SSL接続"_s,
        QString(),
        u"サーバーへの接続の際にSSLを使用して接続を行います。"_s,
        u"お使いのサーバーによってはSSLで接続する必要があります。"_s,
        QString(),
        u"SSL接続が必要であるかわからない場合はプロバイダ、またはサーバー管理者へお尋ね下さい。"_s};
}

// The explanation of both authentication boxes, after their title line.
QStringList AuthExplanation()
{
    return {
        QString(),
        u"送信に使うメールサーバーによっては、送信時に認証が必要な場合があります。"_s,
        u"お使いのメールアドレスでの送信の際にこの形式の認証がある場合はこの項目にチェックを入れ、"_s,
        u"必要な項目に設定を入力してください。"_s,
        QString(),
        u"この認証が必要であるかわからない場合はプロバイダ、またはサーバー管理者へお尋ね下さい。"_s};
}

QStringList HelpSMTPAuth()
{
    return QStringList{u"■SMTP認証が必要"_s} + AuthExplanation();
}

QStringList HelpUsePOP()
{
    return QStringList{u"■POP Before SMTPによる認証が必要"_s} + AuthExplanation();
}

// An edit for digits or passwords: no input method.
QLineEdit *NewPlainEdit(QWidget *parent, const QString &name)
{
    QLineEdit *edit = NewLineEdit(parent, name);
    edit->setAttribute(Qt::WA_InputMethodEnabled, false);
    edit->setInputMethodHints(Qt::ImhPreferLatin | Qt::ImhNoPredictiveText);
    return edit;
}

} // namespace

TFormAddSender::TFormAddSender(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormAddSender"_s);
    setWindowTitle(u"接続設定の新規登録"_s);
    BuildControls();
    ResetEditor();
    ShowHelp(HelpSMTPAddress());
}

void TFormAddSender::BuildControls()
{
    auto *grid = new QGridLayout;
    int row = 0;
    // One labelled edit per row; an optional widget beside the edit.
    auto addRow = [&](QLabel *label, QWidget *field, QWidget *besideA = nullptr,
                      QWidget *besideB = nullptr) {
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1, 1, besideA ? 1 : 3);
        if (besideA)
            grid->addWidget(besideA, row, 2);
        if (besideB)
            grid->addWidget(besideB, row, 3);
        ++row;
    };

    EditConfName = NewLineEdit(this, u"EditConfName"_s);
    addRow(NewLabel(this, u"LabelConfName"_s, u"この設定の名前"_s, EditConfName), EditConfName);

    EditSMTPAddress = NewLineEdit(this, u"EditSMTPAddress"_s);
    addRow(NewLabel(this, u"LabelSMTPAddress"_s, u"SMTPサーバーのアドレス"_s, EditSMTPAddress),
           EditSMTPAddress);

    EditSMTPPort = NewPlainEdit(this, u"EditSMTPPort"_s);
    ButtonSMTPDefault = NewPushButton(this, u"ButtonSMTPDefault"_s, u"標準"_s, false);
    CheckBoxSMTPSSL = NewCheckBox(this, u"CheckBoxSMTPSSL"_s, u"SSL接続"_s);
    addRow(NewLabel(this, u"LabelSMTPPort"_s, u"SMTP接続に使うポート番号"_s, EditSMTPPort),
           EditSMTPPort, ButtonSMTPDefault, CheckBoxSMTPSSL);

    EditFromAddress = NewLineEdit(this, u"EditFromAddress"_s);
    addRow(
        NewLabel(this, u"LabelFromAddress"_s, u"送信に使用するメールアドレス"_s, EditFromAddress),
        EditFromAddress);

    EditSenderName = NewLineEdit(this, u"EditSenderName"_s);
    addRow(NewLabel(this, u"LabelSenderName"_s, u"送信者名"_s, EditSenderName), EditSenderName);

    EditReturnAddress = NewLineEdit(this, u"EditReturnAddress"_s);
    addRow(NewLabel(this, u"LabelReturnAddress"_s, u"返信されたメールを受信するメールアドレス"_s,
                    EditReturnAddress),
           EditReturnAddress);

    // Kept for the layout of the record's history; never shown, holds no data.
    EditErrorAddress = NewLineEdit(this, u"EditErrorAddress"_s);
    QLabel *labelError = NewLabel(this, u"LabelErrorAddress"_s,
                                  u"エラーメールを受信するメールアドレス"_s, EditErrorAddress);
    addRow(labelError, EditErrorAddress);
    labelError->hide();
    EditErrorAddress->hide();

    CheckBoxUsePOP = NewCheckBox(this, u"CheckBoxUsePOP"_s, u"POP Before SMTPによる認証が必要"_s);
    CheckBoxPOPSSL = NewCheckBox(this, u"CheckBoxPOPSSL"_s, u"SSL接続"_s);
    grid->addWidget(CheckBoxUsePOP, row, 0, 1, 2);
    grid->addWidget(CheckBoxPOPSSL, row, 3);
    ++row;

    EditPOPAddress = NewLineEdit(this, u"EditPOPAddress"_s);
    LabelPOPAddress =
        NewLabel(this, u"LabelPOPAddress"_s, u"POP3サーバーのアドレス"_s, EditPOPAddress);
    addRow(LabelPOPAddress, EditPOPAddress);

    EditPOPPort = NewPlainEdit(this, u"EditPOPPort"_s);
    ButtonPOPDefault = NewPushButton(this, u"ButtonPOPDefault"_s, u"標準"_s, false);
    LabelPOPPort = NewLabel(this, u"LabelPOPPort"_s, u"POP接続に使うポート番号"_s, EditPOPPort);
    addRow(LabelPOPPort, EditPOPPort, ButtonPOPDefault);

    EditPOPAccount = NewLineEdit(this, u"EditPOPAccount"_s);
    LabelPOPAccount = NewLabel(this, u"LabelPOPAccount"_s, u"POP3のアカウント"_s, EditPOPAccount);
    addRow(LabelPOPAccount, EditPOPAccount);

    EditPOPPass = NewPlainEdit(this, u"EditPOPPass"_s);
    EditPOPPass->setEchoMode(QLineEdit::Password);
    LabelPOPPass = NewLabel(this, u"LabelPOPPass"_s, u"POP3のパスワード"_s, EditPOPPass);
    addRow(LabelPOPPass, EditPOPPass);

    CheckBoxSMTPAuth = NewCheckBox(this, u"CheckBoxSMTPAuth"_s, u"SMTP認証が必要"_s);
    grid->addWidget(CheckBoxSMTPAuth, row, 0, 1, 2);
    ++row;

    EditSMTPAccount = NewLineEdit(this, u"EditSMTPAccount"_s);
    LabelSMTPAccount =
        NewLabel(this, u"LabelSMTPAccount"_s, u"SMTPのアカウント"_s, EditSMTPAccount);
    addRow(LabelSMTPAccount, EditSMTPAccount);

    EditSMTPPass = NewPlainEdit(this, u"EditSMTPPass"_s);
    EditSMTPPass->setEchoMode(QLineEdit::Password);
    LabelSMTPPass = NewLabel(this, u"LabelSMTPPass"_s, u"SMTPのパスワード"_s, EditSMTPPass);
    addRow(LabelSMTPPass, EditSMTPPass);

    ButtonOK = NewPushButton(this, u"ButtonOK"_s, u"登録する"_s, false);
    ButtonOK->setDefault(true);
    ButtonCancel = NewPushButton(this, u"ButtonCancel"_s, u"キャンセル"_s, false);

    Mm_Exp = new QPlainTextEdit(this);
    Mm_Exp->setObjectName(u"Mm_Exp"_s);
    Mm_Exp->setReadOnly(true);
    Mm_Exp->setFocusPolicy(Qt::NoFocus);
    Mm_Exp->setMinimumHeight(8 * Mm_Exp->fontMetrics().lineSpacing());

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(ButtonRow({ButtonOK, ButtonCancel}));
    layout->addWidget(Mm_Exp);

    const std::pair<QLineEdit *, QStringList> edits[] = {
        {EditConfName, HelpConfName()},       {EditSMTPAddress, HelpSMTPAddress()},
        {EditSMTPPort, HelpSMTPPort()},       {EditFromAddress, HelpFromAddress()},
        {EditSenderName, HelpSenderName()},   {EditReturnAddress, HelpReturnAddress()},
        {EditPOPAddress, HelpPOPAddress()},   {EditPOPPort, HelpPOPPort()},
        {EditPOPAccount, HelpPOPAccount()},   {EditPOPPass, HelpPOPPass()},
        {EditSMTPAccount, HelpSMTPAccount()}, {EditSMTPPass, HelpSMTPPass()}};
    for (const auto &[edit, lines] : edits) {
        help_.insert(edit, lines);
        edit->installEventFilter(this);
    }
    const std::pair<QCheckBox *, QStringList> boxes[] = {{CheckBoxSMTPSSL, HelpSSL()},
                                                         {CheckBoxPOPSSL, HelpSSL()},
                                                         {CheckBoxSMTPAuth, HelpSMTPAuth()},
                                                         {CheckBoxUsePOP, HelpUsePOP()}};
    for (const auto &[box, lines] : boxes) {
        help_.insert(box, lines);
        box->installEventFilter(this);
    }

    connect(ButtonOK, &QPushButton::clicked, this, Guarded(this, &TFormAddSender::ButtonOKClick));
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(CheckBoxSMTPSSL, &QCheckBox::toggled, this,
            Guarded(this, &TFormAddSender::CheckBoxSMTPSSLClick));
    connect(CheckBoxPOPSSL, &QCheckBox::toggled, this,
            Guarded(this, &TFormAddSender::CheckBoxPOPSSLClick));
    connect(ButtonSMTPDefault, &QPushButton::clicked, this,
            Guarded(this, &TFormAddSender::ButtonSMTPDefaultClick));
    connect(ButtonPOPDefault, &QPushButton::clicked, this,
            Guarded(this, &TFormAddSender::ButtonPOPDefaultClick));
    connect(CheckBoxUsePOP, &QCheckBox::toggled, this,
            Guarded(this, &TFormAddSender::CheckBoxUsePOPClick));
    connect(CheckBoxSMTPAuth, &QCheckBox::toggled, this,
            Guarded(this, &TFormAddSender::CheckBoxSMTPAuthClick));
}

void TFormAddSender::ResetEditor()
{
    const QScopedValueRollback quiet(settingControls_, true);
    for (QLineEdit *edit :
         {EditConfName, EditSMTPAddress, EditFromAddress, EditSenderName, EditReturnAddress,
          EditPOPAddress, EditPOPAccount, EditPOPPass, EditSMTPAccount, EditSMTPPass})
        edit->clear();
    // The boxes first: unticking an SSL box sets its port as well.
    for (QCheckBox *box : {CheckBoxSMTPSSL, CheckBoxUsePOP, CheckBoxPOPSSL, CheckBoxSMTPAuth})
        box->setChecked(false);
    EditSMTPPort->setText(StandardSMTPPort);
    EditPOPPort->setText(StandardPOPPort);
    SetPOPGroupEnabled(false);
    SetAuthGroupEnabled(false);
}

void TFormAddSender::LoadAccount(const SenderAccount &account)
{
    const QScopedValueRollback quiet(settingControls_, true);
    EditConfName->setText(SjisToQString(account.ConfName));
    EditSMTPAddress->setText(SjisToQString(account.SMTPAddress));
    CheckBoxSMTPSSL->setChecked(account.SMTPSSL);
    EditSMTPPort->setText(SjisToQString(account.SMTPPort));
    EditFromAddress->setText(SjisToQString(account.FromAddress));
    EditSenderName->setText(SjisToQString(account.SenderName));
    EditReturnAddress->setText(SjisToQString(account.ReturnAddress));
    CheckBoxUsePOP->setChecked(account.UsePOP);
    if (account.UsePOP) {
        EditPOPAddress->setText(SjisToQString(account.POPAddress));
        CheckBoxPOPSSL->setChecked(account.POPSSL);
        EditPOPPort->setText(SjisToQString(account.POPPort));
        EditPOPAccount->setText(SjisToQString(account.POPAccount));
        EditPOPPass->setText(SjisToQString(account.POPPass));
    }
    CheckBoxSMTPAuth->setChecked(account.SMTPAuth);
    if (account.SMTPAuth) {
        EditSMTPAccount->setText(SjisToQString(account.SMTPAccount));
        EditSMTPPass->setText(SjisToQString(account.SMTPPass));
    }
}

SenderAccount TFormAddSender::Account() const
{
    SenderAccount account;
    account.ConfName = QStringToSjis(EditConfName->text());
    account.SMTPAddress = QStringToSjis(EditSMTPAddress->text());
    account.SMTPPort = QStringToSjis(EditSMTPPort->text());
    account.SMTPSSL = CheckBoxSMTPSSL->isChecked();
    account.FromAddress = QStringToSjis(EditFromAddress->text());
    account.SenderName = QStringToSjis(EditSenderName->text());
    account.ReturnAddress = QStringToSjis(EditReturnAddress->text());
    account.UsePOP = CheckBoxUsePOP->isChecked();
    account.POPAddress = QStringToSjis(EditPOPAddress->text());
    account.POPPort = QStringToSjis(EditPOPPort->text());
    account.POPSSL = CheckBoxPOPSSL->isChecked();
    account.POPAccount = QStringToSjis(EditPOPAccount->text());
    account.POPPass = QStringToSjis(EditPOPPass->text());
    account.SMTPAuth = CheckBoxSMTPAuth->isChecked();
    account.SMTPAccount = QStringToSjis(EditSMTPAccount->text());
    account.SMTPPass = QStringToSjis(EditSMTPPass->text());
    return account;
}

void TFormAddSender::SetCaptions(const QString &caption, const QString &confirmCaption)
{
    setWindowTitle(caption);
    ButtonOK->setText(confirmCaption);
}

QString TFormAddSender::UnusableNameMessage(const std::string &name)
{
    if (IsUsableSenderAccountName(name))
        return {};
    if (name.empty())
        return u"この設定の名前を入力してください"_s;
    if (name == "." || name == "..")
        return u"この設定の名前に「.」と「..」は使用できません"_s;
    return u"この設定の名前に「/」と「,」は使用できません"_s;
}

QString TFormAddSender::InvalidPortMessage(bool pop)
{
    return (pop ? u"POP"_s : u"SMTP"_s) +
           u"接続に使うポート番号には、1から65535までの数字を入力してください"_s;
}

void TFormAddSender::ButtonOKClick()
{
    if (CheckBoxUsePOP->isChecked() &&
        (EditPOPAddress->text().isEmpty() || EditPOPPort->text().isEmpty() ||
         EditPOPAccount->text().isEmpty() || EditPOPPass->text().isEmpty())) {
        ShowMessage(this, u"POPサーバーの入力欄に不備があります。再確認してください"_s);
        return;
    }
    // The name becomes a file name and an entry of comma-separated lists.
    const SenderAccount account = Account(); // refuses characters Shift_JIS cannot hold
    auto refuse = [this](const QString &message, QLineEdit *field) {
        ShowMessage(this, message);
        field->setFocus(Qt::OtherFocusReason);
    };
    if (const QString message = UnusableNameMessage(account.ConfName); !message.isEmpty())
        return refuse(message, EditConfName);
    // Every mail of an account with a port that is no port could only fail.
    if (!IsValidPortText(account.SMTPPort))
        return refuse(InvalidPortMessage(false), EditSMTPPort);
    if (account.UsePOP && !IsValidPortText(account.POPPort))
        return refuse(InvalidPortMessage(true), EditPOPPort);
    accept();
}

void TFormAddSender::CheckBoxSMTPSSLClick(bool checked)
{
    EditSMTPPort->setText(checked ? StandardSMTPSSLPort : StandardSMTPPort);
}

void TFormAddSender::CheckBoxPOPSSLClick(bool checked)
{
    EditPOPPort->setText(checked ? StandardPOPSSLPort : StandardPOPPort);
}

void TFormAddSender::ButtonSMTPDefaultClick()
{
    CheckBoxSMTPSSLClick(CheckBoxSMTPSSL->isChecked());
}

void TFormAddSender::ButtonPOPDefaultClick()
{
    CheckBoxPOPSSLClick(CheckBoxPOPSSL->isChecked());
}

void TFormAddSender::CheckBoxUsePOPClick(bool checked)
{
    SetPOPGroupEnabled(checked);
}

void TFormAddSender::CheckBoxSMTPAuthClick(bool checked)
{
    SetAuthGroupEnabled(checked);
}

void TFormAddSender::SetPOPGroupEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             CheckBoxPOPSSL, EditPOPAddress, EditPOPPort, ButtonPOPDefault, EditPOPAccount,
             EditPOPPass, LabelPOPAddress, LabelPOPPort, LabelPOPAccount, LabelPOPPass})
        w->setEnabled(enabled);
}

void TFormAddSender::SetAuthGroupEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{EditSMTPAccount, EditSMTPPass,
                                                       LabelSMTPAccount, LabelSMTPPass})
        w->setEnabled(enabled);
}

void TFormAddSender::ShowHelp(const QStringList &lines)
{
    Mm_Exp->setPlainText(lines.join(u'\n'));
}

bool TFormAddSender::eventFilter(QObject *watched, QEvent *event)
{
    const auto entry = help_.constFind(watched);
    if (entry != help_.constEnd() && !settingControls_) {
        if (event->type() == QEvent::FocusIn) {
            // Entering a field counts; the window merely becoming active
            // again (after a message box, say) does not.
            if (static_cast<QFocusEvent *>(event)->reason() != Qt::ActiveWindowFocusReason)
                ShowHelp(*entry);
        } else if (event->type() == QEvent::Enter && qobject_cast<QCheckBox *>(watched)) {
            ShowHelp(*entry);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormAddSender::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The name is entered first: the editor opens in it, with its help shown.
    EditConfName->setFocus(Qt::OtherFocusReason);
    ShowHelp(help_.value(EditConfName));
}

} // namespace vostrel
