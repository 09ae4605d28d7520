// The destination list window, driven offscreen through its controls and the
// dialogs it opens.
#include "ListFiles.h"
#include "WindowDriver.h"

#include "core/AppState.h"
#include "core/Reencrypt.h"
#include "core/SjisCodec.h"
#include "destinations/UnitAddDestination.h"
#include "destinations/UnitAddReceivers.h"
#include "destinations/UnitDestinationList.h"
#include "support/VostrelTest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
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

std::vector<std::string> Fields(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<std::string> Numbered(int first, int last)
{
    std::vector<std::string> all;
    for (int i = first; i <= last; ++i) {
        const auto r = RecipientFields("r" + std::to_string(i));
        all.insert(all.end(), r.begin(), r.end());
    }
    return all;
}

// What the window looked like whenever it processed events while busy.
struct BusyLook
{
    QString title;
    bool radiosEnabled;
    bool listEnabled;
    int rows;
};

class DestinationListWindowTest : public DestinationTest
{
protected:
    void Open()
    {
        window = std::make_unique<TFormDestinationList>(addDestination, addReceivers);
        ASSERT_TRUE(ShowWindow(window.get()));
    }

    QTreeWidget *Lists() { return Child<QTreeWidget>(window.get(), u"ListViewDestinationList"_s); }
    QTableView *Addresses() { return Child<QTableView>(window.get(), u"ListViewAddress"_s); }
    void Click(const QString &name) { ClickButton(window.get(), name); }

    QStringList ListRows()
    {
        QStringList rows;
        for (int i = 0; i < Lists()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = Lists()->topLevelItem(i);
            rows << item->text(0) + u' ' + item->text(1) + item->text(2) + item->text(3);
        }
        return rows;
    }

    void SelectList(const QString &name)
    {
        const auto found = Lists()->findItems(name, Qt::MatchExactly, 0);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        QTest::mouseClick(Lists()->viewport(), Qt::LeftButton, {},
                          Lists()->visualItemRect(found.front()).center());
        ASSERT_TRUE(found.front()->isSelected());
    }

    // Clicks the given rows of the recipient view, the first plainly, the
    // others with Ctrl held.
    void SelectRecipients(std::initializer_list<int> rows)
    {
        Qt::KeyboardModifiers modifiers;
        for (int row : rows) {
            const QRect rect = Addresses()->visualRect(Addresses()->model()->index(row, 0));
            QTest::mouseClick(Addresses()->viewport(), Qt::LeftButton, modifiers, rect.center());
            modifiers = Qt::ControlModifier;
        }
        ASSERT_EQ(Addresses()->selectionModel()->selectedRows().size(),
                  static_cast<qsizetype>(rows.size()));
    }

    // The names (first column) shown in the recipient view.
    QStringList ShownNames()
    {
        QStringList names;
        const QAbstractItemModel *model = Addresses()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            names << model->index(row, 0).data().toString();
        return names;
    }

    std::vector<fs::path> ReceiverFiles()
    {
        std::vector<fs::path> files;
        for (const auto &entry : fs::directory_iterator(DataFolder() / "Receivers"))
            files.push_back(entry.path().filename());
        std::sort(files.begin(), files.end());
        return files;
    }

    // Records the window's look at every event-loop pass while it is busy.
    void WatchBusy()
    {
        watcher = std::make_unique<QTimer>();
        watcher->setInterval(0);
        QObject::connect(watcher.get(), &QTimer::timeout, [this] {
            if (!window->Busy())
                return;
            looks.push_back({window->windowTitle(),
                             Child<QRadioButton>(window.get(), u"RBSendType_Cc"_s)->isEnabled(),
                             Lists()->isEnabled(), Addresses()->model()->rowCount()});
            if (looks.size() == 1 && onFirstBusyLook)
                onFirstBusyLook();
        });
        watcher->start();
    }

    TFormAddDestination addDestination;
    TFormAddReceivers addReceivers;
    std::unique_ptr<TFormDestinationList> window;
    std::unique_ptr<QTimer> watcher;
    std::vector<BusyLook> looks;
    std::function<void()> onFirstBusyLook;
};

TEST_F(DestinationListWindowTest, ShowsListsWithMarksAndFilters)
{
    WriteListFile(ListFile("to"), {"-1", "0", "0"}, "0", {});
    WriteListFile(ListFile("cc"), {"0", "-1", "0"}, "0", {});
    WriteListFile(ListFile("both"), {"-1", "0", "-1"}, "0", {});
    Open();
    EXPECT_EQ(window->windowTitle(), u"送信先リスト"_s);
    EXPECT_TRUE(Child<QRadioButton>(window.get(), u"RBSendType_All"_s)->isChecked());
    const QTreeWidgetItem *header = Lists()->headerItem();
    EXPECT_EQ(Lists()->columnCount(), 5);
    EXPECT_EQ((QStringList{header->text(0), header->text(1), header->text(2), header->text(3),
                           header->text(4)}),
              (QStringList{u"送信先リスト"_s, u"宛先"_s, u"Cc"_s, u"Bcc"_s, u"件数"_s}));
    EXPECT_EQ(ListRows(), (QStringList{u"both ○×○"_s, u"cc ×○×"_s, u"to ○××"_s}));

    Click(u"RBSendType_Cc"_s);
    EXPECT_EQ(ListRows(), QStringList{u"cc ×○×"_s});
    Click(u"RBSendType_To"_s);
    EXPECT_EQ(ListRows(), (QStringList{u"both ○×○"_s, u"to ○××"_s}));
    Click(u"RBSendType_Bcc"_s);
    EXPECT_EQ(ListRows(), QStringList{u"both ○×○"_s});
    Click(u"RBSendType_All"_s);
    EXPECT_EQ(ListRows().size(), 3);

    // The CSV pickers are ready with their filter.
    EXPECT_EQ(window->OpenDialog().nameFilters(), QStringList{u"CSVファイル(*.csv)"_s});
    EXPECT_EQ(window->SaveDialog().nameFilters(), QStringList{u"CSVファイル(*.csv)"_s});
    EXPECT_EQ(window->SaveDialog().acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(dialogs.shown.empty());
}

// Each list shows how many recipients it holds, read from its count field
// alone; names are shown whole, so the lists of one stopped run stay apart.
TEST_F(DestinationListWindowTest, ListsShowTheirCountsAndWholeNames)
{
    const char *unsent = "2024年03月05日09時15分02秒_未送信";
    const char *failed = "2024年03月05日09時15分02秒_送信失敗";
    WriteListFile(ListFile(unsent), {"-1", "0", "0"}, "3", Numbered(1, 3));
    WriteListFile(ListFile(failed), {"-1", "0", "0"}, "1", Numbered(4, 4));
    WriteListFile(ListFile("空"), {"-1", "0", "0"}, "0", {});
    // The count is believed without reading the recipients it announces.
    WriteListFile(ListFile("cut"), {"-1", "0", "0"}, "100000", Numbered(1, 1));
    WriteBytes(ListFile("broken"), FieldsBytes({"-1", "0"}));
    Open();
    QStringList counts;
    for (int i = 0; i < Lists()->topLevelItemCount(); ++i)
        counts << Lists()->topLevelItem(i)->text(0) + u' ' + Lists()->topLevelItem(i)->text(4);
    EXPECT_EQ(counts,
              (QStringList{QString::fromUtf8(unsent) + u" 3"_s, QString::fromUtf8(failed) + u" 1"_s,
                           u"broken 不明"_s, u"cut 100000"_s, u"空 0"_s}));
    for (const char *name : {unsent, failed}) {
        const QString text = QString::fromUtf8(name);
        const QTreeWidgetItem *item = Lists()->findItems(text, Qt::MatchExactly).front();
        EXPECT_GT(Lists()->columnWidth(0), Lists()->fontMetrics().horizontalAdvance(text)) << name;
        EXPECT_EQ(item->toolTip(0), text);
    }
    EXPECT_EQ(Lists()->textElideMode(), Qt::ElideMiddle);

    // The count follows the list as it changes.
    SelectList(QString::fromUtf8(unsent));
    SelectRecipients({0});
    dialogs.Answer(true);
    Click(u"PNGBtnDeleteAddress"_s);
    EXPECT_EQ(Lists()->currentItem()->text(4), u"2"_s);
    EXPECT_EQ(ReadFieldsOf(ListFile(unsent)).at(3), "2");
}

TEST_F(DestinationListWindowTest, SelectingAListShowsItsRecipients)
{
    std::vector<std::string> first = RecipientFields(S("山田"));
    first[1] = S("様");
    WriteListFile(ListFile("顧客"), {"-1", "0", "0"}, "2", Fields({first, RecipientFields("b")}));
    WriteListFile(ListFile("other"), {"-1", "0", "0"}, "1", RecipientFields("o"));
    Open();
    const QAbstractItemModel *model = Addresses()->model();
    QStringList captions;
    for (int c = 0; c < model->columnCount(); ++c)
        captions << model->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(captions,
              (QStringList{u"宛先名"_s, u"敬称"_s, u"メールアドレス"_s, u"差込１"_s, u"差込２"_s,
                           u"差込３"_s, u"差込４"_s, u"差込５"_s, u"差込６"_s, u"差込７"_s,
                           u"差込８"_s, u"差込９"_s, u"差込１０"_s}));
    EXPECT_EQ(model->rowCount(), 0);

    SelectList(u"顧客"_s);
    ASSERT_EQ(model->rowCount(), 2);
    QStringList row0;
    for (int c = 0; c < 13; ++c)
        row0 << model->index(0, c).data().toString();
    QStringList expected;
    for (const std::string &field : first)
        expected << SjisToQString(field);
    EXPECT_EQ(row0, expected);
    EXPECT_EQ(model->index(1, 2).data().toString(), u"b@example.jp"_s);

    SelectList(u"other"_s);
    EXPECT_EQ(ShownNames(), QStringList{u"o-名前"_s});
    // Changing the filter clears both views.
    Click(u"RBSendType_To"_s);
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_TRUE(Lists()->selectedItems().isEmpty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DestinationListWindowTest, NewListIsCreatedFromTheNameDialog)
{
    Open();
    // Earlier entries of the dialog are not carried over.
    addDestination.Prepare(u"x"_s, u"y"_s, "old", SendType{true, true, true}, {});
    bool seen = false;
    WhenModal(u"TFormAddDestination"_s, [&](QWidget *dialog) {
        seen = true;
        EXPECT_EQ(dialog->windowTitle(), u"送信先リストを追加"_s);
        EXPECT_EQ(Child<QPushButton>(dialog, u"BtnListMake"_s)->text(), u"リストを作成"_s);
        EXPECT_TRUE(Child<QLineEdit>(dialog, u"EditListName"_s)->text().isEmpty());
        EXPECT_FALSE(Child<QCheckBox>(dialog, u"CBTo"_s)->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(dialog, u"CBCc"_s)->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(dialog, u"CBBcc"_s)->isChecked());
        TypeInto(dialog, u"EditListName"_s, u"新規顧客"_s);
        ClickButton(dialog, u"CBTo"_s);
        ClickButton(dialog, u"BtnListMake"_s);
    });
    Click(u"PNGBtnAddList"_s);
    EXPECT_TRUE(seen);
    EXPECT_EQ(ReadBytes(ListFile("新規顧客")), FieldsBytes({"-1", "0", "0", "0"}));
    EXPECT_EQ(ListRows(), QStringList{u"新規顧客 ○××"_s});

    // Cancelled: nothing is created.
    WhenModal(u"TFormAddDestination"_s, [&](QWidget *dialog) {
        TypeInto(dialog, u"EditListName"_s, u"other"_s);
        ClickButton(dialog, u"CBCc"_s);
        ClickButton(dialog, u"BtnCancel"_s);
    });
    Click(u"PNGBtnAddList"_s);
    EXPECT_EQ(ReceiverFiles(), std::vector<fs::path>{"新規顧客.vsl"});
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DestinationListWindowTest, EditWithoutRenameKeepsTheFileAndItsRecipients)
{
    WriteListFile(ListFile("顧客"), {"-1", "0", "0"}, "2", Numbered(1, 2));
    Open();
    SelectList(u"顧客"_s);
    WhenModal(u"TFormAddDestination"_s, [&](QWidget *dialog) {
        EXPECT_EQ(dialog->windowTitle(), u"送信先リストを編集"_s);
        EXPECT_EQ(Child<QPushButton>(dialog, u"BtnListMake"_s)->text(), u"リストを修正"_s);
        EXPECT_EQ(Child<QLineEdit>(dialog, u"EditListName"_s)->text(), u"顧客"_s);
        EXPECT_TRUE(Child<QCheckBox>(dialog, u"CBTo"_s)->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(dialog, u"CBBcc"_s)->isChecked());
        ClickButton(dialog, u"CBTo"_s);
        ClickButton(dialog, u"CBBcc"_s);
        ClickButton(dialog, u"BtnListMake"_s);
    });
    Click(u"PNGBtnEditList"_s);
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join(u'\n').toStdString();
    EXPECT_EQ(ReceiverFiles(), std::vector<fs::path>{"顧客.vsl"});
    EXPECT_EQ(ReadFieldsOf(ListFile("顧客")), Fields({{"0", "0", "-1", "2"}, Numbered(1, 2)}));
    EXPECT_EQ(ListRows(), QStringList{u"顧客 ××○"_s});
    // The refresh leaves no list selected.
    EXPECT_TRUE(Lists()->selectedItems().isEmpty());
    EXPECT_EQ(Addresses()->model()->rowCount(), 0);
}

TEST_F(DestinationListWindowTest, RenameToAnExistingListIsRefusedAndToANewNameMovesTheFile)
{
    WriteListFile(ListFile("A"), {"-1", "0", "0"}, "1", RecipientFields("a"));
    WriteListFile(ListFile("B"), {"0", "-1", "0"}, "1", RecipientFields("b"));
    const std::string a = ReadBytes(ListFile("A")), b = ReadBytes(ListFile("B"));
    Open();
    SelectList(u"A"_s);
    WhenModal(u"TFormAddDestination"_s, [&](QWidget *dialog) {
        TypeInto(dialog, u"EditListName"_s, u"B"_s);
        ClickButton(dialog, u"BtnListMake"_s);
        EXPECT_TRUE(dialog->isVisible());
        ClickButton(dialog, u"BtnCancel"_s);
    });
    Click(u"PNGBtnEditList"_s);
    EXPECT_EQ(dialogs.Texts(), QStringList{u"既に存在する送信先リスト名です"_s});
    EXPECT_EQ(ReadBytes(ListFile("A")), a);
    EXPECT_EQ(ReadBytes(ListFile("B")), b);
    EXPECT_EQ(ShownNames(), QStringList{u"a-名前"_s});

    WhenModal(u"TFormAddDestination"_s, [&](QWidget *dialog) {
        TypeInto(dialog, u"EditListName"_s, u"改名"_s);
        ClickButton(dialog, u"BtnListMake"_s);
    });
    Click(u"PNGBtnEditList"_s);
    EXPECT_EQ(ReceiverFiles(), (std::vector<fs::path>{"B.vsl", "改名.vsl"}));
    EXPECT_EQ(ReadBytes(ListFile("改名")), a);
    EXPECT_EQ(ReadBytes(ListFile("B")), b);
    EXPECT_EQ(ListRows(), (QStringList{u"B ×○×"_s, u"改名 ○××"_s}));
}

TEST_F(DestinationListWindowTest, MessagesWhenNothingIsSelected)
{
    WriteListFile(ListFile("L"), {"-1", "0", "0"}, "2", Numbered(1, 2));
    Open();
    for (const QString &button : {u"PNGBtnEditList"_s, u"PNGBtnDeleteList"_s, u"PNGBtnAddAddress"_s,
                                  u"PNGBtnEditAddress"_s, u"PNGBtnDeleteAddress"_s})
        Click(button);
    SelectList(u"L"_s);
    Click(u"PNGBtnEditAddress"_s);
    Click(u"PNGBtnDeleteAddress"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{u"変更対象のリストが選択されていません。"_s,
                                            u"削除するリストを選択してください。"_s,
                                            u"追加対象の宛先が選択されていません。"_s,
                                            u"変更対象の宛先が選択されていません。"_s,
                                            u"変更対象の情報が選択されていません。"_s,
                                            u"削除対象の宛先が選択されていません。"_s}));
}

// The mailbox check opens from the list window; lists it stores are shown
// when it closes.
TEST_F(DestinationListWindowTest, BounceCheckOpensAndTheListsAreShownAnewAfterIt)
{
    Open();
    bool opened = false;
    WhenModal(u"TFormBounceCheck"_s, [&](QWidget *check) {
        opened = true;
        EXPECT_EQ(check->windowTitle(), u"不達・配信停止の確認"_s);
        for (const QString &button : {u"BtnStart"_s, u"BtnStoreList"_s, u"BtnRemoveFromLists"_s})
            ClickButton(check, button); // no account has POP3 fields, nothing was found
        WriteListFile(ListFile("stored"), {"-1", "0", "0"}, "0", {});
        ClickButton(check, u"BtnClose"_s);
    });
    Click(u"PNGBtnBounceCheck"_s);
    EXPECT_TRUE(opened);
    EXPECT_EQ(dialogs.Texts(),
              (QStringList{u"POP3サーバーが設定された送信者がありません。"_s,
                           u"保存するアドレスがありません。"_s,
                           u"送信先リストに登録されているアドレスはありません。"_s}));
    EXPECT_EQ(ListRows(), QStringList{u"stored ○××"_s});
}

TEST_F(DestinationListWindowTest, DeleteListAsksFirst)
{
    WriteListFile(ListFile("顧客"), {"-1", "0", "0"}, "0", {});
    WriteListFile(ListFile("keep"), {"-1", "0", "0"}, "0", {});
    Open();
    SelectList(u"顧客"_s);
    dialogs.Answer(false);
    Click(u"PNGBtnDeleteList"_s);
    EXPECT_TRUE(fs::exists(ListFile("顧客")));
    dialogs.Answer(true);
    Click(u"PNGBtnDeleteList"_s);
    EXPECT_FALSE(fs::exists(ListFile("顧客")));
    EXPECT_EQ(ListRows(), QStringList{u"keep ○××"_s});
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Question);
    EXPECT_EQ(dialogs.shown[0].text, u"顧客 を削除します。\r\nよろしいですか？"_s);
    EXPECT_EQ(dialogs.shown[1].text, dialogs.shown[0].text);

    // A file that went away meanwhile cannot be deleted.
    SelectList(u"keep"_s);
    fs::remove(ListFile("keep"));
    dialogs.Clear();
    dialogs.Answer(true);
    Click(u"PNGBtnDeleteList"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{u"keep を削除します。\r\nよろしいですか？"_s,
                                            u"削除できませんでした。"_s}));
    EXPECT_EQ(ListRows(), QStringList{u"keep ○××"_s});
}

