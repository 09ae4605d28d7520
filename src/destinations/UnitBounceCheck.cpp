#include "destinations/UnitBounceCheck.h"

#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/Reencrypt.h"
#include "core/ReportList.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "send/MailboxRecord.h"
#include "send/ServerTlsRecord.h"
#include "senders/SenderAccount.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kTitle = u"不達・配信停止の確認"_s;

QString U(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

QString ListsText(const ListHoldings &holdings, const std::string &address)
{
    QStringList names;
    const auto found = holdings.lists.find(address);
    if (found != holdings.lists.end())
        for (const std::string &name : found->second)
            names << SjisToQString(name);
    return names.join(u"、"_s);
}

} // namespace

TFormBounceCheck::TFormBounceCheck(QWidget *parent)
    : QDialog(parent)
    , transport_(&RealTransport())
{
    setObjectName(u"TFormBounceCheck"_s);
    setWindowTitle(kTitle);
    setModal(true);
    setSizeGripEnabled(true);
    resize(820, 480);

    ComboBoxAccount = NewDropDownList(this, u"ComboBoxAccount"_s, {});
    auto *accountLabel = NewLabel(this, u"LabelAccount"_s, u"確認する送信者"_s, ComboBoxAccount);
    CBDeleteFromServer =
        NewCheckBox(this, u"CBDeleteFromServer"_s, u"確認したメールをサーバーから削除する"_s);
    BtnStart = NewPushButton(this, u"BtnStart"_s, u"確認開始"_s, false);
    BtnStop = NewPushButton(this, u"BtnStop"_s, u"中止"_s, false);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(u"ProgressBar"_s);
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    LabelProgress = NewLabel(this, u"LabelProgress"_s, {});

    ListViewResult = new QTreeWidget(this);
    ListViewResult->setObjectName(u"ListViewResult"_s);
    SetupReportList(ListViewResult,
                    {u"メールアドレス"_s, u"種別"_s, u"理由"_s, u"登録されているリスト"_s});
    ListViewResult->setColumnWidth(0, 200);
    ListViewResult->setColumnWidth(1, 70);
    ListViewResult->setColumnWidth(2, 330);

    BtnStoreList = NewPushButton(this, u"BtnStoreList"_s, u"新しいリストとして保存"_s, false);
    BtnRemoveFromLists =
        NewPushButton(this, u"BtnRemoveFromLists"_s, u"すべてのリストから削除"_s, false);
    BtnClose = NewPushButton(this, u"BtnClose"_s, u"閉じる"_s, false);

    auto *top = new QHBoxLayout;
    top->addWidget(accountLabel);
    top->addWidget(ComboBoxAccount, 1);
    top->addWidget(CBDeleteFromServer);
    top->addWidget(BtnStart);
    top->addWidget(BtnStop);
    auto *progress = new QHBoxLayout;
    progress->addWidget(ProgressBar, 1);
    progress->addWidget(LabelProgress, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(progress);
    layout->addWidget(ListViewResult, 1);
    layout->addLayout(CommandRow({BtnStoreList, BtnRemoveFromLists}, {BtnClose}));

    connect(BtnStart, &QPushButton::clicked, Guarded(this, &TFormBounceCheck::BtnStartClick));
    connect(BtnStop, &QPushButton::clicked, Guarded(this, &TFormBounceCheck::BtnStopClick));
    connect(BtnStoreList, &QPushButton::clicked,
            Guarded(this, &TFormBounceCheck::BtnStoreListClick));
    connect(BtnRemoveFromLists, &QPushButton::clicked,
            Guarded(this, &TFormBounceCheck::BtnRemoveFromListsClick));
    connect(BtnClose, &QPushButton::clicked, this, &TFormBounceCheck::reject);
    SetRunning(false);
}

TFormBounceCheck::~TFormBounceCheck()
{
    stop_ = true;
    if (worker_.joinable())
        worker_.join();
}

void TFormBounceCheck::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunGuarded(this, [this] { FormShow(); });
}

