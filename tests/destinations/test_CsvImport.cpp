// CSV export and import from the destination list window, driven offscreen
// through its buttons, the file pickers, the import dialog and the import
// error dialog.
#include "ListFiles.h"
#include "WindowDriver.h"

#include "core/AtomicFile.h"
#include "core/SjisCodec.h"
#include "destinations/CsvFile.h"
#include "destinations/UnitAddDestination.h"
#include "destinations/UnitAddReceivers.h"
#include "destinations/UnitCsvImport.h"
#include "destinations/UnitCsvImportError.h"
#include "destinations/UnitDestinationList.h"
#include "support/VostrelTest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <memory>

namespace vostrel::test {
namespace {

using namespace Qt::Literals::StringLiterals;
namespace fs = std::filesystem;
using Fields = std::vector<std::string>;

const QString kDone = u"CSV読込が完了しました"_s;
const QString kExported = u"CSV書出が完了しました"_s;

Fields Join(std::initializer_list<Fields> parts)
{
    Fields all;
    for (const Fields &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Thirteen values that need care in a CSV file (Shift_JIS).
Fields AwkwardFields(const std::string &tag)
{
    return {S("山田") + tag, S("様"),      tag + "@example.jp",
            "1,2",           "say \"hi\"", "a\r\nb",
            "007",           "",           "\"",
            " spaced ",      S("表ソ"),    "x",
            "last"};
}

QStringList Captions(const QTableView *view)
{
    QStringList captions;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        captions << view->model()->headerData(c, Qt::Horizontal).toString();
    return captions;
}

QStringList RowTexts(const QTableView *view, int row, int columns = 13)
{
    QStringList texts;
    for (int c = 0; c < columns; ++c)
        texts << view->model()->index(row, c).data().toString();
    return texts;
}

QStringList Items(const QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

QStringList Numbers(int last)
{
    QStringList numbers;
    for (int n = 1; n <= last; ++n)
        numbers << QString::number(n);
    return numbers;
}

std::string Line(const Fields &fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i)
        line += (i == 0 ? "" : ",") + QuoteCsvField(fields[i]);
    return line + "\r\n";
}

class CsvImportTest : public DestinationTest
{
protected:
    void SetUp() override
    {
        DestinationTest::SetUp();
        csvImport.SetErrorDialog(&csvError);
    }

    void TearDown() override
    {
        AtomicFile::SetFaultInjector(nullptr);
        DestinationTest::TearDown();
    }

    void Open()
    {
        window = std::make_unique<TFormDestinationList>(addDestination, addReceivers);
        window->SetCsvImport(&csvImport);
        ASSERT_TRUE(ShowWindow(window.get()));
    }

    QTreeWidget *Lists() { return Child<QTreeWidget>(window.get(), u"ListViewDestinationList"_s); }
    QTableView *Addresses() { return Child<QTableView>(window.get(), u"ListViewAddress"_s); }
    QTableView *ImportTable() { return Child<QTableView>(&csvImport, u"ListViewAddress"_s); }
    QComboBox *Box(const QString &name) { return Child<QComboBox>(&csvImport, name); }
    void Click(const QString &name) { ClickButton(window.get(), name); }

    void SelectList(const QString &name)
    {
        const auto found = Lists()->findItems(name, Qt::MatchExactly, 0);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        QTest::mouseClick(Lists()->viewport(), Qt::LeftButton, {},
                          Lists()->visualItemRect(found.front()).center());
        ASSERT_TRUE(found.front()->isSelected());
    }

    // A list "L" holding the given recipient fields, shown and selected.
    void OpenWithList(const Fields &recipientFields)
    {
        WriteListFile(ListFile("L"), {"-1", "0", "-1"}, std::to_string(recipientFields.size() / 13),
                      recipientFields);
        Open();
        SelectList(u"L"_s);
    }

    // Answers the next file picker named name with file, typed into its
    // name field (selectFile() leaves a focused field alone).
    static void Choose(const QString &name, const fs::path &file,
                       std::function<void()> afterwards = {})
    {
        WhenModal(name, [file, afterwards](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            ASSERT_NE(dialog, nullptr);
            auto *edit = Child<QLineEdit>(dialog, u"fileNameEdit"_s);
            ASSERT_NE(edit, nullptr);
            edit->setText(QString::fromStdString(file.string()));
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept, checks and all
            EXPECT_FALSE(dialog->isVisible());
            if (afterwards)
                afterwards();
        });
    }

    // Runs action on the import dialog once it is shown and has read its
    // file (polled from the event loop: the reading itself processes events,
    // so waiting for it inside them would never end).
    void WhenRead(std::function<void()> action)
    {
        auto *timer = new QTimer(qApp);
        auto waited = std::make_shared<int>(0);
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, waited, action] {
            *waited += 5;
            if (QApplication::activeModalWidget() == &csvImport && !csvImport.Reading()) {
                timer->stop();
                timer->deleteLater();
                action();
            } else if (*waited > 10000) {
                timer->stop();
                timer->deleteLater();
                ADD_FAILURE() << "the import dialog never finished reading";
                csvImport.reject();
            }
        });
        timer->start();
    }

    fs::path CsvIn(const std::string &bytes, const char *name = "in.csv")
    {
        const fs::path file = TempDir() / name;
        WriteBytes(file, bytes);
        return file;
    }

    // Imports file into the selected list: the import dialog, after reading,
    // gets action (which must close it).
    void Import(const fs::path &file, std::function<void()> action)
    {
        Choose(u"OpenDialog"_s, file);
        WhenRead(std::move(action));
        Click(u"PNGBtnCSVRead"_s);
    }

    // Imports file with the default mapping, row 1 left out or not.
    void ImportAll(const fs::path &file, bool ignoreFirstLine = false)
    {
        Import(file, [this, ignoreFirstLine] {
            Child<QCheckBox>(&csvImport, u"CBImport_NotOneLine"_s)->setChecked(ignoreFirstLine);
            ClickButton(&csvImport, u"BtnImport"_s);
        });
    }

    // Records the titles of the list window while it is busy, and of the
    // import dialog while it reads, at every pass of the event loop.
    void WatchTitles()
    {
        watcher = std::make_unique<QTimer>();
        watcher->setInterval(0);
        QObject::connect(watcher.get(), &QTimer::timeout, [this] {
            if (window && window->Busy())
                windowTitles << window->windowTitle() +
                                    (Lists()->isEnabled() ? u" (list enabled)"_s : QString());
            if (csvImport.Reading() && csvImport.isVisible())
                importTitles << csvImport.windowTitle();
        });
        watcher->start();
    }

    TFormAddDestination addDestination;
    TFormAddReceivers addReceivers;
    TFormCsvImport csvImport;
    TFormCsvImportError csvError;
    std::unique_ptr<TFormDestinationList> window;
    std::unique_ptr<QTimer> watcher;
    QStringList windowTitles;
    QStringList importTitles;
};

// ---------------------------------------------------------------------------
// Export

TEST_F(CsvImportTest, ExportWritesTheRecipientsShownUnderTheChosenNamePlusCsv)
{
    OpenWithList(Join({AwkwardFields("1"), RecipientFields("b")}));
    Choose(u"SaveDialog"_s, TempDir() / "out");
    Click(u"PNGBtnCSVWrite"_s);
    EXPECT_EQ(dialogs.Texts(), QStringList{kExported});
    EXPECT_EQ(ReadBytes(TempDir() / "out.csv"),
              CsvExportHeader() + "\r\n" + Line(AwkwardFields("1")) + Line(RecipientFields("b")));

    // A name that ends in ".csv" gets a second one.
    dialogs.Clear();
    Choose(u"SaveDialog"_s, TempDir() / "again.csv");
    Click(u"PNGBtnCSVWrite"_s);
    EXPECT_EQ(dialogs.Texts(), QStringList{kExported});
    EXPECT_TRUE(fs::exists(TempDir() / "again.csv.csv"));
    EXPECT_FALSE(fs::exists(TempDir() / "again.csv"));
    EXPECT_FALSE(window->Busy());
    EXPECT_EQ(window->windowTitle(), u"送信先リスト"_s);

    // Cancelled: nothing is written, nothing is said.
    dialogs.Clear();
    WhenModal(u"SaveDialog"_s, [](QWidget *w) { static_cast<QDialog *>(w)->reject(); });
    Click(u"PNGBtnCSVWrite"_s);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(CsvImportTest, ExportOfAListWithoutRecipientsWritesTheHeaderOnly)
{
    OpenWithList({});
    Choose(u"SaveDialog"_s, TempDir() / "empty");
    Click(u"PNGBtnCSVWrite"_s);
    EXPECT_EQ(ReadBytes(TempDir() / "empty.csv"),
              S("宛先名,敬称,メールアドレス,差込1,差込2,差込3,差込4,差込5,差込6,差込7,差込8,差込9,"
                "差込10\r\n"));
    EXPECT_EQ(dialogs.Texts(), QStringList{kExported});
}

TEST_F(CsvImportTest, ExportThatCannotBeWrittenNamesTheFileAndKeepsTheOldOne)
{
    OpenWithList(RecipientFields("a"));
    const fs::path target = TempDir() / "locked.csv";
    WriteBytes(target, "old");
    AtomicFile::SetFaultInjector([](const fs::path &file) { return file.extension() != ".csv"; });
    Choose(u"SaveDialog"_s, TempDir() / "locked");
    Click(u"PNGBtnCSVWrite"_s);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QString::fromStdString(target.string())))
        << dialogs.shown[0].text.toStdString();
    EXPECT_EQ(ReadBytes(target), "old");
    EXPECT_FALSE(window->Busy());
    EXPECT_EQ(window->windowTitle(), u"送信先リスト"_s);
}

TEST_F(CsvImportTest, BothButtonsNeedASelectedList)
{
    WriteListFile(ListFile("L"), {"-1", "0", "0"}, "0", {});
    Open();
    Click(u"PNGBtnCSVWrite"_s);
    Click(u"PNGBtnCSVRead"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{u"対象のリストが選択されていません。"_s,
                                            u"対象のリストが選択されていません。"_s}));
}

