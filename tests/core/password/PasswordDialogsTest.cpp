// The log-in, first-password and change dialogs, driven offscreen.
#include "RekeyFixture.h"

#include "core/AppState.h"
#include "core/FieldStore.h"
#include "core/Password.h"
#include "core/UnitCreatePass.h"
#include "core/UnitFormConfigProgress.h"
#include "core/UnitLoginPass.h"
#include "core/UnitSoftConfig.h"
#include "support/VostrelTest.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;

template <class T> T *Child(QWidget *w, const char *name)
{
    T *child = w->findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

void Type(QWidget *w, const char *name, const QString &text)
{
    auto *edit = Child<QLineEdit>(w, name);
    edit->clear();
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        QTest::keyClicks(edit, text); // typed key by key
    else
        edit->insert(text); // what an input method would commit
}

void Click(QWidget *w, const char *name)
{
    auto *button = Child<QAbstractButton>(w, name);
    // A check box reacts on its box and caption only, at the left of a wide widget.
    const QPoint at =
        qobject_cast<QCheckBox *>(button) ? QPoint(6, button->height() / 2) : QPoint();
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
}

// What password fields still hold once their dialog has closed: each text
// after taking back the field's last edit (in clear mode, the only one in
// which a field can undo).
QStringList LeftOver(QWidget *w, std::initializer_list<const char *> names)
{
    QStringList texts;
    for (const char *name : names) {
        auto *edit = Child<QLineEdit>(w, name);
        const QLineEdit::EchoMode mode = edit->echoMode();
        edit->setEchoMode(QLineEdit::Normal);
        edit->undo();
        texts << edit->text();
        edit->setEchoMode(mode);
    }
    return texts;
}

// Every password field of the three dialogs hides what is typed.
void ExpectHidden(QWidget *w, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        auto *edit = Child<QLineEdit>(w, name);
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password) << name;
        EXPECT_TRUE(edit->inputMethodHints() & Qt::ImhHiddenText) << name;
        EXPECT_EQ(edit->maxLength(), 20) << name;
    }
}

using PasswordRule = VostrelTest;

TEST_F(PasswordRule, OnlyAsciiLettersAndDigitsPass)
{
    for (const char *ok : {"a", "Z", "0", "abcXYZ0123456789", "", "Tenmar4"})
        EXPECT_TRUE(PasswordRuleAccepts(S(ok))) << ok;
    for (const char *bad : {"pass word", "abc!", "a-b", "ａｂｃ", "１２３", "あいう", "漢字",
                            "ｶﾀｶﾅ", "パス", "a\tb", "Ω"})
        EXPECT_FALSE(PasswordRuleAccepts(S(bad))) << bad;
    EXPECT_EQ(ClassifyCharacters(S("a1")), HalfWidthLetter | HalfWidthPlain);
    EXPECT_EQ(ClassifyCharacters(S("!ｱａ１あア漢")), HalfWidthSymbol | HalfWidthKatakana |
                                                         FullWidthLetter | FullWidthPlain |
                                                         Hiragana | Katakana | Ideograph);
    EXPECT_EQ(ClassifyCharacters(""), 0);
}

class LogInTest : public VostrelTest
{
protected:
    TFormLoginPass form;
};

TEST_F(LogInTest, NoPasswordSetLogsInWithoutADialog)
{
    WriteConfig(std::string(DefaultKey));
    bool shown = false;
    // Had the dialog come up, this closes it again so that the test cannot hang.
    QTimer::singleShot(300, &form, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            shown = true;
            modal->close();
        }
    });
    EXPECT_EQ(LogIn(form), std::optional<std::string>(std::string(DefaultKey)));
    QTest::qWait(400);
    EXPECT_FALSE(shown);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(LogInTest, EmptyThenWrongCaseThenRightPassword)
{
    WriteConfig("Secret9");
    WhenModal(QStringLiteral("TFormLoginPass"), [&](QWidget *w) {
        Click(w, "BtnLogin");
        Type(w, "EditPass", QStringLiteral("secret9"));
        Click(w, "BtnLogin");
        Type(w, "EditPass", QStringLiteral("Secret9"));
        // Enter in the field acts as the OK button.
        QTest::keyClick(Child<QLineEdit>(w, "EditPass"), Qt::Key_Return);
    });
    EXPECT_EQ(LogIn(form), std::optional<std::string>("Secret9"));
    EXPECT_EQ(dialogs.Texts(), QStringList({QStringLiteral("パスワードが未入力です"),
                                            QStringLiteral("パスワードが違います")}));
    // The dialog keeps no password once it has closed.
    EXPECT_EQ(LeftOver(&form, {"EditPass"}), QStringList{QString()});
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Vostrel"));
}

