#include "core/DialogService.h"

#include <QMessageBox>
#include <QPushButton>
#include <vector>

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
    void Warning(QWidget *parent, const QString &text, const QString &caption) override
    {
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
        box.setObjectName(QStringLiteral("WarningBox"));
        box.exec();
    }
    int Choose(QWidget *parent, const QString &text, const QStringList &buttons,
               const QString &caption) override
    {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
        box.setObjectName(QStringLiteral("ChoiceBox"));
        std::vector<QAbstractButton *> added;
        for (qsizetype i = 0; i < buttons.size(); ++i)
            added.push_back(box.addButton(buttons[i], i + 1 == buttons.size()
                                                          ? QMessageBox::RejectRole
                                                          : QMessageBox::AcceptRole));
        if (added.empty())
            return -1;
        box.setDefaultButton(qobject_cast<QPushButton *>(added.front()));
        box.setEscapeButton(added.back());
        box.exec();
        for (std::size_t i = 0; i < added.size(); ++i)
            if (box.clickedButton() == added[i])
                return static_cast<int>(i);
        return static_cast<int>(added.size()) - 1;
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

void ShowWarning(QWidget *parent, const QString &text)
{
    Dialogs().Warning(parent, text, AppTitle());
}

int AskChoice(QWidget *parent, const QString &text, const QStringList &buttons)
{
    return Dialogs().Choose(parent, text, buttons, AppTitle());
}

} // namespace vostrel
