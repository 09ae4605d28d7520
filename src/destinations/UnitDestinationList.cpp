#include "destinations/UnitDestinationList.h"

#include "core/DeferredRowModel.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/ReportList.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "core/WindowSettings.h"
#include "destinations/CsvFile.h"
#include "destinations/UnitAddDestination.h"
#include "destinations/UnitAddReceivers.h"
#include "destinations/UnitBounceCheck.h"
#include "destinations/UnitCsvImport.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QRadioButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kTitle = u"送信先リスト"_s;
const QString kMarkSet = u"○"_s;
const QString kMarkNotSet = u"×"_s;
// Pending window events are processed after the 1st, 51st, 101st ...
// recipient read, and after the 1st, 13th, 25th ... recipient written.
constexpr std::size_t kLoadEventsEvery = 50;
constexpr std::size_t kSaveEventsEvery = 12;
// The smallest recipient on disk: 13 fields of 12 bytes.
constexpr std::uintmax_t kSmallestRecipient = 13 * 12;
// The list's name, as stored, travels with its row.
constexpr int kNameRole = Qt::UserRole;
// The number of recipients a list holds, from its count field.
constexpr int kCountColumn = 4;
const QString kCountCaption = u"件数"_s;
// The name column is at least this wide, and as wide as the longest name.
constexpr int kNameColumnWidth = 170;

QString Mark(bool set)
{
    return set ? kMarkSet : kMarkNotSet;
}

} // namespace

// ---------------------------------------------------------------------------
// RecipientTableModel

QStringList RecipientTableModel::ColumnCaptions()
{
    return {u"宛先名"_s, u"敬称"_s,   u"メールアドレス"_s, u"差込１"_s, u"差込２"_s,
            u"差込３"_s, u"差込４"_s, u"差込５"_s,         u"差込６"_s, u"差込７"_s,
            u"差込８"_s, u"差込９"_s, u"差込１０"_s};
}

int RecipientTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Recipient::kFieldCount;
}

QVariant RecipientTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
        index.column() >= Recipient::kFieldCount)
        return {};
    return SjisToQString(RowAt(index.row()).fields[static_cast<std::size_t>(index.column())]);
}

QVariant RecipientTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= Recipient::kFieldCount)
        return {};
    return ColumnCaptions().at(section);
}

// ---------------------------------------------------------------------------
// TFormDestinationList

