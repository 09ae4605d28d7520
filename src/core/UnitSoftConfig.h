// The password change dialog and the change itself.
#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace vostrel {

class TFormConfigProgress;

class TFormConfig : public QDialog
{
    Q_OBJECT
public:
    explicit TFormConfig(QWidget *parent = nullptr);

    // Before showing: EditPassNow is cleared, and enabled only when a
    // password is in effect.
    void PrepareForShow();
    // The new key chosen on the last OK: the fixed key when no password is
    // wanted.
    const std::string &ChosenKey() const { return chosenKey_; }

    void BtnConfigClick();
    void CBNotPassClick();

    // Closing (OK or not) keeps the key chosen on OK and empties the three
    // password fields.
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    static void SetFieldEnabled(QLineEdit *edit, bool enabled);

    QLineEdit *EditPassNow;
    QCheckBox *CBNotPass;
    QLineEdit *EditPassNew;
    QLineEdit *EditPassNew_Re;
    QPushButton *BtnConfig;
    QPushButton *BtnClose;
    std::string chosenKey_;
};

// The password change: shows the dialog and, on OK, rewrites every data file
// under the new key with the progress window shown and mainWindow disabled,
// then reports "設定を変更しました". Errors are reported by the caller's
// error reporting (they are thrown after the windows are restored).
void ChangePassword(TFormConfig &form, TFormConfigProgress &progress, QWidget *mainWindow);

} // namespace vostrel
