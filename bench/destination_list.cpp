// Destination list figures: LoadDestinationList and SaveDestinationList of a
// list of 100,000 recipients, and the destination list window showing it:
// the time from the click on the list to a painted, usable view, the longest
// stretch without event processing during the load, scrolling, a save from
// the window and deleting half of the recipients. Prints figures only.
#include "EventPassWatch.h"
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/DialogService.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "destinations/UnitAddDestination.h"
#include "destinations/UnitAddReceivers.h"
#include "destinations/UnitDestinationList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vostrel;
using namespace Qt::Literals::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kRecipients = 100000;
constexpr int kRuns = 3;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::vector<Recipient> MakeRecipients()
{
    const std::string family[] = {Sjis("山田"), Sjis("佐藤"), Sjis("鈴木"), Sjis("高橋")};
    const std::string given[] = {Sjis("太郎"), Sjis("花子"), Sjis("一郎"), Sjis("美咲")};
    const std::string honorific = Sjis("様");
    std::vector<Recipient> recipients(kRecipients);
    for (std::size_t i = 0; i < kRecipients; ++i) {
        Recipient &r = recipients[i];
        const std::string n = std::to_string(i);
        r.fields[0] = family[i % 4] + " " + given[(i / 4) % 4] + n;
        r.fields[1] = honorific;
        r.fields[2] = "user" + n + "@example.co.jp";
        for (int m = 1; m <= 10; ++m)
            r.fields[static_cast<std::size_t>(2 + m)] =
                m == 1 ? Sjis("株式会社サンプル") + n : "merge" + std::to_string(m) + "-" + n;
    }
    return recipients;
}

void Report(const char *what, std::vector<double> seconds)
{
    std::sort(seconds.begin(), seconds.end());
    std::printf("%-52s best %7.3f s  median %7.3f s  (%d runs)\n", what, seconds.front(),
                seconds[seconds.size() / 2], static_cast<int>(seconds.size()));
}

// Answers every question with Yes and reports errors.
class AnswerYes : public DialogService
{
public:
    void Message(QWidget *, const QString &, const QString &) override {}
    void Error(QWidget *, const QString &text, const QString &) override
    {
        ++errors;
        std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
    }
    bool YesNo(QWidget *, const QString &, const QString &) override { return true; }
    int errors = 0;
};

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

    const std::vector<Recipient> recipients = MakeRecipients();
    const std::string name = Sjis("大口顧客");
    const SendType sendType{true, false, true};
    std::printf("list of %zu recipients (%zu fields)\n", kRecipients,
                kRecipients * Recipient::kFieldCount + 4);

    std::vector<double> saves, loads;
    for (int run = 0; run < kRuns; ++run) {
        auto start = Clock::now();
        SaveDestinationList(name, sendType, recipients);
        saves.push_back(Seconds(Clock::now() - start));
        start = Clock::now();
        const DestinationList list = LoadDestinationList(name);
        loads.push_back(Seconds(Clock::now() - start));
        if (list.recipients != recipients) {
            std::fprintf(stderr, "the list read back differs\n");
            return 1;
        }
    }
    std::printf("file size %.1f MB\n",
                static_cast<double>(std::filesystem::file_size(DestinationListPath(name))) / 1e6);
    Report("SaveDestinationList", saves);
    Report("LoadDestinationList", loads);

    // The window.
    TFormAddDestination addDestination;
    TFormAddReceivers addReceivers;
    TFormDestinationList window(addDestination, addReceivers);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window was never shown\n");
        return 1;
    }
    auto *lists = window.findChild<QTreeWidget *>(u"ListViewDestinationList"_s);
    auto *view = window.findChild<QTableView *>(u"ListViewAddress"_s);

    std::vector<double> fills, gaps;
    for (int run = 0; run < kRuns; ++run) {
        // Event-loop passes during the load: the longest stretch between two.
        window.findChild<QWidget *>(u"RBSendType_All"_s)->setFocus();
        QTest::mouseClick(window.findChild<QWidget *>(u"RBSendType_All"_s), Qt::LeftButton);
        EventPassWatch watch;
        const auto start = Clock::now();
        QTest::mouseClick(lists->viewport(), Qt::LeftButton, {},
                          lists->visualItemRect(lists->topLevelItem(0)).center());
        QCoreApplication::processEvents();
        view->viewport()->repaint();
        fills.push_back(Seconds(Clock::now() - start));
        gaps.push_back(watch.Stop());
        if (static_cast<std::size_t>(view->model()->rowCount()) != kRecipients) {
            std::fprintf(stderr, "the window shows %d rows\n", view->model()->rowCount());
            return 1;
        }
    }
    Report("window: click to filled and painted", fills);
    Report("window: longest stretch without events, loading", gaps);

    auto start = Clock::now();
    view->scrollToBottom();
    view->viewport()->repaint();
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    view->viewport()->repaint();
    Report("window: scroll to the end and the middle, painted", {Seconds(Clock::now() - start)});

    // A recipient added through the editor, then the save of 100,001.
    QTimer filler;
    filler.setInterval(1);
    QObject::connect(&filler, &QTimer::timeout, [&] {
        if (!addReceivers.isVisible())
            return;
        filler.stop();
        addReceivers.findChild<QLineEdit *>(u"EditName"_s)->setText(u"追加"_s);
        addReceivers.findChild<QLineEdit *>(u"EditAddress"_s)->setText(u"added@example.jp"_s);
        QTest::mouseClick(addReceivers.findChild<QWidget *>(u"ButtonOK"_s), Qt::LeftButton);
        start = Clock::now();
    });
    filler.start();
    double saveGap = 0;
    {
        EventPassWatch watch;
        QTest::mouseClick(window.findChild<QWidget *>(u"PNGBtnAddAddress"_s), Qt::LeftButton);
        saveGap = watch.Stop();
    }
    Report("window: add a recipient, save 100,001", {Seconds(Clock::now() - start)});
    Report("window: longest stretch without events, saving", {saveGap});

    // Delete every other recipient (50,001 rows selected), then the save.
    QItemSelection half;
    for (int row = 0; row <= static_cast<int>(kRecipients); row += 2)
        half.select(view->model()->index(row, 0), view->model()->index(row, 12));
    view->selectionModel()->select(half, QItemSelectionModel::ClearAndSelect);
    AnswerYes yes;
    SetDialogService(&yes);
    start = Clock::now();
    QTest::mouseClick(window.findChild<QWidget *>(u"PNGBtnDeleteAddress"_s), Qt::LeftButton);
    view->viewport()->repaint();
    Report("window: delete 50,001 of 100,001 and save the rest", {Seconds(Clock::now() - start)});
    SetDialogService(nullptr);
    if (view->model()->rowCount() != static_cast<int>(kRecipients / 2) || yes.errors != 0) {
        std::fprintf(stderr, "the window shows %d rows after the delete\n",
                     view->model()->rowCount());
        return 1;
    }
    return 0;
}
