// CSV figures: the import of a 100,000-row CSV file (UTF-8 with byte-order
// mark, 13 columns) through the destination list window and the import
// dialog: the time from the chosen file to the table read and painted, the
// time from "インポート" to the recipients imported and the list saved, the
// longest stretches without event processing, and the peak memory; then the
// export of the 100,000 recipients. Prints figures only.
#include "EventPassWatch.h"
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/DialogService.h"
#include "core/SjisCodec.h"
#include "destinations/CsvFile.h"
#include "destinations/DestinationStore.h"
#include "destinations/UnitAddDestination.h"
#include "destinations/UnitAddReceivers.h"
#include "destinations/UnitCsvImport.h"
#include "destinations/UnitCsvImportError.h"
#include "destinations/UnitDestinationList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <sys/resource.h>

using namespace vostrel;
using namespace Qt::Literals::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 100000;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double MegabytesOf(long kilobytes)
{
    return static_cast<double>(kilobytes) / 1024.0;
}

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

// A UTF-8 file with mark: a header line, then kRows rows of 13 values.
std::string MakeCsv()
{
    const char *family[] = {"山田", "佐藤", "鈴木", "高橋"};
    const char *given[] = {"太郎", "花子", "一郎", "美咲"};
    std::string text = "\xEF\xBB\xBF宛先名,敬称,メールアドレス,差込1,差込2,差込3,差込4,差込5,差込6,"
                       "差込7,差込8,差込9,差込10\r\n";
    for (int i = 0; i < kRows; ++i) {
        const std::string n = std::to_string(i);
        text += std::string(family[i % 4]) + " " + given[(i / 4) % 4] + n + ",様,user" + n +
                "@example.co.jp,株式会社サンプル" + n + ",\"東京都千代田区1-2-3, ビル" + n +
                "階\",0" + n;
        for (int m = 4; m <= 10; ++m)
            text += ",merge" + std::to_string(m) + "-" + n;
        text += "\r\n";
    }
    return text;
}

// Notes the time of every message and reports errors.
class Recorder : public DialogService
{
public:
    void Message(QWidget *, const QString &text, const QString &) override
    {
        lastText = text;
        lastAt = Clock::now();
        if (onMessage)
            onMessage();
    }
    void Error(QWidget *, const QString &text, const QString &) override
    {
        ++errors;
        std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
    }
    bool YesNo(QWidget *, const QString &, const QString &) override { return true; }

    QString lastText;
    Clock::time_point lastAt;
    std::function<void()> onMessage;
    int errors = 0;
};

// Calls action once, when a window named name is the active modal window.
void WhenModal(const QString &name, std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, name, action] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != name)
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}

void Choose(const QString &picker, const QString &file, Clock::time_point *chosenAt = nullptr)
{
    WhenModal(picker, [file, chosenAt](QWidget *w) {
        w->findChild<QLineEdit *>(u"fileNameEdit"_s)->setText(file);
        static_cast<QDialog *>(w)->accept();
        if (chosenAt)
            *chosenAt = Clock::now();
    });
}

} // namespace

