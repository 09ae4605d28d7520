// Qt's own texts in Japanese: the buttons of a question as the program shows
// it, the attachment dialog, and the context menus of the text fields and of
// the HTML source editor.
#include "app/VostrelApp.h"
#include "compose/QsciEditor.h"
#include "compose/UnitMailMake.h"
#include "core/DialogService.h"
#include "core/UiHelpers.h"
#include "support/VostrelTest.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <memory>

namespace vostrel::test {
namespace {

using namespace Qt::Literals::StringLiterals;

// A caption without its mnemonic: "はい(&Y)" and "&Yes" alike.
QString WithoutMnemonic(QString caption)
{
    caption.remove(QRegularExpression(u"\\(&.\\)"_s));
    caption.remove(u'&');
    return caption;
}

// The captions of the actions of a menu, without separators and mnemonics.
QStringList ActionTexts(const QMenu &menu)
{
    QStringList texts;
    for (const QAction *action : menu.actions())
        if (!action->isSeparator())
            texts << WithoutMnemonic(action->text()).section(u'\t', 0, 0);
    return texts;
}

bool HasJapanese(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x3000)
            return true;
    return false;
}

class QtTextsTest : public VostrelTest
{
protected:
    void SetUp() override
    {
        VostrelTest::SetUp();
        loaded = UseJapaneseQtTexts();
    }
    QStringList loaded;
};

TEST_F(QtTextsTest, TheCataloguesOfQtsTranslationFolderAreLoadedOnce)
{
    // Debian ships no qscintilla_ja: a missing catalogue is skipped.
    EXPECT_TRUE(loaded.contains(u"qtbase_ja"_s)) << loaded.join(u' ').toStdString();
    EXPECT_EQ(UseJapaneseQtTexts(), loaded);
}

// The real message box of a question, as every Yes/No question shows it.
TEST_F(QtTextsTest, AQuestionsButtonsReadHaiAndIie)
{
    SetDialogService(nullptr);
    QStringList captions;
    QString text;
    WhenModal(u"QuestionBox"_s, [&](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        ASSERT_NE(box, nullptr);
        text = box->text();
        for (QAbstractButton *button : box->buttons())
            captions << WithoutMnemonic(button->text());
        box->button(QMessageBox::No)->click();
    });
    const QString question =
        u"HTMLモードに切り替える場合、テキストモードで入力した内容は失われます。よろしいですか？"_s;
    EXPECT_FALSE(AskYesNo(nullptr, question));
    EXPECT_EQ(text, question);
    captions.sort();
    EXPECT_EQ(captions, (QStringList{u"いいえ"_s, u"はい"_s}));
}

// The compose window's attachment dialog: its buttons and labels.
TEST_F(QtTextsTest, TheOpenFileDialogSpeaksJapanese)
{
    TVostrelApp app;
    QStringList buttons;
    QStringList labels;
    WhenModal(u"OpenDialog"_s, [&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        ASSERT_NE(dialog, nullptr);
        auto *box = dialog->findChild<QDialogButtonBox *>();
        ASSERT_NE(box, nullptr);
        for (QAbstractButton *button : box->buttons())
            buttons << WithoutMnemonic(button->text());
        for (const char *name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
            labels << dialog->findChild<QLabel *>(QString::fromLatin1(name))->text();
        dialog->reject();
    });
    app.MailMake().AddAttachment();
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{u"キャンセル"_s, u"開く"_s}));
    ASSERT_EQ(labels.size(), 3);
    for (const QString &label : labels)
        EXPECT_TRUE(HasJapanese(label)) << label.toStdString();
    EXPECT_TRUE(app.MailMake().Draft().attachments.empty());
}

// The right-click menu of a text field, and the same words in the HTML
// source editor's menu.
TEST_F(QtTextsTest, TheEditMenusOfTextFieldsAndTheSourceEditorSpeakJapanese)
{
    QLineEdit edit;
    const std::unique_ptr<QMenu> editMenu(edit.createStandardContextMenu());
    const QStringList editTexts = ActionTexts(*editMenu);
    ASSERT_GE(editTexts.size(), 7);
    for (const QString &text : editTexts)
        EXPECT_TRUE(HasJapanese(text)) << text.toStdString();
    EXPECT_TRUE(editTexts.contains(u"コピー"_s)) << editTexts.join(u' ').toStdString();
    EXPECT_TRUE(editTexts.contains(u"貼り付け"_s)) << editTexts.join(u' ').toStdString();

    QsciScintilla source;
    const std::unique_ptr<QMenu> sourceMenu(source.createStandardContextMenu());
    const QStringList sourceTexts = ActionTexts(*sourceMenu);
    ASSERT_EQ(sourceTexts.size(), 7);
    for (const QString &text : sourceTexts)
        EXPECT_TRUE(editTexts.contains(text)) << text.toStdString();
}

} // namespace
} // namespace vostrel::test
