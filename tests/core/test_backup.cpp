// Backup and restore of the data folder: what a backup holds, how restore
// replaces the data, and that neither leaves anything half done.
#include "core/AppState.h"
#include "core/Backup.h"
#include "core/DataFolder.h"
#include "core/Errors.h"
#include "core/Password.h"
#include "support/VostrelTest.h"

#include <QString>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>; // relative path -> bytes ("/" for folders)

// The password of the data (and so of its backups) in these tests, and the
// one the data has after BackupThenChange.
const std::string kKey = "NowKey1";
const std::string kLaterKey = "Later22";

Tree Snapshot(const fs::path &root)
{
    Tree tree;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = entry.path().lexically_relative(root).native();
        tree[relative] = entry.is_directory() ? "/" : ReadBytes(entry.path());
    }
    return tree;
}

class BackupTest : public VostrelTest
{
protected:
    void SetUp() override
    {
        VostrelTest::SetUp();
        chosen = TempDir() / "backups";
        fs::create_directories(chosen);
        const fs::path data = DataFolder();
        WriteConfig(kKey);
        WriteBytes(data / "html.txt", "<html>");
        WriteBytes(data / "Senders" / "a.vsl", "sender-a");
        WriteBytes(data / "Receivers" / "list.vsl", "list");
        WriteBytes(data / "Signature" / "sig01.dat", "sig");
        fs::create_directories(data / "Logs" / "a" / "2024年01月01日00時00分00秒");
        WriteBytes(data / "Logs" / "a" / "2024年01月01日00時00分00秒.vsl", "log");
        WriteBytes(data / "Logs" / "a" / "2024年01月01日00時00分00秒" / "p.png", "png");
    }
    void TearDown() override
    {
        SetBackupCopyHook(nullptr);
        SetRestoreStepHook(nullptr);
        VostrelTest::TearDown();
    }

    // A backup of the data as set up, then the data changed everywhere
    // (another password, records added, removed and changed), so that the
    // old and the restored data differ in every folder.
    fs::path BackupThenChange()
    {
        const fs::path backup = MakeBackup(chosen);
        const fs::path data = DataFolder();
        WriteConfig(kLaterKey);
        WriteBytes(data / "Senders" / "b.vsl", "sender-b");
        fs::remove(data / "Receivers" / "list.vsl");
        WriteBytes(data / "Signature" / "sig02.dat", "later sig");
        WriteBytes(data / "Logs" / "a" / "2024年01月01日00時00分00秒.vsl", "log changed");
        WriteBytes(data / "work" / "AppendedImage" / "att.txt", "attached");
        return backup;
    }

    fs::path chosen;
};

TEST_F(BackupTest, BackupsAreNumberedAndHoldEveryFolderAndConfigButNothingElse)
{
    const fs::path first = MakeBackup(chosen);
    const fs::path second = MakeBackup(chosen);
    EXPECT_EQ(first, chosen / "Vostrel_backup");
    EXPECT_EQ(second, chosen / "Vostrel_backup(1)");
    EXPECT_EQ(NextBackupFolder(chosen), chosen / "Vostrel_backup(2)");

    Tree expected = Snapshot(DataFolder());
    expected.erase("html.txt");
    EXPECT_EQ(Snapshot(first), expected);
    EXPECT_EQ(Snapshot(second), expected);
    EXPECT_TRUE(IsValidBackup(first));
}

TEST_F(BackupTest, AFileThatCannotBeCopiedStopsTheBackupAndLeavesNoFolder)
{
    SetBackupCopyHook([](const fs::path &file) {
        if (file.filename() == "list.vsl")
            throw FileError::ReadFailed(file, "injected");
    });
    try {
        MakeBackup(chosen);
        FAIL() << "no error";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), DataFolder() / "Receivers" / "list.vsl");
    }
    EXPECT_TRUE(fs::is_empty(chosen));
}

TEST_F(BackupTest, ABackupIsValidOnlyWithConfigAndTheFourFolders)
{
    const fs::path backup = MakeBackup(chosen);
    for (const char *missing : {"config.dat", "Senders", "Logs", "Signature", "Receivers"}) {
        const fs::path copy = TempDir() / (std::string("copy-") + missing);
        fs::copy(backup, copy, fs::copy_options::recursive);
        fs::remove_all(copy / missing);
        EXPECT_FALSE(IsValidBackup(copy)) << missing;
    }
    EXPECT_FALSE(IsValidBackup(TempDir() / "nowhere"));
}

