// The destination list window: the lists on the left, the recipients of the
// selected list on the right. Every change is written to the list's file at
// once; the window keeps nothing unsaved.
#pragma once

#include "core/DeferredRowModel.h"
#include "destinations/DestinationStore.h"
#include "destinations/Recipient.h"

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

class QFileDialog;
class QRadioButton;
class QTableView;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vostrel {

class TFormAddDestination;
class TFormAddReceivers;
class TFormBounceCheck;
class TFormCsvImport;

// The recipients shown in the window, held as stored (Shift_JIS); texts are
// converted only for the rows a view asks for. Loading, changing and
// removing rows: see DeferredRowModel.
class RecipientTableModel : public DeferredRowModel<Recipient>
{
    Q_OBJECT

public:
    using DeferredRowModel::DeferredRowModel;

    static QStringList ColumnCaptions();

    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Every recipient held (DeferredRowModel::Rows).
    const std::vector<Recipient> &Recipients() const { return Rows(); }
};

class TFormDestinationList : public QDialog
{
    Q_OBJECT

public:
    TFormDestinationList(TFormAddDestination &addDestination, TFormAddReceivers &addReceivers,
                         QWidget *parent = nullptr);

    // True while a list is loaded, saved or imported, or several recipients
    // are deleted.
    bool Busy() const { return busy_; }

    // The import dialog that the CSV import shows.
    void SetCsvImport(TFormCsvImport *csvImport) { csvImport_ = csvImport; }

    // The file pickers of the CSV export and import.
    QFileDialog &OpenDialog() const { return *openDialog_; }
    QFileDialog &SaveDialog() const { return *saveDialog_; }

    RecipientTableModel &AddressModel() const { return *addressModel_; }

    // The check of a sender's mailbox for bounces, opened by PNGBtnBounceCheck.
    TFormBounceCheck &BounceCheck() const { return *bounceCheck_; }

    // While busy, a close request (the close button, the window's own close,
    // Escape) waits: the window closes as soon as the operation ends.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormShow();
    void RBSendTypeClick();
    void ListViewDestinationListSelectItem();
    void PNGBtnAddListClick();
    void PNGBtnEditListClick();
    void PNGBtnDeleteListClick();
    void PNGBtnAddAddressClick();
    void PNGBtnEditAddressClick();
    void PNGBtnDeleteAddressClick();
    void PNGBtnCloseClick();
    void PNGBtnCSVWriteClick();
    void PNGBtnCSVReadClick();
    void PNGBtnBounceCheckClick();

    // Fills the list of lists anew under the chosen filter; no list selected.
    void RefreshLists();
    // Reads the selected list's recipients into the view.
    void LoadSelectedList();
    // Writes the selected list's file from its row's marks and the view.
    void SaveSelectedList();
    // Appends the rows of the import dialog's table to the view and saves.
    void ImportCsvRows();

    void SetBusy(bool busy, const QString &titleSuffix = {});
    std::string SelectedListName() const;
    SendType SelectedListMarks() const;
    std::vector<int> SelectedRecipientRows() const;

    TFormAddDestination &addDestination_;
    TFormAddReceivers &addReceivers_;
    TFormCsvImport *csvImport_ = nullptr;

    QToolButton *PNGBtnAddList;
    QToolButton *PNGBtnEditList;
    QToolButton *PNGBtnDeleteList;
    QToolButton *PNGBtnClose;
    QRadioButton *RBSendType_All;
    QRadioButton *RBSendType_To;
    QRadioButton *RBSendType_Cc;
    QRadioButton *RBSendType_Bcc;
    QToolButton *PNGBtnAddAddress;
    QToolButton *PNGBtnEditAddress;
    QToolButton *PNGBtnDeleteAddress;
    QToolButton *PNGBtnCSVRead;
    QToolButton *PNGBtnCSVWrite;
    QToolButton *PNGBtnBounceCheck;
    QTreeWidget *ListViewDestinationList;
    QTableView *ListViewAddress;
    QFileDialog *openDialog_;
    QFileDialog *saveDialog_;

    RecipientTableModel *addressModel_;
    TFormBounceCheck *bounceCheck_;
    QTreeWidgetItem *selectedList_ = nullptr;
    bool busy_ = false;
    bool closeWhenIdle_ = false;
    // Held while busy: a password change cannot start in the middle.
    std::optional<RecordWriteScope> writing_;
};

} // namespace vostrel
