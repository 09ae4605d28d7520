// The main window, the compose window and the list window come back as the
// user left them: size, splitter positions and column widths, kept in a
// plain settings file in the data folder.
#include "app/VostrelApp.h"
#include "compose/UnitMailMake.h"
#include "core/AppState.h"
#include "core/Password.h"
#include "core/WindowSettings.h"
#include "destinations/UnitDestinationList.h"
#include "history/UnitMain.h"
#include "support/VostrelTest.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <sys/stat.h>

namespace vostrel::test {
namespace {

using namespace Qt::Literals::StringLiterals;

// What the user can change of the three windows.
struct Look
{
    QSize main, compose, lists;
    QList<int> senderSplit, historySplit, listSplit;
    int historyColumn = 0, senderColumn = 0, listColumn = 0, addressColumn = 0;

    bool operator==(const Look &) const = default;
};

void PrintTo(const Look &look, std::ostream *out)
{
    auto numbers = [](const QList<int> &list) {
        QStringList texts;
        for (int n : list)
            texts << QString::number(n);
        return texts.join(u',').toStdString();
    };
    *out << look.main.width() << 'x' << look.main.height() << ' ' << look.compose.width() << 'x'
         << look.compose.height() << ' ' << look.lists.width() << 'x' << look.lists.height()
         << " splits " << numbers(look.senderSplit) << ' ' << numbers(look.historySplit) << ' '
         << numbers(look.listSplit) << " columns " << look.historyColumn << ' ' << look.senderColumn
         << ' ' << look.listColumn << ' ' << look.addressColumn;
}

template <class T> T *Part(QWidget *window, const char *name)
{
    T *part = window->findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(part, nullptr) << name;
    return part;
}

class WindowLayoutTest : public VostrelTest
{
protected:
    void SetUp() override
    {
        VostrelTest::SetUp();
        WriteConfig(std::string(DefaultKey)); // no password: no dialog at the first show
    }

    // Starts the program's windows, shows each in turn, lets change act on
    // it while shown, and closes it; returns the look each had when shown.
    Look Run(const std::function<void(QWidget &)> &change = {})
    {
        TVostrelApp app;
        Look look;
        TFormMain &main = app.Main();
        main.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&main));
        EXPECT_TRUE(QTest::qWaitFor([&] { return main.FirstShowDone(); }, 5000));
        if (change)
            change(main);
        QCoreApplication::processEvents();
        look.main = main.size();
        look.senderSplit = Part<QSplitter>(&main, "SplitterSender")->sizes();
        look.historySplit = Part<QSplitter>(&main, "SplitterHistory")->sizes();
        look.historyColumn = Part<QTableView>(&main, "ListViewAddress")->columnWidth(4);
        look.senderColumn = Part<QTreeWidget>(&main, "ListViewItemBox")->columnWidth(0);
        EXPECT_TRUE(main.close());

        for (QWidget *window :
             std::initializer_list<QWidget *>{&app.MailMake(), &app.DestinationList()}) {
            window->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
            if (change)
                change(*window);
            QCoreApplication::processEvents();
            if (window == &app.MailMake()) {
                look.compose = window->size();
            } else {
                look.lists = window->size();
                look.listSplit = Part<QSplitter>(window, "SplitterLists")->sizes();
                look.listColumn =
                    Part<QTreeWidget>(window, "ListViewDestinationList")->columnWidth(0);
                look.addressColumn = Part<QTableView>(window, "ListViewAddress")->columnWidth(2);
            }
            window->hide();
        }
        return look;
    }

    // The user's changes: other sizes, splitters moved, columns widened.
    static void Change(QWidget &window)
    {
        const QString name = window.objectName();
        if (name == u"TFormMain") {
            window.resize(900, 640);
            QCoreApplication::processEvents();
            Part<QSplitter>(&window, "SplitterSender")->setSizes({300, 500});
            Part<QSplitter>(&window, "SplitterHistory")->setSizes({150, 350});
            Part<QTableView>(&window, "ListViewAddress")->setColumnWidth(4, 333);
            Part<QTreeWidget>(&window, "ListViewItemBox")->setColumnWidth(0, 190);
        } else if (name == u"TFormMailMake") {
            window.resize(820, 700);
        } else {
            window.resize(1000, 600);
            QCoreApplication::processEvents();
            Part<QSplitter>(&window, "SplitterLists")->setSizes({420, 500});
            Part<QTreeWidget>(&window, "ListViewDestinationList")->setColumnWidth(0, 260);
            Part<QTableView>(&window, "ListViewAddress")->setColumnWidth(2, 280);
        }
    }
};

TEST_F(WindowLayoutTest, TheWindowsComeBackAsTheUserLeftThem)
{
    const Look defaults = Run();
    const Look changed = Run(Change);
    EXPECT_NE(changed.main, defaults.main);
    EXPECT_NE(changed.compose, defaults.compose);
    EXPECT_NE(changed.lists, defaults.lists);
    EXPECT_NE(changed.senderSplit, defaults.senderSplit);
    EXPECT_NE(changed.listSplit, defaults.listSplit);
    EXPECT_EQ(changed.historyColumn, 333);
    EXPECT_EQ(changed.listColumn, 260);

    // The next start: as they were left.
    EXPECT_EQ(Run(), changed);

    // A plain file, private like the rest of the data folder, with the
    // windows' layouts by their names.
    const std::string text = ReadBytes(SettingsFile());
    for (const char *part : {"[TFormMain]", "[TFormMailMake]", "[TFormDestinationList]",
                             "SplitterSender=", "ListViewAddress=", "SplitterLists="})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    struct stat st
    {};
    ASSERT_EQ(::stat(SettingsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A damaged file, or values that do not fit the windows, change nothing; the
// file is written whole again when the windows close.
TEST_F(WindowLayoutTest, ADamagedSettingsFileIsIgnored)
{
    const Look defaults = Run();
    for (const std::string &damage :
         {std::string("\x01\xff[TFormMain\nsize=@Size(\x00", 14),
          std::string("[TFormMain]\nsize=@Size(5 99999)\nmaximized=perhaps\nSplitterSender=1,2,3\n"
                      "SplitterHistory=-5,7\nListViewAddress=1,x,3\nListViewItemBox=999999\n"
                      "[TFormDestinationList]\nSplitterLists=\nListViewAddress=10,20\n"
                      "[TFormMailMake]\nsize=wide\n")}) {
        WriteBytes(SettingsFile(), damage);
        EXPECT_EQ(Run(), defaults) << damage;
        EXPECT_NE(ReadBytes(SettingsFile()).find("[TFormMailMake]"), std::string::npos);
    }
}

} // namespace
} // namespace vostrel::test