TEST_F(BackupTest, RestoreReplacesFoldersAndConfigAndLeavesOtherFilesAlone)
{
    const fs::path backup = MakeBackup(chosen);
    const Tree saved = Snapshot(backup);
    // Changes after the backup, which the restore undoes.
    WriteConfig("Later22");
    WriteBytes(DataFolder() / "Senders" / "b.vsl", "sender-b");
    fs::remove(DataFolder() / "Receivers" / "list.vsl");
    WriteBytes(DataFolder() / "html.txt", "<html> edited");
    fs::create_directories(DataFolder() / "Extra");
    WriteBytes(DataFolder() / "Extra" / "x", "x");
    // The backup lacks work/ content and has a folder the data does not.
    fs::create_directories(backup / "Unknown");

    RestoreBackup(backup, kKey);

    Tree expected = saved;
    expected.erase("Unknown");
    expected["html.txt"] = "<html> edited";
    expected["Extra"] = "/"; // a folder the backup lacks comes back empty
    EXPECT_EQ(Snapshot(DataFolder()), expected);
}

TEST_F(BackupTest, ARestoreThatFailsAtAnyFileChangesNothing)
{
    const fs::path backup = MakeBackup(chosen);
    WriteBytes(DataFolder() / "Senders" / "b.vsl", "newer");
    const Tree before = Snapshot(DataFolder());
    std::vector<fs::path> files;
    SetBackupCopyHook([&](const fs::path &file) { files.push_back(file); });
    RestoreBackup(backup, kKey);
    SetBackupCopyHook(nullptr);
    ASSERT_GE(files.size(), 6u);

    for (const fs::path &failing : files) {
        SCOPED_TRACE(failing.string());
        // Back to the data before the restore.
        fs::remove_all(DataFolder());
        fs::create_directories(DataFolder());
        for (const auto &[path, bytes] : before)
            bytes == "/" ? (void)fs::create_directories(DataFolder() / path)
                         : WriteBytes(DataFolder() / path, bytes);
        SetBackupCopyHook([&](const fs::path &file) {
            if (file == failing)
                throw FileError::ReadFailed(file, "injected");
        });
        EXPECT_THROW(RestoreBackup(backup, kKey), FileError);
        SetBackupCopyHook(nullptr);
        EXPECT_EQ(Snapshot(DataFolder()), before);
        EXPECT_FALSE(RecoverInterruptedRestore());
    }
}

TEST_F(BackupTest, ASwitchCutShortIsFinishedAtTheNextStartAndAnUncommittedOneRemoved)
{
    // Committed, with Receivers already swapped and Senders not yet.
    const fs::path staging = RestoreStagingFolder();
    fs::create_directories(staging / "new" / "Senders");
    fs::create_directories(staging / "old");
    WriteBytes(staging / "new" / "Senders" / "restored.vsl", "restored");
    fs::rename(DataFolder() / "Receivers", staging / "old" / "Receivers");
    fs::create_directories(DataFolder() / "Receivers");
    WriteBytes(DataFolder() / "Receivers" / "restored.vsl", "restored list");
    WriteBytes(staging / "commit", "VOSTREL-RESTORE 1\nReceivers\nSenders\nEND\n");

    EXPECT_TRUE(RecoverInterruptedRestore());
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_EQ(ReadBytes(DataFolder() / "Senders" / "restored.vsl"), "restored");
    EXPECT_FALSE(fs::exists(DataFolder() / "Senders" / "a.vsl"));
    EXPECT_EQ(ReadBytes(DataFolder() / "Receivers" / "restored.vsl"), "restored list");

    // Not committed: the copy is dropped, the data stays.
    const Tree before = Snapshot(DataFolder());
    fs::create_directories(staging / "new" / "Senders");
    WriteBytes(staging / "new" / "Senders" / "half.vsl", "half");
    EXPECT_TRUE(RecoverInterruptedRestore());
    EXPECT_EQ(Snapshot(DataFolder()), before);
}

TEST_F(BackupTest, ARestoreWhoseConfigDoesNotHoldTheGivenPasswordChangesNothing)
{
    const fs::path backup = BackupThenChange();
    const Tree before = Snapshot(DataFolder());
    try {
        RestoreBackup(backup, kLaterKey);
        FAIL() << "no error";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), backup / "config.dat");
        EXPECT_EQ(std::string(e.what()), "バックアップのパスワードを確認できませんでした: " +
                                             (backup / "config.dat").string());
    }
    EXPECT_EQ(Snapshot(DataFolder()), before);
    EXPECT_FALSE(fs::exists(RestoreStagingFolder()));
}

