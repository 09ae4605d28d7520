#include "destinations/UnitAddMailList.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/ReportList.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "destinations/DestinationStore.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {

// The name, as stored, travels with its row.
constexpr int kNameRole = Qt::UserRole;

QTreeWidgetItem *NameItem(const std::string &name)
{
    auto *item = new QTreeWidgetItem;
    item->setText(0, SjisToQString(name));
    item->setData(0, kNameRole, QByteArray::fromStdString(name));
    return item;
}

std::string NameOf(const QTreeWidgetItem *item)
{
    return item->data(0, kNameRole).toByteArray().toStdString();
}

struct KindTexts
{
    QString title;
    QString left;
    QString right;
};

KindTexts TextsOf(PickerKind kind)
{
    switch (kind) {
    case PickerKind::Sender:
        return {u"送信元リスト"_s, u"送信元"_s, u"使用する送信元"_s};
    case PickerKind::To:
        return {u"宛先リスト"_s, u"宛先リスト"_s, u"使用する宛先リスト"_s};
    case PickerKind::Cc:
        return {u"Ｃｃリスト"_s, u"Ｃｃリスト"_s, u"使用するＣｃリスト"_s};
    case PickerKind::Bcc:
        return {u"Ｂｃｃリスト"_s, u"Ｂｃｃリスト"_s, u"使用するＢｃｃリスト"_s};
    }
    return {};
}

// The names the picker offers for a kind, in the folder's order.
std::vector<std::string> OfferedNames(PickerKind kind)
{
    if (kind == PickerKind::Sender)
        return ListVslNames(SendersFolder());
    std::vector<std::string> names;
    for (DestinationListEntry &entry : ListDestinationLists()) {
        const bool flag = kind == PickerKind::To   ? entry.sendType.to
                          : kind == PickerKind::Cc ? entry.sendType.cc
                                                   : entry.sendType.bcc;
        // A list without recipients, or whose count cannot be read, is never offered.
        if (entry.headerReadable && flag && entry.count != 0)
            names.push_back(std::move(entry.name));
    }
    return names;
}

} // namespace

