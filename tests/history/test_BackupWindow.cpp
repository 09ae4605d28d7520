// Backup and restore from the main window's buttons: the messages, the
// folder picker, the numbered backup folders, the validity check, the
// password step for the restored data, and failures that change nothing.
#include "../destinations/WindowDriver.h"
#include "HistoryFixture.h"

#include "core/AppState.h"
#include "core/Backup.h"
#include "core/Errors.h"
#include "core/Password.h"
#include "core/UnitLoginPass.h"
#include "core/WindowSettings.h"
#include "senders/SenderAccount.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

const QString kNotice = u"※作成されるバックアップは読込(復元)時、現在のパスワードが必要になります。"
                        u"\r\n　パスワードを忘れないようにご注意ください"_s;
const QString kMade = u"バックアップを作成しました"_s;
const QString kInvalid =
    u"バックアップフォルダが正しくないか必要なファイルがないため読み込めません"_s;
const QString kLoaded = u"バックアップを読み込みました。パスワードを入力してください"_s;
const QString kWrongPassword = u"パスワードが違います"_s;

// The question before a restore, naming the chosen folder on a line of its own.
QString RestoreQuestion(const fs::path &folder)
{
    return u"現在のデータはすべて、選択したバックアップの内容に置き換えられます。"
           u"よろしいですか？\n"_s +
           QString::fromStdString(folder.native());
}

class BackupWindowTest : public HistoryTest
{
protected:
    void SetUp() override
    {
        HistoryTest::SetUp();
        chosen = TempDir() / "バックアップ先";
        fs::create_directories(chosen);
        WriteConfig(std::string(DefaultKey));
        AddSender("営業部");
        WriteLog({.sender = "営業部", .startTime = StartTime(1), .pictures = {{"p.png", "png"}}});
        WriteBytes(DataFolder() / "html.txt", "<html>template</html>");
        loginPass = std::make_unique<TFormLoginPass>();
        TFormMain::Links links;
        links.loginPass = loginPass.get();
        Main().SetLinks(links);
    }
    void TearDown() override
    {
        SetBackupCopyHook(nullptr);
        main.reset();
        loginPass.reset();
        HistoryTest::TearDown();
    }

    // Answers the next folder picker with folder (cancels when empty) and
    // records its caption.
    void PickFolder(const fs::path &folder)
    {
        WhenModal(u"SelectFolder"_s, [this, folder](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            ASSERT_NE(dialog, nullptr);
            captions << dialog->windowTitle();
            openedIn << dialog->directory().absolutePath();
            EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
            if (folder.empty()) {
                dialog->reject();
                return;
            }
            for (auto *view : dialog->findChildren<QAbstractItemView *>())
                view->clearSelection();
            dialog->findChild<QLineEdit *>(u"fileNameEdit"_s)
                ->setText(QString::fromStdString(folder.native()));
            static_cast<QDialog *>(dialog)->accept();
            EXPECT_FALSE(dialog->isVisible()) << "the picker refused " << folder;
        });
    }
    void Click(const QString &button)
    {
        QTest::mouseClick(Child<QToolButton>(&Main(), button), Qt::LeftButton);
    }
    // Answers the password dialog each time it shows, with the next of
    // passwords ("" cancels); a showing beyond them is counted in
    // extraPasswordDialogs and cancelled. A later call replaces the script.
    void AnswerPasswords(QStringList passwords)
    {
        passwordScript = std::move(passwords);
        if (passwordTimer)
            return;
        passwordTimer = new QTimer(loginPass.get());
        passwordTimer->setInterval(5);
        QObject::connect(passwordTimer, &QTimer::timeout, loginPass.get(), [this] {
            if (QApplication::activeModalWidget() != loginPass.get() || !loginPass->isVisible())
                return;
            if (passwordScript.isEmpty()) {
                ++extraPasswordDialogs;
                loginPass->reject();
                return;
            }
            const QString password = passwordScript.takeFirst();
            ++passwordDialogs;
            if (password.isEmpty()) {
                QTest::mouseClick(Child<QPushButton>(loginPass.get(), u"BtnCancel"_s),
                                  Qt::LeftButton);
                return;
            }
            auto *edit = Child<QLineEdit>(loginPass.get(), u"EditPass"_s);
            edit->clear();
            QTest::keyClicks(edit, password);
            QTest::mouseClick(Child<QPushButton>(loginPass.get(), u"BtnLogin"_s), Qt::LeftButton);
        });
        passwordTimer->start();
    }
    // Chooses folder for a restore and answers the question with yes.
    void Restore(const fs::path &folder, bool yes = true)
    {
        PickFolder(folder);
        dialogs.Answer(yes);
        Click(u"PNGBtnBkLoad"_s);
    }
    // Makes a backup through the window into chosen.
    void Backup()
    {
        PickFolder(chosen);
        Click(u"PNGBtnBkSave"_s);
    }
    // A backup of data kept under key, with one account named sender.
    fs::path BackupUnder(const std::string &key, const std::string &sender)
    {
        const fs::path keep = TempDir() / "kept";
        fs::copy(DataFolder(), keep, fs::copy_options::recursive);
        fs::remove_all(DataFolder() / "Senders");
        fs::create_directories(DataFolder() / "Senders");
        SetCurrentKey(key);
        WriteConfig(key);
        AddSender(sender);
        const fs::path backup = MakeBackup(TempDir());
        fs::remove_all(DataFolder());
        fs::copy(keep, DataFolder(), fs::copy_options::recursive);
        fs::remove_all(keep);
        SetCurrentKey(std::string(DefaultKey));
        return backup;
    }

