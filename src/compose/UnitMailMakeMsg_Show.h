// The question the main window asks before it opens the compose window while
// a mail being edited is kept: open that mail, or start a new one.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vostrel {

class TFormMailMake;
class TFormMailMakeMsg_Close;

class TFormMailMakeMsg_Show : public QDialog
{
    Q_OBJECT
public:
    enum Choice
    {
        NewMail = 0,
        EditOpen = 1,
    };

    explicit TFormMailMakeMsg_Show(QWidget *parent = nullptr);

    // Shows the question modally until one of the two buttons is pressed.
    Choice Ask();

public Q_SLOTS:
    // The window has no close box: Escape and the window manager's close do
    // not answer the question.
    void reject() override;

private:
    QLabel *LabelMsg;
    QPushButton *BtnEditOpen;
    QPushButton *BtnNewMail;
};

// The main window's new-mail command: while a draft is kept, asks whether to
// open it ("新規作成" drops it); then shows the compose window modally.
void OpenComposeFromMain(TFormMailMakeMsg_Show &question, TFormMailMakeMsg_Close &closeQuestion,
                         TFormMailMake &compose);

} // namespace vostrel
