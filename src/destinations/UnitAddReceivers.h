// The recipient editor: one recipient's thirteen values, with the name and
// address checked before the dialog closes with OK.
#pragma once

#include "destinations/Recipient.h"

#include <QDialog>
#include <array>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vostrel {

class TFormAddReceivers : public QDialog
{
    Q_OBJECT

public:
    explicit TFormAddReceivers(QWidget *parent = nullptr);

    // The choices of the honorific box, the empty text first.
    static QStringList HonorificChoices();

    // Empties the twelve edit fields and selects the first (empty) honorific.
    void Reset();
    // Fills the thirteen fields with the values of a recipient.
    void SetValues(const Recipient &recipient);
    // The title and the confirm button's caption.
    void SetCaptions(const QString &title, const QString &confirmCaption);

    // After OK: the values entered, in recipient order (Shift_JIS).
    const Recipient &Values() const { return values_; }

private:
    void ButtonOKClick();
    // The thirteen fields in recipient order: name, honorific, address,
    // merge fields 1 to 10 (the honorific is read from its box).
    QString FieldText(int i) const;

    QLineEdit *EditName;
    QComboBox *CBht;
    QLineEdit *EditAddress;
    std::array<QLineEdit *, 10> EditMerge; // Edit1 .. Edit10
    QPushButton *ButtonOK;
    QPushButton *ButtonCancel;

    Recipient values_;
};

} // namespace vostrel
