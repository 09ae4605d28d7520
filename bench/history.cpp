// History and backup figures: the main window loading a history of 2,000
// logs (1,000 to 10,000 To addresses each): time to the first row shown and
// to the whole list sorted, the longest pause of the window's event loop
// meanwhile, and memory; then backup and restore of a data folder with 100
// lists of 1,000 recipients. Prints figures only.
#include "core/AppState.h"
#include "core/Backup.h"
#include "core/DataFolder.h"
#include "core/Password.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "history/HistoryTableModel.h"
#include "history/UnitMain.h"
#include "send/SendLog.h"
#include "senders/SenderAccount.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace vostrel;
using namespace Qt::Literals::StringLiterals;
namespace fs = std::filesystem;

namespace {

constexpr int kSenders = 4;
constexpr int kLogs = 2000;
constexpr int kLoadRuns = 3;
constexpr int kLists = 100;
constexpr int kRecipients = 1000;

// A line of /proc/self/status in MB ("VmRSS", "VmHWM").
double StatusMb(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::atof(line.c_str() + std::strlen(key) + 1) / 1024.0;
    return 0;
}

// The start time of run n, n * 97 seconds after 2024-01-01 00:00:00.
std::string StartTime(int n)
{
    std::tm base{};
    base.tm_year = 124;
    base.tm_mday = 1;
    const std::time_t at = ::timegm(&base) + static_cast<std::time_t>(n) * 97;
    std::tm t{};
    ::gmtime_r(&at, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d年%02d月%02d日%02d時%02d分%02d秒", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return Sjis(text);
}

std::string Addresses(int count)
{
    std::string text;
    text.reserve(static_cast<std::size_t>(count) * 26);
    for (int i = 0; i < count; ++i)
        text += (i ? ", " : "") + std::string("member") + std::to_string(i) + "@example.jp";
    return text;
}

void WriteHistory()
{
    std::vector<std::string> addresses;
    for (int k = 1; k <= 10; ++k)
        addresses.push_back(Addresses(k * 1000));
    std::uintmax_t bytes = 0;
    for (int s = 0; s < kSenders; ++s) {
        SenderAccount account;
        account.ConfName = Sjis("送信者") + std::to_string(s);
        account.FromAddress = "sender" + std::to_string(s) + "@example.jp";
        WriteSenderAccount(SenderAccountPath(account.ConfName), account);
    }
    for (int n = 0; n < kLogs; ++n) {
        SendJob job;
        job.subject = Sjis("お知らせ 第") + std::to_string(n) + Sjis("号");
        job.toLists = {Sjis("会員リスト")};
        job.body = Sjis("<html><body><p>本文</p></body></html>");
        const std::string account = Sjis("送信者") + std::to_string(n % kSenders);
        const std::string &to = addresses[static_cast<std::size_t>(n % 10)];
        WriteSendLog(account, job, 10, 10, StartTime(n), StartTime(n + 1), to, "", "");
        bytes += fs::file_size(SendLogPath(account, StartTime(n)));
    }
    std::printf("history: %d logs of %d senders, 1,000 to 10,000 To addresses each, %.0f MB\n",
                kLogs, kSenders, static_cast<double>(bytes) / 1e6);
}

void LoadFigures()
{
    TFormMain main;
    main.SetFirstShowDone(true);
    // Showing the window loads the history the first time.
    const double rssBefore = StatusMb("VmRSS");
    main.show();
    if (!QTest::qWaitForWindowExposed(&main))
        std::printf("  the window was not shown\n");
    if (!QTest::qWaitFor([&] { return main.HistoryModel().rowCount() == kLogs && !main.Busy(); },
                         60000))
        std::printf("  the first load did not finish\n");
    std::printf("  memory: %.1f MB more resident with the window shown and the list loaded\n",
                StatusMb("VmRSS") - rssBefore);

    for (int run = 1; run <= kLoadRuns; ++run) {
        QElapsedTimer clock;
        qint64 firstRowMs = -1;
        qint64 lastTick = -1;
        qint64 longestPause = 0;
        int ticks = 0;
        QMetaObject::Connection shown = QObject::connect(&main, &TFormMain::HistoryRowsShown, [&] {
            if (firstRowMs < 0)
                firstRowMs = clock.elapsed();
        });
        // A timer due every 5 ms tells how long the event loop went unserved.
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            if (lastTick >= 0)
                longestPause = std::max(longestPause, now - lastTick);
            lastTick = now;
            ++ticks;
        });
        clock.start();
        ticker.start();
        lastTick = 0;
        main.FormShow();
        const qint64 totalMs = clock.elapsed();
        longestPause = std::max(longestPause, totalMs - lastTick);
        ticker.stop();
        QObject::disconnect(shown);
        std::printf("  load %d: first row shown %lld ms, whole list sorted %lld ms, %d rows; "
                    "event loop served %d times, longest pause %lld ms\n",
                    run, static_cast<long long>(firstRowMs), static_cast<long long>(totalMs),
                    main.HistoryModel().rowCount(), ticks, static_cast<long long>(longestPause));
    }
    std::size_t held = 0;
    for (int row = 0; row < main.HistoryModel().rowCount(); ++row) {
        const HistoryEntry &entry = main.HistoryModel().Entry(row);
        held += sizeof entry + entry.sender.capacity() + entry.file.native().capacity();
        for (const std::string &field : entry.fields)
            held += field.capacity();
    }
    std::printf("  memory: the list's rows hold %.1f MB; peak of the process %.1f MB\n",
                static_cast<double>(held) / 1e6, StatusMb("VmHWM"));

