// The log-in dialog and the log-in operation of the start.
#pragma once

#include <QDialog>
#include <filesystem>
#include <optional>
#include <string>

class QLineEdit;
class QPushButton;

namespace vostrel {

class TFormLoginPass : public QDialog
{
    Q_OBJECT
public:
    explicit TFormLoginPass(QWidget *parent = nullptr);

    // The password that was accepted (Shift_JIS).
    const std::string &EnteredKey() const { return enteredKey_; }
    // The password record the entry is checked against; empty (the default):
    // the data folder's config.dat.
    void SetConfigFile(std::filesystem::path configFile) { configFile_ = std::move(configFile); }

    void BtnLoginClick();

    // Closing (OK or not) empties the password field.
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLineEdit *EditPass;
    QPushButton *BtnLogin;
    QPushButton *BtnCancel;
    std::string enteredKey_;
    std::filesystem::path configFile_;
};

// Returns the key to use, or nothing when the user cancelled. Silent when
// config.dat holds the fixed key.
std::optional<std::string> LogIn(TFormLoginPass &form);
// The same for the password of a backup, checked against its config.dat:
// silent when the backup has no password, the dialog otherwise.
std::optional<std::string> AskBackupPassword(TFormLoginPass &form,
                                             const std::filesystem::path &backup);

} // namespace vostrel