// The accounts whose POP3 server and account are filled in; the choice is
// kept when that account is still offered.
void TFormBounceCheck::FormShow()
{
    if (Running())
        return;
    closeWhenDone_ = false;
    const QString chosen = ComboBoxAccount->currentText();
    ComboBoxAccount->clear();
    for (const std::string &name : ListSenderAccounts()) {
        try {
            const SenderAccount account = ReadSenderAccount(SenderAccountPath(name));
            if (account.UsePOP && !account.POPAddress.empty() && !account.POPAccount.empty())
                ComboBoxAccount->addItem(SjisToQString(name), QByteArray::fromStdString(name));
        } catch (const std::exception &) {
            // An account that cannot be read is not offered.
        }
    }
    if (const int index = ComboBoxAccount->findText(chosen); index >= 0)
        ComboBoxAccount->setCurrentIndex(index);
}

void TFormBounceCheck::SetRunning(bool running)
{
    BtnStart->setEnabled(!running);
    ComboBoxAccount->setEnabled(!running);
    CBDeleteFromServer->setEnabled(!running);
    BtnStop->setEnabled(running);
    BtnStoreList->setEnabled(!running);
    BtnRemoveFromLists->setEnabled(!running);
}

void TFormBounceCheck::BtnStartClick()
{
    if (Running())
        return;
    if (ComboBoxAccount->currentIndex() < 0) {
        ShowMessage(this, u"POP3サーバーが設定された送信者がありません。"_s);
        return;
    }
    if (KeyChangeRunning())
        return;
    const std::string name = ComboBoxAccount->currentData().toByteArray().toStdString();
    const SenderAccount account = ReadSenderAccount(SenderAccountPath(name));

    rows_.clear();
    holdings_ = {};
    ListViewResult->clear();
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    LabelProgress->setText(u"サーバーに接続しています..."_s);
    stop_ = false;
    writing_.emplace();
    SetRunning(true);

    BounceCheckOptions options;
    options.deleteFromServer = CBDeleteFromServer->isChecked();
    options.timeouts = timeouts_;
    options.recordPath = MailboxRecordPath();
    options.key = CurrentKey();
    Transport *transport = transport_;
    worker_ = std::thread([this, transport, account, options] {
        ServerTlsRecord tlsMemory(options.key);
        auto progress = [this](std::size_t done, std::size_t total) {
            QMetaObject::invokeMethod(
                this, [this, done, total] { Progress(done, total); }, Qt::QueuedConnection);
        };
        BounceCheckResult result =
            CheckMailbox(*transport, account, options, progress, &stop_, &tlsMemory);
        std::vector<std::string> addresses;
        for (const BounceRow &row : result.rows)
            addresses.push_back(row.address);
        ListHoldings holdings;
        try {
            holdings = FindListsHolding(addresses, options.key);
        } catch (const std::exception &error) {
            if (result.error.empty())
                result.error = error.what();
        }
        QMetaObject::invokeMethod(
            this, [this, result, holdings] { Finished(result, holdings); }, Qt::QueuedConnection);
    });
}

void TFormBounceCheck::BtnStopClick()
{
    stop_ = true;
    LabelProgress->setText(u"中止しています..."_s);
}

void TFormBounceCheck::Progress(std::size_t done, std::size_t total)
{
    if (!Running() || stop_)
        return;
    ProgressBar->setRange(0, static_cast<int>(std::max<std::size_t>(total, 1)));
    ProgressBar->setValue(static_cast<int>(done));
    LabelProgress->setText(u"%1/%2 通を確認しています"_s.arg(static_cast<qulonglong>(done))
                               .arg(static_cast<qulonglong>(total)));
}

