#include "history/UnitMain.h"

#include "core/AppState.h"
#include "core/Backup.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/Errors.h"
#include "core/Password.h"
#include "core/Reencrypt.h"
#include "core/ReportList.h"
#include "core/SilentWebView.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "core/UnitCreatePass.h"
#include "core/UnitLoginPass.h"
#include "core/UnitSoftConfig.h"
#include "core/WindowSettings.h"
#include "history/HistoryTableModel.h"
#include "history/UnitVersion.h"
#include "send/StartSend.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <algorithm>
#include <exception>

namespace vostrel {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kAllSenders = u"すべての送信者"_s;
const QString kHistoryLabel = u" 【 送信済みリスト 】"_s;
const QString kPreviewLabel = u" 【 プレビュー 】"_s;
const QString kBackupNotice =
    u"※作成されるバックアップは読込(復元)時、現在のパスワードが必要になります。\r\n"
    u"　パスワードを忘れないようにご注意ください"_s;
const QString kRestoreQuestion =
    u"現在のデータはすべて、選択したバックアップの内容に置き換えられます。よろしいですか？"_s;
const QString kInvalidBackup =
    u"バックアップフォルダが正しくないか必要なファイルがないため読み込めません"_s;
// The sender's name, as stored, travels with its row of the filter list.
constexpr int kNameRole = Qt::UserRole;
// While a history loads, pending window events are processed at least this
// often, and rows read reach the list at most this often.
constexpr qint64 kLoadEventsEveryMs = 25;
constexpr qint64 kShowRowsEveryMs = 150;

// True when folder is the data folder or lies inside it.
bool IsInDataFolder(const fs::path &folder)
{
    std::error_code ec;
    const fs::path data = fs::weakly_canonical(DataFolder(), ec);
    const fs::path chosen = fs::weakly_canonical(folder, ec);
    if (ec)
        return false;
    auto d = data.begin();
    auto c = chosen.begin();
    for (; d != data.end() && !d->empty(); ++d, ++c) {
        if (c == chosen.end() || *c != *d)
            return false;
    }
    return true;
}

} // namespace