TFormDestinationList::TFormDestinationList(TFormAddDestination &addDestination,
                                           TFormAddReceivers &addReceivers, QWidget *parent)
    : QDialog(parent)
    , addDestination_(addDestination)
    , addReceivers_(addReceivers)
{
    setObjectName(u"TFormDestinationList"_s);
    setWindowTitle(kTitle);
    setModal(true);
    setSizeGripEnabled(true);
    resize(960, 560);

    PNGBtnAddList =
        NewImageButton(this, u"PNGBtnAddList"_s, u"document-new"_s, QStyle::SP_FileDialogNewFolder,
                       u"リストの追加"_s, u"リストの追加"_s);
    PNGBtnEditList =
        NewImageButton(this, u"PNGBtnEditList"_s, u"document-properties"_s,
                       QStyle::SP_FileDialogDetailedView, u"リストの編集"_s, u"リストの編集"_s);
    PNGBtnDeleteList = NewImageButton(this, u"PNGBtnDeleteList"_s, u"edit-delete"_s,
                                      QStyle::SP_TrashIcon, u"リストの削除"_s, u"リストの削除"_s);
    PNGBtnClose = NewImageButton(this, u"PNGBtnClose"_s, u"window-close"_s,
                                 QStyle::SP_DialogCloseButton, u"閉じる"_s, u"閉じる"_s);
    PNGBtnBounceCheck = NewImageButton(this, u"PNGBtnBounceCheck"_s, u"mail-mark-junk"_s,
                                       QStyle::SP_MessageBoxWarning, u"不達・配信停止の確認"_s,
                                       u"不達・配信停止の確認"_s);
    QHBoxLayout *topBar = CommandRow({PNGBtnAddList, PNGBtnEditList, PNGBtnDeleteList},
                                     {PNGBtnBounceCheck, PNGBtnClose});

    auto *sendTypeLabel = new QLabel(u"送信方法"_s, this);
    RBSendType_All = NewRadioButton(this, u"RBSendType_All"_s, u"すべて"_s);
    RBSendType_All->setChecked(true);
    RBSendType_To = NewRadioButton(this, u"RBSendType_To"_s, u"宛先"_s);
    RBSendType_Cc = NewRadioButton(this, u"RBSendType_Cc"_s, u"Cc"_s);
    RBSendType_Bcc = NewRadioButton(this, u"RBSendType_Bcc"_s, u"Bcc"_s);
    PNGBtnAddAddress = NewImageButton(this, u"PNGBtnAddAddress"_s, u"contact-new"_s,
                                      QStyle::SP_FileIcon, u"宛先の追加"_s, u"宛先の追加"_s);
    PNGBtnEditAddress =
        NewImageButton(this, u"PNGBtnEditAddress"_s, u"user-properties"_s,
                       QStyle::SP_FileDialogContentsView, u"宛先の編集"_s, u"宛先の編集"_s);
    PNGBtnDeleteAddress =
        NewImageButton(this, u"PNGBtnDeleteAddress"_s, u"list-remove"_s,
                       QStyle::SP_DialogDiscardButton, u"宛先の削除"_s, u"宛先の削除"_s);
    PNGBtnCSVRead = NewImageButton(this, u"PNGBtnCSVRead"_s, u"document-import"_s,
                                   QStyle::SP_DialogOpenButton, u"CSV読込"_s, u"CSV読込"_s);
    PNGBtnCSVWrite = NewImageButton(this, u"PNGBtnCSVWrite"_s, u"document-export"_s,
                                    QStyle::SP_DialogSaveButton, u"CSV書出"_s, u"CSV書出"_s);
    auto *secondBar = new QHBoxLayout;
    secondBar->addWidget(sendTypeLabel);
    for (QRadioButton *radio : {RBSendType_All, RBSendType_To, RBSendType_Cc, RBSendType_Bcc})
        secondBar->addWidget(radio);
    secondBar->addSpacing(24);
    for (QToolButton *button :
         {PNGBtnAddAddress, PNGBtnEditAddress, PNGBtnDeleteAddress, PNGBtnCSVRead, PNGBtnCSVWrite})
        secondBar->addWidget(button);
    secondBar->addStretch();

    ListViewDestinationList = new QTreeWidget(this);
    ListViewDestinationList->setObjectName(u"ListViewDestinationList"_s);
    SetupReportList(ListViewDestinationList,
                    {u"送信先リスト"_s, u"宛先"_s, u"Cc"_s, u"Bcc"_s, kCountCaption});
    ListViewDestinationList->setColumnWidth(0, kNameColumnWidth);
    for (int column = 1; column <= 3; ++column) {
        ListViewDestinationList->setColumnWidth(column, 44);
        ListViewDestinationList->headerItem()->setTextAlignment(column, Qt::AlignCenter);
    }
    ListViewDestinationList->setColumnWidth(kCountColumn, 64);
    ListViewDestinationList->headerItem()->setTextAlignment(kCountColumn, Qt::AlignCenter);
    ListViewDestinationList->header()->setStretchLastSection(false);
    // Names that differ only at their end (..._未送信, ..._送信失敗) stay apart.
    ListViewDestinationList->setTextElideMode(Qt::ElideMiddle);

    addressModel_ = new RecipientTableModel(this);
    ListViewAddress = new QTableView(this);
    ListViewAddress->setObjectName(u"ListViewAddress"_s);
    ListViewAddress->setModel(addressModel_);
    SetupReportTable(ListViewAddress, 110);
    ListViewAddress->setColumnWidth(2, 200);

    auto *splitter = NewSplitter(this, u"SplitterLists"_s, Qt::Horizontal,
                                 {{ListViewDestinationList, 0, 310}, {ListViewAddress, 1, 650}});

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(topBar);
    layout->addLayout(secondBar);
    layout->addWidget(splitter, 1);

    const QString csvFilter = u"CSVファイル(*.csv)"_s;
    openDialog_ = new QFileDialog(this);
    openDialog_->setObjectName(u"OpenDialog"_s);
    openDialog_->setAcceptMode(QFileDialog::AcceptOpen);
    openDialog_->setFileMode(QFileDialog::ExistingFile);
    openDialog_->setNameFilter(csvFilter);
    saveDialog_ = new QFileDialog(this);
    saveDialog_->setObjectName(u"SaveDialog"_s);
    saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog_->setFileMode(QFileDialog::AnyFile);
    saveDialog_->setNameFilter(csvFilter);

    for (QRadioButton *radio : {RBSendType_All, RBSendType_To, RBSendType_Cc, RBSendType_Bcc})
        connect(radio, &QRadioButton::clicked,
                Guarded(this, &TFormDestinationList::RBSendTypeClick));
    connect(ListViewDestinationList, &QTreeWidget::itemSelectionChanged,
            Guarded(this, &TFormDestinationList::ListViewDestinationListSelectItem));
    connect(PNGBtnAddList, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnAddListClick));
    connect(PNGBtnEditList, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnEditListClick));
    connect(PNGBtnDeleteList, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnDeleteListClick));
    connect(PNGBtnAddAddress, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnAddAddressClick));
    connect(PNGBtnEditAddress, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnEditAddressClick));
    connect(PNGBtnDeleteAddress, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnDeleteAddressClick));
    connect(PNGBtnClose, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnCloseClick));
    connect(PNGBtnCSVWrite, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnCSVWriteClick));
    connect(PNGBtnCSVRead, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnCSVReadClick));
    connect(PNGBtnBounceCheck, &QToolButton::clicked,
            Guarded(this, &TFormDestinationList::PNGBtnBounceCheckClick));
    bounceCheck_ = new TFormBounceCheck(this);
    // As the user left it: size, the splitter and the lists' column widths.
    RememberWindowLayout(this);
}

