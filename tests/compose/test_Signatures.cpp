// The five signature files, the signature editor and the signature menu of
// the compose window.
#include "../destinations/WindowDriver.h"
#include "AuthoringDriver.h"

#include "compose/QsciEditor.h"
#include "compose/Signatures.h"
#include "core/AppState.h"
#include "core/Errors.h"
#include "core/SjisCodec.h"

#include <QCursor>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTest>
#include <QTextCursor>
#include <array>
#include <filesystem>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

const QString kSaveQuestion = u"編集中の署名を保存します。よろしいですか？"_s;
const QString kUnset = u"署名が設定されていません"_s;

std::array<std::string, kSignatureCount> StoredFiles()
{
    std::array<std::string, kSignatureCount> files;
    for (int slot = 1; slot <= kSignatureCount; ++slot)
        files[slot - 1] = ReadBytes(SignatureFile(slot));
    return files;
}

// ---- Files ----

using SignatureFilesTest = VostrelTest;

TEST_F(SignatureFilesTest, FiveEmptyPlainFilesExistAfterStartUp)
{
    for (int slot = 1; slot <= kSignatureCount; ++slot) {
        EXPECT_EQ(SignatureFile(slot),
                  DataFolder() / "Signature" / ("sig0" + std::to_string(slot) + ".dat"));
        EXPECT_TRUE(fs::exists(SignatureFile(slot)));
        EXPECT_EQ(ReadSignature(slot), "");
    }
}

TEST_F(SignatureFilesTest, SavingWritesShiftJisLinesEachEndingInCrLf)
{
    SignatureTexts texts;
    texts[0] = S("山田太郎\n電話 03-0000-0000");
    texts[1] = S("一行\r\n");
    texts[3] = S("a\rb\n\nc");
    SaveSignatures(texts);
    EXPECT_EQ(StoredFiles(),
              (std::array<std::string, 5>{S("山田太郎\r\n電話 03-0000-0000\r\n"), S("一行\r\n"), "",
                                          "a\r\nb\r\n\r\nc\r\n", ""}));
    EXPECT_EQ(ReadSignature(1), S("山田太郎\r\n電話 03-0000-0000\r\n"));
}

TEST_F(SignatureFilesTest, AFileThatIsNotShiftJisTextIsRefusedNamingIt)
{
    struct Case
    {
        const char *what;
        std::string bytes;
    };
    const Case cases[] = {
        {"UTF-8 kana and kanji", "山田です\r\n"},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBFYamada\r\n"},
        {"bytes that are no Shift_JIS", "\x82\r\n"},
        {"a lone trail byte pair", "abc\x81\x20"},
    };
    for (const Case &c : cases) {
        WriteBytes(SignatureFile(2), c.bytes);
        try {
            ReadSignature(2);
            ADD_FAILURE() << c.what << " was read";
        } catch (const FileError &e) {
            EXPECT_EQ(e.File(), SignatureFile(2)) << c.what;
            EXPECT_NE(std::string(e.what()).find(SignatureFile(2).string()), std::string::npos);
            EXPECT_NE(std::string(e.what()).find("Shift_JIS"), std::string::npos);
        }
    }
    // Shift_JIS with kana and half-width kana, and plain ASCII, read as they are.
    for (const std::string &good : {S("山田です\r\nｶﾅ\r\n"), std::string("Yamada\r\n")}) {
        WriteBytes(SignatureFile(2), good);
        EXPECT_EQ(ReadSignature(2), good);
    }
}

TEST_F(SignatureFilesTest, ValidShiftJisIsTakenAlsoWhenItIsValidUtf8)
{
    // Half-width kana whose bytes are valid UTF-8 as well (з and è).
    const std::string kana = S("ﾐｷ\r\nﾃｨ\r\n");
    ASSERT_TRUE(IsValidUtf8(kana));
    WriteBytes(SignatureFile(1), kana);
    EXPECT_EQ(ReadSignature(1), kana);

    // UTF-8 kana whose bytes are valid Shift_JIS as well are refused, not
    // shown as 縺薙ｓ縺ｫ縺｡縺ｯ.
    WriteBytes(SignatureFile(2), "こんにちは\r\n");
    try {
        ReadSignature(2);
        ADD_FAILURE() << "read";
    } catch (const FileError &e) {
        EXPECT_NE(std::string(e.what()).find("Shift_JIS"), std::string::npos) << e.what();
    }
}

