// The main window: the program's home. It prepares the data folder when it is
// created, runs the password step on its first show, and decides whether the
// program may close. It lists the senders and the sent-mail history, sorts,
// previews and deletes history entries, and opens every other window, backup
// and restore.
#pragma once

#include "history/SentHistory.h"

#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QTableView;
class QToolButton;
class QTreeWidget;
class QWebEngineView;

namespace vostrel {

class HistoryTableModel;
class TFormConfig;
class TFormConfigProgress;
class TFormCreatePass;
class TFormLoginPass;
class TFormVersion;

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
        TFormVersion *version = nullptr;
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
    // sender filter list is refilled and its row senderRow selected (the
    // first row when the list is shorter), which loads the history. Runs on
    // the first show and whenever another window asks for a refresh.
    void FormShow(int senderRow = 0);
    bool FirstShowDone() const { return firstShowDone_; }
    void SetFirstShowDone(bool done) { firstShowDone_ = done; }

    // True while the history is being loaded (window events keep running).
    bool Busy() const { return busy_; }
    // The sort state: 0 unsorted, otherwise column |s| - 1, ascending for
    // s > 0 and descending for s < 0.
    int SortState() const { return sortState_; }
    HistoryTableModel &HistoryModel() const { return *historyModel_; }

    // Brings the window (or the dialog in front of it) to the front.
    void RaiseAndActivate();

    // The folder picker of backup and restore; nothing when cancelled.
    std::optional<std::filesystem::path> SelectFolder(const QString &caption);

    void PNGBtnMailMakeClick();
    void PNGBtnSendListClick();
    void PNGBtnSenderListClick();
    void PNGBtnConfigClick();
    void PNGBtnBkLoadClick();
    void PNGBtnBkSaveClick();
    void MenuItemDeleteClick();
    void MenuItemVersionClick();

Q_SIGNALS:
    // The password step was cancelled: the program must end at once.
    void TerminateRequested();
    // A history load has put its first rows in the list (for measuring).
    void HistoryRowsShown();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool FormCloseQuery();
    // The end of the password step: key becomes CurrentKey.
    void BeginWithKey(const std::string &key);
    void RefillSenderList(int senderRow);
    void ListViewItemBoxSelectItem();
    void LoadHistory();
    // Reads the logs of the senders' folders into the list, processing window
    // events now and then; the files that cannot be read go to passedOver.
    void LoadHistoryRows(const std::vector<std::string> &senders,
                         std::vector<std::filesystem::path> &passedOver);
    void ListViewAddressSelectItem();
    void ListViewAddressColumnClick(int column);
    void SortHistory();
    void PageControlMailTextChange();
    void RenderPreview();
    void ClearPreview();
    void EnsureBrowser();
    std::vector<int> SelectedHistoryRows() const;
    void SetBusy(bool busy);

    Links links_;
    bool firstShowDone_ = false;
    bool firstShowQueued_ = false;
    bool busy_ = false;
    bool closeWhenIdle_ = false;
    int sortState_ = 0;
    // DataFolder() + "Logs/", set by every history load.
    std::filesystem::path logRoot_;
    // The previewed entry: its file, body and picture folder.
    std::filesystem::path previewFile_;
    std::string previewBody_;
    std::optional<std::filesystem::path> pictureFolder_;

    QToolButton *PNGBtnMailMake;
    QToolButton *PNGBtnSendList;
    QToolButton *PNGBtnSenderList;
    QToolButton *PNGBtnConfig;
    QToolButton *PNGBtnBkLoad;
    QToolButton *PNGBtnBkSave;
    QTreeWidget *ListViewItemBox;
    QLabel *LabelAddress;
    QTableView *ListViewAddress;
    HistoryTableModel *historyModel_;
    QLabel *LabelMailText;
    QLineEdit *EditTitle;
    QLineEdit *EditAppended;
    QTabWidget *PageControlMailText;
    QWidget *TabSheetText;
    QWidget *TabSheetHtml;
    QPlainTextEdit *MemoMailText;
    QWebEngineView *WebBrowser = nullptr;
    QSplitter *SplitterSender;
    QSplitter *SplitterHistory;
    QMenu *PopupMenuMsgDelete;
    QAction *MenuItemDelete;
    QFileDialog *selectFolderDialog_ = nullptr;
};

} // namespace vostrel