TEST_F(DestinationListWindowTest, AddAndEditRecipientsSaveAtOnce)
{
    WriteListFile(ListFile("L"), {"0", "-1", "-1"}, "2", Numbered(1, 2));
    Open();
    SelectList(u"L"_s);
    // The editor is reset for a new recipient, whatever it showed before.
    Recipient stale;
    stale.fields.fill("stale");
    addReceivers.SetValues(stale);
    WhenModal(u"TFormAddReceivers"_s, [&](QWidget *dialog) {
        EXPECT_EQ(dialog->windowTitle(), u"宛先の追加"_s);
        EXPECT_EQ(Child<QPushButton>(dialog, u"ButtonOK"_s)->text(), u"登録する"_s);
        EXPECT_TRUE(Child<QLineEdit>(dialog, u"EditName"_s)->text().isEmpty());
        EXPECT_TRUE(Child<QLineEdit>(dialog, u"Edit7"_s)->text().isEmpty());
        EXPECT_EQ(Child<QComboBox>(dialog, u"CBht"_s)->currentIndex(), 0);
        TypeInto(dialog, u"EditName"_s, u"新人"_s);
        TypeInto(dialog, u"EditAddress"_s, u"new@example.jp"_s);
        TypeInto(dialog, u"Edit3"_s, u"三"_s);
        ClickButton(dialog, u"ButtonOK"_s);
    });
    Click(u"PNGBtnAddAddress"_s);
    std::vector<std::string> added = {S("新人"), "", "new@example.jp", "", "", S("三")};
    added.resize(13);
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), Fields({{"0", "-1", "-1", "3"}, Numbered(1, 2), added}));
    EXPECT_EQ(ShownNames(), (QStringList{u"r1-名前"_s, u"r2-名前"_s, u"新人"_s}));

    SelectRecipients({0});
    WhenModal(u"TFormAddReceivers"_s, [&](QWidget *dialog) {
        EXPECT_EQ(dialog->windowTitle(), u"r1-名前の編集"_s);
        EXPECT_EQ(Child<QPushButton>(dialog, u"ButtonOK"_s)->text(), u"変更する"_s);
        EXPECT_EQ(Child<QLineEdit>(dialog, u"EditAddress"_s)->text(), u"r1@example.jp"_s);
        EXPECT_EQ(Child<QLineEdit>(dialog, u"Edit10"_s)->text(), u"r1-10"_s);
        TypeInto(dialog, u"EditAddress"_s, u"changed@example.jp"_s);
        ClickButton(dialog, u"ButtonOK"_s);
    });
    Click(u"PNGBtnEditAddress"_s);
    std::vector<std::string> changed = RecipientFields("r1");
    changed[2] = "changed@example.jp";
    EXPECT_EQ(ReadFieldsOf(ListFile("L")),
              Fields({{"0", "-1", "-1", "3"}, changed, RecipientFields("r2"), added}));
    EXPECT_EQ(Addresses()->model()->index(0, 2).data().toString(), u"changed@example.jp"_s);

    // Cancelled edits change nothing.
    const std::string before = ReadBytes(ListFile("L"));
    SelectRecipients({1});
    WhenModal(u"TFormAddReceivers"_s, [&](QWidget *dialog) {
        TypeInto(dialog, u"EditName"_s, u"ignored"_s);
        ClickButton(dialog, u"ButtonCancel"_s);
    });
    Click(u"PNGBtnEditAddress"_s);
    EXPECT_EQ(ReadBytes(ListFile("L")), before);
    EXPECT_TRUE(dialogs.shown.empty());
}

