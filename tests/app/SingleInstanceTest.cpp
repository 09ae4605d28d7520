// One running copy per user, checked with two real processes of the program,
// each started with the test switch --dialog-log so that its boxes go to a
// file of the test.
#include "support/VostrelTest.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <filesystem>
#include <gtest/gtest.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;

class SingleInstanceTest : public VostrelTest
{
protected:
    void SetUp() override
    {
        VostrelTest::SetUp();
        runtime_ = TempDir() / "runtime";
        fs::create_directories(runtime_);
        fs::permissions(runtime_, fs::perms::owner_all);
    }

    void Start(QProcess &process, const QString &log)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"),
                   QString::fromStdString((TempDir() / "xdg-data").string()));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime_.string()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(VOSTREL_BINARY_DIR "/src/app/vostrel"),
                      {QStringLiteral("--dialog-log"),
                       QString::fromStdString((TempDir() / log.toStdString()).string())});
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    QStringList LogLines(const char *log)
    {
        QFile file(QString::fromStdString((TempDir() / log).string()));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The process id in the lock file (0 when there is none).
    qint64 LockHolder()
    {
        QFile lock(QString::fromStdString((runtime_ / "HALVIK_VOSTREL_ONCE.lock").string()));
        return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toLongLong() : 0;
    }

    // Waits until the process holds the lock.
    bool WaitUntilRunning(const QProcess &process)
    {
        QDeadlineTimer deadline(20000);
        while (LockHolder() != process.processId() && !deadline.hasExpired())
            QThread::msleep(20);
        return LockHolder() == process.processId();
    }

    void SecondStartSaysSoActivatesTheFirstAndOpensNothing();

    fs::path runtime_;
};

void SingleInstanceTest::SecondStartSaysSoActivatesTheFirstAndOpensNothing()
{
    QProcess first;
    Start(first, QStringLiteral("first.log"));
    ASSERT_TRUE(WaitUntilRunning(first));
    EXPECT_TRUE(LogLines("first.log").isEmpty()) << LogLines("first.log").join(u'\n').toStdString();

    QProcess second;
    Start(second, QStringLiteral("second.log"));
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(LogLines("second.log"),
              QStringList({QStringLiteral("message\tVostrel\t既に起動されています")}));

    // The first copy was asked to come to the front, and is still running.
    QDeadlineTimer deadline(10000);
    while (!LogLines("first.log").contains(QStringLiteral("activated\tTFormMain")) &&
           !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_TRUE(LogLines("first.log").contains(QStringLiteral("activated\tTFormMain")));
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();
    first.waitForFinished();
}

TEST_F(SingleInstanceTest, ASecondStartSaysSoActivatesTheFirstAndOpensNothing)
{
    SecondStartSaysSoActivatesTheFirstAndOpensNothing();
}

// A runtime folder too long for a socket's path: the guard and the call to
// the first copy work all the same, and nothing is reported.
TEST_F(SingleInstanceTest, ARuntimeFolderOfAnyLengthKeepsTheGuardAndTheCall)
{
    runtime_ = TempDir() / std::string(120, 'r');
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all);
    SecondStartSaysSoActivatesTheFirstAndOpensNothing();
}

TEST_F(SingleInstanceTest, ACopyThatDiedLeavesNoLockBehind)
{
    QProcess first;
    Start(first, QStringLiteral("first.log"));
    ASSERT_TRUE(WaitUntilRunning(first));
    first.kill(); // SIGKILL: no clean-up at all
    first.waitForFinished();

    // A new copy takes over; a third one then finds it running.
    QProcess again;
    Start(again, QStringLiteral("again.log"));
    ASSERT_TRUE(WaitUntilRunning(again));
    QDeadlineTimer deadline(20000);
    QProcess third;
    Start(third, QStringLiteral("third.log"));
    ASSERT_TRUE(third.waitForFinished(20000));
    EXPECT_EQ(LogLines("third.log"),
              QStringList({QStringLiteral("message\tVostrel\t既に起動されています")}));
    while (!LogLines("again.log").contains(QStringLiteral("activated\tTFormMain")) &&
           !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_EQ(again.state(), QProcess::Running) << again.readAll().toStdString();
    EXPECT_TRUE(LogLines("again.log").contains(QStringLiteral("activated\tTFormMain")));
    EXPECT_FALSE(
        LogLines("again.log").contains(QStringLiteral("message\tVostrel\t既に起動されています")));
    again.kill();
    again.waitForFinished();
}

} // namespace
} // namespace vostrel::test
