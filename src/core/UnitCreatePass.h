// The first-password dialog and the operation that creates config.dat.
#pragma once

#include <QDialog>
#include <initializer_list>
#include <optional>
#include <string>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace vostrel {

// The checks of a new password shared by the first-password and the change
// dialogs: empty fields and a mismatch (unless no password is wanted), then
// the character rule on the new password. Shows the message and returns
// false when a check fails.
bool CheckNewPassword(QWidget *parent, bool noPassword, const QString &password,
                      const QString &confirmation);

// A group box holding the new password and its confirmation (at most 20
// characters each, hidden as they are typed like the log-in field), with
// their labels.
QGroupBox *NewPasswordGroup(QWidget *parent, const QString &title, QLineEdit *&newPassword,
                            QLineEdit *&confirmation);

// Empties password fields when their dialog closes: the texts, and the undo
// steps that would hold them too.
void ClearPasswordFields(std::initializer_list<QLineEdit *> fields);

class TFormCreatePass : public QDialog
{
    Q_OBJECT
public:
    explicit TFormCreatePass(QWidget *parent = nullptr);

    // The key chosen on the last OK: the fixed key when no password is wanted.
    const std::string &ChosenKey() const { return chosenKey_; }

    void BtnConfigClick();

    // Closing (OK or not) keeps the key chosen on OK and empties both fields.
    void done(int result) override;

private:
    QCheckBox *CBNotPass;
    QLineEdit *EditPassNew;
    QLineEdit *EditPassNew_Re;
    QPushButton *BtnConfig;
    QPushButton *BtnClose;
    std::string chosenKey_;
};

// Shows the dialog; on OK writes config.dat and returns the key, otherwise
// returns nothing and creates nothing.
std::optional<std::string> CreateFirstPassword(TFormCreatePass &form);

} // namespace vostrel
