#include "destinations/UnitCsvImport.h"

#include "core/DeferredRowModel.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "destinations/UnitCsvImportError.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kDesignTitle = u"CSV読込"_s;
const QString kTitle = u"CSVインポート"_s;
const QString kNone = u"なし"_s;
// Pending window events are processed after the 1st, 51st, 101st ... line.
constexpr std::size_t kEventsEvery = 50;

QString FullWidthNumber(int n)
{
    QString text = QString::number(n);
    for (QChar &c : text)
        c = QChar(static_cast<char16_t>(c.unicode() - u'0' + 0xFF10));
    return text;
}

} // namespace

// ---------------------------------------------------------------------------
// CsvTableModel

QString CsvTableModel::ColumnCaption(int column)
{
    const int number = column + 1;
    return number <= CsvImportTable::kMinColumns ? FullWidthNumber(number)
                                                 : QString::number(number);
}

int CsvTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(shownRows_);
}

int CsvTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : shownColumns_;
}

QVariant CsvTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
        index.column() >= columnCount())
        return {};
    return SjisToQString(table_.Cell(static_cast<std::size_t>(index.row()), index.column()));
}

QVariant CsvTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= columnCount())
        return {};
    return ColumnCaption(section);
}

void CsvTableModel::ShowAddedColumns()
{
    if (table_.ColumnCount() <= shownColumns_)
        return;
    beginInsertColumns({}, shownColumns_, table_.ColumnCount() - 1);
    shownColumns_ = table_.ColumnCount();
    endInsertColumns();
}

void CsvTableModel::AddUnshown(const std::vector<std::string> &fields)
{
    table_.AddRow(fields);
    ShowAddedColumns();
}

void CsvTableModel::ShowAdded()
{
    if (table_.RowCount() == shownRows_)
        return;
    beginInsertRows({}, static_cast<int>(shownRows_), static_cast<int>(table_.RowCount()) - 1);
    shownRows_ = table_.RowCount();
    endInsertRows();
}

void CsvTableModel::ClearRows()
{
    beginResetModel();
    table_.ClearRows();
    shownRows_ = 0;
    endResetModel();
}

void CsvTableModel::RemoveRows(const std::vector<std::size_t> &rows)
{
    beginResetModel();
    table_.RemoveRows(rows);
    shownRows_ = table_.RowCount();
    endResetModel();
}

void CsvTableModel::SetFirstCellsOf(const CsvImportTable &other,
                                    const std::vector<std::size_t> &rows)
{
    beginResetModel();
    table_.ClearRows();
    for (std::size_t row : rows)
        table_.AddFirstCellsOf(other, row);
    shownRows_ = table_.RowCount();
    endResetModel();
}

void SetupCsvTableView(QTableView *view, QAbstractItemModel *model)
{
    view->setModel(model);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(true);
    view->setWordWrap(false);
    view->setCornerButtonEnabled(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view->horizontalHeader()->setDefaultSectionSize(100);
    view->horizontalHeader()->setHighlightSections(false);
}

// ---------------------------------------------------------------------------
// TFormCsvImport

TFormCsvImport::TFormCsvImport(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormCsvImport"_s);
    setWindowTitle(kDesignTitle);
    setModal(true);
    setSizeGripEnabled(true);
    resize(900, 600);

    auto newDropDown = [this](const QString &name) {
        auto *box = new QComboBox(this);
        box->setObjectName(name);
        box->setEditable(false);
        box->setMinimumContentsLength(4);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        return box;
    };
    CBName = newDropDown(u"CBName"_s);
    CBHt = newDropDown(u"CBHt"_s);
    CBAddress = newDropDown(u"CBAddress"_s);
    for (std::size_t i = 0; i < CBSashi.size(); ++i)
        CBSashi[i] = newDropDown(u"CBSashi"_s + QString::number(i + 1));

    // Five label and drop-down pairs to a row.
    auto *grid = new QGridLayout;
    const std::array<QComboBox *, Recipient::kFieldCount> boxes = DropDowns();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const QString caption = i == 0   ? u"宛先名"_s
                                : i == 1 ? u"敬称"_s
                                : i == 2 ? u"メールアドレス"_s
                                         : u"差込"_s + FullWidthNumber(static_cast<int>(i) - 2);
        auto *label = new QLabel(caption, this);
        label->setBuddy(boxes[i]);
        const int row = static_cast<int>(i) / 5;
        const int column = static_cast<int>(i) % 5 * 2;
        grid->addWidget(label, row, column, Qt::AlignRight);
        grid->addWidget(boxes[i], row, column + 1);
    }

    CBImport_NotOneLine =
        NewCheckBox(this, u"CBImport_NotOneLine"_s, u"インポート時に一行目を無視する"_s);
    BtnImport = NewPushButton(this, u"BtnImport"_s, u"インポート"_s, false);
    BtnClose = NewPushButton(this, u"BtnClose"_s, u"閉じる"_s, false);
    QHBoxLayout *commands = CommandRow({CBImport_NotOneLine}, {BtnImport, BtnClose});

    model_ = new CsvTableModel(this);
    ListViewAddress = new QTableView(this);
    ListViewAddress->setObjectName(u"ListViewAddress"_s);
    SetupCsvTableView(ListViewAddress, model_);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(commands);
    layout->addWidget(ListViewAddress, 1);

    connect(BtnImport, &QPushButton::clicked, Guarded(this, &TFormCsvImport::BtnImportClick));
    connect(BtnClose, &QPushButton::clicked, this, &TFormCsvImport::reject);
}