TFormMain::TFormMain(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(u"TFormMain"_s);
    setWindowTitle(AppTitle());
    setWindowIcon(ProgramIcon());

    // The data folder tree, before anything reads it: a restore or a
    // password change that a crash interrupted is finished or undone first,
    // then the folders are made.
    try {
        OpenDataFolder(DefaultDataFolder());
    } catch (const std::exception &e) {
        ReportError(this, e);
    }

    auto *central = new QWidget(this);
    central->setObjectName(u"PanelMain"_s);

    // The command buttons, in their order.
    PNGBtnMailMake =
        NewImageButton(central, u"PNGBtnMailMake"_s, u"mail-message-new"_s, QStyle::SP_FileIcon,
                       u"新規メール作成"_s, u"新しいメールを作成します"_s);
    PNGBtnSendList = NewImageButton(central, u"PNGBtnSendList"_s, u"x-office-address-book"_s,
                                    QStyle::SP_FileDialogDetailedView, u"送信先リスト"_s,
                                    u"送信先リストを開きます"_s);
    PNGBtnSenderList =
        NewImageButton(central, u"PNGBtnSenderList"_s, u"network-server"_s, QStyle::SP_DriveNetIcon,
                       u"接続設定"_s, u"送信元の接続設定を開きます"_s);
    PNGBtnConfig =
        NewImageButton(central, u"PNGBtnConfig"_s, u"application-pgp-keys"_s,
                       QStyle::SP_DialogApplyButton, u"パスワード"_s, u"パスワードを設定します"_s);
    PNGBtnBkLoad = NewImageButton(central, u"PNGBtnBkLoad"_s, u"document-revert"_s,
                                  QStyle::SP_DialogOpenButton, u"バックアップ\n読込"_s,
                                  u"バックアップを読み込んでデータを復元します"_s);
    PNGBtnBkSave =
        NewImageButton(central, u"PNGBtnBkSave"_s, u"backup"_s, QStyle::SP_DialogSaveButton,
                       u"バックアップ\n作成"_s, u"データのバックアップを作成します"_s);
    auto *buttons = new QHBoxLayout;
    for (QToolButton *button : {PNGBtnMailMake, PNGBtnSendList, PNGBtnSenderList, PNGBtnConfig,
                                PNGBtnBkLoad, PNGBtnBkSave}) {
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(32, 32));
        button->setMinimumWidth(96);
        buttons->addWidget(button);
    }
    buttons->addStretch();

    // The sender filter.
    ListViewItemBox = new QTreeWidget(central);
    ListViewItemBox->setObjectName(u"ListViewItemBox"_s);
    SetupReportList(ListViewItemBox, {u"送信者"_s});

    // The history.
    LabelAddress = NewLabel(central, u"LabelAddress"_s, kHistoryLabel);
    historyModel_ = new HistoryTableModel(this);
    ListViewAddress = new QTableView(central);
    ListViewAddress->setObjectName(u"ListViewAddress"_s);
    ListViewAddress->setModel(historyModel_);
    SetupReportTable(ListViewAddress, 120);
    ListViewAddress->horizontalHeader()->setSectionsClickable(true);
    ListViewAddress->horizontalHeader()->setSortIndicatorShown(false);
    ListViewAddress->setColumnWidth(0, 220);
    for (int column : {2, 3})
        ListViewAddress->setColumnWidth(column, 70);
    for (int column : {4, 5})
        ListViewAddress->setColumnWidth(column, 210);
    // The selection stays visible while another control has the focus.
    QPalette palette = ListViewAddress->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    ListViewAddress->setPalette(palette);
    ListViewAddress->setContextMenuPolicy(Qt::CustomContextMenu);

    MenuItemDelete = new QAction(u"選択中のメールを削除(&D)"_s, this);
    MenuItemDelete->setObjectName(u"MenuItemDelete"_s);
    PopupMenuMsgDelete = new QMenu(this);
    PopupMenuMsgDelete->setObjectName(u"PopupMenuMsgDelete"_s);
    PopupMenuMsgDelete->addAction(MenuItemDelete);

    // The preview.
    LabelMailText = NewLabel(central, u"LabelMailText"_s, kPreviewLabel);
    EditTitle = NewLineEdit(central, u"EditTitle"_s);
    EditTitle->setReadOnly(true);
    EditAppended = NewLineEdit(central, u"EditAppended"_s);
    EditAppended->setReadOnly(true);
    QPalette grey = EditAppended->palette();
    grey.setColor(QPalette::Base, grey.color(QPalette::Button));
    EditAppended->setPalette(grey);
    auto *labelTitle = new QLabel(u"件名："_s, central);
    labelTitle->setBuddy(EditTitle);
    auto *labelAppended = new QLabel(u"添付："_s, central);
    labelAppended->setBuddy(EditAppended);

    PageControlMailText = new QTabWidget(central);
    PageControlMailText->setObjectName(u"PageControlMailText"_s);
    TabSheetText = new QWidget;
    TabSheetText->setObjectName(u"TabSheetText"_s);
    TabSheetHtml = new QWidget;
    TabSheetHtml->setObjectName(u"TabSheetHtml"_s);
    PageControlMailText->addTab(TabSheetText, u" テキスト "_s);
    PageControlMailText->addTab(TabSheetHtml, u" ブラウザ "_s);
    MemoMailText = new QPlainTextEdit(TabSheetText);
    MemoMailText->setObjectName(u"MemoMailText"_s);
    MemoMailText->setReadOnly(true);
    MemoMailText->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoMailText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoMailText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto *textLayout = new QVBoxLayout(TabSheetText);
    textLayout->setContentsMargins(0, 0, 0, 0);
    textLayout->addWidget(MemoMailText);
    // The browser is made when it is first needed; a stretch keeps its room.
    auto *htmlLayout = new QVBoxLayout(TabSheetHtml);
    htmlLayout->setContentsMargins(0, 0, 0, 0);
    htmlLayout->addStretch(1);

    // The layout: filter | (history / preview).
    auto *historyPanel = new QWidget(central);
    historyPanel->setObjectName(u"PanelHistory"_s);
    auto *historyLayout = new QVBoxLayout(historyPanel);
    historyLayout->setContentsMargins(0, 0, 0, 0);
    historyLayout->addWidget(LabelAddress);
    historyLayout->addWidget(ListViewAddress, 1);

    auto *previewPanel = new QWidget(central);
    previewPanel->setObjectName(u"PanelPreview"_s);
    auto *fields = new QGridLayout;
    fields->addWidget(labelTitle, 0, 0);
    fields->addWidget(EditTitle, 0, 1);
    fields->addWidget(labelAppended, 1, 0);
    fields->addWidget(EditAppended, 1, 1);
    auto *previewLayout = new QVBoxLayout(previewPanel);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    previewLayout->addWidget(LabelMailText);
    previewLayout->addLayout(fields);
    previewLayout->addWidget(PageControlMailText, 1);

    SplitterHistory = NewSplitter(central, u"SplitterHistory"_s, Qt::Vertical,
                                  {{historyPanel, 1, 300}, {previewPanel, 1, 300}});
    SplitterSender = NewSplitter(central, u"SplitterSender"_s, Qt::Horizontal,
                                 {{ListViewItemBox, 0, 200}, {SplitterHistory, 1, 800}});

    auto *layout = new QVBoxLayout(central);
    layout->addLayout(buttons);
    layout->addWidget(SplitterSender, 1);
    setCentralWidget(central);

    // The main menu.
    QMenu *file = menuBar()->addMenu(u"ファイル(&F)"_s);
    file->setObjectName(u"MenuFile"_s);
    QAction *newMail = file->addAction(u"新規メールを作成(&M)"_s);
    newMail->setObjectName(u"MenuItemMailMake"_s);
    QAction *openLists = file->addAction(u"送信先リストを開く(&O)"_s);
    openLists->setObjectName(u"MenuItemSendList"_s);
    file->addSeparator();
    QAction *quit = file->addAction(u"ソフトを終了(&E)"_s);
    quit->setObjectName(u"MenuItemClose"_s);
    QMenu *view = menuBar()->addMenu(u"表示(&E)"_s);
    view->setObjectName(u"MenuView"_s);
    view->addAction(MenuItemDelete);
    QMenu *settings = menuBar()->addMenu(u"設定(&C)"_s);
    settings->setObjectName(u"MenuSetting"_s);
    QAction *senders = settings->addAction(u"接続設定(&A)"_s);
    senders->setObjectName(u"MenuItemSenderList"_s);
    QAction *password = settings->addAction(u"パスワード設定(&P)"_s);
    password->setObjectName(u"MenuItemConfig"_s);
    QAction *version = menuBar()->addAction(u"バージョン情報(&V)"_s);
    version->setObjectName(u"MenuItemVersion"_s);

    connect(PNGBtnMailMake, &QToolButton::clicked, this,
            Guarded(this, &TFormMain::PNGBtnMailMakeClick));
    connect(newMail, &QAction::triggered, this, Guarded(this, &TFormMain::PNGBtnMailMakeClick));
    connect(PNGBtnSendList, &QToolButton::clicked, this,
            Guarded(this, &TFormMain::PNGBtnSendListClick));
    connect(openLists, &QAction::triggered, this, Guarded(this, &TFormMain::PNGBtnSendListClick));
    connect(PNGBtnSenderList, &QToolButton::clicked, this,
            Guarded(this, &TFormMain::PNGBtnSenderListClick));
    connect(senders, &QAction::triggered, this, Guarded(this, &TFormMain::PNGBtnSenderListClick));
    connect(PNGBtnConfig, &QToolButton::clicked, this,
            Guarded(this, &TFormMain::PNGBtnConfigClick));
    connect(password, &QAction::triggered, this, Guarded(this, &TFormMain::PNGBtnConfigClick));
    connect(PNGBtnBkLoad, &QToolButton::clicked, this,
            Guarded(this, &TFormMain::PNGBtnBkLoadClick));
    connect(PNGBtnBkSave, &QToolButton::clicked, this,
            Guarded(this, &TFormMain::PNGBtnBkSaveClick));
    connect(MenuItemDelete, &QAction::triggered, this,
            Guarded(this, &TFormMain::MenuItemDeleteClick));
    connect(version, &QAction::triggered, this, Guarded(this, &TFormMain::MenuItemVersionClick));
    connect(quit, &QAction::triggered, this, &QWidget::close);

    connect(ListViewItemBox, &QTreeWidget::itemSelectionChanged, this,
            Guarded(this, &TFormMain::ListViewItemBoxSelectItem));
    connect(ListViewAddress->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            Guarded(this, [this](const QItemSelection &, const QItemSelection &) {
                ListViewAddressSelectItem();
            }));
    connect(ListViewAddress->horizontalHeader(), &QHeaderView::sectionClicked, this,
            Guarded(this, &TFormMain::ListViewAddressColumnClick));
    connect(ListViewAddress, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        PopupMenuMsgDelete->popup(ListViewAddress->viewport()->mapToGlobal(at));
    });
    connect(PageControlMailText, &QTabWidget::currentChanged, this,
            Guarded(this, [this](int) { PageControlMailTextChange(); }));

    resize(1100, 720);
    // As the user left it: size, splitters and the lists' column widths.
    RememberWindowLayout(this);
}

