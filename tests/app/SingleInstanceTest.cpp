// One running copy per user, checked with two real processes of the program.
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
        env.insert(QStringLiteral("VOSTREL_DIALOG_LOG"),
                   QString::fromStdString((TempDir() / log.toStdString()).string()));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(VOSTREL_BINARY_DIR "/src/app/vostrel"), {});
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    QStringList LogLines(const char *log)
    {
        QFile file(QString::fromStdString((TempDir() / log).string()));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Waits until the first copy listens on its socket.
    bool WaitUntilRunning()
    {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (fs::exists(runtime_ / "HALVIK_VOSTREL_ONCE") &&
                fs::exists(runtime_ / "HALVIK_VOSTREL_ONCE.lock"))
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    fs::path runtime_;
};

TEST_F(SingleInstanceTest, ASecondStartSaysSoActivatesTheFirstAndOpensNothing)
{
    QProcess first;
    Start(first, QStringLiteral("first.log"));
    ASSERT_TRUE(WaitUntilRunning());

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

TEST_F(SingleInstanceTest, ACopyThatDiedLeavesNoLockBehind)
{
    QProcess first;
    Start(first, QStringLiteral("first.log"));
    ASSERT_TRUE(WaitUntilRunning());
    first.kill(); // SIGKILL: no clean-up at all
    first.waitForFinished();

    // A new copy takes over; a third one then finds it running.
    QProcess again;
    Start(again, QStringLiteral("again.log"));
    // It holds the lock once the lock file names it.
    QDeadlineTimer deadline(20000);
    auto lockHolder = [&] {
        QFile lock(QString::fromStdString((runtime_ / "HALVIK_VOSTREL_ONCE.lock").string()));
        return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toLongLong() : 0;
    };
    while (lockHolder() != again.processId() && !deadline.hasExpired())
        QThread::msleep(20);
    ASSERT_EQ(lockHolder(), again.processId());
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
