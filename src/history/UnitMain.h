// The main window: the program's home. It prepares the data folder when it is
// created, runs the password step on its first show, and decides whether the
// program may close.
#pragma once

#include <QMainWindow>
#include <functional>

class QAction;
class QToolButton;
class QTreeWidget;

namespace vostrel {

class TFormConfig;
class TFormConfigProgress;
class TFormCreatePass;
class TFormLoginPass;

class TFormMain : public QMainWindow
{
    Q_OBJECT
public:
    // The windows this one opens; the application object creates them after
    // the main window and hands them over here.
    struct Links
    {
        TFormLoginPass *loginPass = nullptr;
        TFormCreatePass *createPass = nullptr;
        TFormConfig *config = nullptr;
        TFormConfigProgress *configProgress = nullptr;
        // The new-mail command: the kept-draft question, then the compose window.
        std::function<void()> openCompose;
        std::function<void()> openSenderConfig;
        std::function<void()> openDestinationList;
        // True while the compose window keeps a draft for later.
        std::function<bool()> composeKeepsDraft;
        // Resets the compose window (deleting its work files).
        std::function<void()> resetCompose;
    };

    explicit TFormMain(QWidget *parent = nullptr);
    void SetLinks(Links links);

    // The show routine: the password step while it has not run yet, then the
    // sender filter list is refilled. Runs on the first show and whenever
    // another window asks for a refresh.
    void FormShow();
    bool FirstShowDone() const { return firstShowDone_; }
    void SetFirstShowDone(bool done) { firstShowDone_ = done; }

    // Brings the window (or the dialog in front of it) to the front.
    void RaiseAndActivate();

    void PNGBtnMailMakeClick();
    void PNGBtnSendListClick();
    void PNGBtnSenderListClick();
    void PNGBtnConfigClick();

Q_SIGNALS:
    // The password step was cancelled: the program must end at once.
    void TerminateRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool FormCloseQuery();
    void RefillSenderList();

    Links links_;
    bool firstShowDone_ = false;
    bool firstShowQueued_ = false;

    QToolButton *PNGBtnMailMake;
    QToolButton *PNGBtnSendList;
    QToolButton *PNGBtnSenderList;
    QToolButton *PNGBtnConfig;
    QTreeWidget *ListViewItemBox;
};

} // namespace vostrel
