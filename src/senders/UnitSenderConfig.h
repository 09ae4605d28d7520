// The sender list window: the stored accounts by name, a read-only panel with
// the selected account's settings, and the commands to add, edit and delete.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace vostrel {

class TFormAddSender;

class TFormSenderConfig : public QDialog
{
    Q_OBJECT

public:
    explicit TFormSenderConfig(TFormAddSender &editor, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void BuildControls();
    void FormShow();
    void PNGBtnAddSenderClick();
    void PNGBtnEditSenderClick();
    void PNGBtnDeleteSenderClick();
    void ListViewItemBoxSelectItem();

    // Empties the detail panel and sets its labels to "no POP, no auth".
    void ClearDetailPanel();
    // Empties the list and fills it again from the Senders folder.
    void ReloadList();
    // The account name (Shift_JIS) of the selected row; false when none is.
    bool SelectedName(std::string &name) const;

    TFormAddSender &editor_;

    QToolButton *PNGBtnAddSender = nullptr;
    QToolButton *PNGBtnEditSender = nullptr;
    QToolButton *PNGBtnDeleteSender = nullptr;
    QToolButton *PNGBtnClose = nullptr;
    QTreeWidget *ListViewItemBox = nullptr;
    QWidget *PanelConnectConfig = nullptr;

    QLineEdit *EditConfName = nullptr;
    QLineEdit *EditSMTPAddress = nullptr;
    QLineEdit *EditSMTPPort = nullptr;
    QLabel *LabelSMTPSSL = nullptr;
    QLineEdit *EditFromAddress = nullptr;
    QLineEdit *EditSenderName = nullptr;
    QLineEdit *EditReturnAddress = nullptr;
    QLineEdit *EditErrorAddress = nullptr;
    QLabel *LabelUsePOP = nullptr;
    QLineEdit *EditPOPAddress = nullptr;
    QLineEdit *EditPOPPort = nullptr;
    QLabel *LabelPOPSSL = nullptr;
    QLineEdit *EditPOPAccount = nullptr;
    QLabel *LabelSMTPAuth = nullptr;
    QLineEdit *EditSMTPAccount = nullptr;

    QLabel *LabelPOPAddress = nullptr;
    QLabel *LabelPOPPort = nullptr;
    QLabel *LabelPOPAccount = nullptr;
    QLabel *LabelSMTPAccount = nullptr;
};

} // namespace vostrel