// Wherever a link stands in the backup (a file, a folder, config.dat, deep in
// a picture folder, pointing nowhere), the restore names it, reads nothing
// and changes nothing.
TEST_F(BackupTest, ABackupHoldingASymbolicLinkAnywhereIsRefusedByNameAndNothingIsRead)
{
    const fs::path outside = TempDir() / "outside";
    fs::create_directories(outside);
    WriteBytes(outside / "secret.vsl", "secret");
    const fs::path backup = BackupThenChange();
    const Tree before = Snapshot(DataFolder());
    const std::pair<std::string, fs::path> cases[] = {
        {"Senders/x.vsl", outside / "secret.vsl"},
        {"Logs/a/2024年01月01日00時00分00秒/q.png", outside / "secret.vsl"},
        {"Receivers", outside},
        {"config.dat", outside / "secret.vsl"},
        {"work/AppendedImage/dangling", TempDir() / "nowhere"},
    };
    int n = 0;
    for (const auto &[link, target] : cases) {
        SCOPED_TRACE(link);
        const fs::path copy = TempDir() / ("linked" + std::to_string(n++));
        fs::copy(backup, copy, fs::copy_options::recursive);
        fs::remove_all(copy / link);
        fs::is_directory(target) ? fs::create_directory_symlink(target, copy / link)
                                 : fs::create_symlink(target, copy / link);
        EXPECT_EQ(FindSymbolicLink(copy), copy / link);
        std::vector<fs::path> copied;
        SetBackupCopyHook([&](const fs::path &file) { copied.push_back(file); });
        try {
            RestoreBackup(copy, kKey);
            ADD_FAILURE() << "no error";
        } catch (const FileError &e) {
            EXPECT_EQ(e.File(), copy / link);
            EXPECT_EQ(std::string(e.what()),
                      "バックアップフォルダにシンボリックリンクがあるため読み込めません: " +
                          (copy / link).string());
        }
        SetBackupCopyHook(nullptr);
        EXPECT_TRUE(copied.empty());
        EXPECT_EQ(Snapshot(DataFolder()), before);
        EXPECT_FALSE(fs::exists(RestoreStagingFolder()));
    }
    EXPECT_EQ(FindSymbolicLink(backup), fs::path());
}

// A link that appears while the copy runs is refused there, unread.
TEST_F(BackupTest, ALinkPutIntoTheBackupDuringTheCopyIsRefusedUnread)
{
    const fs::path backup = BackupThenChange();
    const Tree before = Snapshot(DataFolder());
    const fs::path link = backup / "Senders" / "late.vsl";
    std::vector<fs::path> copied;
    SetBackupCopyHook([&](const fs::path &file) {
        if (copied.empty())
            fs::create_symlink(DataFolder() / "config.dat", link);
        copied.push_back(file);
    });
    try {
        RestoreBackup(backup, kKey);
        FAIL() << "no error";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), link);
    }
    EXPECT_EQ(std::count(copied.begin(), copied.end(), link), 0);
    EXPECT_EQ(Snapshot(DataFolder()), before);
    EXPECT_FALSE(fs::exists(RestoreStagingFolder()));
}

// A restore whose switch failed after the commit (and in its one retry) is
// finished by the next start; a second restore meanwhile is refused and
// leaves the staged data, the only copy of part of it, as it is.
TEST_F(BackupTest, ASecondRestoreNeverWipesAPendingCommittedOne)
{
    const fs::path first = BackupThenChange();
    const Tree restored = Snapshot(first);
    const fs::path second = MakeBackup(chosen);
    int renames = 0;
    SetRestoreStepHook([&](const std::string &step) {
        if (step.starts_with("rename ") && ++renames >= 3)
            throw FileError::WriteFailed(step.substr(7), "injected");
    });
    EXPECT_THROW(RestoreBackup(first, kKey), FileError);
    SetRestoreStepHook(nullptr);
    const Tree staged = Snapshot(RestoreStagingFolder());
    const Tree live = Snapshot(DataFolder());
    ASSERT_TRUE(staged.count("commit"));

    try {
        RestoreBackup(second, kLaterKey);
        FAIL() << "the second restore ran";
    } catch (const VostrelError &e) {
        EXPECT_STREQ(e.what(), "前回のバックアップの読込が完了していません。"
                               "ソフトを起動し直してからもう一度お試しください。");
    }
    EXPECT_THROW(CheckRestoreMayRun(), VostrelError);
    EXPECT_EQ(Snapshot(RestoreStagingFolder()), staged);
    EXPECT_EQ(Snapshot(DataFolder()), live);

    // The next start.
    EXPECT_TRUE(RecoverInterruptedRestore());
    Tree expected = restored;
    expected["html.txt"] = "<html>";
    EXPECT_EQ(Snapshot(DataFolder()), expected);
    EXPECT_TRUE(ConfigHoldsKey(kKey));
    EXPECT_NO_THROW(CheckRestoreMayRun());
}

