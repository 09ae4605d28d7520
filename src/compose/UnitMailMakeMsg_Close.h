// The question shown when the compose window closes, with the check box that
// decides whether the mail being edited is kept for the next opening.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace vostrel {

class TFormMailMakeMsg_Close : public QDialog
{
    Q_OBJECT
public:
    explicit TFormMailMakeMsg_Close(QWidget *parent = nullptr);

    // Shows the question modally; true for "はい".
    bool Ask();

    // CBMailMakeDataFlg: the compose window keeps its draft. Unchecked at
    // start-up.
    bool KeepDraft() const;
    void SetKeepDraft(bool keep);

private:
    QLabel *LabelMsg;
    QCheckBox *CBMailMakeDataFlg;
    QPushButton *BtnOk;
    QPushButton *BtnCancel;
};

} // namespace vostrel
