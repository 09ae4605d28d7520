// The list picker: what it offers for each kind, adding and removing names.
#include "ListFiles.h"
#include "WindowDriver.h"

#include "core/AppState.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "destinations/UnitAddMailList.h"
#include "support/VostrelTest.h"

#include <QTest>
#include <QTreeWidget>

namespace vostrel::test {
namespace {

using namespace Qt::Literals::StringLiterals;

class ListPickerTest : public DestinationTest
{
protected:
    void SetUp() override
    {
        DestinationTest::SetUp();
        // to + bcc with recipients; cc with one; to without recipients; every
        // flag but an unreadable count; to but cut before the count.
        WriteListFile(ListFile("得意先"), {"-1", "0", "-1"}, "2", [] {
            auto a = RecipientFields("a");
            auto b = RecipientFields("b");
            a.insert(a.end(), b.begin(), b.end());
            return a;
        }());
        WriteListFile(ListFile("cc-list"), {"0", "-1", "0"}, "1", RecipientFields("c"));
        WriteListFile(ListFile("empty"), {"-1", "0", "0"}, "0", {});
        WriteListFile(ListFile("abc"), {"-1", "-1", "-1"}, "abc", RecipientFields("d"));
        WriteBytes(ListFile("broken"), FieldsBytes({"-1", "0", "0"}));
        // Sender files are listed by name only, never opened.
        WriteBytes(DataFolder() / "Senders" / "main.vsl", "not opened");
        WriteBytes(DataFolder() / "Senders" / "Backup.VSL", "");
        WriteBytes(DataFolder() / "Senders" / "readme.txt", "");
    }

    QTreeWidget *Left() { return Child<QTreeWidget>(&picker, u"ListViewAddressList"_s); }
    QTreeWidget *Right() { return Child<QTreeWidget>(&picker, u"ListViewConfigList"_s); }

    static QStringList Names(QTreeWidget *list)
    {
        QStringList names;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            names << list->topLevelItem(i)->text(0);
        return names;
    }

    QStringList Offered(PickerKind kind)
    {
        picker.Prepare(kind, {});
        EXPECT_TRUE(ShowWindow(&picker));
        const QStringList names = Names(Left());
        picker.hide();
        return names;
    }

    void Select(QTreeWidget *list, int row)
    {
        QTreeWidgetItem *item = list->topLevelItem(row);
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(item).center());
        ASSERT_TRUE(item->isSelected());
    }

    TFormAddMailList picker;
};

TEST_F(ListPickerTest, OffersListsByFlagAndCountAndSendersByFile)
{
    EXPECT_EQ(Offered(PickerKind::To), QStringList{u"得意先"_s});
    EXPECT_EQ(Offered(PickerKind::Cc), QStringList{u"cc-list"_s});
    EXPECT_EQ(Offered(PickerKind::Bcc), QStringList{u"得意先"_s});
    EXPECT_EQ(Offered(PickerKind::Sender), (QStringList{u"Backup"_s, u"main"_s}));

    // The left list is rebuilt on every showing.
    AppendRecipients("empty", RecipientFields("e"));
    EXPECT_EQ(Offered(PickerKind::To), (QStringList{u"empty"_s, u"得意先"_s}));
    EXPECT_TRUE(dialogs.shown.empty());
}

// A name with a comma would come apart in a comma-joined name list: it is
// shown greyed with the reason and can never be chosen.
TEST_F(ListPickerTest, NamesWithACommaAreShownButCannotBeChosen)
{
    WriteListFile(ListFile("a,b"), {"-1", "0", "0"}, "1", RecipientFields("x"));
    WriteBytes(DataFolder() / "Senders" / "x,y.vsl", "");
    for (PickerKind kind : {PickerKind::To, PickerKind::Sender}) {
        picker.Prepare(kind, {});
        ASSERT_TRUE(ShowWindow(&picker));
        const auto found =
            Left()->findItems(kind == PickerKind::To ? u"a,b"_s : u"x,y"_s, Qt::MatchExactly, 0);
        ASSERT_EQ(found.size(), 1);
        EXPECT_FALSE(found.front()->flags() & Qt::ItemIsSelectable);
        EXPECT_EQ(found.front()->toolTip(0), u"名前に「,」が含まれているため使用できません"_s);
        QTest::mouseClick(Left()->viewport(), Qt::LeftButton, {},
                          Left()->visualItemRect(found.front()).center());
        ClickButton(&picker, u"PNGBtnAdd"_s);
        EXPECT_TRUE(picker.ChosenNames().empty());
        picker.hide();
    }
    EXPECT_EQ(dialogs.Texts(), QStringList(2, u"追加する項目が選択されていません"_s));
}

TEST_F(ListPickerTest, CaptionsFollowTheKind)
{
    struct Expected
    {
        PickerKind kind;
        QString title, left, right;
    };
    const Expected all[] = {
        {PickerKind::Sender, u"送信元リスト"_s, u"送信元"_s, u"使用する送信元"_s},
        {PickerKind::To, u"宛先リスト"_s, u"宛先リスト"_s, u"使用する宛先リスト"_s},
        {PickerKind::Cc, u"Ｃｃリスト"_s, u"Ｃｃリスト"_s, u"使用するＣｃリスト"_s},
        {PickerKind::Bcc, u"Ｂｃｃリスト"_s, u"Ｂｃｃリスト"_s, u"使用するＢｃｃリスト"_s},
    };
    for (const Expected &e : all) {
        picker.Prepare(e.kind, {});
        EXPECT_EQ(picker.windowTitle(), e.title);
        EXPECT_EQ(Left()->headerItem()->text(0), e.left);
        EXPECT_EQ(Right()->headerItem()->text(0), e.right);
    }
    EXPECT_EQ(Child<QWidget>(&picker, u"PNGBtnAdd"_s)->toolTip(),
              u"選択したアドレスを追加します"_s);
    EXPECT_EQ(Child<QWidget>(&picker, u"PNGBtnDelete"_s)->toolTip(),
              u"選択したアドレスを除外します"_s);
}

TEST_F(ListPickerTest, AddRemoveAndTheirMessages)
{
    picker.Prepare(PickerKind::Bcc, {S("前から"), "x"});
    ASSERT_TRUE(ShowWindow(&picker));
    EXPECT_EQ(Names(Right()), (QStringList{u"前から"_s, u"x"_s}));
    EXPECT_FALSE(Child<QWidget>(&picker, u"PNGBtnConfig"_s)->isVisible());
    EXPECT_FALSE(Child<QWidget>(&picker, u"PNGBtnClose"_s)->isVisible());

    ClickButton(&picker, u"PNGBtnAdd"_s);
    ClickButton(&picker, u"PNGBtnDelete"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{u"追加する項目が選択されていません"_s,
                                            u"除外する項目が選択されていません"_s}));
    dialogs.Clear();

