#include "HistoryFixture.h"

#include "core/AppState.h"
#include "core/SjisCodec.h"
#include "send/SendLog.h"
#include "senders/SenderAccount.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <cstdio>

namespace vostrel::test {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

std::string StartTime(int second, int minute)
{
    char text[64];
    std::snprintf(text, sizeof text, "2024年03月05日09時%02d分%02d秒", minute, second);
    return text;
}

std::map<std::string, std::string> Snapshot(const fs::path &root)
{
    std::map<std::string, std::string> tree;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = entry.path().lexically_relative(root).native();
        tree[relative] = entry.is_directory() ? "/" : ReadBytes(entry.path());
    }
    return tree;
}

void HistoryTest::TearDown()
{
    main.reset();
    VostrelTest::TearDown();
}

void HistoryTest::AddSender(const std::string &sender)
{
    SenderAccount account;
    account.ConfName = S(sender.c_str());
    account.SMTPAddress = "smtp.example.jp";
    account.FromAddress = sender + "@example.jp";
    WriteSenderAccount(SenderAccountPath(account.ConfName), account);
}

fs::path HistoryTest::WriteLog(const LogSpec &log)
{
    SendJob job;
    const std::string account = S(log.sender.c_str());
    job.senderNames = {account};
    for (const std::string &list : log.toLists)
        job.toLists.push_back(S(list.c_str()));
    job.subject = S(log.subject.c_str());
    job.body = S(log.body.c_str());
    for (const std::string &name : log.attachments)
        job.attachments.push_back(S(name.c_str()));
    for (const auto &[name, bytes] : log.pictures) {
        WriteBytes(WorkFolder() / "HtmlImage" / name, bytes);
        job.inlinePictures.push_back(S(name.c_str()));
    }
    const std::string start = S(log.startTime.c_str());
    std::string end = start;
    WriteSendLog(account, job, log.sent, log.total, start, end, S(log.toAddresses.c_str()), "", "");
    for (const auto &[name, bytes] : log.pictures)
        fs::remove(WorkFolder() / "HtmlImage" / name);
    return SendLogPath(account, start);
}

TFormMain &HistoryTest::Main()
{
    if (!main) {
        main = std::make_unique<TFormMain>();
        main->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        EXPECT_TRUE(QTest::qWaitFor([this] { return main->FirstShowDone(); }, 5000));
    }
    return *main;
}

QTreeWidget *HistoryTest::Senders()
{
    return Main().findChild<QTreeWidget *>(u"ListViewItemBox"_s);
}

QTableView *HistoryTest::History()
{
    return Main().findChild<QTableView *>(u"ListViewAddress"_s);
}

QStringList HistoryTest::Column(int column)
{
    QStringList texts;
    QAbstractItemModel *model = History()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, column).data().toString();
    return texts;
}

void HistoryTest::ClickHeader(int column)
{
    QHeaderView *header = History()->horizontalHeader();
    History()->scrollTo(History()->model()->index(0, column));
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void HistoryTest::ClickRow(int row, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex index = History()->model()->index(row, 0);
    History()->scrollTo(index);
    QTest::mouseClick(History()->viewport(), Qt::LeftButton, modifiers,
                      History()->visualRect(index).center());
}

void HistoryTest::ClickSender(int row)
{
    QTreeWidget *senders = Senders();
    QTreeWidgetItem *item = senders->topLevelItem(row);
    QTest::mouseClick(senders->viewport(), Qt::LeftButton, {},
                      senders->visualItemRect(item).center());
}

QString HistoryTest::Text(const QString &objectName)
{
    QWidget *widget = Main().findChild<QWidget *>(objectName);
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    ADD_FAILURE() << "no label or edit " << objectName.toStdString();
    return {};
}

QString RenderedText(QWebEngineView *view, QSignalSpy &loads)
{
    if (loads.isEmpty() && !loads.wait(20000))
        return u"(no load)"_s;
    QString text = u"(no text)"_s;
    bool done = false;
    view->page()->toPlainText([&](const QString &t) {
        text = t;
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
    return text;
}

QVariant RunScript(QWebEngineView *view, const QString &script)
{
    QVariant result;
    bool done = false;
    view->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                                [&](const QVariant &value) {
                                    result = value;
                                    done = true;
                                });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
    return result;
}

} // namespace vostrel::test
