#include "compose/UnitLinkDialog.h"

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

TFormLinkDialog::TFormLinkDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormLinkDialog"_s);
    setWindowTitle(u"リンク設定"_s);
    setModal(true);

    GBLink = NewGroupBox(this, u"GBLink"_s, u"URL"_s);
    EditLink = NewLineEdit(GBLink, u"EditLink"_s);
    EditLink->setMinimumWidth(360);
    auto *linkLayout = new QHBoxLayout(GBLink);
    linkLayout->addWidget(EditLink);

    GBTarget = NewGroupBox(this, u"GBTarget"_s);
    CBTarget = NewCheckBox(GBTarget, u"CBTarget"_s, u"ターゲット(別窓の設定)"_s);
    auto *before = NewLabel(GBTarget, u"LabelTargetBefore"_s, u"Target=\""_s);
    EditTarget = NewLineEdit(GBTarget, u"EditTarget"_s);
    EditTarget->setText(u"_blank"_s);
    auto *after = NewLabel(GBTarget, u"LabelTargetAfter"_s, u"\""_s);
    auto *targetRow = new QHBoxLayout;
    targetRow->addWidget(before);
    targetRow->addWidget(EditTarget, 1);
    targetRow->addWidget(after);
    auto *targetLayout = new QVBoxLayout(GBTarget);
    targetLayout->addWidget(CBTarget);
    targetLayout->addLayout(targetRow);

    BtnConfig = NewPushButton(this, u"BtnConfig"_s, u"OK"_s);
    BtnCencel = NewPushButton(this, u"BtnCencel"_s, u"閉じる"_s);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(GBLink);
    layout->addWidget(GBTarget);
    layout->addLayout(ButtonRow({BtnConfig, BtnCencel}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(BtnConfig, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCencel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TFormLinkDialog::Execute(TagCommand command)
{
    const bool hyperlink = command == TagCommand::Hyperlink;
    GBLink->setTitle(hyperlink ? u"URL"_s : u"アンカー名"_s);
    GBTarget->setVisible(hyperlink);
    BtnConfig->setDefault(true);
    EditLink->setFocus();
    return exec() == QDialog::Accepted;
}

QString TFormLinkDialog::LinkText() const
{
    return EditLink->text();
}

bool TFormLinkDialog::UsesTarget() const
{
    return CBTarget->isChecked();
}

QString TFormLinkDialog::TargetText() const
{
    return EditTarget->text();
}

TagTexts TFormLinkDialog::Tags(TagCommand command) const
{
    const std::string link = QStringToSjis(LinkText());
    switch (command) {
    case TagCommand::Anchor:
        return AnchorTags(link);
    case TagCommand::JumpToAnchor:
        return JumpToAnchorTags(link);
    default:
        return UsesTarget() ? HyperlinkTags(link, QStringToSjis(TargetText()))
                            : HyperlinkTags(link);
    }
}

} // namespace vostrel