TEST_F(CsvImportTest, BothButtonsDoNothingWhileBusy)
{
    Fields many;
    for (int i = 0; i < 150; ++i) {
        const Fields r = RecipientFields("r" + std::to_string(i));
        many.insert(many.end(), r.begin(), r.end());
    }
    WriteListFile(ListFile("big"), {"-1", "0", "0"}, "150", many);
    Open();
    // A picker that opens all the same is counted and closed (by a timer of
    // its own: a timer's handler is not run again while it runs).
    int pickersShown = 0;
    QTimer closer;
    closer.setInterval(0);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *picker = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            ++pickersShown;
            picker->reject();
        }
    });
    closer.start();
    bool clicked = false;
    QTimer clicker;
    clicker.setInterval(0);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (window->Busy() && !clicked) {
            clicked = true;
            Click(u"PNGBtnCSVWrite"_s);
            Click(u"PNGBtnCSVRead"_s);
        }
    });
    clicker.start();
    SelectList(u"big"_s);
    clicker.stop();
    closer.stop();
    EXPECT_TRUE(clicked);
    EXPECT_EQ(pickersShown, 0);
    EXPECT_TRUE(dialogs.shown.empty());
}

// ---------------------------------------------------------------------------
// The import dialog

TEST_F(CsvImportTest, ImportDialogShowsTheFileAsATableWithNumberedColumns)
{
    OpenWithList({});
    Fields wide(15);
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = "c" + std::to_string(i + 1);
    const fs::path file = CsvIn(Line(wide) + "a,,b\r\n" + Line(wide));
    WatchTitles();
    bool checked = false;
    Import(file, [&] {
        checked = true;
        EXPECT_EQ(csvImport.windowTitle(), u"CSVインポート"_s);
        QTableView *table = ImportTable();
        EXPECT_EQ(
            Captions(table),
            (QStringList{u"１"_s, u"２"_s, u"３"_s, u"４"_s, u"５"_s, u"６"_s, u"７"_s, u"８"_s,
                         u"９"_s, u"１０"_s, u"１１"_s, u"１２"_s, u"１３"_s, u"14"_s, u"15"_s}));
        ASSERT_EQ(table->model()->rowCount(), 3);
        EXPECT_EQ(
            RowTexts(table, 1, 15),
            (QStringList{u"a"_s, u""_s, u"b"_s, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}}));
        EXPECT_EQ(table->model()->index(2, 14).data().toString(), u"c15"_s);

        // Thirteen drop-down lists with their labels, "1" to "15", "なし"
        // where a value may be left empty, and the export's order chosen.
        const QStringList names = {u"CBName"_s,   u"CBHt"_s,     u"CBAddress"_s, u"CBSashi1"_s,
                                   u"CBSashi2"_s, u"CBSashi3"_s, u"CBSashi4"_s,  u"CBSashi5"_s,
                                   u"CBSashi6"_s, u"CBSashi7"_s, u"CBSashi8"_s,  u"CBSashi9"_s,
                                   u"CBSashi10"_s};
        const QStringList labels = {u"宛先名"_s,  u"敬称"_s,   u"メールアドレス"_s, u"差込１"_s,
                                    u"差込２"_s,  u"差込３"_s, u"差込４"_s,         u"差込５"_s,
                                    u"差込６"_s,  u"差込７"_s, u"差込８"_s,         u"差込９"_s,
                                    u"差込１０"_s};
        QList<QLabel *> allLabels = csvImport.findChildren<QLabel *>();
        for (int i = 0; i < names.size(); ++i) {
            QComboBox *box = Box(names[i]);
            ASSERT_NE(box, nullptr);
            EXPECT_FALSE(box->isEditable());
            const bool mayBeNone = i != 0 && i != 2;
            EXPECT_EQ(Items(box),
                      Numbers(15) + (mayBeNone ? QStringList{u"なし"_s} : QStringList{}))
                << names[i].toStdString();
            EXPECT_EQ(box->currentText(), QString::number(i + 1));
            const bool labelled = std::any_of(allLabels.begin(), allLabels.end(), [&](QLabel *l) {
                return l->text() == labels[i] && l->buddy() == box;
            });
            EXPECT_TRUE(labelled) << labels[i].toStdString();
        }
        EXPECT_EQ(Child<QCheckBox>(&csvImport, u"CBImport_NotOneLine"_s)->text(),
                  u"インポート時に一行目を無視する"_s);
        EXPECT_EQ(Child<QPushButton>(&csvImport, u"BtnImport"_s)->text(), u"インポート"_s);
        EXPECT_EQ(Child<QPushButton>(&csvImport, u"BtnClose"_s)->text(), u"閉じる"_s);
        ClickButton(&csvImport, u"BtnClose"_s);
    });
    EXPECT_TRUE(checked);
    EXPECT_EQ(csvImport.result(), QDialog::Rejected);
    EXPECT_FALSE(importTitles.isEmpty());
    for (const QString &title : importTitles)
        EXPECT_EQ(title, u"CSV読込 - CSVファイル読み込み中 -"_s);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), (Fields{"-1", "0", "-1", "0"}));

    // The next import: the columns added stay, the rows and lists are new.
    importTitles.clear();
    Import(CsvIn("n,h,n@example.jp\r\n", "small.csv"), [&] {
        EXPECT_EQ(ImportTable()->model()->rowCount(), 1);
        EXPECT_EQ(ImportTable()->model()->columnCount(), 15);
        EXPECT_EQ(Items(Box(u"CBName"_s)), Numbers(15));
        EXPECT_EQ(Box(u"CBSashi10"_s)->currentText(), u"13"_s);
        ClickButton(&csvImport, u"BtnClose"_s);
    });
    EXPECT_FALSE(importTitles.isEmpty());
    for (const QString &title : importTitles)
        EXPECT_EQ(title, u"CSVインポート - CSVファイル読み込み中 -"_s);
    EXPECT_EQ(csvImport.windowTitle(), u"CSVインポート"_s);
}

