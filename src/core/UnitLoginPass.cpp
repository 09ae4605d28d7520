#include "core/UnitLoginPass.h"

#include "core/DataLayout.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/FieldStore.h"
#include "core/Password.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "core/UnitCreatePass.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vostrel {

TFormLoginPass::TFormLoginPass(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TFormLoginPass"));
    setWindowTitle(QStringLiteral("パスワード入力"));
    auto *label =
        new QLabel(QStringLiteral("パスワードを入力してください（半角英数字20文字まで）"), this);
    EditPass = new QLineEdit(this);
    EditPass->setObjectName(QStringLiteral("EditPass"));
    EditPass->setMaxLength(20);
    EditPass->setEchoMode(QLineEdit::Password);
    EditPass->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhLatinOnly | Qt::ImhNoPredictiveText);
    label->setBuddy(EditPass);
    // Enter in EditPass is handled below; no button is a default button.
    BtnLogin = NewPushButton(this, QStringLiteral("BtnLogin"), QStringLiteral("OK"), false);
    BtnCancel =
        NewPushButton(this, QStringLiteral("BtnCancel"), QStringLiteral("キャンセル"), false);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(EditPass);
    layout->addLayout(ButtonRow({BtnLogin, BtnCancel}));
    setSizeGripEnabled(false);

    connect(BtnLogin, &QPushButton::clicked, this, Guarded(this, &TFormLoginPass::BtnLoginClick));
    connect(EditPass, &QLineEdit::returnPressed, this,
            Guarded(this, &TFormLoginPass::BtnLoginClick));
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormLoginPass::showEvent(QShowEvent *event)
{
    EditPass->clear();
    EditPass->setFocus();
    QDialog::showEvent(event);
}

void TFormLoginPass::done(int result)
{
    ClearPasswordFields({EditPass});
    QDialog::done(result);
}

void TFormLoginPass::BtnLoginClick()
{
    if (EditPass->text().isEmpty()) {
        ShowMessage(this, QStringLiteral("パスワードが未入力です"));
        return;
    }
    std::string key;
    try {
        key = QStringToSjis(EditPass->text());
    } catch (const ConversionError &) {
        ShowMessage(this, QStringLiteral("パスワードが違います"));
        return;
    }
    if (!(configFile_.empty() ? ConfigHoldsKey(key) : ConfigFileHoldsKey(configFile_, key))) {
        ShowMessage(this, QStringLiteral("パスワードが違います"));
        return;
    }
    enteredKey_ = key;
    accept();
}

std::optional<std::string> LogIn(TFormLoginPass &form)
{
    const std::string defaultKey(DefaultKey);
    if (ConfigHoldsKey(defaultKey))
        return defaultKey;
    if (form.exec() != QDialog::Accepted)
        return std::nullopt;
    return form.EnteredKey();
}

std::optional<std::string> AskBackupPassword(TFormLoginPass &form,
                                             const std::filesystem::path &backup)
{
    const std::string defaultKey(DefaultKey);
    const std::filesystem::path config = backup / layout::kConfig;
    if (ConfigFileHoldsKey(config, defaultKey))
        return defaultKey;
    form.SetConfigFile(config);
    struct Reset
    {
        TFormLoginPass &form;
        ~Reset() { form.SetConfigFile({}); }
    } reset{form};
    if (form.exec() != QDialog::Accepted)
        return std::nullopt;
    return form.EnteredKey();
}

} // namespace vostrel
