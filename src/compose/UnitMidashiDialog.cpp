#include "compose/UnitMidashiDialog.h"

#include "core/UiHelpers.h"

#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

TFormMidashiDialog::TFormMidashiDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormMidashiDialog"_s);
    setWindowTitle(u"見出し"_s);
    setModal(true);

    auto *layout = new QVBoxLayout(this);
    for (int level = 1; level <= 6; ++level) {
        const QString tag = u"H"_s + QString::number(level);
        QRadioButton *radio = new QRadioButton(u"<"_s + tag + u">～</"_s + tag + u">"_s, this);
        radio->setObjectName(u"RB"_s + tag);
        layout->addWidget(radio);
        RBH[level - 1] = radio;
    }
    RBH[0]->setChecked(true);
    BtnOk = NewPushButton(this, u"BtnOk"_s, u"OK"_s);
    BtnCancel = NewPushButton(this, u"BtnCancel"_s, u"閉じる"_s);
    layout->addLayout(ButtonRow({BtnOk, BtnCancel}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TFormMidashiDialog::Execute()
{
    BtnOk->setDefault(true);
    BtnOk->setFocus();
    return exec() == QDialog::Accepted;
}

int TFormMidashiDialog::Level() const
{
    for (int level = 1; level <= 6; ++level)
        if (RBH[level - 1]->isChecked())
            return level;
    return 1;
}

} // namespace vostrel
