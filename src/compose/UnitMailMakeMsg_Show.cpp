#include "compose/UnitMailMakeMsg_Show.h"

#include "compose/UnitMailMake.h"
#include "compose/UnitMailMakeMsg_Close.h"
#include "core/UiHelpers.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

TFormMailMakeMsg_Show::TFormMailMakeMsg_Show(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormMailMakeMsg_Show"_s);
    setWindowTitle(u"メール作成"_s);
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    LabelMsg = NewLabel(this, u"LabelMsg"_s,
                        u"編集中のメール内容があります。編集中のメールを開きますか？"_s);
    BtnEditOpen = NewPushButton(this, u"BtnEditOpen"_s, u"編集中のメール内容を開く"_s);
    BtnNewMail = NewPushButton(this, u"BtnNewMail"_s, u"新規作成"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LabelMsg);
    layout->addLayout(ButtonRow({BtnEditOpen, BtnNewMail}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(BtnEditOpen, &QPushButton::clicked, this, [this] { done(EditOpen); });
    connect(BtnNewMail, &QPushButton::clicked, this, [this] { done(NewMail); });
}

TFormMailMakeMsg_Show::Choice TFormMailMakeMsg_Show::Ask()
{
    BtnEditOpen->setFocus();
    return exec() == EditOpen ? EditOpen : NewMail;
}

void TFormMailMakeMsg_Show::reject() {}

void OpenComposeFromMain(TFormMailMakeMsg_Show &question, TFormMailMakeMsg_Close &closeQuestion,
                         TFormMailMake &compose)
{
    if (closeQuestion.KeepDraft() && question.Ask() != TFormMailMakeMsg_Show::EditOpen)
        closeQuestion.SetKeepDraft(false);
    compose.exec();
}

} // namespace vostrel
