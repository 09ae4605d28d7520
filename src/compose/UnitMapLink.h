// The map link dialog: builds, from a Japanese postal address, the address
// of a map service page showing that place, and puts it into the mail being
// composed as plain text.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace vostrel {

class TFormMailMake;

class TFormMapLink : public QDialog
{
    Q_OBJECT
public:
    explicit TFormMapLink(TFormMailMake &compose, QWidget *parent = nullptr);

    // Empties the address fields, the zoom, the transit box and the link
    // (the prefecture keeps its last choice) and shows the dialog modally.
    void ShowMapLink();
    // "取得する": the link of the address entered, or a message when there
    // is none.
    void BuildMapLink();
    // "OK": puts the link into the editor of the compose window's page and
    // closes; a message while no link was built.
    void ButtonOkClick();

private:
    TFormMailMake &compose_;
    QComboBox *CBTown;
    QLineEdit *EditAddress1;
    QLineEdit *EditAddress2;
    QComboBox *CBEr;
    QCheckBox *CBGuid;
    QLineEdit *EditMapLink;
    QPushButton *ButtonGet;
    QPushButton *ButtonOk;
    QPushButton *ButtonCancel;
};

} // namespace vostrel