    fs::path chosen;
    QStringList captions;
    QStringList openedIn; // the folder each picker opened in
    std::unique_ptr<TFormLoginPass> loginPass;
    QStringList passwordScript;
    QTimer *passwordTimer = nullptr;
    int passwordDialogs = 0;
    int extraPasswordDialogs = 0;
};

TEST_F(BackupWindowTest, BackingUpTwiceMakesTwoNumberedFoldersWithoutTheTemplate)
{
    Backup();
    EXPECT_EQ(dialogs.Texts(), (QStringList{kNotice, kMade}));
    EXPECT_EQ(captions, QStringList{u"バックアップ先を選択してください"_s});
    Backup();
    EXPECT_EQ(dialogs.Texts(), (QStringList{kNotice, kMade, kNotice, kMade}));

    // Neither the template nor the settings file (the folder just used).
    auto expected = Snapshot(DataFolder());
    EXPECT_EQ(expected.erase("html.txt"), 1u);
    EXPECT_EQ(expected.erase("settings.ini"), 1u);
    ASSERT_TRUE(fs::exists(chosen / "Vostrel_backup"));
    EXPECT_EQ(Snapshot(chosen / "Vostrel_backup"), expected);
    EXPECT_EQ(Snapshot(chosen / "Vostrel_backup(1)"), expected);
    // The copy holds config.dat, the log and its pictures.
    EXPECT_TRUE(expected.count("config.dat"));
    EXPECT_TRUE(expected.count("Logs/営業部/" + StartTime(1) + "/p.png"));

    // A cancelled picker does nothing more.
    PickFolder({});
    Click(u"PNGBtnBkSave"_s);
    EXPECT_EQ(dialogs.Texts().size(), 5);
    EXPECT_EQ(dialogs.Texts().last(), kNotice);
    EXPECT_FALSE(fs::exists(chosen / "Vostrel_backup(2)"));
}

// The pickers open in the folder the last backup or restore used, also after
// the program was started again; a cancelled one or a refused folder changes
// nothing, and a damaged settings file is ignored.
TEST_F(BackupWindowTest, TheFolderPickersOpenInTheFolderLastUsed)
{
    const QString home = QDir::homePath();
    const QString used = QString::fromStdString(chosen.native());
    PickFolder({});
    Click(u"PNGBtnBkSave"_s);
    Backup();
    PickFolder(DataFolder() / "Logs"); // refused: inside the data folder
    Click(u"PNGBtnBkSave"_s);
    main.reset(); // the program again: a new picker
    PickFolder({});
    Click(u"PNGBtnBkLoad"_s);
    EXPECT_EQ(openedIn, (QStringList{home, home, used, used}));

    const fs::path backup = chosen / "Vostrel_backup";
    AnswerPasswords({});
    Restore(backup);
    ASSERT_EQ(dialogs.Texts().last(),
              u"バックアップを読み込みました。パスワードを入力してください"_s);
    ASSERT_TRUE(fs::exists(SettingsFile())); // a restore leaves it alone
    main.reset();
    PickFolder({});
    Click(u"PNGBtnBkSave"_s);
    EXPECT_EQ(openedIn.last(), QString::fromStdString(backup.native()));

    WriteBytes(SettingsFile(), "\x01\xff[Backup\nLastFolder=\x00\x02");
    main.reset();
    PickFolder({});
    Click(u"PNGBtnBkSave"_s);
    EXPECT_EQ(openedIn.last(), home);
}