void TFormMain::SetLinks(Links links)
{
    links_ = std::move(links);
}

void TFormMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!firstShowQueued_) {
        // The show routine runs once the window is on screen, from the event loop.
        firstShowQueued_ = true;
        QTimer::singleShot(0, this, Guarded(this, [this] { FormShow(); }));
    }
}

// ---- The show routine and the sender filter ----

void TFormMain::FormShow(int senderRow)
{
    if (!firstShowDone_) {
        std::optional<std::string> key;
        const bool ok = RunGuarded(this, [&] {
            std::error_code ec;
            if (fs::exists(ConfigPath(), ec))
                key = links_.loginPass ? LogIn(*links_.loginPass) : std::string(DefaultKey);
            else
                key = links_.createPass ? CreateFirstPassword(*links_.createPass)
                                        : std::string(DefaultKey);
        });
        if (!ok || !key) {
            Q_EMIT TerminateRequested();
            return;
        }
        BeginWithKey(*key);
    }
    firstShowDone_ = true;

    RefillSenderList(senderRow);
}

void TFormMain::BeginWithKey(const std::string &key)
{
    SetCurrentKey(key);
    // A send run that the end of the program cut short is accounted for
    // under the key, before the history shows its logs.
    ReportInterruptedSend(this);
}

void TFormMain::RefillSenderList(int senderRow)
{
    ListViewItemBox->clear();
    auto *all = new QTreeWidgetItem(ListViewItemBox, {kAllSenders});
    all->setData(0, kNameRole, QByteArray::fromStdString(QStringToSjis(kAllSenders)));
    for (const std::string &name : ListVslNames(SendersFolder())) {
        auto *item = new QTreeWidgetItem(ListViewItemBox, {SjisToQString(name)});
        item->setData(0, kNameRole, QByteArray::fromStdString(name));
    }
    const int row =
        senderRow >= 0 && senderRow < ListViewItemBox->topLevelItemCount() ? senderRow : 0;
    // Selecting the row loads the history.
    ListViewItemBox->setCurrentItem(ListViewItemBox->topLevelItem(row));
}

