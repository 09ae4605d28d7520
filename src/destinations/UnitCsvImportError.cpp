#include "destinations/UnitCsvImportError.h"

#include "core/ErrorReporting.h"
#include "core/UiHelpers.h"
#include "destinations/UnitCsvImport.h"

#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

TFormCsvImportError::TFormCsvImportError(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormCsvImportError"_s);
    setWindowTitle(u"CSVインポート"_s);
    setModal(true);
    setSizeGripEnabled(true);
    resize(820, 420);

    auto *invalidLabel =
        NewLabel(this, u"LabelInvalid"_s, u"リストにあるメールアドレスは形式が正しくありません"_s);
    auto *continueLabel = NewLabel(
        this, u"LabelContinue"_s,
        u"リストにあるデータ以外をインポートする場合は[続行]ボタンをクリックしてください"_s);

    model_ = new CsvTableModel(this);
    ListViewAddress = new QTableView(this);
    ListViewAddress->setObjectName(u"ListViewAddress"_s);
    SetupCsvTableView(ListViewAddress, model_);

    BtnCsvOutput = NewPushButton(this, u"BtnCsvOutput"_s, u"CSV保存"_s, false);
    BtnOk = NewPushButton(this, u"BtnOk"_s, u"続行"_s, false);
    BtnCancel = NewPushButton(this, u"BtnCancel"_s, u"キャンセル"_s, false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(invalidLabel);
    layout->addWidget(ListViewAddress, 1);
    layout->addWidget(continueLabel);
    layout->addLayout(ButtonRow({BtnCsvOutput, BtnOk, BtnCancel}));

    saveDialog_ = new QFileDialog(this);
    saveDialog_->setObjectName(u"SaveDialog"_s);
    saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog_->setFileMode(QFileDialog::AnyFile);
    saveDialog_->setNameFilter(u"CSVファイル(*.csv)"_s);

    connect(BtnCsvOutput, &QPushButton::clicked,
            Guarded(this, &TFormCsvImportError::BtnCsvOutputClick));
    connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormCsvImportError::ClearRows()
{
    model_->ClearRows();
}

void TFormCsvImportError::SetRows(const CsvImportTable &table, const std::vector<std::size_t> &rows)
{
    model_->SetFirstCellsOf(table, rows);
}

const CsvImportTable &TFormCsvImportError::Rows() const
{
    return model_->Table();
}

void TFormCsvImportError::BtnCsvOutputClick()
{
    if (saveDialog_->exec() != QDialog::Accepted)
        return;
    const QStringList chosen = saveDialog_->selectedFiles();
    if (chosen.isEmpty())
        return;
    WriteCsvRows(CsvFileName(PathFromQString(chosen.front())), model_->Table());
}

} // namespace vostrel
