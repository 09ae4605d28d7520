#include "senders/UnitSenderConfig.h"

#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/ReportList.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "senders/SenderAccount.h"
#include "senders/UnitAddSender.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace vostrel {

namespace {

// The row's account name as stored (Shift_JIS bytes), so that a name goes
// back to its file unchanged whatever its Unicode form.
constexpr int NameRole = Qt::UserRole;

const QString NoPOPText = u"POP Before SMTPによる認証を行わない"_s;
const QString POPText = u"POP Before SMTPによる認証を行う"_s;
const QString NoAuthText = u"SMTP認証を行わない"_s;
const QString AuthText = u"SMTP認証を行う"_s;

QLineEdit *NewDetailEdit(QWidget *parent, const QString &name)
{
    QLineEdit *edit = NewLineEdit(parent, name);
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, QColor(0xE0, 0xE0, 0xE0));
    edit->setPalette(palette);
    return edit;
}

} // namespace

TFormSenderConfig::TFormSenderConfig(TFormAddSender &editor, QWidget *parent)
    : QDialog(parent)
    , editor_(editor)
{
    setObjectName(u"TFormSenderConfig"_s);
    setWindowTitle(u"接続設定"_s);
    BuildControls();
    ClearDetailPanel();
}

void TFormSenderConfig::BuildControls()
{
    PNGBtnAddSender = NewImageButton(this, u"PNGBtnAddSender"_s, u"list-add"_s, QStyle::SP_FileIcon,
                                     u"新規登録"_s, u"送信者を追加します"_s);
    PNGBtnEditSender = NewImageButton(this, u"PNGBtnEditSender"_s, u"document-edit"_s,
                                      QStyle::SP_FileDialogDetailedView, u"編集"_s,
                                      u"選択した送信者を編集します"_s);
    PNGBtnDeleteSender =
        NewImageButton(this, u"PNGBtnDeleteSender"_s, u"edit-delete"_s, QStyle::SP_TrashIcon,
                       u"削除"_s, u"選択した送信者を削除します"_s);
    PNGBtnClose = NewImageButton(this, u"PNGBtnClose"_s, u"window-close"_s,
                                 QStyle::SP_DialogCloseButton, u"閉じる"_s, u"閉じる"_s);
    QHBoxLayout *commands =
        CommandRow({PNGBtnAddSender, PNGBtnEditSender, PNGBtnDeleteSender}, {PNGBtnClose});

    ListViewItemBox = new QTreeWidget(this);
    ListViewItemBox->setObjectName(u"ListViewItemBox"_s);
    SetupReportList(ListViewItemBox, {u"送信者"_s});
    ListViewItemBox->setSortingEnabled(false);
    ListViewItemBox->setMinimumWidth(180);

    auto *panel = new QFrame(this);
    PanelConnectConfig = panel;
    panel->setObjectName(u"PanelConnectConfig"_s);
    panel->setFrameShape(QFrame::StyledPanel);
    auto *grid = new QGridLayout(panel);
    int row = 0;
    auto addRow = [&](QLabel *label, QWidget *field, QWidget *beside = nullptr) {
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1, 1, beside ? 1 : 2);
        if (beside)
            grid->addWidget(beside, row, 2);
        ++row;
    };

    EditConfName = NewDetailEdit(panel, u"EditConfName"_s);
    addRow(NewLabel(panel, u"LabelConfName"_s, u"この設定の名前"_s), EditConfName);
    EditSMTPAddress = NewDetailEdit(panel, u"EditSMTPAddress"_s);
    addRow(NewLabel(panel, u"LabelSMTPAddress"_s, u"SMTPサーバーのアドレス"_s), EditSMTPAddress);
    EditSMTPPort = NewDetailEdit(panel, u"EditSMTPPort"_s);
    LabelSMTPSSL = NewLabel(panel, u"LabelSMTPSSL"_s, u"SSL接続"_s);
    addRow(NewLabel(panel, u"LabelSMTPPort"_s, u"SMTP接続に使うポート番号"_s), EditSMTPPort,
           LabelSMTPSSL);
    EditFromAddress = NewDetailEdit(panel, u"EditFromAddress"_s);
    addRow(NewLabel(panel, u"LabelFromAddress"_s, u"送信に使用するメールアドレス"_s),
           EditFromAddress);
    EditSenderName = NewDetailEdit(panel, u"EditSenderName"_s);
    addRow(NewLabel(panel, u"LabelSenderName"_s, u"送信者名"_s), EditSenderName);
    EditReturnAddress = NewDetailEdit(panel, u"EditReturnAddress"_s);
    addRow(NewLabel(panel, u"LabelReturnAddress"_s, u"返信されたメールを受信するメールアドレス"_s),
           EditReturnAddress);

    // Part of the panel's layout, but never shown and never filled.
    EditErrorAddress = NewDetailEdit(panel, u"EditErrorAddress"_s);
    QLabel *labelError =
        NewLabel(panel, u"LabelErrorAddress"_s, u"エラーメールを受信するメールアドレス"_s);
    addRow(labelError, EditErrorAddress);
    labelError->hide();
    EditErrorAddress->hide();

    LabelUsePOP = NewLabel(panel, u"LabelUsePOP"_s, NoPOPText);
    grid->addWidget(LabelUsePOP, row++, 0, 1, 3);
    EditPOPAddress = NewDetailEdit(panel, u"EditPOPAddress"_s);
    LabelPOPAddress = NewLabel(panel, u"LabelPOPAddress"_s, u"POP3サーバーのアドレス"_s);
    addRow(LabelPOPAddress, EditPOPAddress);
    EditPOPPort = NewDetailEdit(panel, u"EditPOPPort"_s);
    LabelPOPPort = NewLabel(panel, u"LabelPOPPort"_s, u"POP接続に使うポート番号"_s);
    LabelPOPSSL = NewLabel(panel, u"LabelPOPSSL"_s, u"SSL接続"_s);
    addRow(LabelPOPPort, EditPOPPort, LabelPOPSSL);
    EditPOPAccount = NewDetailEdit(panel, u"EditPOPAccount"_s);
    LabelPOPAccount = NewLabel(panel, u"LabelPOPAccount"_s, u"POP3のアカウント"_s);
    addRow(LabelPOPAccount, EditPOPAccount);

    LabelSMTPAuth = NewLabel(panel, u"LabelSMTPAuth"_s, NoAuthText);
    grid->addWidget(LabelSMTPAuth, row++, 0, 1, 3);
    EditSMTPAccount = NewDetailEdit(panel, u"EditSMTPAccount"_s);
    LabelSMTPAccount = NewLabel(panel, u"LabelSMTPAccount"_s, u"SMTPのアカウント"_s);
    addRow(LabelSMTPAccount, EditSMTPAccount);
    grid->setRowStretch(row, 1);

    auto *body = new QHBoxLayout;
    body->addWidget(ListViewItemBox, 1);
    body->addWidget(panel, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(commands);
    layout->addLayout(body);
    resize(760, 460);

    connect(PNGBtnAddSender, &QToolButton::clicked, this,
            Guarded(this, &TFormSenderConfig::PNGBtnAddSenderClick));
    connect(PNGBtnEditSender, &QToolButton::clicked, this,
            Guarded(this, &TFormSenderConfig::PNGBtnEditSenderClick));
    connect(PNGBtnDeleteSender, &QToolButton::clicked, this,
            Guarded(this, &TFormSenderConfig::PNGBtnDeleteSenderClick));
    connect(PNGBtnClose, &QToolButton::clicked, this, &QDialog::accept);
    connect(ListViewItemBox, &QTreeWidget::itemSelectionChanged, this,
            Guarded(this, &TFormSenderConfig::ListViewItemBoxSelectItem));
}

