#include "destinations/UnitAddDestination.h"

#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

TFormAddDestination::TFormAddDestination(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormAddDestination"_s);
    setWindowTitle(u"送信先リストを追加"_s);
    setModal(true);

    LabelListName = NewLabel(this, u"LabelListName"_s, u"送信先リスト名を入力してください"_s);
    EditListName = NewLineEdit(this, u"EditListName"_s);
    EditListName->setMinimumWidth(320);
    LabelListName->setBuddy(EditListName);

    GBSendType = NewGroupBox(this, u"GBSendType"_s, u"送信方法"_s);
    CBTo = NewCheckBox(GBSendType, u"CBTo"_s, u"宛先"_s);
    CBCc = NewCheckBox(GBSendType, u"CBCc"_s, u"Cc"_s);
    CBBcc = NewCheckBox(GBSendType, u"CBBcc"_s, u"Bcc"_s);
    auto *boxes = new QHBoxLayout(GBSendType);
    boxes->addWidget(CBTo);
    boxes->addWidget(CBCc);
    boxes->addWidget(CBBcc);
    boxes->addStretch();

    BtnListMake = NewPushButton(this, u"BtnListMake"_s, u"リストを作成"_s);
    BtnListMake->setDefault(true);
    BtnCancel = NewPushButton(this, u"BtnCancel"_s, u"キャンセル"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LabelListName);
    layout->addWidget(EditListName);
    layout->addWidget(GBSendType);
    layout->addLayout(ButtonRow({BtnListMake, BtnCancel}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(BtnListMake, &QPushButton::clicked,
            Guarded(this, &TFormAddDestination::BtnListMakeClick));
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormAddDestination::Prepare(const QString &title, const QString &confirmCaption,
                                  std::string_view name, const SendType &sendType,
                                  std::string_view currentName)
{
    setWindowTitle(title);
    BtnListMake->setText(confirmCaption);
    EditListName->setText(SjisToQString(name));
    CBTo->setChecked(sendType.to);
    CBCc->setChecked(sendType.cc);
    CBBcc->setChecked(sendType.bcc);
    currentName_ = std::string(currentName);
    listName_.clear();
    EditListName->setFocus();
}

SendType TFormAddDestination::ChosenSendType() const
{
    return SendType{CBTo->isChecked(), CBCc->isChecked(), CBBcc->isChecked()};
}

void TFormAddDestination::BtnListMakeClick()
{
    const std::string name = QStringToSjis(EditListName->text());
    const std::string problem = CheckListName(name, currentName_);
    if (!problem.empty()) {
        ShowMessage(this, SjisToQString(problem));
        return;
    }
    if (!CBTo->isChecked() && !CBCc->isChecked() && !CBBcc->isChecked()) {
        ShowMessage(this, u"送信方法を選択してください"_s);
        return;
    }
    listName_ = name;
    accept();
}

} // namespace vostrel
