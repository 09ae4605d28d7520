// The signature editor: the five signatures on five tabs, edited in one
// memo, saved together after a question or dropped on closing.
#pragma once

#include "compose/Signatures.h"

#include <QDialog>
#include <QString>
#include <array>

class QPlainTextEdit;
class QPushButton;
class QTabBar;

namespace vostrel {

class TFormSignatureEdit : public QDialog
{
    Q_OBJECT
public:
    explicit TFormSignatureEdit(QWidget *parent = nullptr);

    // Reads the five files afresh and shows the editor modally on the tab
    // selected when it was last closed. A file that cannot be read is
    // reported and the editor is not shown.
    void ShowSignatureEdit();
    // The slot of the selected tab, 1 to 5.
    int CurrentSlot() const;

public Q_SLOTS:
    // "閉じる" and every other close: the edits are dropped without a question.
    void reject() override;

private:
    void TabControlSigChange(int index);
    void MemoChange();
    void BtnSaveClick();
    void ShowBuffer(int index);
    void DropBuffers();

    std::array<QString, kSignatureCount> buffers_;
    bool showingBuffer_ = false;
    QTabBar *TabControlSig;
    QPlainTextEdit *Memo;
    QPushButton *BtnSave;
    QPushButton *BtnClose;
};

} // namespace vostrel
