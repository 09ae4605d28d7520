// The main window's side of composing: the kept-draft question before the
// compose window opens, the refresh after it closes, and the exit.
#include "../destinations/WindowDriver.h"
#include "ComposeDriver.h"

#include "app/VostrelApp.h"
#include "compose/DraftFiles.h"
#include "compose/UnitMailMakeMsg_Show.h"
#include "core/AppState.h"
#include "core/Password.h"
#include "history/UnitMain.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

class ComposeFromMainTest : public ComposeTest
{
protected:
    void SetUp() override
    {
        ComposeTest::SetUp();
        question = std::make_unique<TFormMailMakeMsg_Show>();
    }
    void TearDown() override
    {
        question.reset();
        ComposeTest::TearDown();
    }

    // The new-mail command; action runs on the compose window once it shows.
    void NewMail(std::function<void(QWidget *)> action)
    {
        bool opened = false;
        WhenModal(u"TFormMailMake"_s, [&](QWidget *w) {
            opened = true;
            action(w);
        });
        OpenComposeFromMain(*question, *closeQuestion, *form);
        EXPECT_TRUE(opened);
        EXPECT_FALSE(form->isVisible());
    }

    // Closes the shown compose window keeping its draft or not.
    static void CloseWindow(QWidget *w, bool keep)
    {
        WhenModal(u"TFormMailMakeMsg_Close"_s, [keep](QWidget *q) {
            q->findChild<QAbstractButton *>(u"CBMailMakeDataFlg"_s)->setChecked(keep);
            QTest::mouseClick(q->findChild<QAbstractButton *>(u"BtnOk"_s), Qt::LeftButton);
        });
        QTest::mouseClick(w->findChild<QAbstractButton *>(u"PNGBtnClose"_s), Qt::LeftButton);
    }

    // Answers the kept-draft question with the button named; records it.
    void AnswerQuestion(const QString &button)
    {
        WhenModal(u"TFormMailMakeMsg_Show"_s, [this, button](QWidget *w) {
            asked = true;
            EXPECT_EQ(w->windowTitle(), u"メール作成"_s);
            EXPECT_FALSE(w->windowFlags() & Qt::WindowCloseButtonHint);
            EXPECT_EQ(w->findChild<QPushButton *>(u"BtnEditOpen"_s)->text(),
                      u"編集中のメール内容を開く"_s);
            EXPECT_EQ(w->findChild<QPushButton *>(u"BtnNewMail"_s)->text(), u"新規作成"_s);
            // Neither Escape nor the window's close answers it.
            QTest::keyClick(w, Qt::Key_Escape);
            w->close();
            EXPECT_TRUE(w->isVisible());
            QTest::mouseClick(w->findChild<QAbstractButton *>(button), Qt::LeftButton);
        });
    }

    std::unique_ptr<TFormMailMakeMsg_Show> question;
    bool asked = false;
};

TEST_F(ComposeFromMainTest, AKeptDraftIsOfferedAndNewMailDropsIt)
{
    NewMail([](QWidget *w) {
        QTest::keyClicks(w->findChild<QPlainTextEdit *>(u"MemoMailText"_s), u"draft"_s);
        CloseWindow(w, true);
    });
    EXPECT_FALSE(asked); // nothing was kept before

    AnswerQuestion(u"BtnEditOpen"_s);
    NewMail([](QWidget *w) {
        EXPECT_EQ(w->findChild<QPlainTextEdit *>(u"MemoMailText"_s)->toPlainText(), u"draft"_s);
        CloseWindow(w, true);
    });
    EXPECT_TRUE(asked);
    EXPECT_TRUE(closeQuestion->KeepDraft());

    asked = false;
    AnswerQuestion(u"BtnNewMail"_s);
    NewMail([](QWidget *w) {
        EXPECT_TRUE(w->findChild<QPlainTextEdit *>(u"MemoMailText"_s)->toPlainText().isEmpty());
        CloseWindow(w, false);
    });
    EXPECT_TRUE(asked);
    EXPECT_FALSE(closeQuestion->KeepDraft());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ComposeFromMainTest, TheMainWindowOpensComposingRefreshesAndDiscardsTheDraftAtExit)
{
    WriteConfig(std::string(DefaultKey));
    WriteBytes(TempDir() / "note.txt", "attached");
    TVostrelApp app;
    app.Start();
    QTRY_VERIFY_WITH_TIMEOUT(app.Main().FirstShowDone(), 5000);
    auto *button = app.Main().findChild<QToolButton *>(u"PNGBtnMailMake"_s);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), u"新規メール作成"_s);
    EXPECT_FALSE(button->icon().isNull());
    auto *menuItem = app.Main().findChild<QAction *>(u"MenuItemMailMake"_s);
    ASSERT_NE(menuItem, nullptr);
    EXPECT_EQ(menuItem->text(), u"新規メールを作成(&M)"_s);
    auto *senders = app.Main().findChild<QTreeWidget *>(u"ListViewItemBox"_s);
    ASSERT_EQ(senders->topLevelItemCount(), 1);

    // Through the button: attach a file and keep the draft; a sender added
    // meanwhile is listed afterwards.
    WhenModal(u"TFormMailMake"_s, [&](QWidget *w) {
        WriteBytes(DataFolder() / "Senders" / "added.vsl", "");
        ChooseFile(u"OpenDialog"_s, TempDir() / "note.txt");
        QTest::mouseClick(w->findChild<QAbstractButton *>(u"PNGBtnAppended"_s), Qt::LeftButton);
        CloseWindow(w, true);
    });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(fs::exists(AttachmentFolder() / "note.txt"));
    ASSERT_EQ(senders->topLevelItemCount(), 2);
    EXPECT_EQ(senders->currentItem(), senders->topLevelItem(0));

    // Through the menu: the kept draft is offered.
    bool offered = false;
    WhenModal(u"TFormMailMakeMsg_Show"_s, [&](QWidget *w) {
        offered = true;
        WhenModal(u"TFormMailMake"_s, [](QWidget *c) { CloseWindow(c, true); });
        QTest::mouseClick(w->findChild<QAbstractButton *>(u"BtnEditOpen"_s), Qt::LeftButton);
    });
    menuItem->trigger();
    EXPECT_TRUE(offered);

    // Exit: asked once; No keeps everything, Yes discards the draft's files.
    const QString exitQuestion = u"メール作成画面に編集中のメール内容があります。ソフト終了時に"
                                 u"編集中のメール内容は失われますがよろしいですか？"_s;
    dialogs.Answer(false);
    EXPECT_FALSE(app.Main().close());
    EXPECT_TRUE(fs::exists(AttachmentFolder() / "note.txt"));
    dialogs.Answer(true);
    EXPECT_TRUE(app.Main().close());
    EXPECT_FALSE(fs::exists(AttachmentFolder() / "note.txt"));
    EXPECT_EQ(dialogs.Texts(), (QStringList{exitQuestion, exitQuestion}));
}

} // namespace
} // namespace vostrel::test