void TFormMain::ListViewItemBoxSelectItem()
{
    if (ListViewItemBox->selectedItems().isEmpty())
        return;
    LoadHistory();
}

// ---- The history ----

void TFormMain::LoadHistory()
{
    QTreeWidgetItem *selected = ListViewItemBox->selectedItems().front();
    const int selectedRow = ListViewItemBox->indexOfTopLevelItem(selected);
    LabelAddress->setText(kHistoryLabel + u" "_s + selected->text(0));
    historyModel_->Clear();
    previewFile_.clear();

    // The first row reads every sender's folder (its own included).
    std::vector<std::string> senders;
    for (int row = 0; row < ListViewItemBox->topLevelItemCount(); ++row) {
        if (selectedRow == 0 || row == selectedRow)
            senders.push_back(
                ListViewItemBox->topLevelItem(row)->data(0, kNameRole).toByteArray().toStdString());
    }
    logRoot_ = HistoryLogRoot();

    // A file that cannot be read is passed over; the others still load.
    std::vector<fs::path> passedOver;
    {
        SetBusy(true);
        const auto done = qScopeGuard([this] { SetBusy(false); });
        LoadHistoryRows(senders, passedOver);
    }
    historyModel_->ShowAdded();
    sortState_ = -(HistoryEntry::kStartTimeColumn + 1);
    SortHistory();
    ClearPreview();
    if (!passedOver.empty())
        ShowError(this, QString::fromStdString(HistoryPassedOverMessage(passedOver)));
}