TEST_F(LogInTest, FieldIsClearedOnEveryShowingAndCancelGivesNothing)
{
    WriteConfig("Secret9");
    auto *edit = form.findChild<QLineEdit *>(QStringLiteral("EditPass"));
    edit->setText(QStringLiteral("left over"));
    EXPECT_EQ(edit->maxLength(), 20);
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    QString seen = QStringLiteral("?");
    WhenModal(QStringLiteral("TFormLoginPass"), [&](QWidget *w) {
        seen = Child<QLineEdit>(w, "EditPass")->text();
        Click(w, "BtnCancel");
    });
    EXPECT_EQ(LogIn(form), std::nullopt);
    EXPECT_EQ(seen, QString());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("パスワード入力"));
}

class CreatePassTest : public VostrelTest
{
protected:
    TFormCreatePass form;
};

TEST_F(CreatePassTest, ChecksRunInOrderAndOkWritesThePasswordUnderItself)
{
    dialogs.Answer(false);
    dialogs.Answer(true);
    WhenModal(QStringLiteral("TFormCreatePass"), [&](QWidget *w) {
        Click(w, "BtnConfig"); // both empty
        Type(w, "EditPassNew", QStringLiteral("abc1"));
        Click(w, "BtnConfig"); // confirmation empty
        Type(w, "EditPassNew_Re", QStringLiteral("abc2"));
        Click(w, "BtnConfig"); // mismatch
        Type(w, "EditPassNew", QStringLiteral("ab c"));
        Type(w, "EditPassNew_Re", QStringLiteral("ab c"));
        Click(w, "BtnConfig"); // rule
        Type(w, "EditPassNew", QStringLiteral("Abc123"));
        Type(w, "EditPassNew_Re", QStringLiteral("Abc123"));
        Click(w, "BtnConfig"); // question: No, stays open
        Click(w, "BtnConfig"); // question: Yes
    });
    EXPECT_EQ(CreateFirstPassword(form), std::optional<std::string>("Abc123"));
    EXPECT_EQ(
        dialogs.Texts(),
        QStringList({QStringLiteral("パスワードが未入力です"),
                     QStringLiteral("パスワードが未入力です"),
                     QStringLiteral("パスワードが確認用のパスワードと一致しません"),
                     QStringLiteral("パスワード設定には半角英数字以外使用することはできません"),
                     QStringLiteral("設定します。よろしいですか？"),
                     QStringLiteral("設定します。よろしいですか？")}));
    EXPECT_EQ(dialogs.shown[4].kind, ShownBox::Question);
    EXPECT_TRUE(ConfigHoldsKey("Abc123"));
    // One field: the password encrypted under itself, nothing else.
    EXPECT_EQ(ReadBytes(ConfigPath()).size(), 12u);
    EXPECT_EQ(ReadAllFields(ConfigPath(), "Abc123"), std::vector<std::string>{"Abc123"});
}