TEST_F(CsvImportTest, ExportedListReimportedIgnoringTheFirstLineIsAppendedAgain)
{
    Fields recipients;
    for (int i = 0; i < 120; ++i) {
        const Fields r = AwkwardFields(std::to_string(i));
        recipients.insert(recipients.end(), r.begin(), r.end());
    }
    OpenWithList(recipients);
    Choose(u"SaveDialog"_s, TempDir() / "round");
    Click(u"PNGBtnCSVWrite"_s);
    dialogs.Clear();

    WatchTitles();
    ImportAll(TempDir() / "round.csv", true);
    watcher->stop();
    EXPECT_EQ(dialogs.Texts(), QStringList{kDone});
    EXPECT_EQ(ReadFieldsOf(ListFile("L")),
              Join({{"-1", "0", "-1", "240"}, recipients, recipients}));
    EXPECT_EQ(Addresses()->model()->rowCount(), 240);
    // Events after the 1st, 51st and 101st row imported, then the save.
    EXPECT_EQ(windowTitles.count(u"送信先リスト - インポート中 -"_s), 3)
        << windowTitles.join(u'\n').toStdString();
    EXPECT_FALSE(windowTitles.filter(u"(list enabled)"_s).size() > 0);
    EXPECT_FALSE(window->Busy());
    EXPECT_EQ(window->windowTitle(), u"送信先リスト"_s);
    EXPECT_TRUE(Lists()->isEnabled());
}

