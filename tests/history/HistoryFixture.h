// The fixture of the history tests: sender accounts and sent-mail logs
// written through the program's own operations (WriteSenderAccount,
// WriteSendLog), and the main window driven offscreen.
#pragma once

#include "history/UnitMain.h"
#include "support/VostrelTest.h"

#include <QString>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QSignalSpy;
class QTableView;
class QTreeWidget;
class QWebEngineView;

namespace vostrel::test {

// What one log holds; texts are UTF-8 here and Shift_JIS on disk.
struct LogSpec
{
    std::string sender;    // the account
    std::string startTime; // also the file's name
    std::string subject = "subject";
    std::string body = "body";
    long long sent = 1;
    long long total = 1;
    std::vector<std::string> toLists = {"list"};
    std::vector<std::string> attachments{};
    std::string toAddresses = "a@example.jp";
    // Pictures (name -> bytes) put in the work folder and copied by the log.
    std::map<std::string, std::string> pictures{};
};

// "2024年03月05日09時15分" + two digits of second.
std::string StartTime(int second, int minute = 15);
// A snapshot of a folder tree: relative path -> bytes ("/" for folders).
std::map<std::string, std::string> Snapshot(const std::filesystem::path &root);

class HistoryTest : public VostrelTest
{
protected:
    void TearDown() override;

    // Writes the account's file (its FromAddress is sender@example.jp).
    void AddSender(const std::string &sender);
    // Writes a log through WriteSendLog and returns its file.
    std::filesystem::path WriteLog(const LogSpec &log);

    // The main window, shown, after its first show (no password set).
    TFormMain &Main();
    QTreeWidget *Senders();
    QTableView *History();
    // The texts of column c of every history row, in list order.
    QStringList Column(int column);
    // Clicks the header of column c.
    void ClickHeader(int column);
    // Clicks history row r, with modifiers (Ctrl adds to the selection).
    void ClickRow(int row, Qt::KeyboardModifiers modifiers = {});
    // Selects row r of the sender filter as a click would.
    void ClickSender(int row);
    QString Text(const QString &objectName);

    std::unique_ptr<TFormMain> main;
};

// The page's text once the view's next load has finished ("(no load)" when
// none came); loads counted by a spy made before the load started.
QString RenderedText(QWebEngineView *view, QSignalSpy &loads);
// Runs a script in the page's own isolated world (page scripts stay off) and
// returns its result.
QVariant RunScript(QWebEngineView *view, const QString &script);

} // namespace vostrel::test