TEST_F(CreatePassTest, NoPasswordStillChecksLeftOverTextThenStoresTheFixedKey)
{
    dialogs.Answer(true);
    WhenModal(QStringLiteral("TFormCreatePass"), [&](QWidget *w) {
        Click(w, "CBNotPass");
        EXPECT_TRUE(Child<QLineEdit>(w, "EditPassNew")->isEnabled());
        Type(w, "EditPassNew", QStringLiteral("パス"));
        Click(w, "BtnConfig"); // rule, although no password is wanted
        Child<QLineEdit>(w, "EditPassNew")->clear();
        Click(w, "BtnConfig"); // question: Yes
    });
    EXPECT_EQ(CreateFirstPassword(form), std::optional<std::string>(std::string(DefaultKey)));
    EXPECT_EQ(
        dialogs.Texts(),
        QStringList({QStringLiteral("パスワード設定には半角英数字以外使用することはできません"),
                     QStringLiteral("設定します。よろしいですか？")}));
    EXPECT_TRUE(ConfigHoldsKey(std::string(DefaultKey)));
}

// Enter in a field confirms like the 設定 button: its checks, then its question.
TEST_F(CreatePassTest, EnterConfirmsLikeTheSetButton)
{
    dialogs.Answer(true);
    WhenModal(QStringLiteral("TFormCreatePass"), [&](QWidget *w) {
        Type(w, "EditPassNew", QStringLiteral("Abc123"));
        QTest::keyClick(Child<QLineEdit>(w, "EditPassNew"), Qt::Key_Return); // confirmation empty
        Type(w, "EditPassNew_Re", QStringLiteral("Abc123"));
        QTest::keyClick(Child<QLineEdit>(w, "EditPassNew_Re"), Qt::Key_Enter); // question: Yes
    });
    EXPECT_EQ(CreateFirstPassword(form), std::optional<std::string>("Abc123"));
    EXPECT_EQ(dialogs.Texts(), QStringList({QStringLiteral("パスワードが未入力です"),
                                            QStringLiteral("設定します。よろしいですか？")}));
    EXPECT_TRUE(ConfigHoldsKey("Abc123"));
}

TEST_F(CreatePassTest, CancelCreatesNothingAndLeavesNoPasswordInTheFields)
{
    WhenModal(QStringLiteral("TFormCreatePass"), [&](QWidget *w) {
        Type(w, "EditPassNew", QStringLiteral("gone1"));
        Type(w, "EditPassNew_Re", QStringLiteral("gone1"));
        Click(w, "BtnClose");
    });
    EXPECT_EQ(CreateFirstPassword(form), std::nullopt);
    EXPECT_FALSE(fs::exists(ConfigPath()));
    EXPECT_EQ(LeftOver(&form, {"EditPassNew", "EditPassNew_Re"}), QStringList(2, QString()));
    QString seen = QStringLiteral("?");
    WhenModal(QStringLiteral("TFormCreatePass"), [&](QWidget *w) {
        seen = Child<QLineEdit>(w, "EditPassNew")->text();
        Click(w, "BtnClose");
    });
    EXPECT_EQ(CreateFirstPassword(form), std::nullopt);
    EXPECT_EQ(seen, QString());
}

TEST_F(CreatePassTest, NewPasswordFieldsHideWhatIsTypedAndAreEmptiedByOk)
{
    ExpectHidden(&form, {"EditPassNew", "EditPassNew_Re"});
    dialogs.Answer(true);
    WhenModal(QStringLiteral("TFormCreatePass"), [&](QWidget *w) {
        Type(w, "EditPassNew", QStringLiteral("Abc123"));
        Type(w, "EditPassNew_Re", QStringLiteral("Abc123"));
        Click(w, "BtnConfig");
    });
    EXPECT_EQ(CreateFirstPassword(form), std::optional<std::string>("Abc123"));
    EXPECT_EQ(LeftOver(&form, {"EditPassNew", "EditPassNew_Re"}), QStringList(2, QString()));
    EXPECT_TRUE(ConfigHoldsKey("Abc123"));
}

class ChangePasswordTest : public VostrelTest
{
protected:
    QMainWindow main;
    TFormConfig form{&main};
    TFormConfigProgress progress{&main};
};