    Select(Left(), 0);
    ClickButton(&picker, u"PNGBtnAdd"_s);
    ClickButton(&picker, u"PNGBtnAdd"_s);
    EXPECT_EQ(dialogs.Texts(), QStringList{u"選択中の項目は既に追加されています"_s});
    EXPECT_EQ(Names(Right()), (QStringList{u"前から"_s, u"x"_s, u"得意先"_s}));

    Select(Right(), 1);
    ClickButton(&picker, u"PNGBtnDelete"_s);
    EXPECT_EQ(Names(Right()), (QStringList{u"前から"_s, u"得意先"_s}));

    ClickButton(&picker, u"BtnConfig"_s);
    EXPECT_EQ(picker.result(), QDialog::Accepted);
    EXPECT_EQ(picker.ChosenNames(), (std::vector<std::string>{S("前から"), S("得意先")}));
    picker.ClearChosen();
    EXPECT_TRUE(picker.ChosenNames().empty());
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

// A double-click on an offered item adds it, on a chosen one removes it, in
// the list chooser and the account chooser alike; twice is said as by the button.
TEST_F(ListPickerTest, ADoubleClickMovesAnItemAcross)
{
    auto doubleClick = [](QTreeWidget *list, int row) {
        QTreeWidgetItem *item = list->topLevelItem(row);
        ASSERT_NE(item, nullptr);
        const QPoint at = list->visualItemRect(item).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    };
    for (PickerKind kind : {PickerKind::To, PickerKind::Sender}) {
        picker.Prepare(kind, {"x"});
        ASSERT_TRUE(ShowWindow(&picker));
        const QString offered = Names(Left()).front();
        doubleClick(Left(), 0);
        EXPECT_EQ(Names(Right()), (QStringList{u"x"_s, offered}));
        doubleClick(Left(), 0);
        EXPECT_EQ(dialogs.Texts(), QStringList{u"選択中の項目は既に追加されています"_s});
        doubleClick(Right(), 0);
        EXPECT_EQ(Names(Right()), QStringList{offered});
        EXPECT_TRUE(picker.isVisible());
        picker.hide();
        dialogs.Clear();
    }
}

TEST_F(ListPickerTest, CloseCancels)
{
    picker.Prepare(PickerKind::To, {});
    ASSERT_TRUE(ShowWindow(&picker));
    Select(Left(), 0);
    ClickButton(&picker, u"PNGBtnAdd"_s);
    ClickButton(&picker, u"BtnClose"_s);
    EXPECT_FALSE(picker.isVisible());
    EXPECT_EQ(picker.result(), QDialog::Rejected);
    // The hidden image buttons act like the visible ones.
    ASSERT_TRUE(ShowWindow(&picker));
    Child<QAbstractButton>(&picker, u"PNGBtnConfig"_s)->click();
    EXPECT_EQ(picker.result(), QDialog::Accepted);
    ASSERT_TRUE(ShowWindow(&picker));
    Child<QAbstractButton>(&picker, u"PNGBtnClose"_s)->click();
    EXPECT_EQ(picker.result(), QDialog::Rejected);
}

} // namespace
} // namespace vostrel::test