// No field has a length limit: editing a recipient and confirming without a
// change never shortens a value, whichever field holds it.
TEST_F(DestinationListWindowTest, EditingNeverShortensALongValue)
{
    std::vector<std::string> fields(13);
    for (int f = 0; f < 13; ++f)
        fields[static_cast<size_t>(f)] = std::string(40000 + f, static_cast<char>('a' + f));
    fields[2] += "@example.jp";
    WriteListFile(ListFile("L"), {"-1", "0", "0"}, "1", fields);
    Open();
    SelectList(u"L"_s);
    SelectRecipients({0});
    WhenModal(u"TFormAddReceivers"_s, [&](QWidget *dialog) { ClickButton(dialog, u"ButtonOK"_s); });
    Click(u"PNGBtnEditAddress"_s);
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join(u'\n').toStdString();
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), Fields({{"-1", "0", "0", "1"}, fields}));
}

TEST_F(DestinationListWindowTest, EditWithSeveralRecipientsSelectedDoesNothing)
{
    WriteListFile(ListFile("L"), {"-1", "0", "0"}, "3", Numbered(1, 3));
    Open();
    SelectList(u"L"_s);
    SelectRecipients({0, 2});
    bool opened = false;
    QTimer::singleShot(300, [&] {
        if (addReceivers.isVisible()) {
            opened = true;
            addReceivers.reject();
        }
    });
    Click(u"PNGBtnEditAddress"_s);
    QTest::qWait(350);
    EXPECT_FALSE(opened);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DestinationListWindowTest, DeletingThreeOfTenKeepsTheOtherSevenInOrder)
{
    WriteListFile(ListFile("L"), {"-1", "0", "0"}, "10", Numbered(1, 10));
    Open();
    SelectList(u"L"_s);
    SelectRecipients({7, 1, 4});
    dialogs.Answer(false);
    Click(u"PNGBtnDeleteAddress"_s);
    EXPECT_EQ(Addresses()->model()->rowCount(), 10);
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), Fields({{"-1", "0", "0", "10"}, Numbered(1, 10)}));

    WatchBusy();
    dialogs.Answer(true);
    Click(u"PNGBtnDeleteAddress"_s);
    watcher->stop();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, u"選択中の宛先をリストから削除します。\r\nよろしいですか？"_s);
    EXPECT_EQ(ReadFieldsOf(ListFile("L")), Fields({{"-1", "0", "0", "7"},
                                                   Numbered(1, 1),
                                                   Numbered(3, 4),
                                                   Numbered(6, 7),
                                                   Numbered(9, 10)}));
    EXPECT_EQ(ShownNames(), (QStringList{u"r1-名前"_s, u"r3-名前"_s, u"r4-名前"_s, u"r6-名前"_s,
                                         u"r7-名前"_s, u"r9-名前"_s, u"r10-名前"_s}));
    EXPECT_FALSE(window->Busy());
    EXPECT_TRUE(Lists()->isEnabled());

    // One row.
    SelectRecipients({0});
    dialogs.Answer(true);
    Click(u"PNGBtnDeleteAddress"_s);
    EXPECT_EQ(ReadFieldsOf(ListFile("L")),
              Fields({{"-1", "0", "0", "6"}, Numbered(3, 4), Numbered(6, 7), Numbered(9, 10)}));
}