TEST_F(ChangePasswordTest, WrongCurrentPasswordThenChecksThenChangeRewritesEverything)
{
    MakeRecords("Old1", 2, 3, 2, 1);
    SetCurrentKey("Old1");
    const FieldSnapshot before = SnapshotRecords("Old1");
    struct Seen
    {
        int position;
        bool mainEnabled, progressEnabled, progressVisible;
    };
    std::vector<Seen> progressSeen;
    QObject::connect(progress.ProgressBar, &QProgressBar::valueChanged, &main, [&](int v) {
        progressSeen.push_back(
            {v, main.isEnabled(), progress.ProgressBar->isEnabled(), progress.isVisible()});
    });
    dialogs.Answer(true);
    WhenModal(QStringLiteral("TFormConfig"), [&](QWidget *w) {
        EXPECT_TRUE(Child<QLineEdit>(w, "EditPassNow")->isEnabled());
        Type(w, "EditPassNow", QStringLiteral("old1"));
        Type(w, "EditPassNew", QStringLiteral("New2"));
        Type(w, "EditPassNew_Re", QStringLiteral("New2"));
        Click(w, "BtnConfig"); // wrong current password (case matters)
        Type(w, "EditPassNow", QStringLiteral("Old1"));
        Type(w, "EditPassNew_Re", QStringLiteral("New3"));
        Click(w, "BtnConfig"); // mismatch
        Type(w, "EditPassNew_Re", QStringLiteral("New2"));
        Click(w, "BtnConfig"); // question: Yes
    });
    ChangePassword(form, progress, &main);
    EXPECT_EQ(dialogs.Texts(),
              QStringList({QStringLiteral("現在のパスワードが違います"),
                           QStringLiteral("パスワードが確認用のパスワードと一致しません"),
                           QStringLiteral("設定を変更します。よろしいですか？"),
                           QStringLiteral("設定を変更しました")}));
    EXPECT_EQ(CurrentKey(), "New2");
    FieldSnapshot after = SnapshotRecords("New2");
    after[ConfigPath()] = before.at(ConfigPath());
    EXPECT_EQ(after, before);
    ASSERT_FALSE(progressSeen.empty());
    EXPECT_EQ(progressSeen.back().position, 4);
    for (const Seen &seen : progressSeen) {
        EXPECT_FALSE(seen.mainEnabled) << "main window enabled at position " << seen.position;
        // The progress window is the one window left enabled: it never paints greyed.
        EXPECT_TRUE(seen.progressEnabled) << seen.position;
        EXPECT_TRUE(seen.progressVisible || seen.position == 1) << seen.position;
    }
    EXPECT_TRUE(main.isEnabled());
    EXPECT_FALSE(progress.isVisible());
    EXPECT_EQ(progress.lblProgress->text(), QStringLiteral("新しいパスワードで暗号化しています。"));
}

TEST_F(ChangePasswordTest, PasswordFieldsHideWhatIsTypedAndAreEmptiedWhenTheDialogCloses)
{
    const std::initializer_list<const char *> fields = {"EditPassNow", "EditPassNew",
                                                        "EditPassNew_Re"};
    ExpectHidden(&form, fields);
    MakeRecords("Old1", 1, 1, 1, 1);
    SetCurrentKey("Old1");
    // Closed without a change.
    WhenModal(QStringLiteral("TFormConfig"), [&](QWidget *w) {
        Type(w, "EditPassNow", QStringLiteral("Old1"));
        Type(w, "EditPassNew", QStringLiteral("New2"));
        Type(w, "EditPassNew_Re", QStringLiteral("New2"));
        Click(w, "BtnClose");
    });
    ChangePassword(form, progress, &main);
    EXPECT_EQ(LeftOver(&form, fields), QStringList(3, QString()));
    EXPECT_EQ(CurrentKey(), "Old1");
    // Closed by the change.
    dialogs.Answer(true);
    WhenModal(QStringLiteral("TFormConfig"), [&](QWidget *w) {
        Type(w, "EditPassNow", QStringLiteral("Old1"));
        Type(w, "EditPassNew", QStringLiteral("New2"));
        Type(w, "EditPassNew_Re", QStringLiteral("New2"));
        Click(w, "BtnConfig");
    });
    ChangePassword(form, progress, &main);
    EXPECT_EQ(LeftOver(&form, fields), QStringList(3, QString()));
    EXPECT_EQ(CurrentKey(), "New2");
    EXPECT_TRUE(ConfigHoldsKey("New2"));
}