TEST_F(SignatureFilesTest, AUserDefinedCharacterIsRefusedNamingLineAndCharacter)
{
    WriteBytes(SignatureFile(4), S("山田\r\n外字") + "\xF0\x40\r\n");
    try {
        ReadSignature(4);
        ADD_FAILURE() << "read";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), SignatureFile(4));
        EXPECT_EQ(
            std::string(e.what()),
            "ファイルを読み込めませんでした: " + SignatureFile(4).string() +
                "\n2 行目の「\uE000」(U+E000, Shift_JIS F040) は外字（ユーザー定義文字）のため"
                "、受け取った人には読めません。");
    }
}

// ---- The editor ----

class SignatureEditTest : public AuthoringTest
{
protected:
    // Opens the editor from the signature menu and runs action on it.
    void WithEditor(std::function<void(QWidget *)> action)
    {
        bool shown = false;
        WhenModal(u"TFormSignatureEdit"_s, [&](QWidget *w) {
            shown = true;
            action(w);
        });
        ChooseFromMenu(u"N7"_s);
        EXPECT_TRUE(shown);
    }
    // Clicks the signature button and the menu entry.
    void ChooseFromMenu(const QString &entry)
    {
        bool chosen = false;
        WhenPopup(u"PopupMenuSignature"_s, [&](QMenu *menu) {
            ClickEntry(menu, entry);
            chosen = true;
        });
        Click(u"PNGBtnSignature"_s);
        QTRY_VERIFY(chosen);
        QTest::qWait(0);
    }
    static QTabBar *Tabs(QWidget *w) { return Child<QTabBar>(w, u"TabControlSig"_s); }
    static QPlainTextEdit *EditorMemo(QWidget *w) { return Child<QPlainTextEdit>(w, u"Memo"_s); }
    static void Type(QWidget *w, const QString &text)
    {
        QPlainTextEdit *memo = EditorMemo(w);
        memo->moveCursor(QTextCursor::End);
        memo->insertPlainText(text);
    }
    void StoreSignatures(const std::array<const char *, 5> &utf8)
    {
        for (int slot = 1; slot <= kSignatureCount; ++slot)
            WriteBytes(SignatureFile(slot), S(utf8[slot - 1]));
    }
};

TEST_F(SignatureEditTest, TheMenuOpensAtTheMousePointerWithItsEntries)
{
    Open();
    const QPoint at = form->mapToGlobal(QPoint(40, 40));
    QCursor::setPos(at);
    QStringList entries;
    QPoint shownAt;
    WhenPopup(u"PopupMenuSignature"_s, [&](QMenu *menu) {
        shownAt = menu->pos();
        for (QAction *entry : menu->actions())
            entries << entry->objectName() + u"="_s +
                           (entry->isSeparator() ? u"-"_s : entry->text());
        menu->close();
    });
    Click(u"PNGBtnSignature"_s);
    QTRY_VERIFY(!entries.isEmpty());
    EXPECT_EQ(entries, (QStringList{u"N1=署名１(&A)"_s, u"N2=署名２(&B)"_s, u"N3=署名３(&C)"_s,
                                    u"N4=署名４(&D)"_s, u"N5=署名５(&E)"_s, u"N6=-"_s,
                                    u"N7=署名の編集(&S)"_s}));
    EXPECT_EQ(shownAt, at);
}