TEST_F(CsvImportTest, MappingTakesTheChosenColumnsAndNoneGivesEmptyText)
{
    OpenWithList(RecipientFields("old"));
    Fields row(14);
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = "c" + std::to_string(i + 1);
    row[13] = S("名前");
    row[0] = "m@example.jp";
    Import(CsvIn(Line(row)), [&] {
        Box(u"CBName"_s)->setCurrentText(u"14"_s);
        Box(u"CBHt"_s)->setCurrentText(u"なし"_s);
        Box(u"CBAddress"_s)->setCurrentText(u"1"_s);
        Box(u"CBSashi1"_s)->setCurrentText(u"2"_s);
        Box(u"CBSashi10"_s)->setCurrentText(u"なし"_s);
        ClickButton(&csvImport, u"BtnImport"_s);
    });
    const Fields imported = {S("名前"), "",   "m@example.jp", "c2",  "c5",  "c6", "c7",
                             "c8",      "c9", "c10",          "c11", "c12", ""};
    EXPECT_EQ(ReadFieldsOf(ListFile("L")),
              Join({{"-1", "0", "-1", "2"}, RecipientFields("old"), imported}));
    EXPECT_EQ(dialogs.Texts(), QStringList{kDone});
}

TEST_F(CsvImportTest, AnEmptyLineStopsTheImportAtTheNameCheck)
{
    OpenWithList(RecipientFields("old"));
    const std::string before = ReadBytes(ListFile("L"));
    bool stayedOpen = false;
    Import(CsvIn("a,,a@example.jp\r\n\r\nb,,b@example.jp\r\n"), [&] {
        ASSERT_EQ(ImportTable()->model()->rowCount(), 3);
        EXPECT_EQ(RowTexts(ImportTable(), 0, 3), (QStringList{u"a"_s, u""_s, u"a@example.jp"_s}));
        ClickButton(&csvImport, u"BtnImport"_s);
        stayedOpen = csvImport.isVisible();
        ClickButton(&csvImport, u"BtnClose"_s);
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(dialogs.Texts(),
              QStringList{u"送信者名が空欄の行があるため、インポートできません"_s});
    EXPECT_EQ(ReadBytes(ListFile("L")), before);
}

TEST_F(CsvImportTest, RowWithABadAddressIsListedAndContinueImportsTheOthers)
{
    OpenWithList({});
    Fields bad = {"bad", "h", "no-at-sign", "1,2", "q\"", "", "", "", "", "", "", "", "m10", "c14"};
    const fs::path file =
        CsvIn("good1,,g1@example.jp\r\n" + Line(bad) + "good2,,g2@example.jp\r\n");
    bool listed = false;
    Import(file, [&] {
        WhenModal(u"TFormCsvImportError"_s, [&](QWidget *dialog) {
            listed = true;
            EXPECT_EQ(dialog->windowTitle(), u"CSVインポート"_s);
            QStringList labels;
            for (QLabel *label : dialog->findChildren<QLabel *>())
                labels << label->text();
            EXPECT_TRUE(labels.contains(u"リストにあるメールアドレスは形式が正しくありません"_s));
            EXPECT_TRUE(labels.contains(
                u"リストにあるデータ以外をインポートする場合は[続行]ボタンをクリックしてください"_s));
            EXPECT_EQ(Child<QPushButton>(dialog, u"BtnCsvOutput"_s)->text(), u"CSV保存"_s);
            EXPECT_EQ(Child<QPushButton>(dialog, u"BtnOk"_s)->text(), u"続行"_s);
            EXPECT_EQ(Child<QPushButton>(dialog, u"BtnCancel"_s)->text(), u"キャンセル"_s);
            auto *list = Child<QTableView>(dialog, u"ListViewAddress"_s);
            EXPECT_EQ(Captions(list), Captions(ImportTable()).mid(0, 13));
            ASSERT_EQ(list->model()->rowCount(), 1);
            QStringList expected;
            for (std::size_t i = 0; i < 13; ++i)
                expected << QString::fromStdString(bad[i]);
            EXPECT_EQ(RowTexts(list, 0), expected);

            // "CSV保存" writes the rows under the chosen name plus ".csv".
            Choose(u"SaveDialog"_s, TempDir() / "rejected");
            ClickButton(dialog, u"BtnCsvOutput"_s);
            EXPECT_EQ(ReadBytes(TempDir() / "rejected.csv"),
                      Line(Fields(bad.begin(), bad.begin() + 13)));
            ClickButton(dialog, u"BtnOk"_s);
        });
        ClickButton(&csvImport, u"BtnImport"_s);
    });
    EXPECT_TRUE(listed);
    Fields good1 = {"good1", "", "g1@example.jp"}, good2 = {"good2", "", "g2@example.jp"};
    good1.resize(13);
    good2.resize(13);
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), Join({{"-1", "0", "-1", "2"}, good1, good2}));
    EXPECT_EQ(dialogs.Texts(), QStringList{kDone});
}

