// The sender account editor: the modal dialog in which one account is typed
// or changed. It stores nothing itself; the sender list window resets it,
// loads an account into it, shows it and reads the account back after OK.
#pragma once

#include "senders/SenderAccount.h"

#include <QDialog>
#include <QHash>
#include <QString>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vostrel {

class TFormAddSender : public QDialog
{
    Q_OBJECT

public:
    explicit TFormAddSender(QWidget *parent = nullptr);

    // The state of a new account: empty texts, ports "25" and "110", no box
    // ticked, the POP and authentication groups disabled. The help panel keeps
    // its text.
    void ResetEditor();
    // Sets the controls from an account: each SSL box before its port, the POP
    // group only when UsePOP is set and the SMTP account group only when
    // SMTPAuth is set (otherwise they keep their values).
    void LoadAccount(const SenderAccount &account);
    // The account the controls hold. Throws UnencodableCharacterError when a
    // text holds a character that Shift_JIS cannot.
    SenderAccount Account() const;
    // The dialog's caption and the caption of its confirm button.
    void SetCaptions(const QString &caption, const QString &confirmCaption);

    // The message OK shows for an account name (Shift_JIS) that cannot be
    // used; empty when it can.
    static QString UnusableNameMessage(const std::string &name);
    // The message OK shows for an SMTP port (or, with pop, a POP port) that
    // is not a number from 1 to 65535. The POP port is checked only while
    // POP before SMTP is ticked: otherwise it is neither stored nor used.
    static QString InvalidPortMessage(bool pop);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void BuildControls();
    void ButtonOKClick();
    void CheckBoxSMTPSSLClick(bool checked);
    void CheckBoxPOPSSLClick(bool checked);
    void ButtonSMTPDefaultClick();
    void ButtonPOPDefaultClick();
    void CheckBoxUsePOPClick(bool checked);
    void CheckBoxSMTPAuthClick(bool checked);
    void SetPOPGroupEnabled(bool enabled);
    void SetAuthGroupEnabled(bool enabled);
    void ShowHelp(const QStringList &lines);

    QLineEdit *EditConfName = nullptr;
    QLineEdit *EditSMTPAddress = nullptr;
    QLineEdit *EditSMTPPort = nullptr;
    QPushButton *ButtonSMTPDefault = nullptr;
    QCheckBox *CheckBoxSMTPSSL = nullptr;
    QLineEdit *EditFromAddress = nullptr;
    QLineEdit *EditSenderName = nullptr;
    QLineEdit *EditReturnAddress = nullptr;
    QLineEdit *EditErrorAddress = nullptr;
    QCheckBox *CheckBoxUsePOP = nullptr;
    QCheckBox *CheckBoxPOPSSL = nullptr;
    QLineEdit *EditPOPAddress = nullptr;
    QLineEdit *EditPOPPort = nullptr;
    QPushButton *ButtonPOPDefault = nullptr;
    QLineEdit *EditPOPAccount = nullptr;
    QLineEdit *EditPOPPass = nullptr;
    QCheckBox *CheckBoxSMTPAuth = nullptr;
    QLineEdit *EditSMTPAccount = nullptr;
    QLineEdit *EditSMTPPass = nullptr;
    QPushButton *ButtonOK = nullptr;
    QPushButton *ButtonCancel = nullptr;
    QPlainTextEdit *Mm_Exp = nullptr;

    QLabel *LabelPOPAddress = nullptr;
    QLabel *LabelPOPPort = nullptr;
    QLabel *LabelPOPAccount = nullptr;
    QLabel *LabelPOPPass = nullptr;
    QLabel *LabelSMTPAccount = nullptr;
    QLabel *LabelSMTPPass = nullptr;

    // The help lines of every edit (shown on focus) and check box (on hover).
    QHash<QObject *, QStringList> help_;
    // Set while the controls are changed by the program: a focus that moves
    // off a control being disabled is no field the user entered.
    bool settingControls_ = false;
};

} // namespace vostrel