TEST_F(ChangePasswordTest, ToNoPasswordDisablesTheCurrentFieldNextTime)
{
    MakeRecords("Old1", 1, 1, 1, 1);
    SetCurrentKey("Old1");
    dialogs.Answer(true);
    WhenModal(QStringLiteral("TFormConfig"), [&](QWidget *w) {
        Type(w, "EditPassNow", QStringLiteral("Old1"));
        Click(w, "CBNotPass");
        EXPECT_FALSE(Child<QLineEdit>(w, "EditPassNew")->isEnabled());
        EXPECT_FALSE(Child<QLineEdit>(w, "EditPassNew_Re")->isEnabled());
        Click(w, "BtnConfig");
    });
    ChangePassword(form, progress, &main);
    EXPECT_EQ(CurrentKey(), DefaultKey);
    EXPECT_TRUE(ConfigHoldsKey(std::string(DefaultKey)));

    // Next time there is no current password to type; the dialog starts afresh.
    bool currentEnabled = true, noPassChecked = true, newEnabled = false;
    WhenModal(QStringLiteral("TFormConfig"), [&](QWidget *w) {
        currentEnabled = Child<QLineEdit>(w, "EditPassNow")->isEnabled();
        noPassChecked = Child<QCheckBox>(w, "CBNotPass")->isChecked();
        newEnabled = Child<QLineEdit>(w, "EditPassNew")->isEnabled();
        Click(w, "BtnClose");
    });
    ChangePassword(form, progress, &main);
    EXPECT_FALSE(currentEnabled);
    EXPECT_FALSE(noPassChecked);
    EXPECT_TRUE(newEnabled);
    EXPECT_EQ(dialogs.Texts().size(), 2); // the question and the done message only
}

TEST_F(ChangePasswordTest, LeftOverTextWithNoPasswordCanBlockTheChange)
{
    WriteConfig(std::string(DefaultKey));
    WhenModal(QStringLiteral("TFormConfig"), [&](QWidget *w) {
        Type(w, "EditPassNew", QStringLiteral("ab#"));
        Click(w, "CBNotPass");
        Click(w, "BtnConfig");
        Click(w, "BtnClose");
    });
    ChangePassword(form, progress, &main);
    EXPECT_EQ(
        dialogs.Texts(),
        QStringList({QStringLiteral("パスワード設定には半角英数字以外使用することはできません")}));
    EXPECT_EQ(CurrentKey(), DefaultKey);
}

TEST_F(ChangePasswordTest, AFailedChangeRestoresTheWindowsAndKeepsTheOldKey)
{
    MakeRecords("Old1", 1, 1, 1, 1);
    SetCurrentKey("Old1");
    // A list that cannot be read: cut inside its first field.
    WriteBytes(DataFolder() / "Receivers" / "broken.vsl",
               std::string("\x10\x00\x00\x00\x01\x02", 6));
    dialogs.Answer(true);
    WhenModal(QStringLiteral("TFormConfig"), [&](QWidget *w) {
        Type(w, "EditPassNow", QStringLiteral("Old1"));
        Type(w, "EditPassNew", QStringLiteral("New2"));
        Type(w, "EditPassNew_Re", QStringLiteral("New2"));
        Click(w, "BtnConfig");
    });
    EXPECT_ANY_THROW(ChangePassword(form, progress, &main));
    EXPECT_TRUE(main.isEnabled());
    EXPECT_FALSE(progress.isVisible());
    EXPECT_EQ(CurrentKey(), "Old1");
    EXPECT_TRUE(ConfigHoldsKey("Old1"));
    EXPECT_EQ(dialogs.Texts(), QStringList({QStringLiteral("設定を変更します。よろしいですか？")}));
}

} // namespace
} // namespace vostrel::test