TEST_F(CsvImportTest, CancelInTheErrorDialogKeepsTheImportDialogOpen)
{
    OpenWithList({});
    const fs::path file = CsvIn("a,,a@example.jp\r\nb,,b example.jp\r\n");
    bool stayedOpen = false;
    Import(file, [&] {
        WhenModal(u"TFormCsvImportError"_s,
                  [&](QWidget *dialog) { ClickButton(dialog, u"BtnCancel"_s); });
        ClickButton(&csvImport, u"BtnImport"_s);
        stayedOpen = csvImport.isVisible();
        EXPECT_EQ(ImportTable()->model()->rowCount(), 2);
        // Another mapping: the addresses are taken from column 1 now, which
        // has no "@" anywhere.
        Box(u"CBAddress"_s)->setCurrentText(u"1"_s);
        WhenModal(u"TFormCsvImportError"_s, [&](QWidget *dialog) {
            EXPECT_EQ(Child<QTableView>(dialog, u"ListViewAddress"_s)->model()->rowCount(), 2);
            ClickButton(dialog, u"BtnCancel"_s);
        });
        ClickButton(&csvImport, u"BtnImport"_s);
        ClickButton(&csvImport, u"BtnClose"_s);
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), (Fields{"-1", "0", "-1", "0"}));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(CsvImportTest, IgnoringTheFirstLineIsKeptAndItsRowIsNotChecked)
{
    OpenWithList({});
    // A header whose name and address cells are empty or no address at all.
    const fs::path file = CsvIn(",敬称,\r\na,,a@example.jp\r\n", "header.csv");
    ImportAll(file, true);
    EXPECT_EQ(dialogs.Texts(), QStringList{kDone});
    Fields a = {"a", "", "a@example.jp"};
    a.resize(13);
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), Join({{"-1", "0", "-1", "1"}, a}));

    dialogs.Clear();
    Import(file, [&] {
        EXPECT_TRUE(Child<QCheckBox>(&csvImport, u"CBImport_NotOneLine"_s)->isChecked());
        ClickButton(&csvImport, u"BtnImport"_s);
    });
    EXPECT_EQ(dialogs.Texts(), QStringList{kDone});
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), Join({{"-1", "0", "-1", "2"}, a, a}));
}

