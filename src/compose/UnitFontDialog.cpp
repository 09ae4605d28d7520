#include "compose/UnitFontDialog.h"

#include "core/UiHelpers.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {

// A page: its prompt above a group holding the controls.
QWidget *NewPage(const QString &objectName, const QString &prompt, const QString &group,
                 QLayout *controls)
{
    auto *page = new QWidget;
    page->setObjectName(objectName);
    auto *label = NewLabel(page, objectName + u"Prompt"_s, prompt);
    auto *box = new QGroupBox(group, page);
    box->setLayout(controls);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(label);
    layout->addWidget(box);
    layout->addStretch();
    return page;
}

} // namespace

TFormTagDialog::TFormTagDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormTagDialog"_s);
    setWindowTitle(u"タグ設定"_s);
    setModal(true);

    CBFontSize = new QComboBox;
    CBFontSize->setObjectName(u"CBFontSize"_s);
    for (int size = 1; size <= 30; ++size)
        CBFontSize->addItem(QString::number(size));
    auto *sizeLayout = new QHBoxLayout;
    sizeLayout->addWidget(CBFontSize);
    sizeLayout->addStretch();
    TSFontSize = NewPage(u"TSFontSize"_s, u"サイズを選択してください"_s, u"サイズ"_s, sizeLayout);

    PanelFontColor = new QFrame;
    PanelFontColor->setObjectName(u"PanelFontColor"_s);
    PanelFontColor->setFrameShape(QFrame::Box);
    PanelFontColor->setAutoFillBackground(true);
    PanelFontColor->setFixedSize(48, 24);
    BtnFontColor = NewPushButton(nullptr, u"BtnFontColor"_s, u"変更"_s, false);
    auto *colorLayout = new QHBoxLayout;
    colorLayout->addWidget(PanelFontColor);
    colorLayout->addWidget(BtnFontColor);
    colorLayout->addStretch();
    TSFontColor = NewPage(u"TSFontColor"_s, u"色を選択してください"_s, u"色"_s, colorLayout);

    RBBold = NewRadioButton(nullptr, u"RBBold"_s, u"太字"_s);
    RBItalic = NewRadioButton(nullptr, u"RBItalic"_s, u"斜め"_s);
    RBStrikeOut = NewRadioButton(nullptr, u"RBStrikeOut"_s, u"取り消し線"_s);
    RBUnderLine = NewRadioButton(nullptr, u"RBUnderLine"_s, u"下線"_s);
    auto *styleLayout = new QVBoxLayout;
    for (QRadioButton *radio : {RBBold, RBItalic, RBStrikeOut, RBUnderLine})
        styleLayout->addWidget(radio);
    TSFontStyle =
        NewPage(u"TSFontStyle"_s, u"スタイルを選択してください"_s, u"スタイル"_s, styleLayout);

    RBArrange_Left = NewRadioButton(nullptr, u"RBArrange_Left"_s, u"左揃え"_s);
    RBArrange_Center = NewRadioButton(nullptr, u"RBArrange_Center"_s, u"中央揃え"_s);
    RBArrange_Right = NewRadioButton(nullptr, u"RBArrange_Right"_s, u"右揃え"_s);
    RBArrange_Left->setChecked(true);
    auto *arrangeLayout = new QVBoxLayout;
    for (QRadioButton *radio : {RBArrange_Left, RBArrange_Center, RBArrange_Right})
        arrangeLayout->addWidget(radio);
    TSFontArrange = NewPage(u"TSFontArrange"_s, u"文字を揃える位置を選択してください"_s,
                            u"文字揃え"_s, arrangeLayout);

    PageControl = new QStackedWidget(this);
    PageControl->setObjectName(u"PageControl"_s);
    for (QWidget *page : {TSFontSize, TSFontColor, TSFontStyle, TSFontArrange})
        PageControl->addWidget(page);

    BtnOk = NewPushButton(this, u"BtnOk"_s, u"OK"_s);
    BtnCencel = NewPushButton(this, u"BtnCencel"_s, u"閉じる"_s);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl);
    layout->addLayout(ButtonRow({BtnOk, BtnCencel}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCencel, &QPushButton::clicked, this, &QDialog::reject);
    connect(BtnFontColor, &QPushButton::clicked, this, &TFormTagDialog::BtnFontColorClick);
    SetSwatch(Qt::black);
    RBBold->setChecked(true);
}

bool TFormTagDialog::Execute(TagCommand command)
{
    RBBold->setChecked(true);
    SetSwatch(Qt::black);
    CBFontSize->setCurrentIndex(0);
    QWidget *page = command == TagCommand::FontColor   ? TSFontColor
                    : command == TagCommand::FontStyle ? TSFontStyle
                    : command == TagCommand::Alignment ? TSFontArrange
                                                       : TSFontSize;
    // The dialog takes the size of the page shown.
    for (QWidget *each : {TSFontSize, TSFontColor, TSFontStyle, TSFontArrange}) {
        const auto policy = each == page ? QSizePolicy::Preferred : QSizePolicy::Ignored;
        each->setSizePolicy(policy, policy);
    }
    PageControl->setCurrentWidget(page);
    BtnOk->setDefault(true);
    BtnOk->setFocus();
    return exec() == QDialog::Accepted;
}

void TFormTagDialog::SetSwatch(const QColor &color)
{
    color_ = color;
    QPalette palette = PanelFontColor->palette();
    palette.setColor(QPalette::Window, color);
    PanelFontColor->setPalette(palette);
}

void TFormTagDialog::BtnFontColorClick()
{
    if (!ColorDialog) {
        ColorDialog = new QColorDialog(this);
        ColorDialog->setObjectName(u"ColorDialog"_s);
    }
    ColorDialog->setCurrentColor(color_);
    if (ColorDialog->exec() == QDialog::Accepted)
        SetSwatch(ColorDialog->selectedColor());
}

QString TFormTagDialog::FontSize() const
{
    return CBFontSize->currentText();
}

FontStyle TFormTagDialog::ChosenStyle() const
{
    if (RBBold->isChecked())
        return FontStyle::Bold;
    if (RBItalic->isChecked())
        return FontStyle::Italic;
    if (RBStrikeOut->isChecked())
        return FontStyle::StrikeOut;
    return FontStyle::Underline;
}

TextAlignment TFormTagDialog::ChosenAlignment() const
{
    if (RBArrange_Left->isChecked())
        return TextAlignment::Left;
    if (RBArrange_Center->isChecked())
        return TextAlignment::Center;
    return TextAlignment::Right;
}

TagTexts TFormTagDialog::Tags(TagCommand command) const
{
    switch (command) {
    case TagCommand::FontColor:
        return FontColorTags(color_.red(), color_.green(), color_.blue());
    case TagCommand::FontStyle:
        return FontStyleTags(ChosenStyle());
    case TagCommand::Alignment:
        return AlignmentTags(ChosenAlignment());
    default:
        return FontSizeTags(FontSize().toStdString());
    }
}

} // namespace vostrel
