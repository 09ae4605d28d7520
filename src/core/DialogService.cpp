#include "core/DialogService.h"

#include <QMessageBox>

namespace vostrel {

namespace {

class MessageBoxService : public DialogService
{
public:
    void Message(QWidget *parent, const QString &text, const QString &caption) override
    {
        QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
        box.setObjectName(QStringLiteral("MessageBox"));
        box.exec();
    }
    void Error(QWidget *parent, const QString &text, const QString &caption) override
    {
        QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
        box.setObjectName(QStringLiteral("ErrorBox"));
        box.exec();
    }
    bool YesNo(QWidget *parent, const QString &text, const QString &caption) override
    {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                        parent);
        box.setObjectName(QStringLiteral("QuestionBox"));
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
};

MessageBoxService messageBoxes;
DialogService *current = &messageBoxes;

} // namespace

DialogService &Dialogs()
{
    return *current;
}

DialogService *SetDialogService(DialogService *service)
{
    DialogService *old = current;
    current = service ? service : &messageBoxes;
    return old;
}

QString AppTitle()
{
    return QStringLiteral("Vostrel");
}

void ShowMessage(QWidget *parent, const QString &text)
{
    Dialogs().Message(parent, text, AppTitle());
}

void ShowError(QWidget *parent, const QString &text)
{
    Dialogs().Error(parent, text, AppTitle());
}

bool AskYesNo(QWidget *parent, const QString &text)
{
    return Dialogs().YesNo(parent, text, AppTitle());
}

} // namespace vostrel
