// The heading dialog: the level H1 to H6, kept between uses.
#pragma once

#include <QDialog>

class QPushButton;
class QRadioButton;

namespace vostrel {

class TFormMidashiDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TFormMidashiDialog(QWidget *parent = nullptr);

    // Shows the dialog modally; true for "OK".
    bool Execute();
    // The first checked level, 1 to 6.
    int Level() const;

private:
    QRadioButton *RBH[6];
    QPushButton *BtnOk;
    QPushButton *BtnCancel;
};

} // namespace vostrel
