// The list-name dialog and the recipient editor, driven through their
// controls.
#include "ListFiles.h"
#include "WindowDriver.h"

#include "core/SjisCodec.h"
#include "destinations/UnitAddDestination.h"
#include "destinations/UnitAddReceivers.h"
#include "support/VostrelTest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace vostrel::test {
namespace {

using namespace Qt::Literals::StringLiterals;

class ListNameDialogTest : public DestinationTest
{
protected:
    TFormAddDestination dialog;
};

TEST_F(ListNameDialogTest, RefusesBadNamesAndAskForASendType)
{
    dialog.Prepare(u"送信先リストを追加"_s, u"リストを作成"_s, {}, SendType{}, {});
    ASSERT_TRUE(ShowWindow(&dialog));
    EXPECT_EQ(dialog.windowTitle(), u"送信先リストを追加"_s);
    EXPECT_EQ(Child<QPushButton>(&dialog, u"BtnListMake"_s)->text(), u"リストを作成"_s);

    ClickButton(&dialog, u"BtnListMake"_s);
    TypeInto(&dialog, u"EditListName"_s, u"得意先/東京"_s);
    ClickButton(&dialog, u"BtnListMake"_s);
    TypeInto(&dialog, u"EditListName"_s, u"得意先,東京"_s);
    ClickButton(&dialog, u"BtnListMake"_s);
    TypeInto(&dialog, u"EditListName"_s, u"ソフト表示"_s);
    ClickButton(&dialog, u"BtnListMake"_s);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialogs.Texts(), (QStringList{u"送信先リスト名を入力してください"_s,
                                            u"送信先リスト名に「\\/:*?\"<>|」の文字は使えません"_s,
                                            u"送信先リスト名に「,」の文字は使えません"_s,
                                            u"送信方法を選択してください"_s}));

    ClickButton(&dialog, u"CBCc"_s);
    ClickButton(&dialog, u"BtnListMake"_s);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ListName(), S("ソフト表示"));
    EXPECT_EQ(dialog.ChosenSendType(), (SendType{false, true, false}));
    EXPECT_EQ(dialogs.shown.size(), 4u);
}

TEST_F(ListNameDialogTest, EditKeepsItsOwnNameButNotAnotherListsName)
{
    CreateDestinationList(S("顧客"), true, false, false);
    CreateDestinationList(S("仕入先"), false, true, false);
    dialog.Prepare(u"送信先リストを編集"_s, u"リストを修正"_s, S("顧客"),
                   SendType{true, false, true}, S("顧客"));
    ASSERT_TRUE(ShowWindow(&dialog));
    EXPECT_EQ(Child<QLineEdit>(&dialog, u"EditListName"_s)->text(), u"顧客"_s);
    EXPECT_TRUE(Child<QCheckBox>(&dialog, u"CBTo"_s)->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(&dialog, u"CBCc"_s)->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(&dialog, u"CBBcc"_s)->isChecked());

    TypeInto(&dialog, u"EditListName"_s, u"仕入先"_s);
    ClickButton(&dialog, u"BtnListMake"_s);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialogs.Texts(), QStringList{u"既に存在する送信先リスト名です"_s});

    TypeInto(&dialog, u"EditListName"_s, u"顧客"_s);
    ClickButton(&dialog, u"BtnListMake"_s);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ListName(), S("顧客"));
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(ListNameDialogTest, CancelAndUnstorableCharacters)
{
    dialog.Prepare(u"送信先リストを追加"_s, u"リストを作成"_s, {}, SendType{}, {});
    ASSERT_TRUE(ShowWindow(&dialog));
    ClickButton(&dialog, u"CBTo"_s);
    // A character Shift_JIS cannot hold is refused with an error naming it.
    Child<QLineEdit>(&dialog, u"EditListName"_s)->setText(u"list\U0001F600"_s);
    ClickButton(&dialog, u"BtnListMake"_s);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[0].text.contains(u"\U0001F600"_s))
        << dialogs.shown[0].text.toStdString();

    ClickButton(&dialog, u"BtnCancel"_s);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

class RecipientEditorTest : public DestinationTest
{
protected:
    TFormAddReceivers dialog;

    void Fill(const QString &name, const QString &address)
    {
        TypeInto(&dialog, u"EditName"_s, name);
        TypeInto(&dialog, u"EditAddress"_s, address);
    }
};