TFormAddMailList::TFormAddMailList(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormAddMailList"_s);
    setModal(true);

    ListViewAddressList = new QTreeWidget(this);
    ListViewAddressList->setObjectName(u"ListViewAddressList"_s);
    SetupReportList(ListViewAddressList, {QString()});
    ListViewConfigList = new QTreeWidget(this);
    ListViewConfigList->setObjectName(u"ListViewConfigList"_s);
    SetupReportList(ListViewConfigList, {QString()});
    for (QTreeWidget *list : {ListViewAddressList, ListViewConfigList}) {
        list->setFixedSize(240, 300);
        list->header()->setStretchLastSection(true);
    }

    PNGBtnAdd = NewImageButton(this, u"PNGBtnAdd"_s, u"go-next"_s, QStyle::SP_ArrowRight, {},
                               u"選択したアドレスを追加します"_s);
    PNGBtnDelete = NewImageButton(this, u"PNGBtnDelete"_s, u"go-previous"_s, QStyle::SP_ArrowLeft,
                                  {}, u"選択したアドレスを除外します"_s);
    auto *middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(PNGBtnAdd);
    middle->addWidget(PNGBtnDelete);
    middle->addStretch();

    auto *lists = new QHBoxLayout;
    lists->addWidget(ListViewAddressList);
    lists->addLayout(middle);
    lists->addWidget(ListViewConfigList);

    BtnConfig = NewPushButton(this, u"BtnConfig"_s, u"設定"_s);
    BtnClose = NewPushButton(this, u"BtnClose"_s, u"閉じる"_s);
    PNGBtnConfig = NewImageButton(this, u"PNGBtnConfig"_s, u"dialog-ok"_s,
                                  QStyle::SP_DialogOkButton, u"設定"_s);
    PNGBtnClose = NewImageButton(this, u"PNGBtnClose"_s, u"dialog-cancel"_s,
                                 QStyle::SP_DialogCancelButton, u"キャンセル"_s);
    PNGBtnConfig->hide();
    PNGBtnClose->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addLayout(ButtonRow({BtnConfig, BtnClose, PNGBtnConfig, PNGBtnClose}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(PNGBtnAdd, &QToolButton::clicked, Guarded(this, &TFormAddMailList::PNGBtnAddClick));
    connect(PNGBtnDelete, &QToolButton::clicked,
            Guarded(this, &TFormAddMailList::PNGBtnDeleteClick));
    // A double-click moves the item across, as its arrow button does.
    connect(ListViewAddressList, &QTreeWidget::itemDoubleClicked,
            Guarded(this, [this](QTreeWidgetItem *, int) { PNGBtnAddClick(); }));
    connect(ListViewConfigList, &QTreeWidget::itemDoubleClicked,
            Guarded(this, [this](QTreeWidgetItem *, int) { PNGBtnDeleteClick(); }));
    connect(BtnConfig, &QPushButton::clicked, this, &QDialog::accept);
    connect(PNGBtnConfig, &QToolButton::clicked, this, &QDialog::accept);
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(PNGBtnClose, &QToolButton::clicked, this, &QDialog::reject);

    Prepare(PickerKind::Sender, {});
}

void TFormAddMailList::Prepare(PickerKind kind, const std::vector<std::string> &chosen)
{
    kind_ = kind;
    const KindTexts texts = TextsOf(kind);
    setWindowTitle(texts.title);
    ListViewAddressList->setHeaderLabels({texts.left});
    ListViewConfigList->setHeaderLabels({texts.right});
    ListViewConfigList->clear();
    for (const std::string &name : chosen)
        ListViewConfigList->addTopLevelItem(NameItem(name));
}

std::vector<std::string> TFormAddMailList::ChosenNames() const
{
    std::vector<std::string> names;
    for (int i = 0; i < ListViewConfigList->topLevelItemCount(); ++i)
        names.push_back(NameOf(ListViewConfigList->topLevelItem(i)));
    return names;
}

void TFormAddMailList::ClearChosen()
{
    ListViewConfigList->clear();
}

void TFormAddMailList::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunGuarded(this, [this] { FormShow(); });
}

void TFormAddMailList::FormShow()
{
    ListViewAddressList->clear();
    for (const std::string &name : OfferedNames(kind_)) {
        QTreeWidgetItem *item = NameItem(name);
        // Chosen names travel joined by commas: a name with a comma of its
        // own (a file copied in from elsewhere) would come apart into two
        // wrong names. It is shown, greyed, with the reason.
        if (name.find(',') != std::string::npos) {
            item->setFlags(Qt::NoItemFlags);
            item->setToolTip(0, u"名前に「,」が含まれているため使用できません"_s);
        }
        ListViewAddressList->addTopLevelItem(item);
    }
}

void TFormAddMailList::PNGBtnAddClick()
{
    const QList<QTreeWidgetItem *> selected = ListViewAddressList->selectedItems();
    if (selected.isEmpty()) {
        ShowMessage(this, u"追加する項目が選択されていません"_s);
        return;
    }
    const std::string name = NameOf(selected.front());
    if (!(selected.front()->flags() & Qt::ItemIsEnabled))
        return;
    for (int i = 0; i < ListViewConfigList->topLevelItemCount(); ++i) {
        if (NameOf(ListViewConfigList->topLevelItem(i)) == name) {
            ShowMessage(this, u"選択中の項目は既に追加されています"_s);
            return;
        }
    }
    ListViewConfigList->addTopLevelItem(NameItem(name));
}

void TFormAddMailList::PNGBtnDeleteClick()
{
    const QList<QTreeWidgetItem *> selected = ListViewConfigList->selectedItems();
    if (selected.isEmpty()) {
        ShowMessage(this, u"除外する項目が選択されていません"_s);
        return;
    }
    delete selected.front();
}

} // namespace vostrel