TEST_F(CsvImportTest, FilesWrittenByPythonGiveTheSameRecipients)
{
    OpenWithList({});
    const Fields expected = {S("山田 花子"),
                             S("様"),
                             "h@example.jp",
                             "00123",
                             "a,b",
                             "q\"q",
                             "l1\r\nl2",
                             "",
                             "",
                             "",
                             "",
                             "",
                             S("末尾")};
    QJsonArray row;
    for (const std::string &field : expected)
        row.append(SjisToQString(field));
    const QByteArray json = QJsonDocument(QJsonArray{row}).toJson();
    int count = 0;
    for (const char *encoding : {"utf-8-sig", "cp932"}) {
        const fs::path file = TempDir() / (std::string(encoding) + ".csv");
        QString output;
        ASSERT_EQ(RunProgram(QStringLiteral(VOSTREL_PYTHON),
                             {QStringLiteral(VOSTREL_SOURCE_DIR "/tests/destinations/csv_rows.py"),
                              u"write"_s, QString::fromStdString(file.string()),
                              QString::fromLatin1(encoding)},
                             &output, json),
                  0)
            << output.toStdString();
        ImportAll(file);
        ++count;
        Fields all = {"-1", "0", "-1", std::to_string(count)};
        for (int i = 0; i < count; ++i)
            all.insert(all.end(), expected.begin(), expected.end());
        EXPECT_EQ(ReadFieldsOf(ListFile("L")), all) << encoding;
    }
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(CsvImportTest, ACharacterShiftJisCannotHoldStopsTheImportBeforeAnythingIsStored)
{
    OpenWithList(RecipientFields("old"));
    const std::string before = ReadBytes(ListFile("L"));
    const fs::path file = CsvIn("\xEF\xBB\xBF"
                                "a,,a@example.jp\r\nb,,b@example.jp,絵文字😀\r\n");
    Choose(u"OpenDialog"_s, file);
    Click(u"PNGBtnCSVRead"_s);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    const QString text = dialogs.shown[0].text;
    EXPECT_TRUE(text.contains(QString::fromStdString(file.string()))) << text.toStdString();
    EXPECT_TRUE(text.contains(u"2 行目 4 列目の「😀」(U+1F600)"_s)) << text.toStdString();
    EXPECT_FALSE(csvImport.isVisible());
    EXPECT_EQ(csvImport.result(), QDialog::Rejected);
    EXPECT_EQ(csvImport.windowTitle(), u"CSVインポート"_s);
    EXPECT_EQ(ImportTable()->model()->rowCount(), 0);
    EXPECT_EQ(ReadBytes(ListFile("L")), before);
    EXPECT_EQ(Addresses()->model()->rowCount(), 1);
}

TEST_F(CsvImportTest, AUserDefinedCharacterStopsTheImportNamingRowColumnAndCharacter)
{
    OpenWithList(RecipientFields("old"));
    const std::string before = ReadBytes(ListFile("L"));
    const std::string utf8 = "a,,a@example.jp\r\nb,,b@example.jp,支店\uE000\r\n";
    const std::pair<const char *, std::string> files[] = {
        {"sjis.csv", S("a,,a@example.jp\r\nb,,b@example.jp,支店") + "\xF0\x40\r\n"},
        {"utf8.csv", utf8},
        {"marked.csv", "\xEF\xBB\xBF" + utf8},
    };
    for (const auto &[name, bytes] : files) {
        dialogs.Clear();
        const fs::path file = CsvIn(bytes, name);
        Choose(u"OpenDialog"_s, file);
        Click(u"PNGBtnCSVRead"_s);
        ASSERT_EQ(dialogs.shown.size(), 1u) << name;
        EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
        EXPECT_EQ(dialogs.shown[0].text,
                  u"CSVファイルを読み込めませんでした: "_s + QString::fromStdString(file.string()) +
                      u"\n2 行目 4 列目の「\uE000」(U+E000, Shift_JIS F040) は外字（ユーザー定義"
                      u"文字）のため、受け取った人には読めません。"_s)
            << name;
        EXPECT_FALSE(csvImport.isVisible());
        EXPECT_EQ(ImportTable()->model()->rowCount(), 0);
        EXPECT_EQ(ReadBytes(ListFile("L")), before);
    }
}

TEST_F(CsvImportTest, AFileThatCannotBeReadIsNamed)
{
    OpenWithList({});
    const fs::path file = CsvIn("a,,a@example.jp\r\n", "gone.csv");
    Choose(u"OpenDialog"_s, file, [file] { fs::remove(file); });
    Click(u"PNGBtnCSVRead"_s);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QString::fromStdString(file.string())))
        << dialogs.shown[0].text.toStdString();
    EXPECT_FALSE(csvImport.isVisible());
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), (Fields{"-1", "0", "-1", "0"}));
}