TEST_F(RecipientEditorTest, HonorificChoicesAndReset)
{
    auto *honorific = Child<QComboBox>(&dialog, u"CBht"_s);
    QStringList choices;
    for (int i = 0; i < honorific->count(); ++i)
        choices << honorific->itemText(i);
    EXPECT_EQ(choices, (QStringList{u""_s, u"様"_s, u"殿"_s, u"さん"_s, u"宛て"_s, u"御中"_s,
                                    u"各位"_s, u"行"_s, u"係"_s, u"先生"_s, u"君"_s, u"ちゃん"_s}));
    EXPECT_TRUE(honorific->isEditable());

    Recipient r;
    for (int i = 0; i < 13; ++i)
        r.fields[static_cast<size_t>(i)] = "v" + std::to_string(i);
    r.fields[1] = S("御中");
    dialog.SetValues(r);
    EXPECT_EQ(honorific->currentText(), u"御中"_s);
    EXPECT_EQ(Child<QLineEdit>(&dialog, u"Edit10"_s)->text(), u"v12"_s);

    dialog.Reset();
    EXPECT_EQ(honorific->currentIndex(), 0);
    EXPECT_EQ(honorific->currentText(), QString());
    for (const QString &name :
         {u"EditName"_s, u"EditAddress"_s, u"Edit1"_s, u"Edit5"_s, u"Edit9"_s, u"Edit10"_s})
        EXPECT_TRUE(Child<QLineEdit>(&dialog, name)->text().isEmpty()) << name.toStdString();
}

TEST_F(RecipientEditorTest, NameIsCheckedBeforeTheAddress)
{
    dialog.Reset();
    ASSERT_TRUE(ShowWindow(&dialog));
    Fill({}, u"bad address"_s);
    ClickButton(&dialog, u"ButtonOK"_s);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialogs.Texts(), QStringList{u"送信者名が入力されていません"_s});
}

TEST_F(RecipientEditorTest, AddressMessagesAreShownOneByOne)
{
    const QString doubleByte = u"メールアドレスに2バイト文字が含まれているため追加できません"_s;
    const QString forbidden =
        u"メールアドレスに使用できない文字が含まれているため、追加できません"_s;
    const QString noAt = u"メールアドレスに「@」がありません"_s;
    dialog.Reset();
    ASSERT_TRUE(ShowWindow(&dialog));

    Fill(u"山田"_s, u"yamada(x)@example.jp"_s);
    ClickButton(&dialog, u"ButtonOK"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{forbidden, forbidden}));
    dialogs.Clear();

    Fill(u"山田"_s, u"やまだ"_s);
    ClickButton(&dialog, u"ButtonOK"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{doubleByte, noAt}));
    dialogs.Clear();

    Fill(u"山田"_s, u"yamada example.jp"_s);
    ClickButton(&dialog, u"ButtonOK"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{forbidden, noAt}));
    EXPECT_TRUE(dialog.isVisible());
    for (const ShownBox &box : dialogs.shown)
        EXPECT_EQ(box.kind, ShownBox::Message);
}

TEST_F(RecipientEditorTest, AcceptedValuesComeInRecipientOrder)
{
    dialog.Reset();
    dialog.SetCaptions(u"宛先の追加"_s, u"登録する"_s);
    ASSERT_TRUE(ShowWindow(&dialog));
    EXPECT_EQ(dialog.windowTitle(), u"宛先の追加"_s);
    EXPECT_EQ(Child<QPushButton>(&dialog, u"ButtonOK"_s)->text(), u"登録する"_s);

    Fill(u"山田 太郎"_s, u"taro@example.jp"_s);
    // A typed honorific that is not among the choices.
    auto *honorific = Child<QComboBox>(&dialog, u"CBht"_s);
    TypeText(honorific->lineEdit(), u"社長"_s);
    for (int i = 1; i <= 10; ++i)
        TypeInto(&dialog, u"Edit"_s + QString::number(i), u"差込値"_s + QString::number(i));
    ClickButton(&dialog, u"ButtonOK"_s);
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join(u'\n').toStdString();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    std::vector<std::string> expected = {S("山田 太郎"), S("社長"), "taro@example.jp"};
    for (int i = 1; i <= 10; ++i)
        expected.push_back(S("差込値") + std::to_string(i));
    EXPECT_EQ(
        std::vector<std::string>(dialog.Values().fields.begin(), dialog.Values().fields.end()),
        expected);
}

TEST_F(RecipientEditorTest, AUserDefinedCharacterIsRefusedNamingIt)
{
    dialog.Reset();
    ASSERT_TRUE(ShowWindow(&dialog));
    Fill(u"山田"_s, u"yamada@example.jp"_s);
    // Pasted into merge field 2: the keyboard gives no such character.
    Child<QLineEdit>(&dialog, u"Edit2"_s)->insert(u"支店\uE000"_s);
    ClickButton(&dialog, u"ButtonOK"_s);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_EQ(dialogs.shown[0].text,
              u"「\uE000」(U+E000, Shift_JIS F040) は外字（ユーザー定義文字）のため、受け取った"
              u"人には読めません。この文字を使わずに入力してください。"_s);
    EXPECT_NE(dialog.result(), QDialog::Accepted);
}

TEST_F(RecipientEditorTest, EscapeCancels)
{
    dialog.Reset();
    ASSERT_TRUE(ShowWindow(&dialog));
    Fill(u"x"_s, u"x@y"_s);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialogs.shown.empty());
}

} // namespace
} // namespace vostrel::test
