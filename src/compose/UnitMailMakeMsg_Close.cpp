#include "compose/UnitMailMakeMsg_Close.h"

#include "core/UiHelpers.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

TFormMailMakeMsg_Close::TFormMailMakeMsg_Close(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormMailMakeMsg_Close"_s);
    setWindowTitle(u"終了確認"_s);
    setModal(true);

    LabelMsg = NewLabel(this, u"LabelMsg"_s, u"メール作成画面を終了します。よろしいですか？"_s);
    CBMailMakeDataFlg = NewCheckBox(this, u"CBMailMakeDataFlg"_s, u"編集中のメール内容を残す"_s);
    BtnOk = NewPushButton(this, u"BtnOk"_s, u"はい"_s);
    BtnCancel = NewPushButton(this, u"BtnCancel"_s, u"いいえ"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LabelMsg);
    layout->addWidget(CBMailMakeDataFlg);
    layout->addLayout(ButtonRow({BtnOk, BtnCancel}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TFormMailMakeMsg_Close::Ask()
{
    BtnCancel->setFocus();
    return exec() == QDialog::Accepted;
}

bool TFormMailMakeMsg_Close::KeepDraft() const
{
    return CBMailMakeDataFlg->isChecked();
}

void TFormMailMakeMsg_Close::SetKeepDraft(bool keep)
{
    CBMailMakeDataFlg->setChecked(keep);
}

} // namespace vostrel
