// Start-up: the data folder, the password step and the close request.
#include "app/VostrelApp.h"
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/Password.h"
#include "core/UnitCreatePass.h"
#include "destinations/DestinationStore.h"
#include "history/UnitMain.h"
#include "send/SendJournal.h"
#include "send/SendLog.h"
#include "senders/SenderAccount.h"
#include "support/VostrelTest.h"

#include <QAbstractButton>
#include <QDialog>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;

class StartupTest : public VostrelTest
{
protected:
    void SetUp() override
    {
        VostrelTest::SetUp();
        // Start from nothing: the fixture prepared a data folder; remove it all.
        fs::remove_all(DataFolder().parent_path().parent_path());
        SetDataFolder({});
    }
    fs::path Data() const { return DefaultDataFolder(); }
};

TEST_F(StartupTest, FirstStartMakesTheFoldersAndCancellingThePasswordEndsWithNoConfig)
{
    TVostrelApp app;
    EXPECT_EQ(DataFolder(), Data());
    for (const char *folder : {"", "Logs", "Signature", "Senders", "Receivers", "work",
                               "work/AppendedImage", "work/HtmlImage"}) {
        struct stat st
        {};
        ASSERT_EQ(::stat((Data() / folder).c_str(), &st), 0) << folder;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
    for (int i = 1; i <= 5; ++i) {
        const fs::path sig = Data() / "Signature" / ("sig0" + std::to_string(i) + ".dat");
        ASSERT_TRUE(fs::exists(sig));
        EXPECT_EQ(fs::file_size(sig), 0u);
    }
    EXPECT_FALSE(fs::exists(Data() / "config.dat"));
    EXPECT_EQ(app.Main().windowTitle(), QStringLiteral("Vostrel"));
    EXPECT_EQ(app.Main().objectName(), QStringLiteral("TFormMain"));

    QSignalSpy terminate(&app, &TVostrelApp::TerminateRequested);
    bool asked = false;
    WhenModal(QStringLiteral("TFormCreatePass"), [&](QWidget *w) {
        asked = true;
        QTest::mouseClick(w->findChild<QAbstractButton *>(QStringLiteral("BtnClose")),
                          Qt::LeftButton);
    });
    app.Start();
    ASSERT_TRUE(terminate.wait(10000));
    EXPECT_TRUE(asked);
    EXPECT_FALSE(app.Main().FirstShowDone());
    EXPECT_FALSE(fs::exists(Data() / "config.dat"));
}

// A restore stopped between moving the live Senders away and moving the
// restored one in is finished before the folders are made again; the plain
// work pages and the draft's copies are removed and wider modes set back, all
// before the log-in.
TEST_F(StartupTest, TheStartFinishesAStoppedRestoreThenTidiesTheDataFolder)
{
    PrepareDataFolder(Data());
    SetDataFolder(Data());
    WriteBytes(Data() / "Senders" / "old.vsl", "old");
    const fs::path staging = Data() / "restore-staging";
    fs::create_directories(staging / "new" / "Senders");
    fs::create_directories(staging / "old");
    WriteBytes(staging / "new" / "Senders" / "restored.vsl", "restored");
    fs::rename(Data() / "Senders", staging / "old" / "Senders");
    WriteBytes(staging / "commit", "VOSTREL-RESTORE 1\nSenders\nEND\n");
    for (const char *page : {"History_work.html", "Preview_work.html"})
        WriteBytes(Data() / "work" / page, "<p>values</p>");
    WriteBytes(Data() / "work" / "HtmlImage" / "image1.png", "png");
    ::chmod(Data().c_str(), 0755);
    ::chmod((Data() / "Logs").c_str(), 0777);

    TVostrelApp app;
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join(u'\n').toStdString();
    EXPECT_EQ(ListVslNames(Data() / "Senders"), std::vector<std::string>{"restored"});
    EXPECT_FALSE(fs::exists(staging));
    for (const char *page : {"History_work.html", "Preview_work.html"})
        EXPECT_FALSE(fs::exists(Data() / "work" / page)) << page;
    // No draft is kept at the start: a copy of an inline picture is a leftover.
    EXPECT_FALSE(fs::exists(Data() / "work" / "HtmlImage" / "image1.png"));
    EXPECT_TRUE(fs::is_directory(Data() / "work" / "HtmlImage"));
    for (const fs::path &folder : {Data(), Data() / "Logs", Data() / "Senders"}) {
        struct stat st
        {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
}

TEST_F(StartupTest, WithNoPasswordSetTheMainWindowOpensStraightAway)
{
    PrepareDataFolder(Data());
    SetDataFolder(Data());
    WriteConfig(std::string(DefaultKey));
    WriteBytes(Data() / "Senders" / "alpha.vsl", ""); // listed by name, not opened
    WriteBytes(Data() / "Signature" / "sig03.dat", "kept\r\n");
    SetCurrentKey("something else");

    TVostrelApp app;
    QSignalSpy terminate(&app, &TVostrelApp::TerminateRequested);
    app.Start();
    QTRY_VERIFY_WITH_TIMEOUT(app.Main().FirstShowDone(), 5000);
    EXPECT_EQ(terminate.count(), 0);
    EXPECT_EQ(CurrentKey(), DefaultKey);
    EXPECT_EQ(ReadBytes(Data() / "Signature" / "sig03.dat"), "kept\r\n");
    EXPECT_EQ(fs::file_size(Data() / "Signature" / "sig01.dat"), 0u);
    auto *senders = app.Main().findChild<QTreeWidget *>(QStringLiteral("ListViewItemBox"));
    ASSERT_NE(senders, nullptr);
    ASSERT_EQ(senders->topLevelItemCount(), 2);
    EXPECT_EQ(senders->topLevelItem(0)->text(0), QStringLiteral("すべての送信者"));
    EXPECT_EQ(senders->topLevelItem(1)->text(0), QStringLiteral("alpha"));
    EXPECT_EQ(senders->currentItem(), senders->topLevelItem(0));

    // A refresh refills the list but never asks for the password again.
    WriteBytes(Data() / "Senders" / "beta.VSL", "");
    SetCurrentKey("changed meanwhile");
    app.Main().FormShow();
    EXPECT_EQ(senders->topLevelItemCount(), 3);
    EXPECT_EQ(CurrentKey(), "changed meanwhile");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(StartupTest, WithAPasswordTheLogInDecidesTheKey)
{
    fs::create_directories(Data());
    SetDataFolder(Data());
    WriteConfig("Pass1234");
    TVostrelApp app;
    WhenModal(QStringLiteral("TFormLoginPass"), [&](QWidget *w) {
        QTest::keyClicks(w->findChild<QWidget *>(QStringLiteral("EditPass")),
                         QStringLiteral("Pass1234"));
        QTest::mouseClick(w->findChild<QAbstractButton *>(QStringLiteral("BtnLogin")),
                          Qt::LeftButton);
    });
    app.Start();
    QTRY_VERIFY_WITH_TIMEOUT(app.Main().FirstShowDone(), 10000);
    EXPECT_EQ(CurrentKey(), "Pass1234");
}

// A send run that a crash cut short after its first mail: once the log-in has
// set the key, and before the sender list and the history are filled, its
// logs and lists are written from its journal and the user is told.
TEST_F(StartupTest, ARunThatDidNotEndIsAccountedForAfterTheLogInBeforeTheListsAreFilled)
{
    const std::string key = "Pass1234";
    PrepareDataFolder(Data());
    SetDataFolder(Data());
    WriteConfig(key);
    SenderAccount account;
    account.ConfName = "A";
    account.FromAddress = "a@sender.jp";
    WriteSenderAccount(SenderAccountPath("A"), account, key);
    std::vector<Recipient> three(3);
    for (int i = 0; i < 3; ++i)
        three[static_cast<std::size_t>(i)].fields[2] = "p" + std::to_string(i) + "@example.jp";
    SaveDestinationList("three", {true, false, false}, three, key);
    SendJournalHeader header;
    header.runId = NewSendRunId();
    header.job.senderNames = {"A"};
    header.job.toLists = {"three"};
    header.job.body = "body";
    header.startTime = S("2024年03月05日09時15分02秒");
    header.startUnix = 1709597702;
    header.total = 3;
    RecipientDigest digest;
    for (const Recipient &r : three)
        for (const std::string &field : r.fields)
            digest.Add(field);
    header.digest = digest.Hex();
    SendJournalWriter(header, key).Mail(1, true);
    SetCurrentKey("something else");

    TVostrelApp app;
    auto *senders = app.Main().findChild<QTreeWidget *>(QStringLiteral("ListViewItemBox"));
    int sendersWhenTold = -1;
    dialogs.onShow = [&](const ShownBox &) { sendersWhenTold = senders->topLevelItemCount(); };
    WhenModal(QStringLiteral("TFormLoginPass"), [&](QWidget *w) {
        QTest::keyClicks(w->findChild<QWidget *>(QStringLiteral("EditPass")),
                         QString::fromStdString(key));
        QTest::mouseClick(w->findChild<QAbstractButton *>(QStringLiteral("BtnLogin")),
                          Qt::LeftButton);
    });
    app.Start();
    QTRY_VERIFY_WITH_TIMEOUT(app.Main().FirstShowDone(), 10000);

    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(
        QStringLiteral("前回の送信は途中で終了しました。\r\n開始日時：2024年03月05日09時15分02秒"
                       "\r\n送信済み：1通 / 3通\r\n")))
        << dialogs.shown[0].text.toStdString();
    EXPECT_EQ(sendersWhenTold, 0);
    EXPECT_EQ(senders->topLevelItemCount(), 2);
    EXPECT_FALSE(SendJournalPending());
    const std::string unsent = header.startTime + S("_未送信");
    EXPECT_EQ(LoadDestinationList(unsent, key).recipients,
              std::vector<Recipient>(three.begin() + 1, three.end()));
    EXPECT_EQ(ReadSendLog(SendLogPath("A", header.startTime), 4, key).fields[2], "1");
}

TEST_F(StartupTest, CloseAsksOnceWhileTheComposeWindowKeepsADraft)
{
    TFormMain main;
    int resets = 0;
    TFormMain::Links links;
    links.composeKeepsDraft = [] { return true; };
    links.resetCompose = [&] { ++resets; };
    main.SetLinks(links);
    main.SetFirstShowDone(true);
    WriteBytes(WorkFolder() / "History_work.html", "<html></html>");
    WriteBytes(WorkFolder() / "Preview_work.html", "<html></html>");

    dialogs.Answer(false);
    EXPECT_FALSE(main.close());
    EXPECT_EQ(resets, 0);
    EXPECT_TRUE(fs::exists(WorkFolder() / "History_work.html"));
    EXPECT_EQ(dialogs.Texts(), QStringList({QStringLiteral(
                                   "メール作成画面に編集中のメール内容があります。ソフト終了時に編"
                                   "集中のメール内容は失われますがよろしいですか？")}));
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Question);

    dialogs.Answer(true);
    EXPECT_TRUE(main.close());
    EXPECT_EQ(resets, 1);
    EXPECT_FALSE(fs::exists(WorkFolder() / "History_work.html"));
    EXPECT_FALSE(fs::exists(WorkFolder() / "Preview_work.html"));
}

TEST_F(StartupTest, TheMainWindowsButtonsOpenTheirWindowsAndTheSenderListIsRefilled)
{
    PrepareDataFolder(Data());
    SetDataFolder(Data());
    WriteConfig(std::string(DefaultKey));
    TVostrelApp app;
    app.Start();
    QTRY_VERIFY_WITH_TIMEOUT(app.Main().FirstShowDone(), 5000);
    auto *senders = app.Main().findChild<QTreeWidget *>(QStringLiteral("ListViewItemBox"));
    ASSERT_EQ(senders->topLevelItemCount(), 1);

    QStringList opened;
    auto closeIt = [&](QWidget *w) {
        opened << w->objectName();
        if (w->objectName() == QStringLiteral("TFormSenderConfig"))
            WriteBytes(Data() / "Senders" / "added.vsl", ""); // as if one was added
        static_cast<QDialog *>(w)->reject();
    };
    for (const char *button : {"PNGBtnSenderList", "PNGBtnSendList", "PNGBtnConfig"}) {
        const QString name = QString::fromLatin1(button);
        const QString window =
            name == QStringLiteral("PNGBtnSenderList") ? QStringLiteral("TFormSenderConfig")
            : name == QStringLiteral("PNGBtnSendList") ? QStringLiteral("TFormDestinationList")
                                                       : QStringLiteral("TFormConfig");
        WhenModal(window, closeIt);
        QTest::mouseClick(app.Main().findChild<QAbstractButton *>(name), Qt::LeftButton);
    }
    EXPECT_EQ(opened,
              QStringList({QStringLiteral("TFormSenderConfig"),
                           QStringLiteral("TFormDestinationList"), QStringLiteral("TFormConfig")}));
    ASSERT_EQ(senders->topLevelItemCount(), 2);
    EXPECT_EQ(senders->topLevelItem(1)->text(0), QStringLiteral("added"));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(StartupTest, CloseWithoutAKeptDraftAsksNothing)
{
    TFormMain main;
    EXPECT_TRUE(main.close());
    EXPECT_TRUE(dialogs.shown.empty());
}

} // namespace
} // namespace vostrel::test
