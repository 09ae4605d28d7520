// Program entry: one running copy per user, then the windows and the event loop.
#include "app/DialogLog.h"
#include "app/SingleInstance.h"
#include "app/VostrelApp.h"
#include "core/DialogService.h"
#include "core/UiHelpers.h"
#include "history/UnitMain.h"
#include "history/UnitVersion.h"

#include <cstdlib>
#include <unistd.h>

int main(int argc, char **argv)
{
    // The embedded browser refuses to start as root unless its sandbox is off.
    if (::geteuid() == 0)
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    vostrel::TVostrelApplication app(argc, argv);
    // Qt's own texts in Japanese like the program's, whatever the locale.
    vostrel::UseJapaneseQtTexts();
    QCoreApplication::setApplicationName(QStringLiteral("Vostrel"));
    QCoreApplication::setApplicationVersion(vostrel::ProgramVersion());
    // The desktop entry vostrel.desktop and the icon it names.
    QGuiApplication::setDesktopFileName(QStringLiteral("vostrel"));
    QGuiApplication::setWindowIcon(vostrel::ProgramIcon());
    vostrel::UseProgramIconTheme();

    vostrel::SingleInstance once(QStringLiteral("HALVIK_VOSTREL_ONCE"));
#ifdef VOSTREL_TEST_HOOKS
    vostrel::UseDialogLogIfRequested(QCoreApplication::arguments(), once);
#endif
    switch (once.TryAcquire()) {
    case vostrel::SingleInstance::Acquired::Running:
        vostrel::ShowMessage(nullptr, QStringLiteral("既に起動されています"));
        once.ActivateRunning();
        return 0;
    case vostrel::SingleInstance::Acquired::LockFailed:
        // Without the lock two copies could write the same files.
        vostrel::ShowError(nullptr,
                           QStringLiteral("二重起動を防ぐためのファイルを作成できないため、"
                                          "起動できません。\n") +
                               once.Error());
        return 1;
    case vostrel::SingleInstance::Acquired::Yes:
        if (!once.Error().isEmpty())
            vostrel::ShowError(nullptr,
                               QStringLiteral("もう一度起動したときにこの画面を前面に出すための"
                                              "接続口を開けませんでした。このまま起動します。\n") +
                                   once.Error());
        break;
    }

    vostrel::TVostrelApp windows;
    QObject::connect(&once, &vostrel::SingleInstance::ActivationRequested, &windows,
                     [&windows] { windows.Main().RaiseAndActivate(); });
    QObject::connect(
        &windows, &vostrel::TVostrelApp::TerminateRequested, &app,
        [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    windows.Start();
    return app.exec();
}