void TFormSenderConfig::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    RunGuarded(this, [this] { FormShow(); });
}

void TFormSenderConfig::FormShow()
{
    ClearDetailPanel();
    ReloadList();
}

void TFormSenderConfig::ClearDetailPanel()
{
    for (QLineEdit *edit : {EditConfName, EditSMTPAddress, EditSMTPPort, EditFromAddress,
                            EditSenderName, EditReturnAddress})
        edit->clear();
    LabelSMTPSSL->hide();

    for (QWidget *w :
         std::initializer_list<QWidget *>{EditPOPAddress, EditPOPPort, EditPOPAccount,
                                          LabelPOPAddress, LabelPOPPort, LabelPOPAccount})
        w->setEnabled(false);
    EditPOPAddress->clear();
    EditPOPPort->clear();
    EditPOPAccount->clear();
    LabelUsePOP->setText(NoPOPText);
    LabelPOPSSL->hide();

    EditSMTPAccount->clear();
    EditSMTPAccount->setEnabled(false);
    LabelSMTPAccount->setEnabled(false);
    LabelSMTPAuth->setText(NoAuthText);
}

void TFormSenderConfig::ReloadList()
{
    {
        const QSignalBlocker block(ListViewItemBox);
        ListViewItemBox->clear();
    }
    ClearDetailPanel();
    for (const std::string &name : ListSenderAccounts()) {
        auto *item = new QTreeWidgetItem(ListViewItemBox);
        item->setText(0, SjisToQString(name));
        item->setData(0, NameRole, QByteArray::fromStdString(name));
    }
}

