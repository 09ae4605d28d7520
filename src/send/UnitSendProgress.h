// The progress window of a send run: the account in use, "n/total送信中", a
// progress bar and the stop button.
#pragma once

#include <QDialog>
#include <atomic>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vostrel {

class TFormSendProgress : public QDialog
{
    Q_OBJECT

public:
    explicit TFormSendProgress(QWidget *parent = nullptr);

    // The run's stop flag: cleared whenever the window is shown, set by the
    // stop button.
    const std::atomic<bool> &StopFlag() const { return stop_; }
    bool StopRequested() const { return stop_.load(); }

    // While a run is on the window cannot be closed by the user.
    void SetRunning(bool running) { running_ = running; }

    // Progress of the run, called before each mail.
    void ShowPosition(qint64 position, qint64 total);
    void ShowSender(const QString &accountName);
    // After a mail failed: how many have failed so far.
    void ShowFailed(qint64 failed);
    // While the run waits to try a mail again: why and how long; hidden
    // again by an empty text.
    void ShowWaiting(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void FormShow();
    void BtnSendStopClick();

    QLabel *lblSenderName;
    QLabel *lblSendMsg;
    QProgressBar *ProgressBar;
    QPushButton *BtnSendStop;
    QLabel *LabelCancelMsg;
    QLabel *lblFailedCount;
    QLabel *lblWaitMsg;

    std::atomic<bool> stop_{false};
    bool running_ = false;
};

} // namespace vostrel