TEST_F(BackupWindowTest, ABackupThatCannotCopyAFileNamesItAndLeavesNoFolder)
{
    const fs::path failing = DataFolder() / "Logs" / "営業部" / StartTime(1) / "p.png";
    SetBackupCopyHook([&](const fs::path &file) {
        if (file == failing)
            throw FileError::ReadFailed(file, "injected");
    });
    Backup();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].text, kNotice);
    EXPECT_EQ(dialogs.shown[1].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[1].text.contains(QString::fromStdString(failing.native())))
        << dialogs.shown[1].text.toStdString();
    EXPECT_TRUE(fs::is_empty(chosen));
}

TEST_F(BackupWindowTest, ABackupIntoTheDataFolderIsRefused)
{
    const auto before = Snapshot(DataFolder());
    PickFolder(DataFolder() / "Logs");
    Click(u"PNGBtnBkSave"_s);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, u"データフォルダの中にはバックアップを作成できません。"
                                     u"別のフォルダを選択してください"_s);
    EXPECT_EQ(Snapshot(DataFolder()), before);
}

TEST_F(BackupWindowTest, ARestoreOfAFolderWithoutReceiversIsRefusedAndChangesNothing)
{
    const fs::path backup = MakeBackup(chosen);
    fs::remove_all(backup / "Receivers");
    WriteBytes(DataFolder() / "Senders" / "later.vsl", "");
    const auto before = Snapshot(DataFolder());
    Restore(backup);
    EXPECT_EQ(captions, QStringList{u"読み込むバックアップフォルダを選択してください"_s});
    EXPECT_EQ(dialogs.Texts(), (QStringList{RestoreQuestion(backup), kInvalid}));
    EXPECT_EQ(Snapshot(DataFolder()), before);
    EXPECT_TRUE(Main().FirstShowDone());
}

// The restore asks once, naming the folder, before anything else; No leaves
// everything as it was.
TEST_F(BackupWindowTest, ARestoreAsksFirstAndNoChangesNothing)
{
    const fs::path backup = BackupUnder("Other99", "restored");
    const auto before = Snapshot(DataFolder());
    AnswerPasswords({});
    Restore(backup, false);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Question);
    EXPECT_EQ(dialogs.shown[0].text, RestoreQuestion(backup));
    EXPECT_EQ(extraPasswordDialogs, 0);
    EXPECT_EQ(Snapshot(DataFolder()), before);
    EXPECT_EQ(CurrentKey(), DefaultKey);
    EXPECT_EQ(Senders()->topLevelItem(1)->text(0), u"営業部"_s);
}

// The backup's password is asked for before anything is replaced, and only
// once: the restored data opens under it.
TEST_F(BackupWindowTest, ARestoreOfABackupUnderAnotherPasswordAsksForThatPasswordOnce)
{
    const fs::path backup = BackupUnder("Other99", "restored");
    AnswerPasswords({u"Other99"_s});
    Restore(backup);
    EXPECT_EQ(passwordDialogs, 1);
    EXPECT_EQ(extraPasswordDialogs, 0);
    EXPECT_EQ(dialogs.Texts(), (QStringList{RestoreQuestion(backup), kLoaded}));
    EXPECT_EQ(CurrentKey(), "Other99");
    EXPECT_TRUE(Main().FirstShowDone());
    EXPECT_TRUE(ConfigHoldsKey("Other99"));
    // The restored data is listed: its one account, and no history.
    ASSERT_EQ(Senders()->topLevelItemCount(), 2);
    EXPECT_EQ(Senders()->topLevelItem(1)->text(0), u"restored"_s);
    EXPECT_TRUE(Senders()->topLevelItem(0)->isSelected());
    EXPECT_EQ(History()->model()->rowCount(), 0);
    EXPECT_EQ(ReadSenderAccount(SenderAccountPath("restored")).FromAddress, "restored@example.jp");
    // The template stays as it was.
    EXPECT_EQ(ReadBytes(DataFolder() / "html.txt"), "<html>template</html>");
}

