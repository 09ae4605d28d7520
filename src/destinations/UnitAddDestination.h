// The list-name dialog: a destination list's name and send type, asked when a
// list is created or edited.
#pragma once

#include "destinations/DestinationStore.h"

#include <QDialog>
#include <string>
#include <string_view>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vostrel {

class TFormAddDestination : public QDialog
{
    Q_OBJECT

public:
    explicit TFormAddDestination(QWidget *parent = nullptr);

    // Everything the caller sets before each showing: the title, the confirm
    // button's caption, the name and boxes shown, and the list's current name
    // (empty for a new list), which may be kept.
    void Prepare(const QString &title, const QString &confirmCaption, std::string_view name,
                 const SendType &sendType, std::string_view currentName);

    // After OK: the name entered (Shift_JIS) and the boxes.
    const std::string &ListName() const { return listName_; }
    SendType ChosenSendType() const;

private:
    void BtnListMakeClick();

    QLabel *LabelListName;
    QLineEdit *EditListName;
    QGroupBox *GBSendType;
    QCheckBox *CBTo;
    QCheckBox *CBCc;
    QCheckBox *CBBcc;
    QPushButton *BtnListMake;
    QPushButton *BtnCancel;

    std::string currentName_;
    std::string listName_;
};

} // namespace vostrel
