#include "compose/UnitMapLink.h"

#include "compose/ComposeEditing.h"
#include "compose/MapLink.h"
#include "compose/UnitMailMake.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {} // namespace

TFormMapLink::TFormMapLink(TFormMailMake &compose, QWidget *parent)
    : QDialog(parent)
    , compose_(compose)
{
    setObjectName(u"TFormMapLink"_s);
    setWindowTitle(u"地図のリンク(URL)を取得"_s);
    setModal(true);

    CBTown = NewDropDownList(this, u"CBTown"_s, MapPrefectureItems());
    CBTown->setCurrentText(u"東京都"_s);
    EditAddress1 = NewLineEdit(this, u"EditAddress1"_s);
    EditAddress2 = NewLineEdit(this, u"EditAddress2"_s);
    CBEr = NewDropDownList(this, u"CBEr"_s, MapZoomItems());
    CBGuid = NewCheckBox(this, u"CBGuid"_s, u"乗換案内を表示"_s);
    EditMapLink = NewLineEdit(this, u"EditMapLink"_s);
    EditMapLink->setReadOnly(true);
    EditMapLink->setMinimumWidth(420);
    ButtonGet = NewPushButton(this, u"ButtonGet"_s, u"取得する"_s, false);
    ButtonOk = NewPushButton(this, u"ButtonOk"_s, u"OK"_s, false);
    ButtonCancel = NewPushButton(this, u"ButtonCancel"_s, u"キャンセル"_s, false);

    auto *grid = new QGridLayout;
    grid->addWidget(NewLabel(this, u"LabelTown"_s, u"都道府県"_s), 0, 0);
    grid->addWidget(CBTown, 0, 1, Qt::AlignLeft);
    grid->addWidget(NewLabel(this, u"LabelAddress1"_s, u"市区町村"_s), 1, 0);
    grid->addWidget(EditAddress1, 1, 1);
    grid->addWidget(NewLabel(this, u"LabelAddress2"_s, u"町名・番地以降"_s), 2, 0);
    grid->addWidget(EditAddress2, 2, 1);
    grid->addWidget(NewLabel(this, u"LabelEr"_s, u"拡大縮小率(0～20)"_s), 3, 0);
    grid->addWidget(CBEr, 3, 1, Qt::AlignLeft);
    grid->addWidget(CBGuid, 4, 1);
    grid->addWidget(ButtonGet, 5, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    auto *labelLink = NewLabel(this, u"LabelMapLink"_s,
                               u"地図リンク先(URL)　※地図サービスのリンク先がここに表示されます"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(labelLink);
    layout->addWidget(EditMapLink);
    layout->addLayout(ButtonRow({ButtonOk, ButtonCancel}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ButtonGet, &QPushButton::clicked, this, Guarded(this, &TFormMapLink::BuildMapLink));
    connect(ButtonOk, &QPushButton::clicked, this, Guarded(this, &TFormMapLink::ButtonOkClick));
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormMapLink::ShowMapLink()
{
    EditAddress1->clear();
    EditAddress2->clear();
    CBEr->setCurrentIndex(0);
    CBGuid->setChecked(false);
    EditMapLink->clear();
    EditAddress1->setFocus();
    exec();
}

void TFormMapLink::BuildMapLink()
{
    MapLinkRequest request;
    request.prefecture = QStringToSjis(CBTown->currentText());
    request.city = QStringToSjis(EditAddress1->text());
    request.rest = QStringToSjis(EditAddress2->text());
    request.transit = CBGuid->isChecked();
    request.zoom = CBEr->currentText().toStdString();
    if (IsEmptyAddress(request)) {
        ShowMessage(this, u"住所を入力してください"_s);
        return;
    }
    EditMapLink->clear();
    EditMapLink->setText(QString::fromStdString(vostrel::BuildMapLink(request)));
    ShowMessage(this, u"地図リンク(URL)を取得しました"_s);
}

void TFormMapLink::ButtonOkClick()
{
    if (EditMapLink->text().isEmpty()) {
        ShowMessage(this, u"地図リンク先(URL)が取得されていません"_s);
        return;
    }
    InsertIntoActiveEditor(compose_, EditMapLink->text());
    accept();
}

} // namespace vostrel