int main(int argc, char **argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir temp;
    qputenv("XDG_DATA_HOME", (temp.path() + u"/xdg"_s).toUtf8());
    qputenv("XDG_RUNTIME_DIR", temp.path().toUtf8());
    QApplication app(argc, argv);
    SetDataFolder(DefaultDataFolder());
    std::filesystem::create_directories(DataFolder());
    PrepareDataFolder(DataFolder());
    SetCurrentKey(std::string(DefaultKey));
    Recorder recorder;
    SetDialogService(&recorder);

    const QString csvPath = temp.path() + u"/import.csv"_s;
    {
        const std::string csv = MakeCsv();
        std::ofstream(csvPath.toStdString(), std::ios::binary).write(csv.data(), csv.size());
        std::printf("CSV file: %d rows + header, 13 columns, UTF-8 with mark, %.1f MB\n", kRows,
                    static_cast<double>(csv.size()) / 1e6);
    }
    CreateDestinationList(Sjis("大口顧客"), true, false, false);

    TFormAddDestination addDestination;
    TFormAddReceivers addReceivers;
    TFormCsvImport csvImport;
    TFormCsvImportError csvError;
    csvImport.SetErrorDialog(&csvError);
    TFormDestinationList window(addDestination, addReceivers);
    window.SetCsvImport(&csvImport);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window was never shown\n");
        return 1;
    }
    auto *lists = window.findChild<QTreeWidget *>(u"ListViewDestinationList"_s);
    QTest::mouseClick(lists->viewport(), Qt::LeftButton, {},
                      lists->visualItemRect(lists->topLevelItem(0)).center());
    auto *importView = csvImport.findChild<QTableView *>(u"ListViewAddress"_s);
    const long rssBefore = CurrentRssKb();

    // The import: the table read and painted, then "インポート".
    Clock::time_point chosenAt, shownAt, importClickedAt;
    double readGap = 0, importGap = 0;
    long rssWithTable = 0;
    std::unique_ptr<EventPassWatch> readWatch, importWatch;
    recorder.onMessage = [&] {
        if (importWatch)
            importGap = importWatch->Stop();
    };
    Choose(u"OpenDialog"_s, csvPath, &chosenAt);
    WhenModal(u"TFormCsvImport"_s, [&](QWidget *) {
        readWatch = std::make_unique<EventPassWatch>();
        auto *poll = new QTimer(qApp);
        poll->setInterval(0);
        QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
            if (csvImport.Reading())
                return;
            poll->stop();
            poll->deleteLater();
            importView->viewport()->repaint();
            shownAt = Clock::now();
            readGap = readWatch->Stop();
            rssWithTable = CurrentRssKb();
            csvImport.findChild<QWidget *>(u"CBImport_NotOneLine"_s)->setProperty("checked", true);
            importWatch = std::make_unique<EventPassWatch>();
            importClickedAt = Clock::now();
            QTest::mouseClick(csvImport.findChild<QWidget *>(u"BtnImport"_s), Qt::LeftButton);
        });
        poll->start();
    });
    QTest::mouseClick(window.findChild<QWidget *>(u"PNGBtnCSVRead"_s), Qt::LeftButton);
    recorder.onMessage = nullptr;
    const auto importedAt = recorder.lastAt;
    auto *view = window.findChild<QTableView *>(u"ListViewAddress"_s);
    if (recorder.errors != 0 || recorder.lastText != u"CSV読込が完了しました"_s ||
        view->model()->rowCount() != kRows) {
        std::fprintf(stderr, "the import went wrong: %d rows, message %s\n",
                     view->model()->rowCount(), recorder.lastText.toUtf8().constData());
        return 1;
    }
    std::printf("%-58s %7.3f s\n", "import: file chosen to table read and painted",
                Seconds(shownAt - chosenAt));
    std::printf("%-58s %7.3f s\n", "import: Import clicked to imported, saved and said",
                Seconds(importedAt - importClickedAt));
    std::printf("%-58s %7.3f s\n", "import: longest stretch without events, reading", readGap);
    std::printf("%-58s %7.3f s\n", "import: longest stretch without events, import and save",
                importGap);
    std::printf("%-58s %7.1f MB\n", "memory: resident before the import", MegabytesOf(rssBefore));
    std::printf("%-58s %7.1f MB\n", "memory: resident with the table read",
                MegabytesOf(rssWithTable));
    std::printf("%-58s %7.1f MB\n", "memory: peak resident (whole run so far)",
                MegabytesOf(PeakRssKb()));

    // The export of the 100,000 recipients now in the list.
    Clock::time_point exportChosenAt;
    Choose(u"SaveDialog"_s, temp.path() + u"/export"_s, &exportChosenAt);
    EventPassWatch exportWatch;
    QTest::mouseClick(window.findChild<QWidget *>(u"PNGBtnCSVWrite"_s), Qt::LeftButton);
    const double exportGap = exportWatch.Stop();
    if (recorder.errors != 0 || recorder.lastText != u"CSV書出が完了しました"_s) {
        std::fprintf(stderr, "the export went wrong\n");
        return 1;
    }
    const auto exportSize =
        std::filesystem::file_size((temp.path() + u"/export.csv"_s).toStdString());
    std::printf("%-58s %7.3f s\n", "export: file chosen to written and said",
                Seconds(recorder.lastAt - exportChosenAt));
    std::printf("%-58s %7.3f s\n", "export: longest stretch without events", exportGap);
    std::printf("%-58s %7.1f MB\n", "export: file size", static_cast<double>(exportSize) / 1e6);
    std::printf("%-58s %7.1f MB\n", "memory: peak resident (whole run)", MegabytesOf(PeakRssKb()));
    SetDialogService(nullptr);
    return 0;
}
