#include "core/UnitCreatePass.h"

#include "core/AppState.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/Password.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vostrel {

bool CheckNewPassword(QWidget *parent, bool noPassword, const QString &password,
                      const QString &confirmation)
{
    if (!noPassword) {
        if (password.isEmpty() || confirmation.isEmpty()) {
            ShowMessage(parent, QStringLiteral("パスワードが未入力です"));
            return false;
        }
        if (password != confirmation) {
            ShowMessage(parent, QStringLiteral("パスワードが確認用のパスワードと一致しません"));
            return false;
        }
    }
    bool accepted = false;
    try {
        accepted = PasswordRuleAccepts(QStringToSjis(password));
    } catch (const ConversionError &) {
        accepted = false; // a character Shift_JIS cannot hold is no letter or digit either
    }
    if (!accepted) {
        ShowMessage(parent,
                    QStringLiteral("パスワード設定には半角英数字以外使用することはできません"));
        return false;
    }
    return true;
}

QGroupBox *NewPasswordGroup(QWidget *parent, const QString &title, QLineEdit *&newPassword,
                            QLineEdit *&confirmation)
{
    auto *group = new QGroupBox(title, parent);
    newPassword = new QLineEdit(group);
    newPassword->setObjectName(QStringLiteral("EditPassNew"));
    confirmation = new QLineEdit(group);
    confirmation->setObjectName(QStringLiteral("EditPassNew_Re"));
    for (QLineEdit *edit : {newPassword, confirmation}) {
        edit->setMaxLength(20);
        edit->setEchoMode(QLineEdit::Password);
        edit->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhLatinOnly | Qt::ImhNoPredictiveText);
    }
    auto *form = new QFormLayout(group);
    form->addRow(QStringLiteral("新しいパスワード"), newPassword);
    form->addRow(QStringLiteral("新しいパスワードを再入力(確認用)"), confirmation);
    return group;
}

void ClearPasswordFields(std::initializer_list<QLineEdit *> fields)
{
    for (QLineEdit *edit : fields)
        edit->setText(QString()); // unlike clear(), leaves no undo step behind
}

TFormCreatePass::TFormCreatePass(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TFormCreatePass"));
    setWindowTitle(QStringLiteral("パスワード設定"));
    CBNotPass =
        NewCheckBox(this, QStringLiteral("CBNotPass"), QStringLiteral("パスワードを設定しない"));
    QGroupBox *group =
        NewPasswordGroup(this, QStringLiteral("パスワード設定（半角英数字20文字まで）"),
                         EditPassNew, EditPassNew_Re);
    BtnConfig = NewPushButton(this, QStringLiteral("BtnConfig"), QStringLiteral("設定"), false);
    BtnClose = NewPushButton(this, QStringLiteral("BtnClose"), QStringLiteral("キャンセル"), false);
    // Enter in either field confirms, as the log-in's does.
    BtnConfig->setDefault(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(CBNotPass);
    layout->addWidget(group);
    layout->addLayout(ButtonRow({BtnConfig, BtnClose}));

    connect(BtnConfig, &QPushButton::clicked, this,
            Guarded(this, &TFormCreatePass::BtnConfigClick));
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormCreatePass::done(int result)
{
    chosenKey_.clear();
    if (result == QDialog::Accepted)
        chosenKey_ =
            CBNotPass->isChecked() ? std::string(DefaultKey) : QStringToSjis(EditPassNew->text());
    ClearPasswordFields({EditPassNew, EditPassNew_Re});
    QDialog::done(result);
}

void TFormCreatePass::BtnConfigClick()
{
    if (!CheckNewPassword(this, CBNotPass->isChecked(), EditPassNew->text(),
                          EditPassNew_Re->text()))
        return;
    if (AskYesNo(this, QStringLiteral("設定します。よろしいですか？")))
        accept();
}

std::optional<std::string> CreateFirstPassword(TFormCreatePass &form)
{
    if (form.exec() != QDialog::Accepted)
        return std::nullopt;
    const std::string key = form.ChosenKey();
    WriteConfig(key);
    return key;
}

} // namespace vostrel