std::array<QComboBox *, Recipient::kFieldCount> TFormCsvImport::DropDowns() const
{
    return {CBName,     CBHt,       CBAddress,  CBSashi[0], CBSashi[1], CBSashi[2], CBSashi[3],
            CBSashi[4], CBSashi[5], CBSashi[6], CBSashi[7], CBSashi[8], CBSashi[9]};
}

void TFormCsvImport::ClearTable()
{
    model_->ClearRows();
}

void TFormCsvImport::SetFileName(const QString &path)
{
    fileName_ = path;
}

bool TFormCsvImport::IgnoreFirstLine() const
{
    return CBImport_NotOneLine->isChecked();
}

CsvColumnMapping TFormCsvImport::Mapping() const
{
    CsvColumnMapping mapping;
    const std::array<QComboBox *, Recipient::kFieldCount> boxes = DropDowns();
    const int columns = model_->Table().ColumnCount();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const int index = boxes[i]->currentIndex();
        mapping.columns[i] = index >= 0 && index < columns ? index : CsvColumnMapping::kNone;
    }
    return mapping;
}

void TFormCsvImport::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunGuarded(this, [this] { FormShow(); });
}

void TFormCsvImport::FormShow()
{
    for (QComboBox *box : DropDowns())
        box->clear();
    reading_ = true;
    stopRequested_ = false;
    setWindowTitle(windowTitle() + u" - CSVファイル読み込み中 -"_s);
    // The file is read once the dialog is on screen and its event loop runs.
    QMetaObject::invokeMethod(
        this,
        [this] {
            const bool read = RunGuarded(this, [this] { ReadFile(); });
            if (!read || stopRequested_)
                QDialog::reject();
        },
        Qt::QueuedConnection);
}

void TFormCsvImport::ReadFile()
{
    const auto done = qScopeGuard([this] {
        reading_ = false;
        setWindowTitle(kTitle);
    });
    if (stopRequested_)
        return;
    const std::string text = ReadCsvText(PathFromQString(fileName_));
    model_->ReserveBytes(text.size());
    CsvRecordReader reader(text);
    TStringListEx fields;
    RowLoadPacer pacer(*model_, [this] { model_->ShowAdded(); }, {.eventsEveryRows = kEventsEvery});
    while (reader.Next(fields)) {
        model_->AddUnshown(fields);
        if (pacer.RowAdded() && stopRequested_)
            return;
    }
    model_->ShowAdded();
    FillDropDowns();
}

void TFormCsvImport::FillDropDowns()
{
    const int columns = model_->Table().ColumnCount();
    QStringList numbers;
    numbers.reserve(columns);
    for (int column = 1; column <= columns; ++column)
        numbers << QString::number(column);
    const std::array<QComboBox *, Recipient::kFieldCount> boxes = DropDowns();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        boxes[i]->addItems(numbers);
        // The name and the address always come from a column.
        if (boxes[i] != CBName && boxes[i] != CBAddress)
            boxes[i]->addItem(kNone);
        boxes[i]->setCurrentIndex(CsvColumnMapping::Default().columns[i]);
    }
}

void TFormCsvImport::reject()
{
    if (reading_) {
        stopRequested_ = true;
        return;
    }
    QDialog::reject();
}

void TFormCsvImport::BtnImportClick()
{
    if (reading_)
        return;
    const CsvImportTable &table = model_->Table();
    const CsvColumnMapping mapping = Mapping();
    const std::size_t first = IgnoreFirstLine() ? 1 : 0;
    if (FindEmptyCell(table, mapping.columns[0], first)) {
        ShowMessage(this, u"送信者名が空欄の行があるため、インポートできません"_s);
        return;
    }
    if (errorDialog_)
        errorDialog_->ClearRows();
    const std::vector<std::size_t> failed =
        RowsWithInvalidAddress(table, mapping.columns[2], first);
    if (failed.empty()) {
        accept();
        return;
    }
    if (!errorDialog_)
        return;
    errorDialog_->SetRows(table, failed);
    if (errorDialog_->exec() != QDialog::Accepted)
        return;
    model_->RemoveRows(failed);
    accept();
}

} // namespace vostrel