TEST_F(SignatureEditTest, EditsInTwoTabsAreSavedTogether)
{
    StoreSignatures({"one", "two\r\n", "three\r\n", "", "五\r\n"});
    const auto before = StoredFiles();
    Open();
    dialogs.Answer(true);
    WithEditor([&](QWidget *w) {
        EXPECT_EQ(w->windowTitle(), u"署名の編集"_s);
        ASSERT_EQ(Tabs(w)->count(), 5);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(Tabs(w)->tabText(i), u"署名"_s + QChar(u'１' + i));
        EXPECT_EQ(Tabs(w)->currentIndex(), 0);
        EXPECT_EQ(EditorMemo(w)->toPlainText(), u"one"_s);
        Type(w, u" more\n山田"_s);
        Tabs(w)->setCurrentIndex(2);
        EXPECT_EQ(EditorMemo(w)->toPlainText(), u"three\n"_s);
        Type(w, u"3行目"_s);
        Tabs(w)->setCurrentIndex(0);
        EXPECT_EQ(EditorMemo(w)->toPlainText(), u"one more\n山田"_s);
        ClickButton(w, u"BtnSave"_s);
        EXPECT_FALSE(w->isVisible());
    });
    EXPECT_EQ(dialogs.Texts(), QStringList{kSaveQuestion});
    const auto after = StoredFiles();
    EXPECT_EQ(after[0], S("one more\r\n山田\r\n"));
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(after[2], S("three\r\n3行目\r\n"));
    EXPECT_EQ(after[3], before[3]);
    EXPECT_EQ(after[4], before[4]);
}

TEST_F(SignatureEditTest, ClosingDropsTheEditsAndReopeningShowsTheStoredTextsOnTheLastTab)
{
    StoreSignatures({"one\r\n", "two\r\n", "", "", ""});
    const auto before = StoredFiles();
    Open();
    WithEditor([](QWidget *w) {
        Type(w, u"changed"_s);
        Tabs(w)->setCurrentIndex(1);
        Type(w, u"changed"_s);
        ClickButton(w, u"BtnClose"_s);
        EXPECT_FALSE(w->isVisible());
    });
    EXPECT_EQ(StoredFiles(), before);
    // Escape (another way to close) drops the edits as well.
    WithEditor([](QWidget *w) {
        EXPECT_EQ(Tabs(w)->currentIndex(), 1);
        EXPECT_EQ(EditorMemo(w)->toPlainText(), u"two\n"_s);
        Type(w, u"again"_s);
        QTest::keyClick(w, Qt::Key_Escape);
        EXPECT_FALSE(w->isVisible());
    });
    EXPECT_EQ(StoredFiles(), before);
    WithEditor([](QWidget *w) {
        EXPECT_EQ(EditorMemo(w)->toPlainText(), u"two\n"_s);
        Tabs(w)->setCurrentIndex(0);
        EXPECT_EQ(EditorMemo(w)->toPlainText(), u"one\n"_s);
        ClickButton(w, u"BtnClose"_s);
    });
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(SignatureEditTest, AnsweringNoKeepsTheEditorOpenWithTheEdits)
{
    Open();
    dialogs.Answer(false);
    dialogs.Answer(true);
    WithEditor([](QWidget *w) {
        Type(w, u"kept"_s);
        ClickButton(w, u"BtnSave"_s);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(EditorMemo(w)->toPlainText(), u"kept"_s);
        EXPECT_EQ(ReadBytes(SignatureFile(1)), "");
        ClickButton(w, u"BtnSave"_s);
        EXPECT_FALSE(w->isVisible());
    });
    EXPECT_EQ(ReadBytes(SignatureFile(1)), "kept\r\n");
    EXPECT_EQ(dialogs.Texts(), (QStringList{kSaveQuestion, kSaveQuestion}));
}

TEST_F(SignatureEditTest, ACharacterThatCannotBeStoredSavesNothing)
{
    StoreSignatures({"one\r\n", "", "", "", ""});
    const auto before = StoredFiles();
    Open();
    dialogs.Answer(true);
    WithEditor([](QWidget *w) {
        Type(w, u"ok"_s);
        Tabs(w)->setCurrentIndex(3);
        Type(w, u"smile 😀"_s);
        Tabs(w)->setCurrentIndex(0);
        ClickButton(w, u"BtnSave"_s);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(Tabs(w)->currentIndex(), 3); // the signature that cannot be stored
        ClickButton(w, u"BtnClose"_s);
    });
    EXPECT_EQ(StoredFiles(), before);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_TRUE(dialogs.shown[1].text.startsWith(u"署名４を保存できません。\n"_s));
    EXPECT_TRUE(dialogs.shown[1].text.contains(u"😀"_s));
}

TEST_F(SignatureEditTest, AnUnreadableFileIsNamedAndTheEditorDoesNotOpen)
{
    WriteBytes(SignatureFile(3), "UTF-8 の署名\r\n");
    Open();
    ChooseFromMenu(u"N7"_s);
    EXPECT_FALSE(signatureEdit->isVisible());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QString::fromStdString(SignatureFile(3).string())));

    // Inserting it is refused the same way, and nothing goes in.
    dialogs.Clear();
    Memo()->setFocus();
    ChooseFromMenu(u"N3"_s);
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QString::fromStdString(SignatureFile(3).string())));
}

