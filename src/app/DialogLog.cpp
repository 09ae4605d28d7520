#include "app/DialogLog.h"

#include "app/SingleInstance.h"
#include "core/DialogService.h"

#include <QFile>

namespace vostrel {
namespace {

QString dialogLogPath;

void AppendDialogLog(const QString &line)
{
    QFile file(dialogLogPath);
    if (file.open(QIODevice::Append | QIODevice::Text)) {
        QString flat = line;
        flat.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        file.write(flat.toUtf8() + '\n');
    }
}

class DialogLog : public DialogService
{
public:
    void Message(QWidget *, const QString &text, const QString &caption) override
    {
        AppendDialogLog(QStringLiteral("message\t") + caption + QLatin1Char('\t') + text);
    }
    void Error(QWidget *, const QString &text, const QString &caption) override
    {
        AppendDialogLog(QStringLiteral("error\t") + caption + QLatin1Char('\t') + text);
    }
    bool YesNo(QWidget *, const QString &text, const QString &caption) override
    {
        AppendDialogLog(QStringLiteral("question\t") + caption + QLatin1Char('\t') + text);
        return false;
    }
    void Warning(QWidget *, const QString &text, const QString &caption) override
    {
        AppendDialogLog(QStringLiteral("warning\t") + caption + QLatin1Char('\t') + text);
    }
    int Choose(QWidget *, const QString &text, const QStringList &buttons,
               const QString &caption) override
    {
        AppendDialogLog(QStringLiteral("choice\t") + caption + QLatin1Char('\t') + text);
        return static_cast<int>(buttons.size()) - 1;
    }
};

DialogLog dialogLog;

} // namespace

void UseDialogLogIfRequested(const QStringList &arguments, SingleInstance &once)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--dialog-log"));
    if (at < 0 || at + 1 >= arguments.size() || arguments[at + 1].isEmpty())
        return;
    dialogLogPath = arguments[at + 1];
    SetDialogService(&dialogLog);
    QObject::connect(&once, &SingleInstance::ActivationRequested, &once,
                     [] { AppendDialogLog(QStringLiteral("activated\tTFormMain")); });
}

} // namespace vostrel
