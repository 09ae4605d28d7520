// The main window driven offscreen: its controls and menu, the sender filter,
// the history list with its sort, the preview as text and in the browser,
// deleting entries, the new-mail refresh and the version window.
#include "../destinations/WindowDriver.h"
#include "HistoryFixture.h"

#include "core/AppState.h"
#include "core/SjisCodec.h"
#include "history/HistoryTableModel.h"
#include "history/UnitVersion.h"
#include "send/SendLog.h"

#include <QAction>
#include <QBuffer>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QWebEngineView>
#include <filesystem>
#include <gtest/gtest.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

constexpr int kStartColumn = 4;

// A PNG picture of the given size.
std::string Png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

class MainWindowTest : public HistoryTest
{
protected:
    QTabWidget *Tabs() { return Child<QTabWidget>(&Main(), u"PageControlMailText"_s); }
    QWebEngineView *Browser() { return Main().findChild<QWebEngineView *>(u"WebBrowser"_s); }
    QString Memo() { return Child<QPlainTextEdit>(&Main(), u"MemoMailText"_s)->toPlainText(); }
};

TEST_F(MainWindowTest, TheWindowHasItsButtonsListsPreviewAndMenus)
{
    TFormMain &window = Main();
    EXPECT_EQ(window.windowTitle(), u"Vostrel"_s);
    EXPECT_FALSE(window.windowIcon().pixmap(48).isNull());

    // The six image buttons from left to right, with their captions and tips.
    const QStringList names = {u"PNGBtnMailMake"_s, u"PNGBtnSendList"_s, u"PNGBtnSenderList"_s,
                               u"PNGBtnConfig"_s,   u"PNGBtnBkLoad"_s,   u"PNGBtnBkSave"_s};
    const QStringList captions = {u"新規メール作成"_s,     u"送信先リスト"_s,
                                  u"接続設定"_s,           u"パスワード"_s,
                                  u"バックアップ\n読込"_s, u"バックアップ\n作成"_s};
    int left = -1;
    for (int i = 0; i < names.size(); ++i) {
        auto *button = Child<QToolButton>(&window, names[i]);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), captions[i]);
        EXPECT_FALSE(button->toolTip().isEmpty()) << names[i].toStdString();
        EXPECT_TRUE(QIcon::hasThemeIcon(button->icon().name())) << names[i].toStdString();
        const int x = button->mapTo(&window, QPoint(0, 0)).x();
        EXPECT_GT(x, left) << names[i].toStdString();
        left = x;
    }

    EXPECT_EQ(History()->model()->columnCount(), 13);
    QStringList headers;
    for (int c = 0; c < 13; ++c)
        headers << History()->model()->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, HistoryTableModel::ColumnCaptions());
    EXPECT_EQ(headers.front(), u"件名"_s);
    EXPECT_EQ(headers.back(), u"送信者"_s);
    EXPECT_EQ(History()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(History()->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(History()->showGrid());
    EXPECT_EQ(Senders()->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(Senders()->headerItem()->text(0), u"送信者"_s);

    EXPECT_EQ(Tabs()->count(), 2);
    EXPECT_EQ(Tabs()->tabText(0), u" テキスト "_s);
    EXPECT_EQ(Tabs()->tabText(1), u" ブラウザ "_s);
    EXPECT_EQ(Tabs()->widget(0)->objectName(), u"TabSheetText"_s);
    EXPECT_EQ(Tabs()->widget(1)->objectName(), u"TabSheetHtml"_s);
    EXPECT_TRUE(Child<QPlainTextEdit>(&window, u"MemoMailText"_s)->isReadOnly());
    EXPECT_TRUE(Child<QLineEdit>(&window, u"EditTitle"_s)->isReadOnly());
    EXPECT_TRUE(Child<QLineEdit>(&window, u"EditAppended"_s)->isReadOnly());
    EXPECT_EQ(Child<QSplitter>(&window, u"SplitterSender"_s)->orientation(), Qt::Horizontal);
    EXPECT_EQ(Child<QSplitter>(&window, u"SplitterHistory"_s)->orientation(), Qt::Vertical);
    // The browser is not made at start-up.
    EXPECT_EQ(Browser(), nullptr);

    // The window menu, entry by entry.
    QStringList menu;
    for (QAction *top : window.menuBar()->actions()) {
        menu << top->text();
        if (top->menu())
            for (QAction *item : top->menu()->actions())
                if (!item->isSeparator())
                    menu << u"  "_s + item->text();
    }
    EXPECT_EQ(menu,
              (QStringList{u"ファイル(&F)"_s, u"  新規メールを作成(&M)"_s,
                           u"  送信先リストを開く(&O)"_s, u"  ソフトを終了(&E)"_s, u"表示(&E)"_s,
                           u"  選択中のメールを削除(&D)"_s, u"設定(&C)"_s, u"  接続設定(&A)"_s,
                           u"  パスワード設定(&P)"_s, u"バージョン情報(&V)"_s}));
    auto *popup = Child<QMenu>(&window, u"PopupMenuMsgDelete"_s);
    ASSERT_EQ(popup->actions().size(), 1);
    EXPECT_EQ(popup->actions().front()->objectName(), u"MenuItemDelete"_s);
    EXPECT_EQ(History()->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(MainWindowTest, WithNoSendersOnlyAllSendersIsListedAndTheHistoryIsEmpty)
{
    // The logs of an account that no longer exists are not listed.
    AddSender("gone");
    WriteLog({.sender = "gone", .startTime = StartTime(1)});
    fs::remove(DataFolder() / "Senders" / "gone.vsl");

    ASSERT_EQ(Senders()->topLevelItemCount(), 1);
    EXPECT_EQ(Senders()->topLevelItem(0)->text(0), u"すべての送信者"_s);
    EXPECT_TRUE(Senders()->topLevelItem(0)->isSelected());
    EXPECT_EQ(History()->model()->rowCount(), 0);
    EXPECT_EQ(Text(u"LabelAddress"_s), u" 【 送信済みリスト 】 すべての送信者"_s);
    EXPECT_EQ(Text(u"LabelMailText"_s), u"【 プレビュー 】"_s);
    EXPECT_EQ(Main().SortState(), -5);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MainWindowTest, AllSendersListsEveryEntryNewestFirstAndColumnClicksSort)
{
    AddSender("B");
    AddSender("営業部");
    // Interleaved times across the two senders; counts that sort as text.
    const fs::path first = WriteLog({.sender = "営業部",
                                     .startTime = StartTime(3),
                                     .subject = "b-mail",
                                     .sent = 9,
                                     .total = 9,
                                     .toLists = {"顧客", "取引先"},
                                     .attachments = {"a.txt", "b.pdf"}});
    WriteLog({.sender = "B", .startTime = StartTime(1), .subject = "c-mail", .sent = 10});
    WriteLog({.sender = "営業部", .startTime = StartTime(2), .subject = "a-mail", .sent = 100});
    WriteLog({.sender = "B", .startTime = StartTime(4), .subject = "d-mail", .sent = 2});

    ASSERT_EQ(Senders()->topLevelItemCount(), 3);
    EXPECT_EQ(Senders()->topLevelItem(1)->text(0), u"B"_s);
    EXPECT_EQ(Senders()->topLevelItem(2)->text(0), u"営業部"_s);
    auto times = [](std::initializer_list<int> seconds) {
        QStringList texts;
        for (int s : seconds)
            texts << QString::fromStdString(StartTime(s));
        return texts;
    };
    EXPECT_EQ(Column(kStartColumn), times({4, 3, 2, 1}));
    EXPECT_EQ(Main().SortState(), -5);
    EXPECT_EQ(History()->horizontalHeader()->sortIndicatorSection(), kStartColumn);
    EXPECT_EQ(History()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    // Every column of a row is the log's field, and the sender's name.
    const SendLog stored = ReadSendLog(first);
    for (int c = 0; c < 12; ++c)
        EXPECT_EQ(History()->model()->index(1, c).data().toString(),
                  SjisToQString(stored.fields[static_cast<std::size_t>(c)]))
            << c;
    EXPECT_EQ(History()->model()->index(1, 1).data().toString(), u"顧客,取引先"_s);
    EXPECT_EQ(History()->model()->index(1, 12).data().toString(), u"営業部"_s);

    ClickHeader(kStartColumn); // oldest first
    EXPECT_EQ(Main().SortState(), 5);
    EXPECT_EQ(Column(kStartColumn), times({1, 2, 3, 4}));
    ClickHeader(0); // by subject
    EXPECT_EQ(Main().SortState(), 1);
    EXPECT_EQ(Column(0), (QStringList{u"a-mail"_s, u"b-mail"_s, u"c-mail"_s, u"d-mail"_s}));
    ClickHeader(0);
    EXPECT_EQ(Main().SortState(), -1);
    EXPECT_EQ(Column(0), (QStringList{u"d-mail"_s, u"c-mail"_s, u"b-mail"_s, u"a-mail"_s}));
    ClickHeader(2); // the sent counts, as text
    EXPECT_EQ(Main().SortState(), 3);
    EXPECT_EQ(Column(2), (QStringList{u"10"_s, u"100"_s, u"2"_s, u"9"_s}));

    // One sender: only its entries, newest first again.
    ClickSender(1);
    EXPECT_EQ(Text(u"LabelAddress"_s), u" 【 送信済みリスト 】 B"_s);
    EXPECT_EQ(Column(kStartColumn), times({4, 1}));
    EXPECT_EQ(Column(12), (QStringList{u"B"_s, u"B"_s}));
    EXPECT_EQ(Main().SortState(), -5);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MainWindowTest, SelectingARowPreviewsTheFirstSelectedOne)
{
    AddSender("A");
    WriteLog({.sender = "A",
              .startTime = StartTime(1),
              .subject = "古い件名",
              .body = "一行目\n二行目",
              .attachments = {"a.txt", "資料.pdf"}});
    WriteLog({.sender = "A", .startTime = StartTime(2), .subject = "新しい件名", .body = "new"});
    Main();
    ClickRow(1);
    EXPECT_EQ(Text(u"LabelMailText"_s), u" 【 プレビュー 】 古い件名"_s);
    EXPECT_EQ(Text(u"EditTitle"_s), u"古い件名"_s);
    EXPECT_EQ(Memo(), u"一行目\n二行目"_s);
    EXPECT_EQ(Text(u"EditAppended"_s), u"a.txt,資料.pdf"_s);
    EXPECT_EQ(Tabs()->currentWidget()->objectName(), u"TabSheetText"_s);

    // With two rows selected, the first in list order is shown.
    ClickRow(0, Qt::ControlModifier);
    EXPECT_EQ(Text(u"EditTitle"_s), u"新しい件名"_s);
    EXPECT_EQ(Memo(), u"new"_s);
    EXPECT_EQ(Text(u"EditAppended"_s), QString());
    // Sorting keeps the selection on its rows.
    ClickHeader(kStartColumn);
    EXPECT_EQ(History()->selectionModel()->selectedRows().size(), 2);
    // The browser was never needed.
    EXPECT_EQ(Browser(), nullptr);
}

TEST_F(MainWindowTest, DeletingThreeSelectedRowsRemovesTheirFilesAndPictureFolders)
{
    AddSender("A");
    std::vector<fs::path> files;
    for (int s = 1; s <= 5; ++s)
        files.push_back(WriteLog({.sender = "A",
                                  .startTime = StartTime(s),
                                  .subject = "mail " + std::to_string(s),
                                  .pictures = {{"p.png", "png"}}}));
    auto pictures = [](int s) { return DataFolder() / "Logs" / "A" / StartTime(s); };
    Main();
    // Newest first: rows 0..4 are seconds 5..1. Rows 0, 2 and 3 go.
    ClickRow(0);
    ClickRow(2, Qt::ControlModifier);
    ClickRow(3, Qt::ControlModifier);
    ASSERT_EQ(History()->selectionModel()->selectedRows().size(), 3);
    const QString question = u"選択しているメールを削除します。よろしいですか？"_s;

    dialogs.Answer(false);
    Child<QAction>(&Main(), u"MenuItemDelete"_s)->trigger();
    EXPECT_EQ(dialogs.Texts(), QStringList{question});
    EXPECT_EQ(History()->model()->rowCount(), 5);
    for (const fs::path &file : files)
        EXPECT_TRUE(fs::exists(file));

    dialogs.Answer(true);
    Child<QAction>(&Main(), u"MenuItemDelete"_s)->trigger();
    EXPECT_EQ(dialogs.Texts(), (QStringList{question, question}));
    for (int s : {5, 3, 2}) {
        EXPECT_FALSE(fs::exists(files[static_cast<std::size_t>(s - 1)])) << s;
        EXPECT_FALSE(fs::exists(pictures(s))) << s;
    }
    for (int s : {4, 1}) {
        EXPECT_TRUE(fs::exists(files[static_cast<std::size_t>(s - 1)])) << s;
        EXPECT_TRUE(fs::exists(pictures(s) / "p.png")) << s;
    }
    EXPECT_EQ(Column(0), (QStringList{u"mail 4"_s, u"mail 1"_s}));
    EXPECT_TRUE(History()->selectionModel()->selectedRows().isEmpty());
    EXPECT_EQ(Text(u"EditTitle"_s), QString());
    EXPECT_EQ(Text(u"LabelMailText"_s), u"【 プレビュー 】"_s);

    // Nothing selected: no question.
    Child<QAction>(&Main(), u"MenuItemDelete"_s)->trigger();
    EXPECT_EQ(dialogs.shown.size(), 2u);
}

TEST_F(MainWindowTest, AFileThatCannotBeDeletedIsNamedAndItsRowStays)
{
    AddSender("A");
    for (int s = 1; s <= 3; ++s)
        WriteLog({.sender = "A", .startTime = StartTime(s)});
    Main();
    ASSERT_EQ(History()->model()->rowCount(), 3);
    // The file of the middle row turns into a folder that is not empty,
    // which cannot be removed.
    const fs::path blocked = DataFolder() / "Logs" / "A" / (StartTime(2) + ".vsl");
    fs::remove(blocked);
    fs::create_directories(blocked / "inside");
    for (int row = 0; row < 3; ++row)
        ClickRow(row, row ? Qt::ControlModifier : Qt::NoModifier);
    dialogs.Answer(true);
    Child<QAction>(&Main(), u"MenuItemDelete"_s)->trigger();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[1].text.contains(QString::fromStdString(blocked.native())))
        << dialogs.shown[1].text.toStdString();
    // From the last row up: second 1 went, second 2 stayed and so did 3.
    EXPECT_EQ(Column(kStartColumn), (QStringList{QString::fromStdString(StartTime(3)),
                                                 QString::fromStdString(StartTime(2))}));
}

// A log that cannot be read (cut short, or a file that is no log at all) is
// passed over: the others load and sort as ever, and one message names every
// file passed over.
TEST_F(MainWindowTest, DamagedAndForeignLogsArePassedOverAndNamedInOneMessage)
{
    AddSender("A");
    AddSender("B");
    for (int s = 1; s <= 3; ++s)
        WriteLog({.sender = "A", .startTime = StartTime(s)});
    WriteLog({.sender = "B", .startTime = StartTime(4)});
    const fs::path cut = DataFolder() / "Logs" / "A" / (StartTime(2) + ".vsl");
    WriteBytes(cut, ReadBytes(cut).substr(0, 60));
    const fs::path foreign = DataFolder() / "Logs" / "B" / "memo.txt";
    WriteBytes(foreign, "not a log, just a note\n");

    Main();

    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_EQ(dialogs.shown[0].text,
              u"次の送信ログは読み込めなかったため、一覧に表示していません"
              u"（ファイルが途中で切れているか、送信ログではありません）\r\n"_s +
                  QString::fromStdString(cut.native()) + u"\r\n"_s +
                  QString::fromStdString(foreign.native()));
    EXPECT_EQ(Column(kStartColumn), (QStringList{QString::fromStdString(StartTime(4)),
                                                 QString::fromStdString(StartTime(3)),
                                                 QString::fromStdString(StartTime(1))}));
    EXPECT_EQ(Main().SortState(), -5);
    EXPECT_FALSE(Main().Busy());
    EXPECT_TRUE(Senders()->isEnabled());

    // A sender's own history passes over only its own file.
    dialogs.Clear();
    ClickSender(2);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(
        dialogs.shown[0].text.endsWith(u"）\r\n"_s + QString::fromStdString(foreign.native())));
    EXPECT_EQ(Column(kStartColumn), QStringList{QString::fromStdString(StartTime(4))});

    // Once the files are gone, no message.
    fs::remove(cut);
    fs::remove(foreign);
    dialogs.Clear();
    ClickSender(0);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(History()->model()->rowCount(), 3);
}

TEST_F(MainWindowTest, TheWindowKeepsProcessingEventsWhileTheHistoryLoads)
{
    AddSender("A");
    for (int s = 1; s <= 3; ++s)
        WriteLog({.sender = "A", .startTime = StartTime(s)});
    Main();
    // A timer due at once fires in the middle of the next load.
    bool busySeen = false;
    int rowsSeen = -1;
    bool buttonsEnabled = true;
    QTimer::singleShot(0, &Main(), [&] {
        busySeen = Main().Busy();
        rowsSeen = History()->model()->rowCount();
        buttonsEnabled =
            Child<QToolButton>(&Main(), u"PNGBtnBkSave"_s)->isEnabled() || Senders()->isEnabled();
        Main().close(); // waits for the load
        EXPECT_TRUE(Main().isVisible());
    });
    QSignalSpy firstRows(&Main(), &TFormMain::HistoryRowsShown);
    Main().FormShow();
    EXPECT_TRUE(busySeen);
    EXPECT_EQ(rowsSeen, 1); // the first row is shown at once
    EXPECT_FALSE(buttonsEnabled);
    EXPECT_EQ(firstRows.count(), 1);
    EXPECT_EQ(History()->model()->rowCount(), 3);
    EXPECT_FALSE(Main().Busy());
    EXPECT_TRUE(Child<QToolButton>(&Main(), u"PNGBtnBkSave"_s)->isEnabled());
    // The close asked for during the load happens once it is over.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Main().isVisible(); }, 5000));
}

TEST_F(MainWindowTest, TheBrowserTabRendersTheCharsetAndTheEntrysPictures)
{
    AddSender("営業部");
    const std::string utf8Body = "<html><head><meta charset=\"utf-8\"></head><body>"
                                 "<p>日本語の本文</p><img src=\"cid:image1.png\"></body></html>";
    WriteLog({.sender = "営業部",
              .startTime = StartTime(2),
              .subject = "utf8",
              .body = utf8Body,
              .pictures = {{"image1.png", Png(7, 5)}}});
    const std::string sjisBody = "<html><head><meta http-equiv=\"Content-Type\" "
                                 "content=\"text/html; charset=Shift_JIS\"></head>\n"
                                 "<body><p>シフトJISの本文</p></body></html>";
    WriteLog({.sender = "営業部", .startTime = StartTime(1), .subject = "sjis", .body = sjisBody});
    Main();
    ASSERT_EQ(Browser(), nullptr);

    // The browser tab with nothing previewed: an empty page.
    Tabs()->setCurrentWidget(Child<QWidget>(&Main(), u"TabSheetHtml"_s));
    ASSERT_NE(Browser(), nullptr);
    QSignalSpy loads(Browser(), &QWebEngineView::loadFinished);
    EXPECT_EQ(RenderedText(Browser(), loads), QString());
    EXPECT_EQ(ReadBytes(WorkFolder() / "History_work.html"), "");
    EXPECT_EQ(Browser()->url().toLocalFile(),
              QString::fromStdString((WorkFolder() / "History_work.html").native()));

    // A preview while the browser tab is active renders at once, and the tab
    // stays.
    loads.clear();
    ClickRow(0);
    EXPECT_EQ(Tabs()->currentWidget()->objectName(), u"TabSheetHtml"_s);
    const QString text = RenderedText(Browser(), loads);
    EXPECT_TRUE(text.contains(u"日本語の本文"_s)) << text.toStdString();
    const std::string page = ReadBytes(WorkFolder() / "History_work.html");
    EXPECT_NE(page.find("日本語の本文"), std::string::npos); // converted to UTF-8
    EXPECT_EQ(page.find("cid:"), std::string::npos);
    // The picture loads from the entry's folder, whose path is not ASCII.
    EXPECT_EQ(RunScript(Browser(), u"document.images[0].naturalWidth"_s).toInt(), 7);
    EXPECT_EQ(QUrl(RunScript(Browser(), u"document.images[0].src"_s).toString()).toLocalFile(),
              QString::fromStdString(
                  (DataFolder() / "Logs" / "営業部" / StartTime(2) / "image1.png").native()));

    // A Shift_JIS page is written as stored (lines ending in CR LF).
    loads.clear();
    ClickRow(1);
    EXPECT_TRUE(RenderedText(Browser(), loads).contains(u"シフトJISの本文"_s));
    std::string expected = sjisBody;
    expected.replace(expected.find('\n'), 1, "\r\n");
    EXPECT_EQ(ReadBytes(WorkFolder() / "History_work.html"), S((expected + "\r\n").c_str()));

    // Clearing the preview (a new load) goes back to the text tab and a
    // blank page.
    loads.clear();
    Main().FormShow();
    EXPECT_EQ(Tabs()->currentWidget()->objectName(), u"TabSheetText"_s);
    EXPECT_TRUE(loads.wait(10000));
    EXPECT_EQ(Browser()->url(), QUrl(u"about:blank"_s));
    EXPECT_TRUE(dialogs.shown.empty());
}

// A text mail keeps its lines in the browser tab, and its "<" and "&" are
// text; an HTML mail next to it is rendered.
TEST_F(MainWindowTest, TheBrowserTabShowsATextMailAsText)
{
    AddSender("営業部");
    WriteLog({.sender = "営業部",
              .startTime = StartTime(2),
              .subject = "text",
              .body = "山田様\r\n\r\nお世話になります。\r\n価格は <10万円> & 税別です。"});
    WriteLog({.sender = "営業部",
              .startTime = StartTime(1),
              .subject = "html",
              .body = "<p>段落</p>\r\n<p>次の段落</p>"});
    Main();
    ClickRow(0);
    Tabs()->setCurrentWidget(Child<QWidget>(&Main(), u"TabSheetHtml"_s));
    ASSERT_NE(Browser(), nullptr);
    QSignalSpy loads(Browser(), &QWebEngineView::loadFinished);
    EXPECT_EQ(RenderedText(Browser(), loads),
              u"山田様\n\nお世話になります。\n価格は <10万円> & 税別です。\n"_s);
    EXPECT_EQ(RunScript(Browser(), u"document.getElementsByTagName('pre').length"_s).toInt(), 1);

    loads.clear();
    ClickRow(1);
    EXPECT_EQ(RenderedText(Browser(), loads), u"段落\n\n次の段落"_s);
    EXPECT_EQ(RunScript(Browser(), u"document.getElementsByTagName('p').length"_s).toInt(), 2);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MainWindowTest, NewMailRefreshesAndSelectsTheSameSenderRowAgain)
{
    AddSender("A");
    AddSender("B");
    WriteLog({.sender = "B", .startTime = StartTime(1)});
    TFormMain::Links links;
    int opened = 0;
    links.openCompose = [&] {
        ++opened;
        // As if a mail was sent meanwhile, and one more account added.
        WriteLog({.sender = "B", .startTime = StartTime(2), .subject = "just sent"});
        AddSender("C");
    };
    Main().SetLinks(links);
    ClickSender(2);
    ASSERT_EQ(History()->model()->rowCount(), 1);
    QTest::mouseClick(Child<QToolButton>(&Main(), u"PNGBtnMailMake"_s), Qt::LeftButton);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(Senders()->topLevelItemCount(), 4);
    EXPECT_EQ(Senders()->currentItem(), Senders()->topLevelItem(2));
    EXPECT_TRUE(Senders()->topLevelItem(2)->isSelected());
    EXPECT_EQ(Column(0), (QStringList{u"just sent"_s, u"subject"_s}));

    // When the list has become shorter, the first row.
    links.openCompose = [] {
        for (const char *name : {"A.vsl", "B.vsl", "C.vsl"})
            fs::remove(DataFolder() / "Senders" / name);
    };
    Main().SetLinks(links);
    ClickSender(3);
    Child<QAction>(&Main(), u"MenuItemMailMake"_s)->trigger();
    ASSERT_EQ(Senders()->topLevelItemCount(), 1);
    EXPECT_EQ(Senders()->currentItem(), Senders()->topLevelItem(0));
}

TEST_F(MainWindowTest, TheVersionWindowShowsTheProgramItsVersionAndTheEditorsCredit)
{
    TFormVersion version(&Main());
    TFormMain::Links links;
    links.version = &version;
    Main().SetLinks(links);
    bool shown = false;
    WhenModal(u"TFormVersion"_s, [&](QWidget *w) {
        shown = true;
        EXPECT_EQ(w->windowTitle(), u"バージョン情報"_s);
        EXPECT_EQ(Child<QLabel>(w, u"LabelTitle"_s)->text(), u"Vostrel"_s);
        EXPECT_EQ(Child<QLabel>(w, u"LabelVersion"_s)->text(),
                  u"バージョン "_s + QStringLiteral(VOSTREL_EXPECTED_VERSION));
        EXPECT_TRUE(Child<QLabel>(w, u"LabelCredit"_s)->text().contains(u"QScintilla"_s));
        EXPECT_FALSE(Child<QLabel>(w, u"ImageIcon"_s)->pixmap().isNull());
        QTest::mouseClick(Child<QPushButton>(w, u"BtnOk"_s), Qt::LeftButton);
    });
    Child<QAction>(&Main(), u"MenuItemVersion"_s)->trigger();
    EXPECT_TRUE(shown);
    EXPECT_FALSE(version.isVisible());
    EXPECT_EQ(ProgramVersion(), QStringLiteral(VOSTREL_EXPECTED_VERSION));
}

} // namespace
} // namespace vostrel::test