// ---- Inserting ----

TEST_F(SignatureEditTest, TwoLinesGoIntoTheTextMemoEndingInALineBreak)
{
    StoreSignatures({"", "山田太郎\r\nyamada@example.jp", "", "", ""});
    Open();
    Memo()->setFocus();
    QTest::keyClicks(Memo(), u"Body"_s);
    QTest::keyClick(Memo(), Qt::Key_Return);
    ChooseFromMenu(u"N2"_s);
    EXPECT_EQ(Memo()->toPlainText(), u"Body\n山田太郎\nyamada@example.jp\n"_s);
    EXPECT_EQ(form->Draft().textBody, S("Body\r\n山田太郎\r\nyamada@example.jp\r\n"));
    // The memo keeps the focus (the window itself is active again once the
    // menu has closed, which an offscreen run does not always do).
    EXPECT_EQ(form->focusWidget(), Memo());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(SignatureEditTest, InTheSourceEditorTheSignatureReplacesTheSelectionAsOneEdit)
{
    StoreSignatures({"--\r\n<#-送信先名->様\r\n", "", "", "", ""});
    OpenHtml(u"<p>SIG</p>"_s);
    Syn()->setFocus();
    Syn()->setSelection(0, 3, 0, 6);
    ChooseFromMenu(u"N1"_s);
    EXPECT_EQ(Syn()->text(), u"<p>--\r\n<#-送信先名->様\r\n</p>"_s);
    EXPECT_TRUE(form->State().draftEdited);
    EXPECT_EQ(form->focusWidget(), Syn());
    Syn()->undo();
    EXPECT_EQ(Syn()->text(), u"<p>SIG</p>"_s);
}

TEST_F(SignatureEditTest, AnEmptySlotIsReportedAndChangesNothing)
{
    Open();
    Memo()->setFocus();
    ChooseFromMenu(u"N4"_s);
    EXPECT_EQ(dialogs.Texts(), QStringList{kUnset});
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    EXPECT_FALSE(form->State().draftEdited);
}

TEST_F(SignatureEditTest, WithTheSubjectOrTheWrongPagesEditorFocusedNothingHappens)
{
    StoreSignatures({"sig", "", "", "", ""});
    Open();
    Edit(u"EditTitle"_s)->setFocus();
    ChooseFromMenu(u"N1"_s);
    EXPECT_TRUE(Edit(u"EditTitle"_s)->text().isEmpty());
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    // The memo focused while the HTML page is shown.
    ClickPage(ComposePage::Html);
    const QString source = Syn()->text();
    Memo()->setFocus();
    ChooseFromMenu(u"N1"_s);
    EXPECT_EQ(Syn()->text(), source);
    EXPECT_FALSE(form->State().draftEdited);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(SignatureEditTest, ASavedSignatureIsAvailableAtOnce)
{
    Open();
    dialogs.Answer(true);
    WithEditor([](QWidget *w) {
        Tabs(w)->setCurrentIndex(4);
        Type(w, u"新しい署名"_s);
        ClickButton(w, u"BtnSave"_s);
    });
    Memo()->setFocus();
    ChooseFromMenu(u"N5"_s);
    EXPECT_EQ(Memo()->toPlainText(), u"新しい署名\n"_s);
    // And the file changed behind the program's back is read afresh.
    WriteBytes(SignatureFile(5), S("別の署名\r\n"));
    ChooseFromMenu(u"N5"_s);
    EXPECT_EQ(Memo()->toPlainText(), u"新しい署名\n別の署名\n"_s);
    EXPECT_EQ(dialogs.Texts(), QStringList{kSaveQuestion});
}

} // namespace
} // namespace vostrel::test
