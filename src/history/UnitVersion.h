// The version window: the program's name and version, and the credit of the
// source-editor component.
#pragma once

#include <QDialog>
#include <QIcon>

class QLabel;
class QPushButton;

namespace vostrel {

// The program's version, as the build sets it ("0.1.0").
QString ProgramVersion();
// The program's icon (also the desktop entry's).
QIcon ProgramIcon();

class TFormVersion : public QDialog
{
    Q_OBJECT
public:
    explicit TFormVersion(QWidget *parent = nullptr);

private:
    QLabel *LabelTitle;
    QLabel *LabelVersion;
    QLabel *LabelCredit;
    QPushButton *BtnOk;
};

} // namespace vostrel
