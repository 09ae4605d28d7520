// Every message box and Yes/No question of the program goes through here, so
// that tests can script the answers and read back the exact texts.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace vostrel {

class DialogService
{
public:
    virtual ~DialogService() = default;
    // An information box with an OK button.
    virtual void Message(QWidget *parent, const QString &text, const QString &caption) = 0;
    // An error box (the general error reporting) with an OK button.
    virtual void Error(QWidget *parent, const QString &text, const QString &caption) = 0;
    // A Yes/No question; true for Yes. Closing the box counts as No.
    virtual bool YesNo(QWidget *parent, const QString &text, const QString &caption) = 0;
    // A warning box (a refusal, a failure the user must know of) with an OK
    // button; an information box unless a service shows it otherwise.
    virtual void Warning(QWidget *parent, const QString &text, const QString &caption)
    {
        Message(parent, text, caption);
    }
    // A question with the given buttons, the last of which cancels; the
    // index of the button chosen. Closing the box counts as the last one,
    // which is all a service that shows no such question answers.
    virtual int Choose(QWidget * /*parent*/, const QString & /*text*/, const QStringList &buttons,
                       const QString & /*caption*/)
    {
        return static_cast<int>(buttons.size()) - 1;
    }
};

// The service in use (message boxes unless a test installed another one).
DialogService &Dialogs();
// Installs a service (nullptr restores the message boxes); returns the old one.
DialogService *SetDialogService(DialogService *service);

// The program's title and the caption of every box unless another is given.
QString AppTitle();

// Shorthands with the caption "Vostrel".
void ShowMessage(QWidget *parent, const QString &text);
void ShowError(QWidget *parent, const QString &text);
bool AskYesNo(QWidget *parent, const QString &text);
void ShowWarning(QWidget *parent, const QString &text);
int AskChoice(QWidget *parent, const QString &text, const QStringList &buttons);

} // namespace vostrel
