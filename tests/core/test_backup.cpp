// Backup and restore of the data folder: what a backup holds, how restore
// replaces the data, and that neither leaves anything half done.
#include "core/AppState.h"
#include "core/Backup.h"
#include "core/Errors.h"
#include "support/VostrelTest.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>; // relative path -> bytes ("/" for folders)

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
        WriteBytes(data / "config.dat", "config-now");
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
        VostrelTest::TearDown();
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
    WriteBytes(DataFolder() / "config.dat", "config-later");
    WriteBytes(DataFolder() / "Senders" / "b.vsl", "sender-b");
    fs::remove(DataFolder() / "Receivers" / "list.vsl");
    WriteBytes(DataFolder() / "html.txt", "<html> edited");
    fs::create_directories(DataFolder() / "Extra");
    WriteBytes(DataFolder() / "Extra" / "x", "x");
    // The backup lacks work/ content and has a folder the data does not.
    fs::create_directories(backup / "Unknown");

    RestoreBackup(backup);

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
    RestoreBackup(backup);
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
        EXPECT_THROW(RestoreBackup(backup), FileError);
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

} // namespace
} // namespace vostrel::test