TEST_F(DestinationListWindowTest, BusyWhileLoadingAndSaving)
{
    WriteListFile(ListFile("big"), {"-1", "0", "0"}, "150", Numbered(1, 150));
    WriteListFile(ListFile("small"), {"-1", "0", "0"}, "0", {});
    Open();
    WatchBusy();
    // Clicks that arrive in the middle of the load do nothing.
    onFirstBusyLook = [this] {
        Click(u"PNGBtnDeleteList"_s);
        Click(u"PNGBtnEditAddress"_s);
        Click(u"PNGBtnDeleteAddress"_s);
        Click(u"RBSendType_Cc"_s);
    };
    SelectList(u"big"_s);
    ASSERT_FALSE(looks.empty());
    for (const BusyLook &look : looks) {
        EXPECT_EQ(look.title, u"送信先リスト - 読み込み中 -"_s);
        EXPECT_FALSE(look.radiosEnabled);
        EXPECT_FALSE(look.listEnabled);
    }
    // Events are processed after the 1st, 51st and 101st recipient; the
    // first one is on view at once.
    EXPECT_EQ(looks.size(), 3u);
    EXPECT_EQ(looks[0].rows, 1);
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join(u'\n').toStdString();
    EXPECT_TRUE(Child<QRadioButton>(window.get(), u"RBSendType_All"_s)->isChecked());
    EXPECT_EQ(window->windowTitle(), u"送信先リスト"_s);
    EXPECT_TRUE(Lists()->isEnabled());
    EXPECT_TRUE(Child<QRadioButton>(window.get(), u"RBSendType_Cc"_s)->isEnabled());
    EXPECT_EQ(Addresses()->model()->rowCount(), 150);

    looks.clear();
    onFirstBusyLook = nullptr;
    WhenModal(u"TFormAddReceivers"_s, [&](QWidget *dialog) {
        TypeInto(dialog, u"EditName"_s, u"x"_s);
        TypeInto(dialog, u"EditAddress"_s, u"x@y"_s);
        ClickButton(dialog, u"ButtonOK"_s);
    });
    Click(u"PNGBtnAddAddress"_s);
    watcher->stop();
    // 151 recipients written: events after the 1st, 13th, ..., 145th.
    EXPECT_EQ(looks.size(), 13u);
    for (const BusyLook &look : looks) {
        EXPECT_EQ(look.title, u"送信先リスト - 保存中 -"_s);
        EXPECT_FALSE(look.radiosEnabled);
        EXPECT_FALSE(look.listEnabled);
    }
    EXPECT_EQ(window->windowTitle(), u"送信先リスト"_s);
    EXPECT_FALSE(window->Busy());
    EXPECT_EQ(ReadFieldsOf(ListFile("big"))[3], "151");
}

