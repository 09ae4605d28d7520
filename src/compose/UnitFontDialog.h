// The tag dialog of the font commands: one page each for the size, the
// colour, the style and the alignment, shown without page tabs.
#pragma once

#include "compose/HtmlTags.h"

#include <QColor>
#include <QDialog>

class QColorDialog;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace vostrel {

class TFormTagDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TFormTagDialog(QWidget *parent = nullptr);

    // Shows the page of command (FontSize, FontColor, FontStyle or
    // Alignment) modally, after resetting the size to "1", the colour to
    // black and the style to bold (the alignment keeps its last choice).
    // True for "OK".
    bool Execute(TagCommand command);

    // The choices as they stand.
    QString FontSize() const;
    QColor FontColor() const { return color_; }
    vostrel::FontStyle ChosenStyle() const;
    TextAlignment ChosenAlignment() const;
    // The tag texts of command for the choices.
    TagTexts Tags(TagCommand command) const;

private:
    void SetSwatch(const QColor &color);
    void BtnFontColorClick();

    QColor color_;
    QStackedWidget *PageControl;
    QWidget *TSFontSize;
    QWidget *TSFontColor;
    QWidget *TSFontStyle;
    QWidget *TSFontArrange;
    QComboBox *CBFontSize;
    QFrame *PanelFontColor;
    QPushButton *BtnFontColor;
    QColorDialog *ColorDialog = nullptr;
    QRadioButton *RBBold;
    QRadioButton *RBItalic;
    QRadioButton *RBStrikeOut;
    QRadioButton *RBUnderLine;
    QRadioButton *RBArrange_Left;
    QRadioButton *RBArrange_Center;
    QRadioButton *RBArrange_Right;
    QPushButton *BtnOk;
    QPushButton *BtnCencel;
};

} // namespace vostrel