void TFormDestinationList::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunGuarded(this, [this] { FormShow(); });
}

void TFormDestinationList::FormShow()
{
    closeWhenIdle_ = false;
    SetBusy(false);
    RefreshLists();
}

void TFormDestinationList::closeEvent(QCloseEvent *event)
{
    if (busy_) {
        closeWhenIdle_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TFormDestinationList::reject()
{
    if (busy_) {
        closeWhenIdle_ = true;
        return;
    }
    QDialog::reject();
}

void TFormDestinationList::SetBusy(bool busy, const QString &titleSuffix)
{
    busy_ = busy;
    if (busy && !writing_)
        writing_.emplace();
    else if (!busy)
        writing_.reset();
    if (!busy && closeWhenIdle_) {
        // Closed once the operation that is ending has returned.
        closeWhenIdle_ = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
    for (QRadioButton *radio : {RBSendType_All, RBSendType_To, RBSendType_Cc, RBSendType_Bcc})
        radio->setEnabled(!busy);
    ListViewDestinationList->setEnabled(!busy);
    setWindowTitle(busy ? windowTitle() + titleSuffix : kTitle);
}

std::string TFormDestinationList::SelectedListName() const
{
    return selectedList_ ? selectedList_->data(0, kNameRole).toByteArray().toStdString()
                         : std::string();
}

SendType TFormDestinationList::SelectedListMarks() const
{
    if (!selectedList_)
        return {};
    return SendType{selectedList_->text(1) == kMarkSet, selectedList_->text(2) == kMarkSet,
                    selectedList_->text(3) == kMarkSet};
}

std::vector<int> TFormDestinationList::SelectedRecipientRows() const
{
    // Read from the selection's ranges: asking row by row costs the number
    // of ranges for every row.
    const int rowCount = addressModel_->rowCount();
    std::vector<bool> selected(static_cast<std::size_t>(rowCount), false);
    for (const QItemSelectionRange &range : ListViewAddress->selectionModel()->selection()) {
        for (int row = std::max(range.top(), 0); row <= std::min(range.bottom(), rowCount - 1);
             ++row)
            selected[static_cast<std::size_t>(row)] = true;
    }
    std::vector<int> rows;
    for (int row = 0; row < rowCount; ++row) {
        if (selected[static_cast<std::size_t>(row)])
            rows.push_back(row);
    }
    return rows;
}

void TFormDestinationList::RefreshLists()
{
    const QSignalBlocker blocker(ListViewDestinationList);
    ListViewDestinationList->clear();
    selectedList_ = nullptr;
    addressModel_->Clear();

    for (const DestinationListEntry &entry : ListDestinationLists()) {
        const SendType &flags = entry.sendType;
        if ((RBSendType_To->isChecked() && !flags.to) ||
            (RBSendType_Cc->isChecked() && !flags.cc) ||
            (RBSendType_Bcc->isChecked() && !flags.bcc))
            continue;
        auto *item = new QTreeWidgetItem;
        item->setText(0, SjisToQString(entry.name));
        item->setData(0, kNameRole, QByteArray::fromStdString(entry.name));
        item->setText(1, Mark(flags.to));
        item->setText(2, Mark(flags.cc));
        item->setText(3, Mark(flags.bcc));
        for (int column = 1; column <= 3; ++column)
            item->setTextAlignment(column, Qt::AlignCenter);
        item->setToolTip(0, item->text(0));
        // Only the count field is read (ListDestinationLists), never the recipients.
        item->setText(kCountColumn,
                      entry.headerReadable ? QString::number(entry.count) : u"不明"_s);
        item->setTextAlignment(kCountColumn, Qt::AlignRight | Qt::AlignVCenter);
        ListViewDestinationList->addTopLevelItem(item);
    }
    // Wide enough for every name; wider when the user made it so.
    const int kept = std::max(ListViewDestinationList->columnWidth(0), kNameColumnWidth);
    ListViewDestinationList->resizeColumnToContents(0);
    if (ListViewDestinationList->columnWidth(0) < kept)
        ListViewDestinationList->setColumnWidth(0, kept);
}

void TFormDestinationList::RBSendTypeClick()
{
    if (busy_)
        return;
    RefreshLists();
}

void TFormDestinationList::ListViewDestinationListSelectItem()
{
    const QList<QTreeWidgetItem *> selected = ListViewDestinationList->selectedItems();
    if (selected.isEmpty()) {
        selectedList_ = nullptr;
        addressModel_->Clear();
        return;
    }
    if (selected.front() == selectedList_)
        return;
    selectedList_ = selected.front();
    LoadSelectedList();
}

void TFormDestinationList::LoadSelectedList()
{
    if (!selectedList_)
        return;
    addressModel_->Clear();
    SetBusy(true, u" - 読み込み中 -"_s);
    const auto done = qScopeGuard([this] { SetBusy(false); });

    // The flags are not used here: the row's marks stay as they are.
    const std::filesystem::path path = DestinationListPath(SelectedListName());
    DestinationListReader reader(path);
    // Room for what the count announces, but never more than the file holds;
    // one more for the slot in which the end is found.
    std::error_code ec;
    const std::uintmax_t fileSize = std::filesystem::file_size(path, ec);
    addressModel_->Reserve(static_cast<std::size_t>(
        std::min<std::uintmax_t>(static_cast<std::uintmax_t>(reader.Count()),
                                 ec ? 0 : fileSize / kSmallestRecipient) +
        1));

    RowLoadPacer pacer(*addressModel_, [this] { addressModel_->ShowAdded(); },
                       {.eventsEveryRows = kLoadEventsEvery});
    try {
        for (;;) {
            if (!reader.Next(addressModel_->AddUnshown())) {
                addressModel_->DropLastUnshown();
                break;
            }
            pacer.RowAdded();
        }
    } catch (...) {
        // Show what was read (a file cut short is reported with the number
        // of recipients read); the file is written again only when the user
        // changes the list.
        addressModel_->DropLastUnshown();
        addressModel_->ShowAdded();
        throw;
    }
    addressModel_->ShowAdded();
}

void TFormDestinationList::SaveSelectedList()
{
    if (!selectedList_)
        return;
    SetBusy(true, u" - 保存中 -"_s);
    const auto done = qScopeGuard([this] { SetBusy(false); });
    SaveDestinationList(SelectedListName(), SelectedListMarks(), addressModel_->Recipients(),
                        CurrentKey(), [](std::size_t written) {
                            if (written % kSaveEventsEvery == 1)
                                QCoreApplication::processEvents();
                        });
    selectedList_->setText(kCountColumn, QString::number(addressModel_->Recipients().size()));
}

void TFormDestinationList::PNGBtnAddListClick()
{
    if (busy_)
        return;
    addDestination_.Prepare(u"送信先リストを追加"_s, u"リストを作成"_s, {}, SendType{}, {});
    if (addDestination_.exec() != QDialog::Accepted)
        return;
    const SendType chosen = addDestination_.ChosenSendType();
    CreateDestinationList(addDestination_.ListName(), chosen.to, chosen.cc, chosen.bcc);
    RefreshLists();
}

void TFormDestinationList::PNGBtnEditListClick()
{
    if (busy_)
        return;
    if (!selectedList_) {
        ShowMessage(this, u"変更対象のリストが選択されていません。"_s);
        return;
    }
    const std::string name = SelectedListName();
    addDestination_.Prepare(u"送信先リストを編集"_s, u"リストを修正"_s, name, SelectedListMarks(),
                            name);
    if (addDestination_.exec() != QDialog::Accepted)
        return;

    const std::string newName = addDestination_.ListName();
    if (newName != name) {
        // A failed rename is not reported: the save below writes the list
        // under the new name all the same.
        RenameDestinationList(name, newName);
        selectedList_->setText(0, SjisToQString(newName));
        selectedList_->setData(0, kNameRole, QByteArray::fromStdString(newName));
    }
    const SendType chosen = addDestination_.ChosenSendType();
    selectedList_->setText(1, Mark(chosen.to));
    selectedList_->setText(2, Mark(chosen.cc));
    selectedList_->setText(3, Mark(chosen.bcc));
    SaveSelectedList();
    RefreshLists();
}

void TFormDestinationList::PNGBtnDeleteListClick()
{
    if (busy_)
        return;
    if (!selectedList_) {
        ShowMessage(this, u"削除するリストを選択してください。"_s);
        return;
    }
    const std::string name = SelectedListName();
    if (!AskYesNo(this, SjisToQString(name) + u" を削除します。\r\nよろしいですか？"_s))
        return;
    if (DeleteDestinationList(name))
        RefreshLists();
    else
        ShowMessage(this, u"削除できませんでした。"_s);
}

void TFormDestinationList::PNGBtnAddAddressClick()
{
    if (busy_)
        return;
    if (!selectedList_) {
        ShowMessage(this, u"追加対象の宛先が選択されていません。"_s);
        return;
    }
    addReceivers_.Reset();
    addReceivers_.SetCaptions(u"宛先の追加"_s, u"登録する"_s);
    if (addReceivers_.exec() != QDialog::Accepted)
        return;
    std::vector<Recipient> added{addReceivers_.Values()};
    addressModel_->Append(added);
    SaveSelectedList();
}

void TFormDestinationList::PNGBtnEditAddressClick()
{
    if (busy_)
        return;
    if (!selectedList_) {
        ShowMessage(this, u"変更対象の宛先が選択されていません。"_s);
        return;
    }
    const std::vector<int> rows = SelectedRecipientRows();
    if (rows.empty()) {
        ShowMessage(this, u"変更対象の情報が選択されていません。"_s);
        return;
    }
    if (rows.size() > 1)
        return;
    const int row = rows.front();
    const Recipient &current = addressModel_->Recipients().at(static_cast<std::size_t>(row));
    addReceivers_.SetValues(current);
    addReceivers_.SetCaptions(SjisToQString(current.Name()) + u"の編集"_s, u"変更する"_s);
    if (addReceivers_.exec() != QDialog::Accepted)
        return;
    addressModel_->Replace(row, addReceivers_.Values());
    SaveSelectedList();
}

void TFormDestinationList::PNGBtnDeleteAddressClick()
{
    if (busy_)
        return;
    if (!selectedList_)
        return;
    const std::vector<int> rows = SelectedRecipientRows();
    if (rows.empty()) {
        ShowMessage(this, u"削除対象の宛先が選択されていません。"_s);
        return;
    }
    if (!AskYesNo(this, u"選択中の宛先をリストから削除します。\r\nよろしいですか？"_s))
        return;
    if (rows.size() == 1) {
        addressModel_->RemoveRows(rows);
    } else {
        SetBusy(true);
        const auto done = qScopeGuard([this] { SetBusy(false); });
        addressModel_->RemoveRows(rows);
    }
    SaveSelectedList();
}

void TFormDestinationList::PNGBtnCloseClick()
{
    close();
}

// ---------------------------------------------------------------------------
// CSV export and import

namespace {

// Pending window events are processed after the 1st, 51st, 101st ...
// recipient exported or imported.
constexpr std::size_t kCsvEventsEvery = 50;

} // namespace

void TFormDestinationList::PNGBtnCSVWriteClick()
{
    if (busy_)
        return;
    if (!selectedList_) {
        ShowMessage(this, u"対象のリストが選択されていません。"_s);
        return;
    }
    if (saveDialog_->exec() != QDialog::Accepted)
        return;
    const std::filesystem::path chosen = ChosenFile(*saveDialog_);
    if (chosen.empty())
        return;
    {
        SetBusy(true);
        const auto done = qScopeGuard([this] { SetBusy(false); });
        WriteCsvExport(CsvFileName(chosen), addressModel_->Recipients(), [](std::size_t written) {
            if (written % kCsvEventsEvery == 1)
                QCoreApplication::processEvents();
        });
    }
    ShowMessage(this, u"CSV書出が完了しました"_s);
}

void TFormDestinationList::PNGBtnCSVReadClick()
{
    if (busy_)
        return;
    if (!selectedList_) {
        ShowMessage(this, u"対象のリストが選択されていません。"_s);
        return;
    }
    if (!csvImport_ || openDialog_->exec() != QDialog::Accepted)
        return;
    const QStringList chosen = openDialog_->selectedFiles();
    if (chosen.isEmpty())
        return;
    csvImport_->ClearTable();
    csvImport_->SetFileName(chosen.front());
    // The rows are read anew for every import: no need to hold them after it.
    const auto release = qScopeGuard([this] { csvImport_->ClearTable(); });
    if (csvImport_->exec() != QDialog::Accepted)
        return;
    ImportCsvRows();
}

void TFormDestinationList::ImportCsvRows()
{
    const CsvImportTable &table = csvImport_->Table();
    const CsvColumnMapping mapping = csvImport_->Mapping();
    const std::size_t first = csvImport_->IgnoreFirstLine() ? 1 : 0;
    // The rows to import only: a first line left out may be a header with
    // empty cells.
    if (FindEmptyCell(table, mapping.columns[0], first) ||
        FindEmptyCell(table, mapping.columns[2], first)) {
        ShowMessage(this,
                    u"名前またはメールアドレスに空欄のデータが存在するためインポートできません"_s);
        return;
    }

    // Until the list file holds them, the rows added can be taken back: the
    // view never shows recipients that the file does not hold.
    const int before = addressModel_->rowCount();
    auto takeBack = qScopeGuard([this, before] {
        std::vector<int> added;
        for (int row = before; row < static_cast<int>(addressModel_->Recipients().size()); ++row)
            added.push_back(row);
        addressModel_->RemoveRows(std::move(added));
    });
    {
        SetBusy(true, u" - インポート中 -"_s);
        const auto done = qScopeGuard([this] { SetBusy(false); });
        if (table.RowCount() > first)
            addressModel_->Reserve(static_cast<std::size_t>(before) + table.RowCount() - first);
        // The rows imported join those on view only every so often.
        RowLoadPacer pacer(*addressModel_, [this] { addressModel_->ShowAdded(); },
                           {.eventsEveryRows = kCsvEventsEvery, .firstRowsAtOnce = false});
        for (std::size_t row = first; row < table.RowCount(); ++row) {
            addressModel_->AddUnshown(MapCsvRow(table, row, mapping));
            pacer.RowAdded();
        }
        addressModel_->ShowAdded();
    }
    SaveSelectedList();
    takeBack.dismiss();
    ShowMessage(this, u"CSV読込が完了しました"_s);
}

// The mailbox check may store new lists and remove recipients: the lists are
// shown anew afterwards.
void TFormDestinationList::PNGBtnBounceCheckClick()
{
    if (busy_)
        return;
    bounceCheck_->exec();
    RefreshLists();
}

} // namespace vostrel
