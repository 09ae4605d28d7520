// The CSV import error dialog: lists the rows of an import whose address
// fails the address rules, can save them as a CSV file of their own, and lets
// the user go on without them.
#pragma once

#include "destinations/CsvFile.h"

#include <QDialog>
#include <vector>

class QFileDialog;
class QPushButton;
class QTableView;

namespace vostrel {

class CsvTableModel;

class TFormCsvImportError : public QDialog
{
    Q_OBJECT

public:
    explicit TFormCsvImportError(QWidget *parent = nullptr);

    // Empties the list.
    void ClearRows();
    // Lists cells 1 to 13 of the given rows of table, in the given order.
    void SetRows(const CsvImportTable &table, const std::vector<std::size_t> &rows);
    // The rows listed.
    const CsvImportTable &Rows() const;

    // The file picker of "CSV保存".
    QFileDialog &SaveDialog() const { return *saveDialog_; }

private:
    void BtnCsvOutputClick();

    QTableView *ListViewAddress;
    QPushButton *BtnCsvOutput;
    QPushButton *BtnOk;
    QPushButton *BtnCancel;
    QFileDialog *saveDialog_;
    CsvTableModel *model_;
};

} // namespace vostrel
