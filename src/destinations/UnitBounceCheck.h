// The check of a sender's mailbox for bounces and unsubscribe requests,
// opened from the destination list window: the mailbox is read on a thread
// of its own while the window shows the progress and can stop it; the
// addresses found can be stored as new lists or removed from every list.
#pragma once

#include "core/AppState.h"
#include "destinations/ListCleanup.h"
#include "send/BounceCheck.h"

#include <QDialog>
#include <atomic>
#include <optional>
#include <thread>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace vostrel {

class TFormBounceCheck : public QDialog
{
    Q_OBJECT

public:
    explicit TFormBounceCheck(QWidget *parent = nullptr);
    ~TFormBounceCheck() override;

    // True while the mailbox is read.
    bool Running() const { return worker_.joinable(); }
    // The connections go through transport (tests put another one here).
    void SetTransport(Transport &transport) { transport_ = &transport; }
    void SetTimeouts(const TransportTimeouts &timeouts) { timeouts_ = timeouts; }

    // While the mailbox is read, a close request stops the reading and the
    // window closes as soon as it has ended.
    void reject() override;

Q_SIGNALS:
    // The reading ended and its result is shown.
    void CheckFinished();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    void BtnStartClick();
    void BtnStopClick();
    void BtnStoreListClick();
    void BtnRemoveFromListsClick();
    void Progress(std::size_t done, std::size_t total);
    void Finished(const BounceCheckResult &result, const ListHoldings &holdings);
    void SetRunning(bool running);
    void ShowRows();
    std::vector<std::string> AddressesOf(bool unsubscribe) const;

    QComboBox *ComboBoxAccount;
    QCheckBox *CBDeleteFromServer;
    QPushButton *BtnStart;
    QPushButton *BtnStop;
    QProgressBar *ProgressBar;
    QLabel *LabelProgress;
    QTreeWidget *ListViewResult;
    QPushButton *BtnStoreList;
    QPushButton *BtnRemoveFromLists;
    QPushButton *BtnClose;

    Transport *transport_;
    TransportTimeouts timeouts_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool closeWhenDone_ = false;
    std::optional<RecordWriteScope> writing_;
    std::vector<BounceRow> rows_;
    ListHoldings holdings_;
};

} // namespace vostrel