// A close request while a save runs waits for the save; a password change
// tried in the middle is refused, so no file is left under the old key.
TEST_F(DestinationListWindowTest, CloseWhileSavingWaitsAndNoPasswordChangeCanStart)
{
    WriteListFile(ListFile("big"), {"-1", "0", "0"}, "150", Numbered(1, 150));
    Open();
    SelectList(u"big"_s);
    WatchBusy();
    bool visibleAfterClose = false;
    std::string changeError;
    onFirstBusyLook = [&] {
        window->close();
        QTest::keyClick(window.get(), Qt::Key_Escape);
        visibleAfterClose = window->isVisible();
        try {
            ReencryptAll(CurrentKey(), "Other1");
        } catch (const VostrelError &e) {
            changeError = e.what();
        }
    };
    WhenModal(u"TFormAddReceivers"_s, [&](QWidget *dialog) {
        TypeInto(dialog, u"EditName"_s, u"x"_s);
        TypeInto(dialog, u"EditAddress"_s, u"x@y"_s);
        ClickButton(dialog, u"ButtonOK"_s);
    });
    Click(u"PNGBtnAddAddress"_s);
    ASSERT_FALSE(looks.empty());
    EXPECT_EQ(looks.front().title, u"送信先リスト - 保存中 -"_s);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(changeError, "他の処理が実行中のため、パスワードを変更できません。"
                           "処理が終わってからもう一度お試しください。");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
    EXPECT_EQ(CurrentKey(), std::string(DefaultKey));
    EXPECT_EQ(ReadFieldsOf(ListFile("big"))[3], "151");
}

