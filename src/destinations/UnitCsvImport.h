// The CSV import dialog: shows a CSV file as a table of numbered columns and
// lets the user say which column holds which recipient value. Rows whose
// address fails the address rules are shown in the import error dialog,
// which can drop them.
#pragma once

#include "destinations/CsvFile.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <array>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTableView;

namespace vostrel {

class TFormCsvImportError;

// A CSV table on view, held as read (Shift_JIS); texts are converted only
// for the cells a view asks for. Columns are captioned with their number:
// full-width for the first thirteen ("１" ... "１３"), ordinary digits after
// them ("14", "15", ...).
class CsvTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    // The caption of column (from 0).
    static QString ColumnCaption(int column);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Every row held; the same as the rows shown except while rows are being
    // added without telling the views.
    const CsvImportTable &Table() const { return table_; }

    void ReserveBytes(std::size_t bytes) { table_.ReserveBytes(bytes); }
    // Adds a row at the end; the views learn of new columns at once and of
    // the row with ShowAdded().
    void AddUnshown(const std::vector<std::string> &fields);
    void ShowAdded();
    // Empties the table of its rows (the columns stay).
    void ClearRows();
    // Removes the given rows (ascending, no duplicates).
    void RemoveRows(const std::vector<std::size_t> &rows);
    // Replaces the rows with cells 1 to 13 of the given rows of another table.
    void SetFirstCellsOf(const CsvImportTable &other, const std::vector<std::size_t> &rows);

private:
    void ShowAddedColumns();

    CsvImportTable table_;
    // The rows and columns the views know of.
    std::size_t shownRows_ = 0;
    int shownColumns_ = CsvImportTable::kMinColumns;
};

class TFormCsvImport : public QDialog
{
    Q_OBJECT

public:
    explicit TFormCsvImport(QWidget *parent = nullptr);

    // The dialog that lists the rows with unusable addresses.
    void SetErrorDialog(TFormCsvImportError *errorDialog) { errorDialog_ = errorDialog; }

    // Set by the caller before each showing: the table emptied of its rows
    // and the path of the file to read.
    void ClearTable();
    void SetFileName(const QString &path);

    // After OK: the table (rows with unusable addresses removed when the
    // user chose so), the mapping, and whether row 1 is left out.
    const CsvImportTable &Table() const { return model_->Table(); }
    CsvColumnMapping Mapping() const;
    bool IgnoreFirstLine() const;

    // True while the file is being read; the buttons then do nothing, and
    // closing stops the reading and then closes.
    bool Reading() const { return reading_; }

    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    // Reads the file into the table and fills the drop-down lists.
    void ReadFile();
    void FillDropDowns();
    void BtnImportClick();

    // The thirteen drop-down lists in recipient order.
    std::array<QComboBox *, Recipient::kFieldCount> DropDowns() const;

    QComboBox *CBName;
    QComboBox *CBHt;
    QComboBox *CBAddress;
    std::array<QComboBox *, 10> CBSashi{};
    QCheckBox *CBImport_NotOneLine;
    QPushButton *BtnImport;
    QPushButton *BtnClose;
    QTableView *ListViewAddress;

    CsvTableModel *model_;
    TFormCsvImportError *errorDialog_ = nullptr;
    QString fileName_;
    bool reading_ = false;
    bool stopRequested_ = false;
};

// Table views of the CSV dialogs: read-only, whole rows selected, grid lines,
// fixed row heights (nothing is measured over all rows).
void SetupCsvTableView(QTableView *view, QAbstractItemModel *model);

} // namespace vostrel