TEST_F(CsvImportTest, ClosingWhileReadingStopsAndImportsNothing)
{
    OpenWithList({});
    std::string bytes;
    for (int i = 0; i < 3000; ++i)
        bytes += "n" + std::to_string(i) + ",,n@example.jp\r\n";
    Choose(u"OpenDialog"_s, CsvIn(bytes));
    // "閉じる" at the first pause of the reading, after row 1.
    bool closed = false;
    QTimer closer;
    closer.setInterval(0);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!csvImport.Reading() || csvImport.Table().RowCount() == 0)
            return;
        if (closed)
            return;
        closed = true;
        ClickButton(&csvImport, u"BtnClose"_s);
    });
    closer.start();
    // No row is read after it.
    std::size_t rowsWhenClosed = 0;
    QObject::connect(&csvImport, &QDialog::finished,
                     [&] { rowsWhenClosed = csvImport.Table().RowCount(); });
    Click(u"PNGBtnCSVRead"_s);
    closer.stop();
    EXPECT_TRUE(closed);
    EXPECT_EQ(rowsWhenClosed, 1u);
    EXPECT_FALSE(csvImport.isVisible());
    EXPECT_EQ(csvImport.result(), QDialog::Rejected);
    EXPECT_FALSE(csvImport.Reading());
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), (Fields{"-1", "0", "-1", "0"}));
}

TEST_F(CsvImportTest, ASaveThatFailsTakesTheImportedRowsBack)
{
    OpenWithList(RecipientFields("old"));
    const std::string before = ReadBytes(ListFile("L"));
    AtomicFile::SetFaultInjector([](const fs::path &file) { return file.extension() != ".vsl"; });
    ImportAll(CsvIn("a,,a@example.jp\r\nb,,b@example.jp\r\n"));
    AtomicFile::SetFaultInjector(nullptr);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_EQ(ReadBytes(ListFile("L")), before);
    EXPECT_EQ(Addresses()->model()->rowCount(), 1);
    EXPECT_EQ(Addresses()->model()->index(0, 0).data().toString(), u"old-名前"_s);
    EXPECT_FALSE(window->Busy());
    EXPECT_EQ(window->windowTitle(), u"送信先リスト"_s);
}

} // namespace
} // namespace vostrel::test