TEST_F(DestinationListWindowTest, FileCutShortIsReportedAndNotWrittenBack)
{
    std::string bytes = FieldsBytes(Fields({{"-1", "0", "0", "4"}, Numbered(1, 3)}));
    bytes.resize(bytes.size() - 5);
    WriteBytes(ListFile("cut"), bytes);
    Open();
    SelectList(u"cut"_s);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    const QString text = dialogs.shown[0].text;
    EXPECT_TRUE(text.contains(QString::fromStdString(ListFile("cut").string())))
        << text.toStdString();
    EXPECT_TRUE(text.contains(u"読み込めた宛先は 2 件です。"_s)) << text.toStdString();
    EXPECT_EQ(ShownNames(), (QStringList{u"r1-名前"_s, u"r2-名前"_s}));
    EXPECT_FALSE(window->Busy());
    EXPECT_EQ(window->windowTitle(), u"送信先リスト"_s);
    EXPECT_TRUE(Lists()->isEnabled());

    // Looking at it again, or at another list, never writes it.
    WriteListFile(ListFile("other"), {"-1", "0", "0"}, "0", {});
    Click(u"RBSendType_All"_s);
    SelectList(u"other"_s);
    SelectList(u"cut"_s);
    EXPECT_EQ(ReadBytes(ListFile("cut")), bytes);

    // A change writes what is shown.
    SelectRecipients({1});
    dialogs.Answer(true);
    Click(u"PNGBtnDeleteAddress"_s);
    EXPECT_EQ(ReadFieldsOf(ListFile("cut")), Fields({{"-1", "0", "0", "1"}, Numbered(1, 1)}));
}