bool TFormSenderConfig::SelectedName(std::string &name) const
{
    const QList<QTreeWidgetItem *> selected = ListViewItemBox->selectedItems();
    if (selected.isEmpty())
        return false;
    name = selected.first()->data(0, NameRole).toByteArray().toStdString();
    return true;
}

void TFormSenderConfig::ListViewItemBoxSelectItem()
{
    std::string name;
    if (!SelectedName(name))
        return;
    SenderAccount account;
    try {
        account = ReadSenderAccount(SenderAccountPath(name));
    } catch (...) {
        // The panel must not go on showing another account's settings.
        ClearDetailPanel();
        throw;
    }

    EditConfName->setText(SjisToQString(account.ConfName));
    EditSMTPAddress->setText(SjisToQString(account.SMTPAddress));
    EditSMTPPort->setText(SjisToQString(account.SMTPPort));
    LabelSMTPSSL->setVisible(account.SMTPSSL);
    EditFromAddress->setText(SjisToQString(account.FromAddress));
    EditSenderName->setText(SjisToQString(account.SenderName));
    EditReturnAddress->setText(SjisToQString(account.ReturnAddress));

    const bool pop = account.UsePOP;
    LabelUsePOP->setText(pop ? POPText : NoPOPText);
    EditPOPAddress->setText(pop ? SjisToQString(account.POPAddress) : QString());
    EditPOPPort->setText(pop ? SjisToQString(account.POPPort) : QString());
    EditPOPAccount->setText(pop ? SjisToQString(account.POPAccount) : QString());
    for (QWidget *w :
         std::initializer_list<QWidget *>{EditPOPAddress, EditPOPPort, EditPOPAccount,
                                          LabelPOPAddress, LabelPOPPort, LabelPOPAccount})
        w->setEnabled(pop);
    LabelPOPSSL->setVisible(pop && account.POPSSL);

    const bool auth = account.SMTPAuth;
    LabelSMTPAuth->setText(auth ? AuthText : NoAuthText);
    EditSMTPAccount->setText(auth ? SjisToQString(account.SMTPAccount) : QString());
    EditSMTPAccount->setEnabled(auth);
    LabelSMTPAccount->setEnabled(auth);
}

void TFormSenderConfig::PNGBtnAddSenderClick()
{
    editor_.ResetEditor();
    editor_.SetCaptions(u"接続設定の新規登録"_s, u"登録する"_s);
    if (editor_.exec() != QDialog::Accepted) {
        ReloadList();
        return;
    }
    const SenderAccount account = editor_.Account();
    const std::filesystem::path path = SenderAccountPath(account.ConfName);
    if (SenderAccountExists(account.ConfName)) {
        ShowMessage(this, u"既に同名の接続先があるため、追加できません"_s);
        return;
    }
    WriteSenderAccount(path, account);
    ReloadList();
}

void TFormSenderConfig::PNGBtnEditSenderClick()
{
    std::string oldName;
    if (!SelectedName(oldName)) {
        ShowMessage(this, u"編集する送信者を選択してください。"_s);
        return;
    }
    editor_.ResetEditor();
    editor_.LoadAccount(ReadSenderAccount(SenderAccountPath(oldName)));
    editor_.SetCaptions(u"接続設定の編集"_s, u"変更する"_s);
    if (editor_.exec() != QDialog::Accepted) {
        ReloadList();
        return;
    }
    const SenderAccount account = editor_.Account();
    if (account.ConfName != oldName && SenderAccountExists(account.ConfName)) {
        ShowMessage(this, u"既に同名の接続先があります"_s);
        return;
    }
    SaveEditedSenderAccount(oldName, account);
    ReloadList();
}

void TFormSenderConfig::PNGBtnDeleteSenderClick()
{
    std::string name;
    if (!SelectedName(name)) {
        ShowMessage(this, u"削除する送信者を選択してください。"_s);
        return;
    }
    if (!AskYesNo(this, SjisToQString(name) + u" を削除します。\r\nよろしいですか？"_s))
        return;
    if (!DeleteSenderAccount(name)) {
        ShowMessage(this, u"削除できませんでした。"_s);
        return;
    }
    ClearDetailPanel();
    ReloadList();
}

} // namespace vostrel