// Stopped between moving a live folder away and moving its restored copy in,
// then started by a program that made the data folders again before its
// recovery: the folder made again gives way to the restored one.
TEST_F(BackupTest, AFolderMadeAgainInPlaceOfOneMovedAwayGivesWayToTheRestoredOne)
{
    const fs::path backup = BackupThenChange();
    // Stopped for good: every step from there on fails, the retry's too.
    bool stopped = false;
    SetRestoreStepHook([&](const std::string &step) {
        stopped = stopped || step == "renamed " + (DataFolder() / "Signature").string();
        if (stopped)
            throw FileError::WriteFailed(step, "injected");
    });
    EXPECT_THROW(RestoreBackup(backup, kKey), FileError);
    SetRestoreStepHook(nullptr);
    ASSERT_FALSE(fs::exists(DataFolder() / "Signature"));
    PrepareDataFolder(DataFolder()); // Signature/ and five empty signatures

    EXPECT_TRUE(RecoverInterruptedRestore());
    Tree expected = Snapshot(backup);
    expected["html.txt"] = "<html>";
    EXPECT_EQ(Snapshot(DataFolder()), expected);
    EXPECT_EQ(ReadBytes(DataFolder() / "Signature" / "sig01.dat"), "sig");
    EXPECT_FALSE(RecoverInterruptedRestore());
}

// Kills a real child process running the restore before and after each copy,
// each rename and the commit, then starts as the program does: the data is
// wholly the old or wholly the restored, and the start after that finds
// nothing left to do.
TEST_F(BackupTest, KilledAtEveryStepTheNextStartLeavesTheOldOrTheRestoredDataWhole)
{
    const fs::path backup = BackupThenChange();
    const fs::path xdg = TempDir() / "xdg-data";
    const fs::path pristine = TempDir() / "pristine";
    fs::copy(xdg, pristine, fs::copy_options::recursive);
    auto reset = [&] {
        fs::remove_all(xdg);
        fs::copy(pristine, xdg, fs::copy_options::recursive);
    };
    const QString child = QStringLiteral(VOSTREL_BINARY_DIR "/tests/core/restore_child");
    auto restore = [&](long killAt, QString *output) {
        return RunProgram(child,
                          {QString::fromStdString(xdg.native()),
                           QString::fromStdString(backup.native()), QString::fromStdString(kKey),
                           QString::number(killAt)},
                          output);
    };

    OpenDataFolder(DataFolder());
    const Tree old = Snapshot(DataFolder());
    QString output;
    ASSERT_EQ(restore(0, &output), 0) << output.toStdString();
    const long steps = output.trimmed().toLong();
    OpenDataFolder(DataFolder());
    const Tree restored = Snapshot(DataFolder());
    ASSERT_NE(old, restored);
    // Before and after: 10 copies, the commit, 2 renames for each of the 6 entries.
    ASSERT_GE(steps, 2 * (10 + 1 + 12));

    int rolledForward = 0, rolledBack = 0;
    for (long k = 1; k <= steps; ++k) {
        SCOPED_TRACE("killed at step " + std::to_string(k));
        reset();
        ASSERT_EQ(restore(k, &output), -3) << "not killed: " << output.toStdString();
        EXPECT_NO_THROW(OpenDataFolder(DataFolder()));
        const Tree now = Snapshot(DataFolder());
        EXPECT_TRUE(now == old || now == restored);
        (now == restored ? rolledForward : rolledBack)++;
        EXPECT_FALSE(fs::exists(RestoreStagingFolder()));
        // The start after that has nothing left to do.
        EXPECT_NO_THROW(OpenDataFolder(DataFolder()));
        EXPECT_EQ(Snapshot(DataFolder()), now);
    }
    EXPECT_GT(rolledForward, 5);
    EXPECT_GT(rolledBack, 5);
}

} // namespace
} // namespace vostrel::test