TEST_F(DestinationListWindowTest, FileThatCannotBeOpenedIsReported)
{
    WriteListFile(ListFile("gone"), {"-1", "0", "0"}, "1", RecipientFields("g"));
    Open();
    fs::remove(ListFile("gone"));
    SelectList(u"gone"_s);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QString::fromStdString(ListFile("gone").string())))
        << dialogs.shown[0].text.toStdString();
    EXPECT_EQ(Addresses()->model()->rowCount(), 0);
    EXPECT_FALSE(window->Busy());
    EXPECT_EQ(window->windowTitle(), u"送信先リスト"_s);
    EXPECT_TRUE(Lists()->isEnabled());
    EXPECT_FALSE(fs::exists(ListFile("gone")));
}

TEST_F(DestinationListWindowTest, ClosingAndShowingAgainRefreshesUnderTheSameFilter)
{
    WriteListFile(ListFile("a"), {"-1", "0", "0"}, "1", RecipientFields("a"));
    Open();
    Click(u"RBSendType_To"_s);
    SelectList(u"a"_s);
    Click(u"PNGBtnClose"_s);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);

    WriteListFile(ListFile("b"), {"-1", "0", "0"}, "0", {});
    WriteListFile(ListFile("c"), {"0", "-1", "0"}, "0", {});
    ASSERT_TRUE(ShowWindow(window.get()));
    EXPECT_TRUE(Child<QRadioButton>(window.get(), u"RBSendType_To"_s)->isChecked());
    EXPECT_EQ(ListRows(), (QStringList{u"a ○××"_s, u"b ○××"_s}));
    EXPECT_TRUE(Lists()->selectedItems().isEmpty());
    EXPECT_EQ(Addresses()->model()->rowCount(), 0);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DestinationListWindowTest, CountThatIsNotANumberShowsNoRecipientsAndSavesZero)
{
    WriteListFile(ListFile("abc"), {"-1", "0", "0"}, "abc", Numbered(1, 2));
    Open();
    SelectList(u"abc"_s);
    EXPECT_EQ(Addresses()->model()->rowCount(), 0);
    WhenModal(u"TFormAddDestination"_s,
              [&](QWidget *dialog) { ClickButton(dialog, u"BtnListMake"_s); });
    Click(u"PNGBtnEditList"_s);
    EXPECT_EQ(ReadFieldsOf(ListFile("abc")), (std::vector<std::string>{"-1", "0", "0", "0"}));
    EXPECT_TRUE(dialogs.shown.empty());
}

} // namespace
} // namespace vostrel::test