void TFormMain::LoadHistoryRows(const std::vector<std::string> &senders,
                                std::vector<fs::path> &passedOver)
{
    // The first row at once.
    RowLoadPacer pacer(*historyModel_,
                       [this] {
                           const bool first = historyModel_->rowCount() == 0;
                           historyModel_->ShowAdded();
                           if (first)
                               Q_EMIT HistoryRowsShown();
                       },
                       {.eventsEveryMs = kLoadEventsEveryMs, .showEveryMs = kShowRowsEveryMs});
    try {
        for (const std::string &sender : senders) {
            for (const fs::path &file : HistoryFiles(HistorySenderFolder(logRoot_, sender))) {
                try {
                    historyModel_->AddUnshown(ReadHistoryEntry(file, sender));
                } catch (const VostrelError &) {
                    passedOver.push_back(file);
                    continue;
                }
                pacer.RowAdded();
            }
        }
    } catch (...) {
        // The rows read so far stay, unsorted.
        historyModel_->ShowAdded();
        throw;
    }
}

std::vector<int> TFormMain::SelectedHistoryRows() const
{
    std::vector<int> rows;
    for (const QModelIndex &index : ListViewAddress->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TFormMain::ListViewAddressSelectItem()
{
    const std::vector<int> rows = SelectedHistoryRows();
    if (rows.empty())
        return;
    const HistoryEntry &entry = historyModel_->Entry(rows.front());
    if (!previewFile_.empty() && entry.file == previewFile_)
        return; // already shown
    LabelMailText->setText(kPreviewLabel + u" "_s + SjisToQString(entry.Subject()));
    previewFile_.clear();
    const HistoryPreview preview = ReadHistoryPreview(entry.file);
    EditTitle->setText(SjisToQString(preview.subject));
    MemoMailText->setPlainText(SjisToQString(preview.body));
    EditAppended->setText(SjisToQString(preview.attachments));
    previewBody_ = preview.body;
    pictureFolder_ = HistoryPictureFolder(entry);
    previewFile_ = entry.file;
    if (PageControlMailText->currentWidget() == TabSheetHtml)
        RenderPreview();
}

void TFormMain::ListViewAddressColumnClick(int column)
{
    if (busy_)
        return;
    sortState_ = column + 1 == std::abs(sortState_) ? -sortState_ : column + 1;
    SortHistory();
}

void TFormMain::SortHistory()
{
    historyModel_->Sort(sortState_);
    QHeaderView *header = ListViewAddress->horizontalHeader();
    header->setSortIndicatorShown(sortState_ != 0);
    if (sortState_ != 0)
        header->setSortIndicator(std::abs(sortState_) - 1,
                                 sortState_ > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TFormMain::PageControlMailTextChange()
{
    if (PageControlMailText->currentWidget() == TabSheetHtml)
        RenderPreview();
}

void TFormMain::RenderPreview()
{
    const fs::path page = WriteHistoryPage(previewBody_, pictureFolder_);
    EnsureBrowser();
    LoadLocalFile(WebBrowser, page);
}

void TFormMain::EnsureBrowser()
{
    if (WebBrowser)
        return;
    // Made on first use only: the browser engine is slow to start.
    WebBrowser = NewSilentWebViewInPlaceOfStretch(TabSheetHtml, u"WebBrowser"_s);
}

void TFormMain::ClearPreview()
{
    LabelMailText->setText(u"【 プレビュー 】"_s);
    EditTitle->clear();
    EditAppended->clear();
    MemoMailText->clear();
    previewFile_.clear();
    previewBody_.clear();
    pictureFolder_.reset();
    PageControlMailText->setCurrentWidget(TabSheetText);
    if (WebBrowser)
        WebBrowser->setUrl(QUrl(u"about:blank"_s));
}

void TFormMain::MenuItemDeleteClick()
{
    if (busy_)
        return;
    const std::vector<int> rows = SelectedHistoryRows();
    if (rows.empty())
        return;
    if (!AskYesNo(this, u"選択しているメールを削除します。よろしいですか？"_s))
        return;
    // No preview of a row on its way out.
    ListViewAddress->selectionModel()->clearSelection();
    std::vector<int> deleted;
    std::exception_ptr failure;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        try {
            DeleteHistoryEntry(historyModel_->Entry(*row));
        } catch (...) {
            // The entry that could not be deleted and those before it stay.
            failure = std::current_exception();
            break;
        }
        deleted.push_back(*row);
    }
    historyModel_->RemoveRows(deleted);
    ListViewAddress->viewport()->update();
    ClearPreview();
    if (failure)
        std::rethrow_exception(failure);
}

void TFormMain::SetBusy(bool busy)
{
    busy_ = busy;
    for (QToolButton *button : {PNGBtnMailMake, PNGBtnSendList, PNGBtnSenderList, PNGBtnConfig,
                                PNGBtnBkLoad, PNGBtnBkSave})
        button->setEnabled(!busy);
    menuBar()->setEnabled(!busy);
    MenuItemDelete->setEnabled(!busy);
    ListViewItemBox->setEnabled(!busy);
    // The list can be scrolled while it fills, but rows are neither chosen
    // nor sorted until it is complete.
    ListViewAddress->horizontalHeader()->setSectionsClickable(!busy);
    ListViewAddress->setSelectionMode(busy ? QAbstractItemView::NoSelection
                                           : QAbstractItemView::ExtendedSelection);
    if (busy)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
    if (!busy && closeWhenIdle_) {
        // Closed once the load that is ending has returned.
        closeWhenIdle_ = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

// ---- Commands ----

void TFormMain::RaiseAndActivate()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}

void TFormMain::PNGBtnMailMakeClick()
{
    if (links_.openCompose)
        links_.openCompose();
    // Refill the sender list and select the row selected before, so that a
    // mail just sent is listed.
    const QList<QTreeWidgetItem *> selected = ListViewItemBox->selectedItems();
    const int row = selected.isEmpty() ? 0 : ListViewItemBox->indexOfTopLevelItem(selected.front());
    FormShow(row);
}

void TFormMain::PNGBtnSendListClick()
{
    if (links_.openDestinationList)
        links_.openDestinationList();
}

void TFormMain::PNGBtnSenderListClick()
{
    if (links_.openSenderConfig)
        links_.openSenderConfig();
    FormShow();
}

void TFormMain::PNGBtnConfigClick()
{
    if (links_.config && links_.configProgress)
        ChangePassword(*links_.config, *links_.configProgress, this);
}

void TFormMain::MenuItemVersionClick()
{
    if (links_.version)
        links_.version->exec();
}

// ---- Backup and restore ----

std::optional<fs::path> TFormMain::SelectFolder(const QString &caption)
{
    if (!selectFolderDialog_) {
        selectFolderDialog_ = new QFileDialog(this);
        selectFolderDialog_->setObjectName(u"SelectFolder"_s);
        selectFolderDialog_->setFileMode(QFileDialog::Directory);
        selectFolderDialog_->setOption(QFileDialog::ShowDirsOnly, true);
        selectFolderDialog_->setAcceptMode(QFileDialog::AcceptOpen);
        selectFolderDialog_->setDirectory(QDir::homePath());
    }
    // Backup and restore both open in the folder the last of them used.
    if (const QString last = LastBackupFolder(); !last.isEmpty())
        selectFolderDialog_->setDirectory(last);
    selectFolderDialog_->setWindowTitle(caption);
    if (selectFolderDialog_->exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = selectFolderDialog_->selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return PathFromQString(chosen.front());
}

void TFormMain::PNGBtnBkSaveClick()
{
    ShowMessage(this, kBackupNotice);
    const std::optional<fs::path> chosen = SelectFolder(u"バックアップ先を選択してください"_s);
    if (!chosen)
        return;
    if (IsInDataFolder(*chosen)) {
        // A backup inside the data would copy itself into itself.
        ShowMessage(this, u"データフォルダの中にはバックアップを作成できません。"
                          u"別のフォルダを選択してください"_s);
        return;
    }
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        // A file that cannot be copied stops the backup with its name; no
        // partial backup folder is left.
        MakeBackup(*chosen);
    }
    SetLastBackupFolder(QStringFromPath(*chosen));
    ShowMessage(this, u"バックアップを作成しました"_s);
}

void TFormMain::PNGBtnBkLoadClick()
{
    const std::optional<fs::path> chosen =
        SelectFolder(u"読み込むバックアップフォルダを選択してください"_s);
    if (!chosen)
        return;
    if (!AskYesNo(this, kRestoreQuestion + u"\n"_s + QStringFromPath(*chosen)))
        return;
    if (!IsValidBackup(*chosen)) {
        ShowMessage(this, kInvalidBackup);
        return;
    }
    // Nothing is asked for a restore that cannot run, nor for a backup that
    // reaches outside itself.
    CheckRestoreMayRun();
    RefuseSymbolicLinks(*chosen);
    // The backup's password, before anything is replaced.
    std::optional<std::string> key;
    if (links_.loginPass)
        key = AskBackupPassword(*links_.loginPass, *chosen);
    else if (BackupHoldsKey(*chosen, std::string(DefaultKey)))
        key = std::string(DefaultKey);
    if (!key)
        return;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        // All or nothing: a file that cannot be copied leaves the data as it
        // was and is named in the error.
        RestoreBackup(*chosen, *key);
    }
    SetLastBackupFolder(QStringFromPath(*chosen));
    ShowMessage(this, u"バックアップを読み込みました。パスワードを入力してください"_s);
    // The restored data under its password, which was entered above: the
    // history is loaded afresh without asking for it again.
    BeginWithKey(*key);
    RefillSenderList(0);
}

// ---- Closing ----

bool TFormMain::FormCloseQuery()
{
    if (links_.composeKeepsDraft && links_.composeKeepsDraft()) {
        if (!AskYesNo(this, u"メール作成画面に編集中のメール内容があります。ソフト終了時に"
                            u"編集中のメール内容は失われますがよろしいですか？"_s))
            return false;
    }
    if (links_.resetCompose)
        links_.resetCompose();
    std::error_code ec;
    fs::remove(WorkFolder() / layout::kPreviewPage, ec);
    fs::remove(HistoryWorkFile(), ec);
    return true;
}

void TFormMain::closeEvent(QCloseEvent *event)
{
    if (busy_) {
        closeWhenIdle_ = true;
        event->ignore();
        return;
    }
    bool mayClose = true;
    RunGuarded(this, [&] { mayClose = FormCloseQuery(); });
    if (mayClose)
        event->accept();
    else
        event->ignore();
}

} // namespace vostrel
