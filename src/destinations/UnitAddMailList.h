// The list picker: chooses sender accounts, or the destination lists for the
// To, Cc or Bcc field of a mail.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QToolButton;
class QPushButton;
class QTreeWidget;

namespace vostrel {

// Where the picker looks for names: the sender accounts, or the lists whose
// flag for To, Cc or Bcc is set.
enum class PickerKind
{
    Sender = 0,
    To = 1,
    Cc = 2,
    Bcc = 3
};

class TFormAddMailList : public QDialog
{
    Q_OBJECT

public:
    explicit TFormAddMailList(QWidget *parent = nullptr);

    // Set before each showing: the kind (title and column captions follow it)
    // and the names chosen so far (Shift_JIS), shown on the right.
    void Prepare(PickerKind kind, const std::vector<std::string> &chosen);
    // After OK: the names on the right, top to bottom.
    std::vector<std::string> ChosenNames() const;
    // Empties the right list; the caller does so after every showing.
    void ClearChosen();

    PickerKind Kind() const { return kind_; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    void PNGBtnAddClick();
    void PNGBtnDeleteClick();

    QTreeWidget *ListViewAddressList;
    QTreeWidget *ListViewConfigList;
    QToolButton *PNGBtnAdd;
    QToolButton *PNGBtnDelete;
    QPushButton *BtnConfig;
    QPushButton *BtnClose;
    QToolButton *PNGBtnConfig;
    QToolButton *PNGBtnClose;

    PickerKind kind_ = PickerKind::Sender;
};

} // namespace vostrel
