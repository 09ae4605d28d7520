// Compose window figures: the time from program start to the main window
// shown (in fresh processes, the browser engine not yet started), and the
// first and a later preview of a 200 KB HTML draft. Prints figures only.
#include "app/VostrelApp.h"
#include "compose/UnitMailMake.h"
#include "compose/UnitMailMakeMsg_Close.h"
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/Password.h"
#include "core/SjisCodec.h"
#include "destinations/UnitAddMailList.h"
#include "history/UnitMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#define slots Q_SLOTS
#define signals Q_SIGNALS
#include <Qsci/qsciscintilla.h>
#undef signals
#undef slots

using namespace vostrel;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kStartRuns = 5;

// Milliseconds since the kernel started this process (10 ms resolution).
double MsSinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Field 22 (starttime) counts from the field after the command's ")".
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        fields >> field;
    const double startSeconds = std::stod(field) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return (static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 -
            startSeconds) *
           1000.0;
}

void SetUpDataFolder(const QString &root)
{
    ::setenv("XDG_DATA_HOME", (root + u"/xdg"_s).toUtf8().constData(), 1);
    SetDataFolder(DefaultDataFolder());
    PrepareDataFolder(DataFolder());
}

// One start, as the program's entry does it, up to the main window shown and
// its show routine done. Prints "<ms since process start> <ms since main>
// <browser views>".
int StartChild(int argc, char **argv)
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    const double beforeMain = MsSinceProcessStart();
    if (::geteuid() == 0)
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TVostrelApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Vostrel"_s);
    QIcon::setThemeName(u"breeze"_s);
    TVostrelApp windows;
    windows.Start();
    if (!QTest::qWaitForWindowExposed(&windows.Main()))
        return 2;
    while (!windows.Main().FirstShowDone())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double total = beforeMain + static_cast<double>(sinceMain.nsecsElapsed()) / 1e6;
    std::printf("%.1f %.1f %lld\n", total, static_cast<double>(sinceMain.nsecsElapsed()) / 1e6,
                static_cast<long long>(windows.Main().findChildren<QWebEngineView *>().size()));
    return 0;
}

QString Html200K()
{
    QString html =
        u"<!DOCTYPE html>\r\n<html lang=\"ja\">\r\n<head>\r\n<meta charset=\"utf-8\">\r\n"
        u"<title>お知らせ</title>\r\n</head>\r\n<body>\r\n"_s;
    int row = 0;
    while (QStringToSjis(html).size() < 200 * 1024) {
        html += u"<h2>第%1章 <#-送信先名-><#-敬称-></h2>\r\n<p>いつもお世話になっております。"
                u"本日は新製品のご案内をお送りします。<B>期間限定</B>のご提案です。"
                u"<img src=\"cid:image240315143059_48210977.jpg\"></p>\r\n"_s.arg(++row);
    }
    return html + u"</body>\r\n</html>\r\n"_s;
}

void PreviewFigures(const QString &root)
{
    SetUpDataFolder(root);
    SetCurrentKey(std::string(DefaultKey));
    TFormAddMailList picker;
    TFormMailMakeMsg_Close closeQuestion;
    TFormMailMake form;
    TFormMailMake::Links links;
    links.picker = &picker;
    links.closeQuestion = &closeQuestion;
    form.SetLinks(links);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return;
    auto *pages = form.findChild<QTabWidget *>(u"PageControlMailText"_s);
    pages->setCurrentIndex(static_cast<int>(ComposePage::Html));
    const QString html = Html200K();
    form.HtmlEditor()->setText(html);
    std::printf("preview source: %lld bytes Shift_JIS\n",
                static_cast<long long>(QStringToSjis(html).size()));

    for (int run = 1; run <= 3; ++run) {
        pages->setCurrentIndex(static_cast<int>(ComposePage::Html));
        QElapsedTimer timer;
        timer.start();
        pages->setCurrentIndex(static_cast<int>(ComposePage::Preview));
        const double built = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        auto *view = form.findChild<QWebEngineView *>();
        QSignalSpy loaded(view, &QWebEngineView::loadFinished);
        if (!loaded.wait(30000)) {
            std::printf("preview %d: no load within 30 s\n", run);
            return;
        }
        std::printf("preview %d%s: page written and load started %.1f ms, loaded %.1f ms\n", run,
                    run == 1 ? " (browser made)" : "", built,
                    static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "--start-child") {
        QTemporaryDir root;
        SetUpDataFolder(root.path());
        SetCurrentKey(std::string(DefaultKey));
        WriteConfig(std::string(DefaultKey)); // no password asked
        return StartChild(argc, argv);
    }
    if (::geteuid() == 0)
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);

    std::printf("start to main window shown (fresh process, ms since process start / since "
                "main / browser views):\n");
    for (int run = 1; run <= kStartRuns; ++run) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {u"--start-child"_s});
        if (!child.waitForFinished(60000)) {
            std::printf("  run %d: did not finish\n", run);
            child.kill();
            continue;
        }
        std::printf("  run %d: %s", run, child.readAllStandardOutput().constData());
    }

    QTemporaryDir root;
    PreviewFigures(root.path());
    return 0;
}
