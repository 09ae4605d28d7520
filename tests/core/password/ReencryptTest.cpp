// Rewriting every record under a new key: contents kept, all or nothing.
#include "RekeyFixture.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/BoolField.h"
#include "core/DataFolder.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "core/Password.h"
#include "core/Reencrypt.h"
#include "senders/SenderAccount.h"
#include "support/VostrelTest.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;

class ReencryptTest : public VostrelTest
{
protected:
    void TearDown() override
    {
        AtomicFile::SetFaultInjector(nullptr);
        SetReencryptStepHook(nullptr);
        VostrelTest::TearDown();
    }

    // Only config.dat names which key holds: exactly one of the two must.
    std::string KeyInEffect(const std::string &a, const std::string &b)
    {
        const bool holdsA = ConfigHoldsKey(a);
        const bool holdsB = ConfigHoldsKey(b);
        EXPECT_NE(holdsA, holdsB) << "config.dat must hold exactly one of the keys";
        return holdsA ? a : b;
    }
};

TEST_F(ReencryptTest, EveryRecordReadsTheSameUnderTheNewKeyAndProgressRunsOneToFour)
{
    MakeRecords("OldPass1", 4, 7, 4, 2);
    SetCurrentKey("OldPass1");
    const FieldSnapshot before = SnapshotRecords("OldPass1");
    const std::string signature = "\x8f\x90\x96\xbc\r\n"; // 署名
    WriteBytes(DataFolder() / "Signature" / "sig02.dat", signature);

    std::vector<int> positions;
    int pumps = 0;
    ReencryptProgress progress;
    progress.onPosition = [&](int p) { positions.push_back(p); };
    progress.pumpEvents = [&] { ++pumps; };
    ReencryptAll("OldPass1", "NewPass2", progress);

    EXPECT_EQ(CurrentKey(), "NewPass2");
    EXPECT_EQ(positions, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_GT(pumps, 4 + 4 + 8);
    FieldSnapshot after = SnapshotRecords("NewPass2");
    after[ConfigPath()] = before.at(ConfigPath()); // config.dat holds the key itself
    EXPECT_EQ(after, before);
    EXPECT_EQ(ReadAllFields(ConfigPath(), "NewPass2"), std::vector<std::string>{"NewPass2"});
    EXPECT_FALSE(ConfigHoldsKey("OldPass1"));
    // The signatures are not touched.
    EXPECT_EQ(ReadBytes(DataFolder() / "Signature" / "sig02.dat"), signature);
    EXPECT_TRUE(LeftoverChangeFiles().empty());
}

// The logs are found by walking the folders under Logs, not the accounts:
// those of a deleted or renamed account read under the new key like any other.
// What is not a log record (pictures, a linked folder, files beside the
// folders) keeps its bytes.
TEST_F(ReencryptTest, LogsOfDeletedAndRenamedAccountsAreRewrittenAndNothingElse)
{
    MakeRecords("OldPass1", 0, 0, 2, 1);
    const fs::path logs = DataFolder() / "Logs";
    // sender1 was renamed: its logs stay in the folder of its old name.
    fs::rename(logs / "sender1", logs / "旧名");
    fs::remove(SenderAccountPath("sender0"));
    const std::vector<std::string> renamedLog =
        ReadAllFields(ListVslFiles(logs / "旧名").at(0), "OldPass1");
    // Not records: a file in a picture folder, a file directly in Logs and
    // the logs of a folder reached through a link.
    const fs::path picture = logs / "gone" / "old" / "p.vsl";
    WriteBytes(picture, "picture");
    WriteBytes(logs / "loose.vsl", "loose");
    const fs::path outside = TempDir() / "outside";
    fs::create_directories(outside);
    WriteBytes(outside / "x.vsl", "outside");
    fs::create_directory_symlink(outside, logs / "linked");

    ReencryptAll("OldPass1", "NewPass2");

    EXPECT_EQ(ReadAllFields(ListVslFiles(logs / "旧名").at(0), "NewPass2"), renamedLog);
    EXPECT_EQ(ReadAllFields(logs / "gone" / "old.vsl", "NewPass2"),
              std::vector<std::string>{"of a deleted account"});
    EXPECT_EQ(ListVslFiles(logs / "sender0").size(), 1u);
    EXPECT_EQ(ReadAllFields(ListVslFiles(logs / "sender0").at(0), "NewPass2").size(), 15u);
    EXPECT_EQ(ReadBytes(picture), "picture");
    EXPECT_EQ(ReadBytes(logs / "gone" / "old" / "p.png"), "png");
    EXPECT_EQ(ReadBytes(logs / "loose.vsl"), "loose");
    EXPECT_EQ(ReadBytes(outside / "x.vsl"), "outside");
    EXPECT_TRUE(fs::is_symlink(logs / "linked"));
}

TEST_F(ReencryptTest, PasswordToNoneToAnotherAndBackLeavesEveryFileReadable)
{
    MakeRecords("Pw1", 3, 3, 4, 1);
    const FieldSnapshot original = SnapshotRecords("Pw1");
    const std::string none(DefaultKey);
    std::string key = "Pw1";
    for (const std::string &next : {none, std::string("Q2q2"), std::string("Pw1")}) {
        ReencryptAll(key, next);
        key = next;
        EXPECT_TRUE(ConfigHoldsKey(key)) << key;
        FieldSnapshot now = SnapshotRecords(key);
        now[ConfigPath()] = original.at(ConfigPath());
        EXPECT_EQ(now, original) << "after changing to " << key;
    }
}

TEST_F(ReencryptTest, SenderFilesKeepTheirOptionalGroupsAndBooleansBecomeMinusOneOrZero)
{
    // Written by hand: a 9-field account whose booleans are spelt "True"/"0",
    // and a 16-field one spelt "1"/"FALSE"... "1"/"1".
    const std::string key = "Abc123";
    auto write = [&](const std::string &name, const std::vector<std::string> &fields) {
        EncryptedFieldFile out = EncryptedFieldFile::Create(SenderAccountPath(name), key);
        for (const std::string &f : fields)
            out.WriteField(f);
        out.Commit();
    };
    write("plain",
          {"plain", "smtp.example.jp", "25", "True", "a@example.jp", "A", "", "0", "false"});
    write("full",
          {"full", "smtp.example.jp", "465", "1", "b@example.jp", "B", "r@example.jp", "1",
           "pop.example.jp", "995", "TRUE", "popuser", "poppass", "7", "smtpuser", "smtppass"});
    WriteConfig(key);

    ReencryptAll(key, "Xyz789");

    EXPECT_EQ(ReadAllFields(SenderAccountPath("plain"), "Xyz789"),
              (std::vector<std::string>{"plain", "smtp.example.jp", "25", "-1", "a@example.jp", "A",
                                        "", "0", "0"}));
    EXPECT_EQ(ReadAllFields(SenderAccountPath("full"), "Xyz789"),
              (std::vector<std::string>{"full", "smtp.example.jp", "465", "-1", "b@example.jp", "B",
                                        "r@example.jp", "-1", "pop.example.jp", "995", "-1",
                                        "popuser", "poppass", "-1", "smtpuser", "smtppass"}));
}

TEST_F(ReencryptTest, ListCountIsWrittenInPlainDecimalAndANonNumberCountLosesNothing)
{
    const std::string key = "Key1";
    auto write = [&](const std::string &name, const std::vector<std::string> &fields) {
        EncryptedFieldFile out =
            EncryptedFieldFile::Create(DataFolder() / "Receivers" / (name + ".vsl"), key);
        for (const std::string &f : fields)
            out.WriteField(f);
        out.Commit();
    };
    std::vector<std::string> padded = {"-1", "0", "0", "01"};
    for (int f = 0; f < 13; ++f)
        padded.push_back("v" + std::to_string(f));
    write("padded", padded);
    std::vector<std::string> odd = {"-1", "0", "0", "abc", "x1", "x2", "x3"};
    write("odd", odd);
    WriteConfig(key);

    ReencryptAll(key, "Key2");

    std::vector<std::string> expected = padded;
    expected[3] = "1";
    EXPECT_EQ(ReadAllFields(DataFolder() / "Receivers" / "padded.vsl", "Key2"), expected);
    EXPECT_EQ(ReadAllFields(DataFolder() / "Receivers" / "odd.vsl", "Key2"), odd);
}

TEST_F(ReencryptTest, AFailureAtAnyFileLeavesEverythingUnderTheOldKey)
{
    MakeRecords("OldKey", 3, 4, 4, 2);
    SetCurrentKey("OldKey");
    const FieldSnapshot before = SnapshotRecords("OldKey");
    std::vector<fs::path> order;
    AtomicFile::SetFaultInjector([&](const fs::path &target) {
        if (order.empty() || order.back() != target)
            order.push_back(target);
        return true;
    });
    ReencryptAll("OldKey", "NewKey");
    ReencryptAll("NewKey", "OldKey");
    const size_t writesPerChange = order.size() / 2;
    ASSERT_GE(writesPerChange, before.size() + 1) << "every record and the journal are written";

    for (size_t failAt = 0; failAt < writesPerChange; ++failAt) {
        SCOPED_TRACE("failing write " + std::to_string(failAt) + " of " + order[failAt].string());
        size_t seen = 0;
        fs::path last;
        AtomicFile::SetFaultInjector([&](const fs::path &target) {
            if (target != last) {
                last = target;
                ++seen;
            }
            return seen != failAt + 1;
        });
        EXPECT_THROW(ReencryptAll("OldKey", "NewKey"), FileError);
        AtomicFile::SetFaultInjector(nullptr);
        EXPECT_EQ(CurrentKey(), "OldKey");
        EXPECT_EQ(SnapshotRecords("OldKey"), before);
        EXPECT_TRUE(LeftoverChangeFiles().empty());
        EXPECT_EQ(RecoverInterruptedKeyChange(), KeyChangeRecovery::Nothing);
    }
}

TEST_F(ReencryptTest, AFailureAfterTheCommitIsFinishedByTheNextStart)
{
    MakeRecords("OldKey", 2, 2, 2, 1);
    SetCurrentKey("OldKey");
    const FieldSnapshot before = SnapshotRecords("OldKey");
    int switches = 0;
    SetReencryptStepHook([&](const std::string &step) {
        if (step.starts_with("switch ") && ++switches >= 3)
            throw FileError::WriteFailed(step.substr(7), "injected");
    });
    EXPECT_THROW(ReencryptAll("OldKey", "NewKey"), FileError);
    SetReencryptStepHook(nullptr);
    EXPECT_EQ(CurrentKey(), "NewKey");
    EXPECT_TRUE(fs::exists(RekeyJournalPath()));

    // The next start.
    EXPECT_EQ(RecoverInterruptedKeyChange(), KeyChangeRecovery::RolledForward);
    EXPECT_EQ(KeyInEffect("OldKey", "NewKey"), "NewKey");
    FieldSnapshot after = SnapshotRecords("NewKey");
    after[ConfigPath()] = before.at(ConfigPath());
    EXPECT_EQ(after, before);
    EXPECT_TRUE(LeftoverChangeFiles().empty());
}

// Names the user chose can look like anything a change or a write leaves
// behind: none of them is ever taken for a leftover.
TEST_F(ReencryptTest, RecordsNamedLikeTemporaryFilesSurviveRecoveryAndAChange)
{
    MakeRecords("Key1", 1, 1, 1, 1);
    const std::vector<std::string> names = {".tmp-ab", ".x.tmp-abcdef", ".a.vsl.rekey", "rekey"};
    for (const std::string &name : names) {
        SenderAccount account;
        account.ConfName = name;
        WriteSenderAccount(SenderAccountPath(name), account, "Key1");
        EncryptedFieldFile list =
            EncryptedFieldFile::Create(DataFolder() / "Receivers" / (name + ".vsl"), "Key1");
        for (const char *f : {"-1", "0", "0", "0"})
            list.WriteField(f);
        list.Commit();
    }
    const FieldSnapshot before = SnapshotRecords("Key1");
    // and a list, an account, its log and the log of a deleted account, the
    // two files of a send journal, config.dat
    ASSERT_EQ(before.size(), 2 * names.size() + 7);

    EXPECT_EQ(RecoverInterruptedKeyChange(), KeyChangeRecovery::Nothing);
    ReencryptAll("Key1", "Key2");
    EXPECT_EQ(RecoverInterruptedKeyChange(), KeyChangeRecovery::Nothing);

    FieldSnapshot after = SnapshotRecords("Key2");
    after[ConfigPath()] = before.at(ConfigPath());
    EXPECT_EQ(after, before);
}

// Files found with an upper-case extension are rewritten where they are, and
// two files whose names differ only in the extension's case each exactly once.
TEST_F(ReencryptTest, EveryFileFoundIsRewrittenOnceWhateverTheCaseOfItsExtension)
{
    MakeRecords("Key1", 0, 0, 1, 0);
    const fs::path receivers = DataFolder() / "Receivers";
    for (const char *file : {"Friends.VSL", "X.vsl", "X.VSL", "Y.Vsl"}) {
        EncryptedFieldFile list = EncryptedFieldFile::Create(receivers / file, "Key1");
        for (const std::string &f : std::vector<std::string>{"-1", "0", "0", "1", file, "", "a@b"})
            list.WriteField(f);
        for (int i = 0; i < 10; ++i)
            list.WriteField("m");
        list.Commit();
    }
    const FieldSnapshot before = SnapshotRecords("Key1");
    std::map<std::string, int> writes;
    SetReencryptStepHook([&](const std::string &step) {
        if (step.starts_with("write "))
            ++writes[fs::path(step.substr(6)).filename().native()];
    });

    ReencryptAll("Key1", "Key2");

    for (const char *file : {"Friends.VSL", "X.vsl", "X.VSL", "Y.Vsl"}) {
        EXPECT_EQ(writes[file], 1) << file;
        EXPECT_EQ(ReadAllFields(receivers / file, "Key2"), before.at(receivers / file)) << file;
    }
    EXPECT_FALSE(fs::exists(receivers / "Friends.vsl"));
}

// Kills a real child process running the change at many points, then checks
// that the next start leaves every file readable under the key config.dat names.
TEST_F(ReencryptTest, KilledAtAnyPointTheNextStartOpensEveryFileUnderOneKey)
{
    const std::string oldKey = "Before1", newKey = "After22";
    MakeRecords(oldKey, 100, 3, 20, 10); // 100 lists, 20 accounts, 200 logs, config.dat
    SetCurrentKey(oldKey);
    const FieldSnapshot before = SnapshotRecords(oldKey);
    const size_t files = before.size();
    ASSERT_GE(files, 300u);
    const fs::path pristine = TempDir() / "pristine";
    const fs::path xdg = TempDir() / "xdg-data";
    fs::copy(xdg, pristine, fs::copy_options::recursive);

    const QString child = QStringLiteral(VOSTREL_BINARY_DIR "/tests/core/password/rekey_child");
    // Steps: one write per file, the commit, one switch per file, done.
    const size_t steps = 2 * files + 2;
    std::vector<size_t> killPoints = {1,         2,         files - 1, files,     files + 1,
                                      files + 2, files + 3, steps - 2, steps - 1, steps};
    for (size_t k = 3; k < steps; k += steps / 30)
        killPoints.push_back(k);
    int rolledForward = 0, rolledBack = 0;
    for (size_t k : killPoints) {
        SCOPED_TRACE("killed at step " + std::to_string(k));
        fs::remove_all(xdg);
        fs::copy(pristine, xdg, fs::copy_options::recursive);
        QProcess process;
        process.start(child, {QString::fromStdString(xdg.string()), QString::fromStdString(oldKey),
                              QString::fromStdString(newKey), QString::number(k)});
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitStatus(), QProcess::CrashExit) << process.readAll().toStdString();

        const KeyChangeRecovery recovery = RecoverInterruptedKeyChange();
        const std::string key = KeyInEffect(oldKey, newKey);
        (key == newKey ? rolledForward : rolledBack)++;
        EXPECT_EQ(recovery == KeyChangeRecovery::RolledForward, key == newKey);
        FieldSnapshot after = SnapshotRecords(key);
        after[ConfigPath()] = before.at(ConfigPath());
        EXPECT_EQ(after, before);
        EXPECT_TRUE(LeftoverChangeFiles().empty());
        EXPECT_EQ(ReadAllFields(DataFolder() / "Logs" / "gone" / "old.vsl", key),
                  std::vector<std::string>{"of a deleted account"});
    }
    EXPECT_GT(rolledForward, 5);
    EXPECT_GT(rolledBack, 5);

    // Killed at moments chosen by the clock rather than by step.
    for (int delayMs : {5, 20, 60, 120}) {
        SCOPED_TRACE("killed after " + std::to_string(delayMs) + " ms");
        fs::remove_all(xdg);
        fs::copy(pristine, xdg, fs::copy_options::recursive);
        QProcess process;
        process.start(child, {QString::fromStdString(xdg.string()), QString::fromStdString(oldKey),
                              QString::fromStdString(newKey), QStringLiteral("0")});
        ASSERT_TRUE(process.waitForStarted());
        QThread::msleep(delayMs);
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished();
        RecoverInterruptedKeyChange();
        const std::string key = KeyInEffect(oldKey, newKey);
        FieldSnapshot after = SnapshotRecords(key);
        after[ConfigPath()] = before.at(ConfigPath());
        EXPECT_EQ(after, before);
        EXPECT_TRUE(LeftoverChangeFiles().empty());
    }
}

} // namespace
} // namespace vostrel::test
