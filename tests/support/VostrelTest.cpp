#include "support/VostrelTest.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/SjisCodec.h"

#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <fstream>
#include <memory>
#include <sstream>

namespace vostrel::test {

void VostrelTest::SetUp()
{
    ASSERT_TRUE(temp_.isValid());
    const QString data = temp_.path() + QStringLiteral("/xdg-data");
    qputenv("XDG_DATA_HOME", data.toUtf8());
    SetDataFolder(DefaultDataFolder());
    PrepareDataFolder(DataFolder());
    SetCurrentKey(std::string(DefaultKey));
    previousDialogs_ = SetDialogService(&dialogs);
}

void VostrelTest::TearDown()
{
    SetDialogService(previousDialogs_);
    EXPECT_TRUE(dialogs.answers.empty()) << "scripted answers left unused";
}

std::filesystem::path VostrelTest::TempDir() const
{
    return std::filesystem::path(temp_.path().toStdString());
}

std::string S(const char *utf8)
{
    return Utf8ToSjis(utf8);
}

std::string ReadBytes(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::filesystem::path &file, const std::string &bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void WhenModal(const QString &objectName, std::function<void(QWidget *)> action, int timeoutMs)
{
    auto *timer = new QTimer(qApp);
    auto elapsed = std::make_shared<int>(0);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        *elapsed += 5;
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->objectName() == objectName && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
            return;
        }
        if (*elapsed > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "modal window " << objectName.toStdString() << " never appeared";
            if (modal)
                modal->close();
        }
    });
    timer->start();
}

int RunProgram(const QString &program, const QStringList &args, QString *output,
               const QByteArray &stdinData, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(timeoutMs))
        return -1;
    if (!stdinData.isEmpty())
        process.write(stdinData);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -2;
    }
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -3;
}

} // namespace vostrel::test
