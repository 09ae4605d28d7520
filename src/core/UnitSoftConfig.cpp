#include "core/UnitSoftConfig.h"

#include "core/AppState.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/Reencrypt.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "core/UnitCreatePass.h"
#include "core/UnitFormConfigProgress.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vostrel {

TFormConfig::TFormConfig(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TFormConfig"));
    setWindowTitle(QStringLiteral("パスワード設定"));

    auto *current = new QGroupBox(QStringLiteral("パスワード設定（半角英数字20文字まで）"), this);
    EditPassNow = new QLineEdit(current);
    EditPassNow->setObjectName(QStringLiteral("EditPassNow"));
    EditPassNow->setMaxLength(20);
    EditPassNow->setEchoMode(QLineEdit::Password);
    auto *note = new QLabel(QStringLiteral("※設定を変更する際に入力が必要です"), current);
    note->setStyleSheet(QStringLiteral("color: red;"));
    auto *currentForm = new QFormLayout(current);
    currentForm->addRow(QStringLiteral("現在のパスワード"), EditPassNow);
    currentForm->addRow(QString(), note);

    CBNotPass =
        NewCheckBox(this, QStringLiteral("CBNotPass"), QStringLiteral("パスワードを設定しない"));

    QGroupBox *fresh = NewPasswordGroup(this, QStringLiteral("新しいパスワードを設定"), EditPassNew,
                                        EditPassNew_Re);

    BtnConfig = NewPushButton(this, QStringLiteral("BtnConfig"), QStringLiteral("設定"), false);
    BtnClose = NewPushButton(this, QStringLiteral("BtnClose"), QStringLiteral("閉じる"), false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(current);
    layout->addWidget(CBNotPass);
    layout->addWidget(fresh);
    layout->addLayout(ButtonRow({BtnConfig, BtnClose}));

    connect(BtnConfig, &QPushButton::clicked, this, Guarded(this, &TFormConfig::BtnConfigClick));
    connect(CBNotPass, &QCheckBox::clicked, this, Guarded(this, &TFormConfig::CBNotPassClick));
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormConfig::SetFieldEnabled(QLineEdit *edit, bool enabled)
{
    edit->setEnabled(enabled);
    // A disabled field is drawn on the greyed window background.
    edit->setStyleSheet(enabled ? QString() : QStringLiteral("background-color: palette(window);"));
}

void TFormConfig::PrepareForShow()
{
    EditPassNow->clear();
    SetFieldEnabled(EditPassNow, CurrentKey() != DefaultKey);
}

void TFormConfig::showEvent(QShowEvent *event)
{
    EditPassNow->clear();
    CBNotPass->setChecked(false);
    for (QLineEdit *edit : {EditPassNew, EditPassNew_Re}) {
        SetFieldEnabled(edit, true);
        edit->clear();
    }
    QDialog::showEvent(event);
}

void TFormConfig::CBNotPassClick()
{
    const bool enabled = !CBNotPass->isChecked();
    SetFieldEnabled(EditPassNew, enabled);
    SetFieldEnabled(EditPassNew_Re, enabled);
}

void TFormConfig::done(int result)
{
    chosenKey_.clear();
    if (result == QDialog::Accepted)
        chosenKey_ =
            CBNotPass->isChecked() ? std::string(DefaultKey) : QStringToSjis(EditPassNew->text());
    ClearPasswordFields({EditPassNow, EditPassNew, EditPassNew_Re});
    QDialog::done(result);
}

void TFormConfig::BtnConfigClick()
{
    if (EditPassNow->isEnabled()) {
        bool same = false;
        try {
            same = QStringToSjis(EditPassNow->text()) == CurrentKey();
        } catch (const ConversionError &) {
            same = false;
        }
        if (!same) {
            ShowMessage(this, QStringLiteral("現在のパスワードが違います"));
            return;
        }
    }
    if (!CheckNewPassword(this, CBNotPass->isChecked(), EditPassNew->text(),
                          EditPassNew_Re->text()))
        return;
    if (AskYesNo(this, QStringLiteral("設定を変更します。よろしいですか？")))
        accept();
}

void ChangePassword(TFormConfig &form, TFormConfigProgress &progress, QWidget *mainWindow)
{
    form.PrepareForShow();
    if (form.exec() != QDialog::Accepted)
        return;
    const std::string oldKey = CurrentKey();
    const std::string newKey = form.ChosenKey();

    if (mainWindow)
        mainWindow->setEnabled(false);
    // Disabling the main window disables its child windows too: the progress
    // window is the one window that stays enabled, so it never paints greyed.
    progress.setEnabled(true);
    progress.ProgressBar->setRange(0, 4);
    progress.ProgressBar->setValue(1);
    progress.lblProgress->setText(QStringLiteral("新しいパスワードで暗号化しています。"));
    progress.show();
    QCoreApplication::processEvents();
    struct Restore
    {
        TFormConfigProgress &progress;
        QWidget *mainWindow;
        ~Restore()
        {
            progress.close();
            if (mainWindow)
                mainWindow->setEnabled(true);
        }
    } restore{progress, mainWindow};

    ReencryptProgress callbacks;
    callbacks.onPosition = [&progress](int position) {
        progress.ProgressBar->setValue(position);
        QCoreApplication::processEvents();
    };
    callbacks.pumpEvents = [] { QCoreApplication::processEvents(); };
    ReencryptAll(oldKey, newKey, callbacks);
    progress.close();
    if (mainWindow)
        mainWindow->setEnabled(true);
    ShowMessage(mainWindow, QStringLiteral("設定を変更しました"));
}

} // namespace vostrel