    // For comparison: the twelve fields read whole, as the list would
    // without keeping long fields in part.
    {
        QElapsedTimer clock;
        clock.start();
        std::size_t bytes = 0;
        for (int row = 0; row < main.HistoryModel().rowCount(); ++row) {
            const SendLog log = ReadSendLog(main.HistoryModel().Entry(row).file, 12);
            for (const std::string &field : log.fields)
                bytes += field.size();
        }
        std::printf("  for comparison, the twelve fields of every log read whole: %lld ms, "
                    "%.0f MB of text\n",
                    static_cast<long long>(clock.elapsed()), static_cast<double>(bytes) / 1e6);
    }

    // A sort by the To addresses (texts kept in part) and back by start time.
    for (int column : {8, 4}) {
        QElapsedTimer clock;
        clock.start();
        main.HistoryModel().Sort(column + 1);
        std::printf("  sort of %d rows by column %d: %lld ms\n", main.HistoryModel().rowCount(),
                    column, static_cast<long long>(clock.elapsed()));
    }
}

void BackupFigures(const fs::path &target)
{
    // The lists alone, without the history.
    fs::remove_all(DataFolder() / "Logs");
    fs::create_directories(DataFolder() / "Logs");
    std::vector<Recipient> recipients(kRecipients);
    for (int i = 0; i < kRecipients; ++i) {
        Recipient &r = recipients[static_cast<std::size_t>(i)];
        r.fields[0] = Sjis("山田太郎") + std::to_string(i);
        r.fields[1] = Sjis("様");
        r.fields[2] = "member" + std::to_string(i) + "@example.jp";
        for (int m = 3; m < Recipient::kFieldCount; ++m)
            r.fields[static_cast<std::size_t>(m)] = Sjis("差込") + std::to_string(m);
    }
    for (int l = 0; l < kLists; ++l)
        SaveDestinationList(Sjis("リスト") + std::to_string(l), SendType{true, false, false},
                            recipients);
    std::uintmax_t bytes = 0;
    std::size_t files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(DataFolder()))
        if (entry.is_regular_file()) {
            bytes += entry.file_size();
            ++files;
        }
    std::printf("backup and restore: %d lists of %d recipients; data folder "
                "%zu files, %.0f MB\n",
                kLists, kRecipients, files, static_cast<double>(bytes) / 1e6);

    fs::create_directories(target);
    QElapsedTimer clock;
    clock.start();
    const fs::path backup = MakeBackup(target);
    std::printf("  backup: %lld ms\n", static_cast<long long>(clock.elapsed()));
    clock.restart();
    RestoreBackup(backup, std::string(DefaultKey));
    std::printf("  restore: %lld ms\n", static_cast<long long>(clock.elapsed()));
}

} // namespace

int main(int argc, char **argv)
{
    if (::geteuid() == 0)
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    QApplication app(argc, argv);
    QTemporaryDir root;
    ::setenv("XDG_DATA_HOME", (root.path() + u"/xdg"_s).toUtf8().constData(), 1);
    SetDataFolder(DefaultDataFolder());
    PrepareDataFolder(DataFolder());
    SetCurrentKey(std::string(DefaultKey));
    WriteConfig(std::string(DefaultKey));

    WriteHistory();
    LoadFigures();
    BackupFigures(fs::path(root.path().toStdString()) / "backups");
    return 0;
}