// A wrong password is refused by the dialog, which stays; a cancel then
// leaves the current data byte for byte as it was, and the program runs on.
TEST_F(BackupWindowTest, AWrongBackupPasswordThenCancelLeavesTheDataAsItWas)
{
    const fs::path backup = BackupUnder("Other99", "restored");
    const auto before = Snapshot(DataFolder());
    for (const QStringList &answers : {QStringList{u""_s}, QStringList{u"other99"_s, u""_s}}) {
        SCOPED_TRACE(answers.join(u',').toStdString());
        dialogs.Clear();
        passwordDialogs = 0;
        AnswerPasswords(answers);
        QSignalSpy terminate(&Main(), &TFormMain::TerminateRequested);
        Restore(backup);
        EXPECT_EQ(passwordDialogs, answers.size());
        QStringList expected{RestoreQuestion(backup)};
        if (answers.size() == 2)
            expected << kWrongPassword;
        EXPECT_EQ(dialogs.Texts(), expected);
        EXPECT_EQ(terminate.count(), 0);
        EXPECT_EQ(Snapshot(DataFolder()), before);
        EXPECT_EQ(CurrentKey(), DefaultKey);
        EXPECT_TRUE(Main().FirstShowDone());
        EXPECT_EQ(Senders()->topLevelItem(1)->text(0), u"営業部"_s);
    }
    EXPECT_EQ(extraPasswordDialogs, 0);
}

TEST_F(BackupWindowTest, ARestoreOfABackupWithoutAPasswordAsksNoPassword)
{
    const fs::path backup = BackupUnder(std::string(DefaultKey), "nopass");
    SetCurrentKey("SomethingElse1");
    AnswerPasswords({});
    Restore(backup);
    EXPECT_EQ(extraPasswordDialogs, 0);
    EXPECT_EQ(dialogs.Texts(), (QStringList{RestoreQuestion(backup), kLoaded}));
    EXPECT_EQ(CurrentKey(), DefaultKey);
    EXPECT_TRUE(Main().FirstShowDone());
    ASSERT_EQ(Senders()->topLevelItemCount(), 2);
    EXPECT_EQ(Senders()->topLevelItem(1)->text(0), u"nopass"_s);
    EXPECT_TRUE(Senders()->topLevelItem(0)->isSelected());
}

// A link in the backup is named before any password is asked for.
TEST_F(BackupWindowTest, ABackupHoldingASymbolicLinkIsRefusedByNameBeforeThePassword)
{
    const fs::path backup = BackupUnder("Other99", "restored");
    const fs::path link = backup / "Logs" / "elsewhere";
    fs::create_directory_symlink(TempDir(), link);
    const auto before = Snapshot(DataFolder());
    AnswerPasswords({});
    Restore(backup);
    EXPECT_EQ(extraPasswordDialogs, 0);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, ShownBox::Error);
    EXPECT_EQ(dialogs.shown[1].text,
              u"バックアップフォルダにシンボリックリンクがあるため読み込めません: "_s +
                  QString::fromStdString(link.native()));
    EXPECT_EQ(Snapshot(DataFolder()), before);
}

TEST_F(BackupWindowTest, ARestoreThatFailsHalfWayNamesTheFileAndKeepsTheOldData)
{
    const fs::path backup = BackupUnder("Other99", "restored");
    const auto before = Snapshot(DataFolder());
    const fs::path failing = backup / "Senders" / "restored.vsl";
    SetBackupCopyHook([&](const fs::path &file) {
        if (file == failing)
            throw FileError::ReadFailed(file, "injected");
    });
    AnswerPasswords({u"Other99"_s});
    Restore(backup);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[1].text.contains(QString::fromStdString(failing.native())))
        << dialogs.shown[1].text.toStdString();
    EXPECT_EQ(Snapshot(DataFolder()), before);
    EXPECT_EQ(CurrentKey(), DefaultKey);
    EXPECT_TRUE(Main().FirstShowDone());
    EXPECT_EQ(Senders()->topLevelItem(1)->text(0), u"営業部"_s);
}

} // namespace
} // namespace vostrel::test