void TFormBounceCheck::Finished(const BounceCheckResult &result, const ListHoldings &holdings)
{
    worker_.join();
    writing_.reset();
    SetRunning(false);
    rows_ = result.rows;
    holdings_ = holdings;
    ShowRows();
    ProgressBar->setRange(0, static_cast<int>(std::max<std::size_t>(result.newMails, 1)));
    ProgressBar->setValue(static_cast<int>(result.read));
    int counts[3] = {0, 0, 0};
    for (const BounceRow &row : rows_)
        ++counts[static_cast<int>(row.kind)];
    const QString found =
        u"不達 %1 件、一時的 %2 件、配信停止 %3 件"_s.arg(counts[0]).arg(counts[1]).arg(counts[2]);
    const auto read = static_cast<qulonglong>(result.read);
    if (result.stopped)
        LabelProgress->setText(u"中止しました (%1 通を確認: %2)"_s.arg(read).arg(found));
    else
        LabelProgress->setText(u"新しいメール %1 通を確認しました (%2)"_s.arg(read).arg(found));
    if (!result.error.empty())
        ShowWarning(this,
                    u"メールボックスを確認できませんでした。"_s + u"\r\n\r\n"_s + U(result.error));
    if (!holdings_.unreadable.empty()) {
        QStringList names;
        for (const std::string &name : holdings_.unreadable)
            names << SjisToQString(name);
        ShowWarning(this,
                    u"次の送信先リストを読み込めなかったため、リストの欄に含まれていません。"_s +
                        u"\r\n"_s + names.join(u"\r\n"_s));
    }
    Q_EMIT CheckFinished();
    if (closeWhenDone_)
        QDialog::reject();
}

void TFormBounceCheck::ShowRows()
{
    ListViewResult->clear();
    for (const BounceRow &row : rows_) {
        auto *item = new QTreeWidgetItem(ListViewResult);
        item->setText(0, U(row.address));
        item->setText(1, U(FindingKindText(row.kind)));
        item->setText(2, U(row.reason));
        item->setText(3, ListsText(holdings_, row.address));
        item->setToolTip(2, U(row.reason));
    }
}

std::vector<std::string> TFormBounceCheck::AddressesOf(bool unsubscribe) const
{
    std::vector<std::string> addresses;
    for (const BounceRow &row : rows_)
        if ((row.kind == FindingKind::Unsubscribe) == unsubscribe &&
            std::find(addresses.begin(), addresses.end(), row.address) == addresses.end())
            addresses.push_back(row.address);
    return addresses;
}

void TFormBounceCheck::BtnStoreListClick()
{
    if (Running())
        return;
    if (rows_.empty()) {
        ShowMessage(this, u"保存するアドレスがありません。"_s);
        return;
    }
    const RecordWriteScope writing;
    const QString date = QDate::currentDate().toString(u"yyyy年MM月dd日"_s);
    QStringList stored;
    for (const auto &[unsubscribe, suffix] :
         {std::pair{false, u"_不達"_s}, std::pair{true, u"_配信停止"_s}}) {
        const std::vector<std::string> addresses = AddressesOf(unsubscribe);
        if (addresses.empty())
            continue;
        const std::string name =
            StoreAddressesAsList(QStringToSjis(date + suffix), addresses, holdings_);
        stored << u"送信先リスト「%1」に %2 件を保存しました。"_s.arg(SjisToQString(name))
                      .arg(addresses.size());
    }
    ShowMessage(this, stored.join(u"\r\n"_s));
}

void TFormBounceCheck::BtnRemoveFromListsClick()
{
    if (Running())
        return;
    std::vector<std::string> held;
    for (const BounceRow &row : rows_)
        if (holdings_.lists.contains(row.address) &&
            std::find(held.begin(), held.end(), row.address) == held.end())
            held.push_back(row.address);
    if (held.empty()) {
        ShowMessage(this, u"送信先リストに登録されているアドレスはありません。"_s);
        return;
    }
    if (!AskYesNo(this,
                  u"%1 件のアドレスを、登録されているすべての送信先リストから削除します。"_s.arg(
                      held.size()) +
                      u"\r\n"_s + u"よろしいですか？"_s))
        return;
    const RecordWriteScope writing;
    std::vector<std::string> lists;
    for (const std::string &address : held)
        for (const std::string &name : holdings_.lists.at(address))
            lists.push_back(name);
    const RemovalResult removed = RemoveAddressesFromLists(held, lists);
    for (const std::string &address : held)
        holdings_.lists.erase(address);
    ShowRows();
    ShowMessage(this, u"%1 件の宛先を %2 個の送信先リストから削除しました。"_s
                          .arg(removed.recipientsRemoved)
                          .arg(removed.listsChanged));
}

void TFormBounceCheck::reject()
{
    if (Running()) {
        closeWhenDone_ = true;
        BtnStopClick();
        return;
    }
    QDialog::reject();
}

} // namespace vostrel
