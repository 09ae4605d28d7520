#include "history/UnitVersion.h"

#include "core/DialogService.h"
#include "core/UiHelpers.h"

#include <QFont>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

QString ProgramVersion()
{
    return QStringLiteral(VOSTREL_VERSION);
}

QIcon ProgramIcon()
{
    // The installed theme's copy when there is one, else the one built in.
    return QIcon::fromTheme(u"vostrel"_s, QIcon(u":/icons/vostrel.svg"_s));
}

TFormVersion::TFormVersion(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormVersion"_s);
    setWindowTitle(u"バージョン情報"_s);
    setModal(true);

    auto *icon = new QLabel(this);
    icon->setObjectName(u"ImageIcon"_s);
    icon->setPixmap(ProgramIcon().pixmap(64, 64));
    LabelTitle = NewLabel(this, u"LabelTitle"_s, AppTitle());
    QFont titleFont = LabelTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    LabelTitle->setFont(titleFont);
    LabelVersion = NewLabel(this, u"LabelVersion"_s, u"バージョン "_s + ProgramVersion());
    LabelCredit =
        new QLabel(u"HTMLソースエディタ: QScintilla\n(C) Riverbank Computing Limited"_s, this);
    LabelCredit->setObjectName(u"LabelCredit"_s);
    BtnOk = NewPushButton(this, u"BtnOk"_s, u"OK"_s);
    BtnOk->setDefault(true);

    auto *texts = new QVBoxLayout;
    texts->addWidget(LabelTitle);
    texts->addWidget(LabelVersion);
    texts->addSpacing(8);
    texts->addWidget(LabelCredit);
    auto *top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(ButtonRow({BtnOk}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace vostrel
